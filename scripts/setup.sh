#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (as root, or through sudo), and makes
# Debian's source packages fetchable (the Qt for Windows is built from qt6-base's).
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
# Only the Qt for Windows needs them, and its build says so when they are missing.
"$(dirname "$0")/deb-src.sh" || echo "setup: no deb-src entries; the Qt for Windows cannot be built" >&2
