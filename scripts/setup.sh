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

"$(dirname "$0")/install-packages.sh" "${packages[@]}"
