#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for SECONDS (default 30), two
# at a time, then prints executions and findings per target. Each target starts from its seeds
# (fuzz/seeds/, the test data) and the corpus earlier runs grew (build-fuzz/corpus/); every input
# found at fault is written to build-fuzz/findings/ and the script fails. Inputs that once failed
# are kept in fuzz/regressions/<target>/ and replayed first.
#   scripts/fuzz.sh [SECONDS]
#   scripts/fuzz.sh --build-only       builds the targets and stops there
#   PELK_FUZZ_TARGETS="manifest devsim" PELK_FUZZ_JOBS=1 scripts/fuzz.sh 3600
set -euo pipefail
cd "$(dirname "$0")/.."
build_only=0
[ "${1:-}" = --build-only ] && { build_only=1; shift; }
seconds=${1:-30}
jobs=${PELK_FUZZ_JOBS:-2}
targets=(${PELK_FUZZ_TARGETS:-manifest semantic_version firmware_version data_version header devsim signature update_bundle})

bash scripts/install-deps.sh

build=${PELK_FUZZ_BUILD_DIR:-build-fuzz}
source scripts/compiler-cache.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DPELK_FUZZ=ON -DPELK_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzzers
[ "$build_only" = 0 ] || exit 0

# ASan's quarantine of freed memory would count against the memory limit; 256 MiB is meant for
# what the code under test holds.
export ASAN_OPTIONS="quarantine_size_mb=16:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
limits=(-timeout=1 -rss_limit_mb=256 -malloc_limit_mb=256)

for target in "${targets[@]}"; do
  if compgen -G "fuzz/regressions/$target/*" >/dev/null; then
    "$build/fuzz/fuzz_$target" "${limits[@]}" fuzz/regressions/"$target"/* >"$build/replay-$target.log" 2>&1 \
      || { cat "$build/replay-$target.log"; echo "fuzz_$target: a kept regression input fails again"; exit 1; }
  fi
done

run() {
  local target=$1 corpus=$build/corpus/$1 findings=$build/findings/$1
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  local extra=()
  [ -f "fuzz/$target.dict" ] && extra+=(-dict="fuzz/$target.dict")
  local seeds=(fuzz/seeds/"$target")
  [ "$target" = manifest ] && seeds+=(tests/update/data)
  "$build/fuzz/fuzz_$target" "${limits[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$findings/" "${extra[@]}" "$corpus" "${seeds[@]}" >"$build/fuzz-$target.log" 2>&1
}
export -f run
export build seconds
export limits_text="${limits[*]}"
mkdir -p "$build/findings"
status=0
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'limits=($limits_text); run {}' || status=1

printf '%-18s %12s %10s %8s  %s\n' target executions exec/s corpus findings
for target in "${targets[@]}"; do
  log=$build/fuzz-$target.log
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  corpus=$(find "$build/corpus/$target" -type f | wc -l)
  found=$(find "$build/findings/$target" -type f | wc -l)
  printf '%-18s %12s %10s %8s  %s\n' "$target" "${executions:-?}" "${rate:-?}" "$corpus" "$found"
  if [ "$found" -ne 0 ] || ! grep -q '^Done ' "$log"; then
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" || tail -n 20 "$log"
    status=1
  fi
done
exit $status
