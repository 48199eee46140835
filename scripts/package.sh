#!/usr/bin/env bash
# Builds the Debian package from a clean build tree into dist/: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
rm -rf build-package
scripts/build.sh build-package -DCMAKE_BUILD_TYPE=Release -DKVT40_BUILD_TESTS=OFF -DKVT40_BENCH=OFF
(cd build-package && cpack -G DEB > ../build-package.cpack.log 2>&1) || { cat build-package.cpack.log; exit 1; }
mkdir -p dist
cp build-package/kvt40_*_amd64.deb dist/
ls dist/kvt40_*_amd64.deb
