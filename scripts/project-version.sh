#!/usr/bin/env bash
# Prints the updater's version, whose one home is project(... VERSION x.y.z ...) in the top-level
# CMakeLists.txt (the build writes it into app/PelkVersion.h for the code).
#   scripts/project-version.sh [SOURCE_DIR]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
version=$(sed -n 's/^project([A-Za-z_]* VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
if [ -z "$version" ]; then
  echo "$0: no project(... VERSION ...) line in $root/CMakeLists.txt" >&2
  exit 1
fi
echo "$version"
