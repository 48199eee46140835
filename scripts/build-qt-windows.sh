#!/usr/bin/env bash
# Builds Qt 6 (Core, Gui, Widgets, Test; the windows and offscreen platform plugins) for 64-bit
# Windows from Debian's own qt6-base source package, the same version as the machine's Qt, whose
# moc, rcc and uic the build uses. Installs it into a cache folder outside the tree and prints
# that folder's path on its last line:
#   ${KVT40_QT_WINDOWS:-$HOME/.cache/kvt40/qt6-windows-VERSION}
# A folder with a complete build of the same version is reused at once. The build runs in a
# temporary folder beside it and is moved into place only when it is complete, so a failure
# leaves nothing behind. Progress goes to stderr; the build's log to FOLDER.log.
#   scripts/build-qt-windows.sh [--check]   (--check: print the folder if it is complete, else
#                                            exit 1; builds nothing)
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "build-qt-windows: $*" >&2; }
die() {
  say "$*"
  exit 1
}

version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2> /dev/null) ||
  die "the machine's Qt (qt6-base-dev) is not installed: run scripts/setup.sh"
cache=${KVT40_QT_WINDOWS:-$HOME/.cache/kvt40/qt6-windows-$version}
stamp=$cache/kvt40-qt-version
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
  echo "$cache"
  exit 0
fi
[ "${1:-}" = --check ] && exit 1

packages=(cmake ninja-build dpkg-dev g++-mingw-w64-x86-64-posix qt6-base-dev-tools)
scripts/install-packages.sh "${packages[@]}"
scripts/deb-src.sh >&2 || die "cannot add a deb-src entry for Debian's source packages"

started=$(date +%s)
mkdir -p "$(dirname "$cache")"
work=$(mktemp -d "$cache.build.XXXXXX")
log=$cache.log
trap 'rm -rf "$work"' EXIT
: > "$log"

# apt-get source unpacks with dpkg-source, which applies debian/patches/series in order.
say "fetching Debian's qt6-base $version source"
(cd "$work" && apt-get source -qq "qt6-base=$version") >> "$log" 2>&1 ||
  die "cannot fetch Debian's qt6-base source, version $version (the machine's Qt): see $log"
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
[ -n "$src" ] && [ -f "$src/CMakeLists.txt" ] || die "Debian's qt6-base source did not unpack: see $log"
got=$(cd "$src" && dpkg-parsechangelog -S Version)
[ "$got" = "$version" ] || die "Debian's qt6-base source is version $got, the machine's Qt is $version"
series=$src/debian/patches/series
applied=$src/.pc/applied-patches
if [ -f "$series" ] && [ "$(grep -cv '^\s*\(#\|$\)' "$series")" != "$(wc -l < "$applied" 2> /dev/null || echo 0)" ]; then
  die "Debian's patches to qt6-base were not all applied: see $log"
fi
say "source unpacked with $(wc -l < "$applied" 2> /dev/null || echo 0) Debian patches applied"

# The compilers of cmake/mingw-w64.cmake, without its static run time: Qt's DLLs and the
# programs built on them share the compiler's run-time DLLs. The file is kept with the build,
# as Qt's qt.toolchain.cmake loads it by path.
toolchain=$work/mingw-w64-qt.cmake
cat > "$toolchain" << 'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
list(APPEND CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# Bundled third-party libraries, as the target has none of its own. Off: what Debian removes
# from the source (wintab headers, SQLite), Direct2D 1.1 (its plugin needs what MinGW lacks),
# and the modules a Widgets program does not need.
options=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake"
  -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF -DFEATURE_system_textmarkdownreader=OFF
  -DFEATURE_tabletevent=OFF -DFEATURE_sql_sqlite=OFF -DFEATURE_direct2d1_1=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_printsupport=OFF -DFEATURE_dbus=OFF
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
)
say "configuring (log: $log)"
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_INSTALL_PREFIX="$work/install" "${options[@]}" >> "$log" 2>&1 ||
  die "configure failed: see $log"
say "building with $(nproc) jobs"
cmake --build "$work/build" --parallel "$(nproc)" >> "$log" 2>&1 || die "build failed: see $log"
cmake --install "$work/build" >> "$log" 2>&1 || die "install failed: see $log"

# Into place: the toolchain with it, every path to the temporary folder made the final one.
install=$work/install
cp "$toolchain" "$install/"
grep -rlF "$work" "$install" --include='*.cmake' --include='*.pri' --include='*.prl' --include='*.pc' 2> /dev/null |
  while read -r f; do sed -i "s#$work/install#$cache#g; s#$work#$cache#g" "$f"; done
du -sm "$install" | awk '{ print $1 }' > "$install/kvt40-qt-size-mb"
echo "$(($(date +%s) - started))" > "$install/kvt40-qt-build-seconds"
echo "$version" > "$install/kvt40-qt-version.partial"
rm -rf "$cache"
mv "$install" "$cache"
mv "$cache/kvt40-qt-version.partial" "$stamp"
say "Qt $version for Windows built in $(cat "$cache/kvt40-qt-build-seconds") s, $(cat "$cache/kvt40-qt-size-mb") MB"
echo "$cache"
