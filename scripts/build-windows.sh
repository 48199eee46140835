#!/usr/bin/env bash
# Cross-builds kvt40ctl.exe and the tests of the core for 64-bit Windows into build-windows/
# (or DIR): scripts/build-windows.sh [DIR] [cmake options...]. Installs the cross compiler,
# Wine and the sources it needs with apt-get (as root, or through sudo).
# Where the Qt for Windows of scripts/build-qt-windows.sh is built, also the desktop tool
# kvt40.exe and the form tests, and DIR/kvt40 gathers what runs on Windows as it is: kvt40.exe,
# kvt40ctl.exe, the Qt DLLs and plugins, and the compiler's run-time DLLs Qt needs.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-windows}
[ $# -gt 0 ] && shift

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest libcli11-dev wine wine64)
scripts/install-packages.sh "${packages[@]}"

gui=(-DKVT40_BUILD_GUI=OFF)
if qt=$(scripts/build-qt-windows.sh --check); then
  # Qt's code generators are the machine's own (moc, rcc, uic of the same version).
  gui=(-DKVT40_BUILD_GUI=ON -DKVT40_QT_WINDOWS="$qt" -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake")
fi

mkdir -p "$dir"
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "${gui[@]}" -DKVT40_BENCH=OFF "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" --parallel "$(nproc)"
echo "$dir/src/cli/kvt40ctl.exe"
[ -n "${qt:-}" ] || exit 0

# The folder that runs on Windows: the programs and their DLLs, debug information stripped.
out=$dir/kvt40
rm -rf "$out"
mkdir -p "$out/platforms" "$out/styles"
strip=x86_64-w64-mingw32-strip
runtime=()
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  path=$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")
  [ -f "$path" ] || { echo "build-windows: the compiler's $dll is missing" >&2; exit 1; }
  runtime+=("$path")
done
cp "$dir/src/shell/kvt40.exe" "$dir/src/cli/kvt40ctl.exe" "${runtime[@]}" "$out/"
cp "$qt"/bin/Qt6{Core,Gui,Widgets}.dll "$out/"
cp "$qt/plugins/platforms/qwindows.dll" "$out/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$out/styles/"
"$strip" --strip-unneeded "$out"/*.exe "$out"/*.dll "$out"/*/*.dll
echo "$out/kvt40.exe"
