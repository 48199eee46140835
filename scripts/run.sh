#!/usr/bin/env bash
# Sets up, builds and starts the tool on its built-in virtual module.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -x build/src/shell/kvt40 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/src/shell/kvt40 "$@"
fi
echo "The virtual module's line and outlet readings (kvt40ctl --sim):"
exec build/src/cli/kvt40ctl --sim "${@:-read}" $( [ $# -eq 0 ] && echo "0 10" )
