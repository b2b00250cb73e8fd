#!/usr/bin/env bash
# Runs every fuzz target with libFuzzer for a while (./run fuzz [SECONDS]).
#   tests/fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
# Each target starts from its seed corpus in the repository (read only) and
# from what earlier runs found (BUILD_DIR/corpus/<target>/).  A crash, a
# failed check, a time-out or a leak fails the run; the input that did it is
# kept as BUILD_DIR/findings/<target>-crash-... and can be replayed with the
# target itself (or, after a fix, added to the seed corpus as a regression).
set -uo pipefail
BUILD=${1:?usage: tests/fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]}
SECONDS_EACH=${2:-60}
SEEDS=$(cd "$(dirname "$0")" && pwd)/corpus
mkdir -p "$BUILD/corpus" "$BUILD/findings"

failed=()
for seeds in "$SEEDS"/*/; do
  name=$(basename "$seeds")
  target="$BUILD/fuzz/fuzz_$name"
  if [ ! -x "$target" ]; then
    echo "fuzz: $target is missing" >&2
    failed+=("$name")
    continue
  fi
  mkdir -p "$BUILD/corpus/$name"
  log="$BUILD/findings/$name.log"
  # -timeout: one input may take at most 10 s (a hang is a finding);
  # -rss_limit_mb: a runaway allocation is one too.
  "$target" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$BUILD/findings/$name-" \
    "$BUILD/corpus/$name" "$seeds" > "$log" 2>&1
  status=$?
  edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  modules=$(sed -n 's/^INFO: Loaded [0-9]* modules *(\([0-9]*\) inline 8-bit counters).*/\1/p' "$log" | head -1)
  if [ "$status" -eq 0 ]; then
    printf 'fuzz: %-15s ok      %6s runs, %5s edges covered of %s instrumented\n' \
      "$name" "${runs:-?}" "${edges:-?}" "${modules:-?}"
  else
    printf 'fuzz: %-15s FAILED  (exit %d), see %s\n' "$name" "$status" "$log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz check failed|.*runtime error|artifact_prefix|Test unit written)' "$log" | head -8
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: every target ran ${SECONDS_EACH}s without a finding"
