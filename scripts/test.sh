#!/usr/bin/env bash
# Sets up, builds and runs every test: the plain build, the Windows build under Wine, then
# address and undefined-behaviour sanitizers, the thread sanitizer on the threaded tests, and
# a bounded fuzz run of the reply checks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen

scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build && ctest --output-on-failure -j "$(nproc)")

# Windows, where Wine and the cross compiler are installed (KVT40_WINE=0 skips it): the cross
# build, then kvt40ctl.exe and the Windows tests under Wine against the Linux build's peers.
if [ "${KVT40_WINE:-1}" != 0 ] && command -v wine > /dev/null && command -v x86_64-w64-mingw32-g++-posix > /dev/null; then
  scripts/build-windows.sh build-windows
  tests/windows/wine_test.sh build build-windows
fi

scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DKVT40_SANITIZE=address,undefined -DKVT40_BENCH=OFF
# Leak checking stays on for our code; the toolkit's one-off allocations at exit are not ours.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$PWD/tests/support/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  bash -c 'cd build-asan && ctest --output-on-failure -j "$(nproc)"'

mkdir -p build-tsan
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKVT40_SANITIZE=thread \
  -DKVT40_BUILD_GUI=OFF -DKVT40_BENCH=OFF > build-tsan.configure.log 2>&1 || { cat build-tsan.configure.log; exit 1; }
cmake --build build-tsan --target thread_tests --parallel "$(nproc)"
TSAN_OPTIONS=halt_on_error=1 bash -c 'cd build-tsan && ctest --output-on-failure -L thread'

mkdir -p build-fuzz
CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVT40_FUZZ=ON \
  -DKVT40_BUILD_TESTS=OFF -DKVT40_BUILD_GUI=OFF -DKVT40_BENCH=OFF > build-fuzz.configure.log 2>&1 \
  || { cat build-fuzz.configure.log; exit 1; }
cmake --build build-fuzz --target fuzz_reply_checks --parallel "$(nproc)"
build-fuzz/fuzz/fuzz_reply_checks -runs=200000 -max_len=300 -seed=1 "$(mktemp -d)" fuzz/corpus 2>&1 | tail -1


# The Debian package from a clean build tree, checked as a technician would install it.
scripts/package.sh
tests/packaging/check_package.sh dist/kvt40_*_amd64.deb
