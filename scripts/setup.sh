#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (as root, or through sudo). The Qt for
# Windows adds Debian's source entries itself when it is built (scripts/build-qt-windows.sh).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format-14
  qt6-base-dev libgl-dev fonts-wqy-microhei
  libmodbus-dev libcli11-dev
  ser2net
  xvfb xauth
  dpkg-dev lintian desktop-file-utils
  g++-mingw-w64-x86-64-posix googletest wine wine64 nsis qt6-base-dev-tools
)

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
