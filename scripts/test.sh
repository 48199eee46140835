#!/usr/bin/env bash
# Sets up, builds and runs every test: the format check (once the tree is formatted), the
# plain build, the Windows build under Wine, then address and undefined-behaviour sanitizers,
# the thread sanitizer on the threaded tests, a bounded fuzz run of the reply checks, and the
# package check. The builds are the presets of CMakePresets.json; ccache is used when
# CMAKE_CXX_COMPILER_LAUNCHER (and CMAKE_C_COMPILER_LAUNCHER) name it in the environment.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen

# Configures and builds one preset into DIR; the configure's output is kept in DIR.configure.log.
build_preset() {
  local preset=$1 dir=$2
  cmake --preset "$preset" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  cmake --build --preset "$preset" --parallel "$(nproc)"
}

# The tree follows .clang-format from the commit that adds .format-enforced on.
if [ -e .format-enforced ]; then
  scripts/check-format.sh
fi

build_preset plain build
ctest --preset plain -j "$(nproc)"

# Windows, where Wine and the cross compiler are installed (KVT40_WINE=0 skips it): the cross
# build, then kvt40ctl.exe and the Windows tests under Wine against the Linux build's peers.
if [ "${KVT40_WINE:-1}" != 0 ] && command -v wine > /dev/null && command -v x86_64-w64-mingw32-g++-posix > /dev/null; then
  scripts/build-windows.sh build-windows
  tests/windows/wine_test.sh build build-windows
  # The desktop tool for Windows: kvt40.exe and the form tests, the installer, then all of them
  # under Wine, against the Qt for Windows built from Debian's source. Building that Qt takes
  # half an hour of both cores, which would carry this command past an hour on a fresh
  # machine: it is built here only when asked (KVT40_QT_WINDOWS_BUILD=1), and used when cached.
  stage() { echo "test: $1 in $(($(date +%s) - $2)) s"; }
  if [ "${KVT40_QT_WINDOWS_BUILD:-0}" = 1 ]; then
    t=$(date +%s); scripts/build-qt-windows.sh; stage "Qt for Windows" "$t"
  fi
  if scripts/build-qt-windows.sh --check > /dev/null 2>&1; then
    t=$(date +%s); scripts/package-windows.sh build-windows; stage "kvt40.exe, form tests and installer" "$t"
    t=$(date +%s); tests/windows/wine_app_test.sh build build-windows dist/kvt40-*-setup.exe; stage "desktop tool under Wine" "$t"
  else
    echo "test: NOT RUN: the desktop tool's Windows tests (no Qt for Windows is built;" \
      "scripts/build-qt-windows.sh builds it, or KVT40_QT_WINDOWS_BUILD=1 with this command)"
  fi
fi

# Leak checking stays on for our code; the toolkit's one-off allocations at exit are not ours
# (tests/support/lsan.supp, named by the preset).
build_preset asan build-asan
ctest --preset asan -j "$(nproc)"

build_preset tsan build-tsan
ctest --preset tsan

build_preset fuzz build-fuzz
build-fuzz/fuzz/fuzz_reply_checks -runs=200000 -max_len=300 -seed=1 "$(mktemp -d)" fuzz/corpus 2>&1 | tail -1

# The Debian package from a clean build tree, checked as a technician would install it.
scripts/package.sh
tests/packaging/check_package.sh dist/kvt40_*_amd64.deb
