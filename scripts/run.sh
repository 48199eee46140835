#!/usr/bin/env bash
# Sets up, builds and starts the tool on its built-in virtual module.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/src/shell/kvt40 --sim "$@"
fi
echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the desktop tool cannot start."
echo "The same readings from the terminal: build/src/cli/kvt40ctl --sim measure"
echo
exec build/src/cli/kvt40ctl --sim measure
