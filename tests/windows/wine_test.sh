#!/usr/bin/env bash
# kvt40ctl.exe and the Windows serial port under Wine, against the virtual module and a peer
# on pseudo-terminals mapped to COM ports in a throwaway prefix:
#   - probe, read 0 10 and measure print what the Linux kvt40ctl prints, byte for byte (the
#     port's name in probe's text aside), on a module whose clock is held so both read the
#     same values; probe also against kvt40-sim itself, --sim probe, and --sim calibrate,
#     whose bench must follow the standard values on both;
#   - the Windows test programs, the serial port's own against serial_peer among them.
# Usage: tests/windows/wine_test.sh [LINUX_BUILD] [WINDOWS_BUILD]   (build, build-windows)
set -euo pipefail
cd "$(dirname "$0")/../.."
linux=$(realpath "${1:-build}")
windows=$(realpath "${2:-build-windows}")
wine=$(command -v wine || command -v wine64) || { echo "wine_test: no wine" >&2; exit 1; }
started=$(date +%s)

work=$(mktemp -d /tmp/kvt40-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY  # console programs only; no window may open on a desktop
peers=()
cleanup() {
  wineserver -k > /dev/null 2>&1 || true
  for p in "${peers[@]}"; do kill "$p" 2> /dev/null || true; done
  for p in "${peers[@]}"; do wait "$p" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "wine_test: FAIL: $*" >&2; failures=$((failures + 1)); }

# Wine's background processes inherit the standard streams, so a pipe from wine would stay
# open until the wineserver ends: every run writes to files. OUT gets stdout, OUT.err stderr.
run_wine() {
  local out=$1; shift
  local rc=0
  timeout 120 "$wine" "$@" > "$out" 2> "$out.err" < /dev/null || rc=$?
  return $rc
}

# Starts a peer that prints one pty path a line; waits for LINES of them.
start_peer() {
  local name=$1 lines=$2; shift 2
  "$@" > "$work/$name.out" 2> "$work/$name.err" &
  peers+=($!)
  for _ in $(seq 100); do
    [ "$(grep -c '^/dev/' "$work/$name.out" 2> /dev/null || true)" -ge "$lines" ] && return 0
    sleep 0.05
  done
  echo "wine_test: $name did not start" >&2
  cat "$work/$name.err" >&2
  exit 1
}
pty() { sed -n "$2p" "$work/$1.out"; }

start_peer held 1 "$linux/tests/windows/held_clock_sim"
start_peer sim 1 "$linux/src/sim/kvt40-sim"
start_peer peer 2 "$linux/tests/windows/serial_peer" 2
declare -A ports=([COM5]=$(pty held 1) [COM6]=$(pty sim 1) [COM7]=$(pty peer 1) [COM8]=$(pty peer 2))

# The prefix, then the ports: a dosdevices link makes a COM port openable, and the
# registry's Wine ports make Wine's mount manager list it under SERIALCOMM when it starts.
t0=$(date +%s)
timeout 120 wineboot -i > "$work/wineboot.log" 2>&1 < /dev/null || { cat "$work/wineboot.log"; exit 1; }
reg=$work/ports.reg
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n' > "$reg"
for com in "${!ports[@]}"; do
  ln -sfn "${ports[$com]}" "$WINEPREFIX/dosdevices/${com,,}"
  printf '"%s"="%s"\r\n' "$com" "${ports[$com]}" >> "$reg"
done
run_wine "$work/reg.log" reg import "Z:${reg//\//\\}" || { cat "$work/reg.log.err"; exit 1; }
wineserver -k > /dev/null 2>&1 || true
wineserver -w
wineserver -p30  # kept running between the runs below, so each starts at once
echo "wine_test: prefix and ports ready in $(($(date +%s) - t0)) s"

linux_ctl=$linux/src/cli/kvt40ctl
win_ctl=$windows/src/cli/kvt40ctl.exe

# Same output from both, byte for byte; in probe's text the port's name is the one difference.
# With `columns` set, only those tab-separated columns are compared (a live module's readings
# differ in their last digits from run to run).
compare() {
  local label=$1 com=$2; shift 2
  local path=""
  [ -n "$com" ] && path=${ports[$com]}
  local lrc=0 wrc=0
  if [ -n "$path" ]; then
    "$linux_ctl" --port "$path" "$@" > "$work/linux.out" 2>&1 || lrc=$?
    run_wine "$work/win.out" "$win_ctl" --port "$com" "$@" || wrc=$?
    sed -i "s#$path#PORT#" "$work/linux.out"
    sed -i "s#$com#PORT#" "$work/win.out"
  else
    "$linux_ctl" "$@" > "$work/linux.out" 2>&1 || lrc=$?
    run_wine "$work/win.out" "$win_ctl" "$@" || wrc=$?
  fi
  cat "$work/win.out.err" >> "$work/win.out"
  if [ -n "${columns:-}" ]; then
    cut -f "$columns" "$work/linux.out" > "$work/linux.cut" && mv "$work/linux.cut" "$work/linux.out"
    cut -f "$columns" "$work/win.out" > "$work/win.cut" && mv "$work/win.cut" "$work/win.out"
  fi
  if [ "$lrc" -ne 0 ] || [ "$wrc" -ne 0 ]; then
    fail "$label: exit $lrc on Linux, $wrc under Wine"
    head -5 "$work/win.out" >&2
  elif ! cmp -s "$work/linux.out" "$work/win.out"; then
    fail "$label: output differs"
    diff <(od -c "$work/linux.out") <(od -c "$work/win.out") | head -20 >&2
  else
    echo "wine_test: same output: $label ($(wc -l < "$work/linux.out") lines)"
  fi
}
compare "probe" COM5 probe
compare "read 0 10" COM5 read 0 10
compare "measure" COM5 measure
compare "probe on kvt40-sim" COM6 probe
compare "--sim probe" "" --sim probe

# --sim calibrate: the built-in module's bench follows the standard values on both systems,
# so its three phases read near 230 V, not the 220 V the bench starts with (the last digits
# of a live reading differ from run to run, so the readings are compared by range).
cal=(--sim calibrate --view line --mode test --ua 230 --ub 230 --uc 230)
"$linux_ctl" "${cal[@]}" > "$work/cal.linux" 2>&1 || true
run_wine "$work/cal.win" "$win_ctl" "${cal[@]}" || true
near230() { awk -F'\t' 'NR >= 2 && NR <= 4 && $4 > 226 && $4 < 234 { n++ } END { exit n == 3 ? 0 : 1 }' "$1"; }
if near230 "$work/cal.linux" && near230 "$work/cal.win" && cmp -s <(cut -f1-3,5,6 "$work/cal.linux") <(cut -f1-3,5,6 "$work/cal.win"); then
  echo "wine_test: same bench: --sim calibrate"
else
  fail "--sim calibrate: the bench did not follow"
  paste "$work/cal.linux" "$work/cal.win" | head -5 >&2
fi

# Ctrl-C (Wine turns SIGINT into the console's Ctrl-C event) closes the port at once: a measure
# cycle of 3.6 s ends at its next tick with exit 130, long before it would have ended.
"$wine" "$win_ctl" --port COM5 measure > "$work/stop.out" 2> "$work/stop.err" < /dev/null &
ctl=$!
for _ in $(seq 200); do  # until it holds the port, which its exchanges need
  ls -l "/proc/$ctl/fd" 2> /dev/null | grep -q -- "-> ${ports[COM5]}\$" && break
  sleep 0.02
done
t0=$(date +%s%N)
kill -INT "$ctl"
rc=0
wait "$ctl" || rc=$?
took=$((($(date +%s%N) - t0) / 1000000))
if [ "$rc" -ne 130 ] || [ "$took" -gt 1500 ] || ! grep -qx 'kvt40ctl: interrupted' "$work/stop.err" ||
  grep -q 'Unable to read meter data!' "$work/stop.err"; then
  fail "Ctrl-C: exit $rc after $took ms: $(head -c 200 "$work/stop.err")"
else
  echo "wine_test: Ctrl-C closed the port: exit 130 after $took ms"
fi

# The test programs built for Windows; the serial port's own talks to serial_peer.
for exe in "$windows"/tests/windows/*.exe; do
  name=$(basename "$exe" .exe)
  rc=0
  KVT40_TEST_PORTS=COM7,COM8 run_wine "$work/$name.log" "$exe" --gtest_brief=1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    fail "$name (exit $rc)"
    tail -30 "$work/$name.log" >&2
  elif grep -q 'SKIPPED' "$work/$name.log"; then
    fail "$name skipped tests"
  else
    echo "wine_test: passed: $name ($(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$work/$name.log"))"
  fi
done

echo "wine_test: $failures failure(s) in $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
