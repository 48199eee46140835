#!/usr/bin/env bash
# The desktop tool for Windows under Wine, in a throwaway prefix:
#   - the form tests cross-built against the Qt for Windows, on the offscreen platform;
#   - kvt40.exe --sim from the gathered folder on Xvfb: its own screenshot of the measurement
#     form, checked against the unconnected form (the readings filled the cells) and against
#     the same window drawn with no Chinese font (the Chinese texts were drawn with the one the
#     test makes available); start to first window and memory while polling, measured;
#   - the installer: a silent install, the installed kvt40.exe --version, kvt40ctl from a
#     console, the Start menu entry, and a second install refused while kvt40.exe runs.
# Usage: tests/windows/wine_app_test.sh [LINUX_BUILD] [WINDOWS_BUILD] [SETUP_EXE]
set -euo pipefail
cd "$(dirname "$0")/../.."
linux=$(realpath "${1:-build}")
windows=$(realpath "${2:-build-windows}")
setup=${3:-}
[ -z "$setup" ] || setup=$(realpath "$setup")
wine=$(command -v wine || command -v wine64) || { echo "wine_app_test: no wine" >&2; exit 1; }
qt=$(scripts/build-qt-windows.sh --check) || { echo "wine_app_test: no Qt for Windows (scripts/build-qt-windows.sh)" >&2; exit 1; }
app=$windows/kvt40
[ -f "$app/kvt40.exe" ] || { echo "wine_app_test: $app/kvt40.exe not built (scripts/build-windows.sh)" >&2; exit 1; }
started=$(date +%s)

