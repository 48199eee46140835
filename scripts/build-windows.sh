#!/usr/bin/env bash
# Cross-builds kvt40ctl.exe and the tests of the core for 64-bit Windows into build-windows/
# (or DIR): scripts/build-windows.sh [DIR] [cmake options...]. Installs the cross compiler,
# Wine and the sources it needs with apt-get (as root, or through sudo). No desktop tool:
# there is no Qt for Windows here.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-windows}
[ $# -gt 0 ] && shift

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest libcli11-dev wine wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root=()
  [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

mkdir -p "$dir"
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKVT40_BUILD_GUI=OFF -DKVT40_BENCH=OFF "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" --parallel "$(nproc)"
echo "$dir/src/cli/kvt40ctl.exe"
