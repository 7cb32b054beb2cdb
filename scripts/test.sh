#!/usr/bin/env bash
# Installs the build dependencies, builds everything and runs every test.
#   scripts/test.sh               plain build in build/
#   scripts/test.sh --sanitize    AddressSanitizer and UndefinedBehaviorSanitizer build in build-asan/
#                                 (all but the fault matrix; PELK_SANITIZE_ALL=1 for everything)
#   scripts/test.sh --tsan        ThreadSanitizer build in build-tsan/ of the tests that run device agents,
#                                 the monitor and the virtual bus on their threads
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
label=()
case "${1:-}" in
  # The fault matrix runs its minutes of real protocol waits in the plain build; under the
  # sanitizers it adds those minutes again for code every other suite already covers there.
  # PELK_SANITIZE_ALL=1 runs it too.
  --sanitize) build=build-asan; options=(-DCMAKE_BUILD_TYPE=Debug -DPELK_SANITIZE=ON)
    [ "${PELK_SANITIZE_ALL:-0}" = 1 ] || label=(-E '^tst_FaultMatrix$') ;;
  --tsan) build=build-tsan; options=(-DCMAKE_BUILD_TYPE=Debug -DPELK_TSAN=ON); label=(-R '^tst_(Device(Agent|Monitor)(_slow)?|DeviceAgentBus|VirtualBusBackend|UpdateWorkflow|SafetyWorkflow)$') ;;
  "") ;;
  *) echo "usage: $0 [--sanitize|--tsan]" >&2; exit 2 ;;
esac

# A compiler cache makes the second and later builds (and the sanitizer build's unchanged files)
# cheap; it is only a speed-up, so a machine without it builds the same way.
if command -v ccache >/dev/null; then
  options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DPELK_BUILD_TESTS=ON "${options[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:${LSAN_OPTIONS:-}"
# Debian's Qt is not built for ThreadSanitizer: what happens inside it (its locked event queue
# among others) is invisible, and reports that only lie there are not ours.
export TSAN_OPTIONS="second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$PWD/scripts/tsan.supp:${TSAN_OPTIONS:-}"
ctest --test-dir "$build" --output-on-failure -j 2 "${label[@]}"
