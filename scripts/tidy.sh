#!/bin/sh
# Runs clang-tidy with the repository's .clang-tidy over the sources of a configured build.
#
#   scripts/tidy.sh [-p BUILD_DIR] [FILE...]
#
# Without files it checks every source of the project in BUILD_DIR/compile_commands.json (slow: a
# few minutes per core); with files, only those. The build must have been configured (CMake writes
# compile_commands.json) and built once, so that the generated moc files exist.
set -eu

build=build
if [ "${1:-}" = "-p" ]; then
    build=$2
    shift 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -f "$build/compile_commands.json" ]; then
    echo "No $build/compile_commands.json: configure the build first (see README)." >&2
    exit 2
fi
jobs=$(nproc 2>/dev/null || echo 2)
# The compiler's default standard is C++17, so CMake writes no -std into the compile commands;
# clang's default is older, and would misread every std::optional.
standard=-extra-arg=-std=c++17

if command -v run-clang-tidy >/dev/null 2>&1; then
    if [ $# -eq 0 ]; then
        set -- "$root/(src|tests|tools|bench)/"
    fi
    exec run-clang-tidy -quiet "$standard" -p "$build" -j "$jobs" "$@"
fi

# Without the parallel driver, one file after the other.
if [ $# -eq 0 ]; then
    set -- $(grep -o '"file": *"[^"]*"' "$build/compile_commands.json" | sed 's/.*"\([^"]*\)"$/\1/' \
        | grep -E "^$root/(src|tests|tools|bench)/")
fi
status=0
for file in "$@"; do
    clang-tidy --quiet "$standard" -p "$build" "$file" || status=1
done
exit $status
