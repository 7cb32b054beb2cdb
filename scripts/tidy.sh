#!/bin/sh
# Runs clang-tidy with the repository's .clang-tidy over the sources of a configured build.
#
#   scripts/tidy.sh [-p BUILD_DIR] [REGEX...]
#
# Without arguments it checks every source of the project in BUILD_DIR/compile_commands.json (slow
# the first time: a few minutes per core); with regular expressions (a file's path is one), only
# the sources whose paths match. Sources already found clean, as they are now, are not checked
# again: scripts/tidy.py says how that is told. The build must have been configured (CMake writes
# compile_commands.json) and built once, so that the generated moc files exist.
set -eu
exec python3 "$(dirname "$0")/tidy.py" "$@"
