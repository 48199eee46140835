#!/usr/bin/env bash
# Builds the installer for 64-bit Windows, dist/kvt40-VERSION-setup.exe (VERSION: the CMake
# project's): the Qt for Windows when its cache is missing (scripts/build-qt-windows.sh), the
# cross build with the desktop tool (scripts/build-windows.sh), then NSIS.
#   scripts/package-windows.sh [BUILD_DIR]   (build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-windows}

scripts/install-packages.sh nsis
scripts/build-qt-windows.sh > /dev/null
scripts/build-windows.sh "$dir" >&2
folder=$dir/kvt40
[ -f "$folder/kvt40.exe" ] || { echo "package-windows: $folder/kvt40.exe was not built" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$dir/CMakeCache.txt")
[ -n "$version" ] || { echo "package-windows: no project version in $dir/CMakeCache.txt" >&2; exit 1; }

# The folder's files, each installed where it lies in the folder and removed again by name.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(
  cd "$folder"
  find . -type f | sed 's#^\./##' | sort | while read -r f; do
    sub=$(dirname "$f")
    [ "$sub" = . ] && sub="" || sub="\\${sub//\//\\}"
    printf 'SetOutPath "$INSTDIR%s"\r\nFile "%s"\r\n' "$sub" "$PWD/$f" >> "$work/files.nsh"
    printf 'Delete "$INSTDIR\\%s"\r\n' "${f//\//\\}" >> "$work/remove.nsh"
  done
  find . -mindepth 1 -type d | sed 's#^\./##' | sort -r | while read -r d; do
    printf 'RMDir "$INSTDIR\\%s"\r\n' "${d//\//\\}" >> "$work/remove.nsh"
  done
)
mkdir -p dist
out=dist/kvt40-$version-setup.exe
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DFILES="$work/files.nsh" -DREMOVE="$work/remove.nsh" \
  -DICON="$(realpath "$dir/src/shell/kvt40.ico")" -DOUTFILE="$work/$(basename "$out")" packaging/windows/kvt40.nsi
mv "$work/$(basename "$out")" "$out"
echo "$out ($(($(stat -c %s "$out") / 1024 / 1024)) MB)"
