#!/usr/bin/env bash
# Saves the main window with each form to docs/screenshots/*.png, connected to the
# built-in virtual module, for the README. Not a test. Uses the offscreen platform
# (set SCREENSHOT_PLATFORM=xcb to go through Xvfb instead).
#   scripts/screenshots.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
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
      --screenshot "$out/$file" --after-ms 4500
  else
    QT_QPA_PLATFORM=offscreen "$app" --connect "Virtual module" --form "$id" "$@" \
      --screenshot "$out/$file" --after-ms 4500
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
