#!/usr/bin/env bash
# Builds the Debian package pelk-updater_<version>_<arch>.deb in Release, in its own build folder
# (build-package/ unless PELK_PACKAGE_BUILD_DIR says otherwise), and prints its path. A release
# trusts the catalogue signing key given in PELK_TRUSTED_KEY (the base64 public key that
# `pelk-catalogue keygen` prints); without one the updater would read every catalogue unverified,
# so the package is built only when told so with --unsigned.
#   PELK_TRUSTED_KEY=<base64 public key> scripts/package.sh
#   scripts/package.sh --unsigned
set -euo pipefail
cd "$(dirname "$0")/.."

unsigned=0
case "${1:-}" in
  --unsigned) unsigned=1 ;;
  "") ;;
  *) echo "usage: $0 [--unsigned]" >&2; exit 2 ;;
esac
key=${PELK_TRUSTED_KEY:-}
if [ -n "$key" ]; then
  # 32 bytes in base64: 43 characters and one '='; the updater refuses anything else at every check.
  if ! [[ $key =~ ^[A-Za-z0-9+/]{43}=$ ]] || [ "$(printf '%s' "$key" | base64 -d 2>/dev/null | wc -c)" -ne 32 ]; then
    echo "$0: PELK_TRUSTED_KEY is not a public key (base64 of 32 bytes, as pelk-catalogue keygen prints it)" >&2
    exit 2
  fi
elif [ "$unsigned" -eq 0 ]; then
  echo "$0: no PELK_TRUSTED_KEY: a release must trust the catalogue signing key (set PELK_TRUSTED_KEY=<base64 public key>), or build one that reads catalogues unverified with --unsigned" >&2
  exit 2
else
  echo "$0: building without a trusted key: this updater reads catalogues unverified and says so" >&2
fi

bash scripts/install-deps.sh

build=${PELK_PACKAGE_BUILD_DIR:-build-package}
source scripts/compiler-cache.sh
# Only what the package holds is built: no tests, no tools, no benchmarks.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELK_BUILD_TESTS=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DPELK_TRUSTED_KEY="$key" -DPELK_ALLOW_UNSIGNED=$([ "$unsigned" -eq 1 ] && echo ON || echo OFF) \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target installed-programs
rm -f "$build"/pelk-updater_*.deb
(cd "$build" && cpack -G DEB >cpack.log) || { cat "$build/cpack.log"; exit 1; }
ls "$(cd "$build" && pwd)"/pelk-updater_*.deb