work=$(mktemp -d /tmp/kvt40-wineapp.XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
xvfb=""
cleanup() {
  wineserver -k > /dev/null 2>&1 || true
  [ -z "$xvfb" ] || { kill "$xvfb" 2> /dev/null || true; wait "$xvfb" 2> /dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "wine_app_test: FAIL: $*" >&2; failures=$((failures + 1)); }
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# As in wine_test.sh: every run writes to files, as Wine's background processes keep pipes open.
run_wine() {
  local out=$1; shift
  local rc=0
  timeout 120 "$wine" "$@" > "$out" 2> "$out.err" < /dev/null || rc=$?
  return $rc
}

# Fonts through fontconfig, as Wine takes them from the machine: DejaVu for Latin text, and
# the Chinese one only where the test says so (FONTCONFIG_FILE picks the set for each run).
fonts() {  # NAME DIR...
  local name=$1; shift
  {
    echo '<?xml version="1.0"?><!DOCTYPE fontconfig SYSTEM "fonts.dtd"><fontconfig>'
    for d in "$@"; do echo "<dir>$d</dir>"; done
    echo "<cachedir>$work/fc-cache-$name</cachedir></fontconfig>"
  } > "$work/fonts-$name.conf"
}
cjk=/usr/share/fonts/truetype/wqy
latin=/usr/share/fonts/truetype/dejavu
[ -d "$cjk" ] && [ -d "$latin" ] || { echo "wine_app_test: fonts-wqy-microhei and fonts-dejavu needed" >&2; exit 1; }
fonts cjk "$latin" "$cjk"
fonts latin "$latin"
# Wine keeps each font it has seen in the prefix: the Latin-only run comes first.
export FONTCONFIG_FILE=$work/fonts-latin.conf

t0=$(date +%s)
timeout 120 wineboot -i > "$work/wineboot.log" 2>&1 < /dev/null || { cat "$work/wineboot.log"; exit 1; }
# Wine's own Tahoma would draw Latin text in a serif fallback; Qt's default font maps to it.
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Tahoma"="DejaVu Sans"\r\n"MS Shell Dlg"="DejaVu Sans"\r\n"MS Shell Dlg 2"="DejaVu Sans"\r\n' > "$work/fonts.reg"
run_wine "$work/reg.log" regedit /S "$(winpath "$work/fonts.reg")" || { cat "$work/reg.log.err"; exit 1; }
wineserver -w
echo "wine_app_test: prefix ready in $(($(date +%s) - t0)) s"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3> "$work/display" 2> "$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "wine_app_test: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
shot() {  # FILE [kvt40 options...]: kvt40.exe from the gathered folder alone, its window after 4.5 s
  local file=$1; shift
  local rc=0
  DISPLAY=:$(cat "$work/display") run_wine "$work/$file.log" "$app/kvt40.exe" "$@" \
    --screenshot "$(winpath "$work/$file")" --after-ms 4500 || rc=$?
  [ "$rc" -eq 0 ] && [ -s "$work/$file" ] || { fail "screenshot $file: exit $rc"; cat "$work/$file.log.err" >&2; return 1; }
}
# The calibration form's Chinese buttons and headers, with no Chinese font reachable.
shot latin.png --internal --form 164 || true
export FONTCONFIG_FILE=$work/fonts-cjk.conf

# The form tests: Qt's DLLs and the compiler's from where they are; Wine passes WINEQT_* on as
# QT_* (it drops QT_* itself), and the offscreen platform takes its fonts from QT_QPA_FONTDIR.
mkdir -p "$work/qpafonts"
ln -s "$latin"/DejaVuSans*.ttf "$cjk"/* "$work/qpafonts/"
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
export WINEPATH="$(winpath "$qt/bin");$(winpath "$runtime");$(winpath "$pthread")"
export WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR=$(winpath "$work/qpafonts")
wineserver -w
wineserver -p30
for exe in "$windows"/tests/windows/forms/*.exe; do
  name=$(basename "$exe" .exe)
  rc=0
  run_wine "$work/$name.log" "$exe" --gtest_brief=1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    fail "$name (exit $rc)"
    tail -30 "$work/$name.log" >&2
  elif grep -q 'SKIPPED' "$work/$name.log"; then
    fail "$name skipped tests"
  else
    echo "wine_app_test: passed: $name ($(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$work/$name.log"))"
  fi
done
unset WINEPATH WINEQT_QPA_PLATFORM WINEQT_QPA_FONTDIR

# kvt40.exe from the gathered folder alone, on a display of its own.
# The measurement form live (six 600 ms ticks fill it) and unconnected, and the calibration
# form again, now with the Chinese font.
export DISPLAY=:$(cat "$work/display")
check() {  # LABEL A B MIN_PIXELS MIN_BANDS
  local label=$1 said rc=0
  said=$("$linux/tests/windows/shot_diff" "$work/$2" "$work/$3" "$4" "$5") || rc=$?
  if [ "$rc" -eq 0 ]; then echo "wine_app_test: $label: $said"; else fail "$label: ${said:-no picture}"; fi
}
if shot live.png --sim && shot empty.png --form 101; then
  # 30 outlets and the line: readings in most of the grid's rows.
  check "readings filled the cells" live.png empty.png 2000 20
  cp "$work/live.png" "$windows/wine-measures.png"
fi
if [ -s "$work/latin.png" ] && shot cjk.png --internal --form 164; then
  # Nine rows of items, eleven buttons and three group titles in Chinese.
  check "Chinese drawn with the Chinese font" cjk.png latin.png 2000 8
fi

# Start to first window, and memory while polling the virtual module (Wine's figures).
wineserver -k > /dev/null 2>&1 || true
wineserver -w
wineserver -p30
run_wine "$work/warm.log" "$app/kvt40.exe" --version || true
t0=$(date +%s%N)
if run_wine "$work/shown.log" "$app/kvt40.exe" --quit-when-shown && grep -q "^shown" "$work/shown.log"; then
  echo "wine_app_test: start to first window: $((($(date +%s%N) - t0) / 1000000)) ms (under Wine)"
else
  fail "kvt40.exe --quit-when-shown: $(head -c 300 "$work/shown.log.err")"
fi
"$wine" "$app/kvt40.exe" --sim > "$work/poll.log" 2>&1 < /dev/null &
polling=$!
sleep 8  # a wall-clock figure of a running program, not a test's wait
rss=$(awk '/^VmRSS/ { print int($2 / 1024) }' "/proc/$polling/status" 2> /dev/null || true)
kill "$polling" 2> /dev/null || true
wait "$polling" 2> /dev/null || true
echo "wine_app_test: memory while polling: ${rss:-?} MB resident (under Wine)"

# The installer: silent, into Program Files, then what a technician would use.
if [ -n "$setup" ]; then
  wineserver -k > /dev/null 2>&1 || true
  wineserver -w
  t0=$(date +%s)
  rc=0
  run_wine "$work/setup.log" "$setup" /S || rc=$?
  dir="$WINEPREFIX/drive_c/Program Files/KVT40 Service Tool"
  if [ "$rc" -ne 0 ] || [ ! -f "$dir/kvt40.exe" ]; then
    fail "silent install: exit $rc"
  else
    echo "wine_app_test: installed silently in $(($(date +%s) - t0)) s ($(du -sm "$dir" | cut -f1) MB)"
    wineserver -k > /dev/null 2>&1 || true  # a new session reads the PATH the setup wrote
    wineserver -w
    run_wine "$work/version.log" 'C:\Program Files\KVT40 Service Tool\kvt40.exe' --version || true
    version=$(sed -n 's/^project(kvt40 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    if grep -q "$version" "$work/version.log"; then
      echo "wine_app_test: installed kvt40.exe --version: $(head -1 "$work/version.log")"
    else
      fail "installed kvt40.exe --version: $(head -c 200 "$work/version.log" "$work/version.log.err")"
    fi
    run_wine "$work/console.log" cmd /c 'kvt40ctl --version' || true
    if grep -q "$version" "$work/console.log"; then
      echo "wine_app_test: kvt40ctl from a console: $(head -1 "$work/console.log")"
    else
      fail "kvt40ctl from a console: $(head -c 200 "$work/console.log" "$work/console.log.err")"
    fi
    link="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/KVT40 Service Tool.lnk"
    [ -f "$link" ] && [ -f "$dir/uninstall.exe" ] && echo "wine_app_test: Start menu entry and uninstaller present" ||
      fail "Start menu entry or uninstaller missing"

    # A running kvt40.exe holds its files: the setup refuses and leaves them as they are.
    "$wine" "$dir/kvt40.exe" --sim > "$work/running.log" 2>&1 < /dev/null &
    running=$!
    for _ in $(seq 100); do
      grep -qs 'kvt40.exe' "/proc/$running/cmdline" && [ "$(awk '/^VmRSS/ { print $2 }' "/proc/$running/status")" -gt 30000 ] && break
      sleep 0.1
    done
    before=$(stat -c %Y "$dir/kvt40.exe")
    rc=0
    run_wine "$work/again.log" "$setup" /S || rc=$?
    kill "$running" 2> /dev/null || true
    wait "$running" 2> /dev/null || true
    if [ "$rc" -eq 2 ] && [ "$(stat -c %Y "$dir/kvt40.exe")" = "$before" ]; then
      echo "wine_app_test: install over a running kvt40.exe refused (exit 2)"
    else
      fail "install over a running kvt40.exe: exit $rc"
    fi

    # The uninstaller (it runs from a copy of itself) takes the folder, the entry and the PATH's
    # part away again.
    run_wine "$work/uninstall.log" "$dir/uninstall.exe" /S || true
    wineserver -w
    run_wine "$work/path.log" reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' /v Path || true
    if [ ! -e "$dir" ] && [ ! -e "$link" ] && grep -q 'system32' "$work/path.log" && ! grep -q 'KVT40' "$work/path.log"; then
      echo "wine_app_test: uninstalled: folder, Start menu entry and PATH entry gone"
    else
      fail "uninstall left $(ls "$dir" 2> /dev/null | tr '\n' ' ')$(grep -o 'KVT40[^;]*' "$work/path.log" || true)"
    fi
  fi
fi

echo "wine_app_test: $failures failure(s) in $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
