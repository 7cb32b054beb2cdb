#!/usr/bin/env bash
# Builds the Debian package pelk-updater_<version>_<arch>.deb in Release, in its own build folder
# (build-package/ unless PELK_PACKAGE_BUILD_DIR says otherwise), and prints its path.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=${PELK_PACKAGE_BUILD_DIR:-build-package}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Only what the package holds is built: no tests, no tools, no benchmarks.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELK_BUILD_TESTS=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target installed-programs
rm -f "$build"/pelk-updater_*.deb
(cd "$build" && cpack -G DEB >cpack.log) || { cat "$build/cpack.log"; exit 1; }
ls "$(cd "$build" && pwd)"/pelk-updater_*.deb
