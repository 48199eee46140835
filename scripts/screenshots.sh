#!/usr/bin/env bash
# Saves the main window with each form to docs/screenshots/*.png, connected to the
# built-in virtual module, for the README. Not a test. Uses the offscreen platform
# (set SCREENSHOT_PLATFORM=xcb to go through Xvfb instead). Where the Windows build's folder
# is (scripts/build-windows.sh with the Qt for Windows), also docs/screenshots/windows-*.png:
# kvt40.exe under Wine on Xvfb, with the DejaVu and WenQuanYi fonts of the machine.
#   scripts/screenshots.sh [build-dir [windows-build-dir]]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
windows="${2:-$root/build-windows}"
app="$build/src/shell/kvt40"
out="$root/docs/screenshots"
[ -x "$app" ] || { echo "screenshots: build kvt40 first ($app not found)" >&2; exit 1; }
mkdir -p "$out"

shot() {  # form-id file [extra options]
  local id="$1" file="$2"
  shift 2
  # A full measurement cycle is 6 x 600 ms; wait a little longer so every cell is filled.
  if [ "${SCREENSHOT_PLATFORM:-offscreen}" = xcb ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "$app" --connect "Virtual module" --form "$id" "$@" \
      --screenshot "$out/$file" --after-ms "${after_ms:-4500}"
  else
    QT_QPA_PLATFORM=offscreen "$app" --connect "Virtual module" --form "$id" "$@" \
      --screenshot "$out/$file" --after-ms "${after_ms:-4500}"
  fi 2>/dev/null
  echo "saved $out/$file"
}

shot 101 measures.png
shot 140 three-phase-circuit.png
shot 147 alarm.png
shot 149 device-setting.png
shot 150 alarm-setting.png
shot 139 demand.png
shot 142 harmonics.png
shot 142 harmonics-voltage.png --tab 1
shot 142 harmonics-current.png --tab 2
shot 148 status.png
shot 151 device-settings-internal.png --internal
# The meter test on an uncalibrated outlet: 出线, 读取CT模块, 仪表测试, so the table shows NG.
shot 164 calibration.png --internal --click 1095 --click 1086 --click 1025
shot 174 update.png --internal
# Leaving the update form during a transfer asks first: scan 1..3, tick every row, choose a
# 60 KiB image, 升级, and 14 s into the transfer click Single-phase.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
image="$scratch/kvt40-firmware.bin"
head -c 61440 /dev/zero >"$image"
after_ms=17500 shot 174 update-leave.png --internal --show-messages \
  --step edit:1076=1 --step edit:1077=3 --step click:1079 --step wait:2500 --step click:1078 \
  --step "file:$image" --step click:1081 --step click:1082 --step wait:14000 --step form:101
# The frame monitor over the measurement form polling: open Communication Traffic after a
# cycle and a half, so its frames and counts have something to show.
after_ms=9000 shot 101 frame-monitor.png --step wait:5000 --step menu:32774

# Windows under Wine: a throwaway prefix whose default fonts map to DejaVu Sans (Wine's own
# Tahoma would draw a serif fallback), and a display of its own.
[ -f "$windows/kvt40/kvt40.exe" ] || exit 0
wine=$(command -v wine || command -v wine64) || { echo "screenshots: no wine for the Windows ones" >&2; exit 1; }
export WINEPREFIX="$scratch/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb=""
trap 'wineserver -k >/dev/null 2>&1 || true; [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true; rm -rf "$scratch"' EXIT
timeout 120 wineboot -i >/dev/null 2>&1 </dev/null
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Tahoma"="DejaVu Sans"\r\n"MS Shell Dlg"="DejaVu Sans"\r\n"MS Shell Dlg 2"="DejaVu Sans"\r\n' >"$scratch/fonts.reg"
"$wine" regedit /S "Z:${scratch//\//\\}\\fonts.reg" >/dev/null 2>&1 </dev/null
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
export DISPLAY=":$(cat "$scratch/display")"
wineshot() {  # form-id file [extra options]
  local id="$1" file="$2"
  shift 2
  timeout 120 "$wine" "$windows/kvt40/kvt40.exe" --connect "Virtual module" --form "$id" "$@" \
    --screenshot "Z:${scratch//\//\\}\\$file" --after-ms 4500 >/dev/null 2>&1 </dev/null
  cp "$scratch/$file" "$out/$file"
  echo "saved $out/$file"
}
wineshot 101 windows-measures.png
wineshot 164 windows-calibration.png --internal --click 1095 --click 1086 --click 1025
wineshot 174 windows-update.png --internal
