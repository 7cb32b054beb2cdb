#!/usr/bin/env bash
# Installs the build dependencies, builds everything and runs every test.
#   scripts/test.sh               plain build in build/
#   scripts/test.sh --with-tidy   the same, with clang-tidy over src/ and tools/ beside the suite (CI)
#   scripts/test.sh --sanitize    AddressSanitizer and UndefinedBehaviorSanitizer build in build-asan/
#                                 (all but the fault matrix, the real-time and the shell-only checks,
#                                 no benchmarks;
#                                 PELK_SANITIZE_ALL=1 adds the fault matrix and the real-time ones)
#   scripts/test.sh --tsan        ThreadSanitizer build in build-tsan/ of the tests that run device agents,
#                                 the monitor and the virtual bus on their threads
#   scripts/test.sh --stress N [REGEX]
#                                 plain build; every suite (or those matching REGEX) run N times, one
#                                 after the other, while a busy loop on each core keeps the machine
#                                 loaded (suites labelled e2e or slow at most 3 times); prints each
#                                 suite's failures out of its runs, and keeps the failing runs' output
#                                 in build/stress/. For the developer before stopping, not for CI.
#   scripts/test.sh --windows     the Windows build (mingw-w64, build-windows/) and its tests, a whole
#                                 update and the installer under Wine: scripts/windows-test.sh
#   scripts/test.sh [MODE] --build-only
#                                 builds what MODE tests and stops there (CI builds ahead while
#                                 other suites run)
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
arguments=()
for argument in "$@"; do
  if [ "$argument" = --build-only ]; then build_only=1; else arguments+=("$argument"); fi
done
set -- ${arguments[@]+"${arguments[@]}"}

bash scripts/install-deps.sh
if [ "${1:-}" = --windows ]; then
  [ "$build_only" = 1 ] && exec bash scripts/windows-test.sh --build-only
  exec bash scripts/windows-test.sh
fi

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
label=()
stress=0
tidy=0
case "${1:-}" in
  --with-tidy) tidy=1 ;;
  --stress) stress=${2:-}; pattern=${3:-.}
    [[ "$stress" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 --stress N [REGEX]" >&2; exit 2; } ;;
  # The fault matrix runs its minutes of real protocol waits in the plain build; under the
  # sanitizers it adds those minutes again for code every other suite already covers there.
  # PELK_SANITIZE_ALL=1 runs it too.
  # The shell-only checks (the installed layout, the package's scripts, what links what) and the
  # benchmarks hold no code of ours for the sanitizers to watch: the plain build runs them. It also
  # runs the suites that prove the protocol's waits in real time (label slow): under the sanitizers
  # they would add their minutes of waiting for code the fast-clock suites already run there.
  --sanitize) build=build-asan; options=(-DCMAKE_BUILD_TYPE=Debug -DPELK_SANITIZE=ON -DPELK_BUILD_BENCH=OFF)
    label=(-LE '^shell$')
    [ "${PELK_SANITIZE_ALL:-0}" = 1 ] || label=(-LE '^(shell|slow)$' -E '^tst_WorkflowFaultMatrix$') ;;
  --tsan) build=build-tsan; options=(-DCMAKE_BUILD_TYPE=Debug -DPELK_TSAN=ON); label=(-R '^tst_(Device(Agent|Monitor)(_slow)?|DeviceAgentBus|VirtualBusBackend|UpdateWorkflow|SafetyWorkflow|WorkflowSafety)$') ;;
  "") ;;
  *) echo "usage: $0 [--with-tidy|--sanitize|--tsan|--stress N [REGEX]|--windows]" >&2; exit 2 ;;
esac

# A compiler cache makes the second and later builds (and the sanitizer build's unchanged files)
# cheap.
source scripts/compiler-cache.sh
options+=(${launcher[@]+"${launcher[@]}"})
cmake -S . -B "$build" -G Ninja -DPELK_BUILD_TESTS=ON "${options[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
[ "$build_only" = 0 ] || exit 0

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:${LSAN_OPTIONS:-}"
# Debian's Qt is not built for ThreadSanitizer: what happens inside it (its locked event queue
# among others) is invisible, and reports that only lie there are not ours.
export TSAN_OPTIONS="second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$PWD/scripts/tsan.supp:${TSAN_OPTIONS:-}"
if [ "$stress" -gt 0 ]; then
  # A busy loop on every core: the suites then meet the scheduling delays of a loaded machine.
  hogs=()
  for _ in $(seq "$(nproc)"); do
    (while :; do :; done) &
    hogs+=($!)
  done
  trap 'kill "${hogs[@]}" 2>/dev/null || true' EXIT
  mkdir -p "$build/stress"
  total_runs=0
  total_failures=0
  while IFS=$'\t' read -r name labels; do
    runs=$stress
    if [[ ";$labels;" =~ \;(e2e|slow)\; ]] && [ "$runs" -gt 3 ]; then
      runs=3
    fi
    failures=0
    for run in $(seq "$runs"); do
      if ! ctest --test-dir "$build" -R "^${name}\$" --output-on-failure >"$build/stress/$name.$run.log" 2>&1; then
        failures=$((failures + 1))
      else
        rm -f "$build/stress/$name.$run.log"
      fi
    done
    printf '%-32s %d of %d failed\n' "$name" "$failures" "$runs"
    total_runs=$((total_runs + runs))
    total_failures=$((total_failures + failures))
  done < <(ctest --test-dir "$build" --show-only=json-v1 | python3 -c '
import json, re, sys
pattern = re.compile(sys.argv[1])
for test in json.load(sys.stdin)["tests"]:
    if not pattern.search(test["name"]):
        continue
    labels = [p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"]
    print(test["name"] + "\t" + ";".join(labels[0] if labels else []))
' "$pattern")
  echo "stress: $((total_runs - total_failures)) passed, $total_failures failed"
  [ "$total_failures" -eq 0 ]
  exit
fi
if [ "$tidy" = 1 ]; then
  # The static checks run beside the suite at the lowest priority: the suite's minutes are mostly
  # the protocol's own waits, so together they take hardly longer than the suite alone, and what
  # yields the processor is the checker, not the suite.
  nice -n 19 bash scripts/tidy.sh -p "$build" "$PWD/(src|tools)/" >"$build/tidy.log" 2>&1 &
  tidy_pid=$!
  trap 'kill "$tidy_pid" 2>/dev/null || true' EXIT
fi
# Most suites spend their time waiting on the protocol's (scaled) pauses and the simulated
# devices, not computing: four at a time keep two cores busy without starving any of them.
if ! ctest --test-dir "$build" --output-on-failure -j "${PELK_TEST_JOBS:-4}" ${label[@]+"${label[@]}"}; then
  # The failed rows once more at the very end, where a log cut short still shows them.
  echo "=== failed rows" >&2
  grep -h -E -A1 '^FAIL!' "$build/Testing/Temporary/LastTest.log" | tail -n 40 >&2 || true
  exit 1
fi
if [ "$tidy" = 1 ]; then
  if ! wait "$tidy_pid"; then
    grep -v -E '^[0-9]+ warnings? generated|^clang-tidy|^Suppressed|^Use -header-filter|^$' "$build/tidy.log" | head -200
    echo "clang-tidy: findings above (the whole log: $build/tidy.log)" >&2
    exit 1
  fi
  echo "clang-tidy: no findings in src/ and tools/"
fi
