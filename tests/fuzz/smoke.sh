#!/usr/bin/env bash
# Runs every fuzz entry point for a short while, starting from its seeds in tests/fuzz/corpus/NAME
# (the entry point is NAME_fuzz). What a run adds to the corpus goes to a scratch folder in the
# build folder, never into the repository. Fails when an entry point crashes, leaks, times out on
# one input or has no seeds, and names the input that did it.
# Usage: tests/fuzz/smoke.sh BUILD_FOLDER [SECONDS]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: smoke.sh BUILD_FOLDER [SECONDS]}
seconds=${2:-20}
scratch="$build/fuzz-smoke"
rm -rf "$scratch"

# The transfer engine's entry point runs a whole download per input (about ten a second here,
# where the parsers' run tens of thousands), so it gets three times as long.
seconds_for() {
  if [[ $1 == transfer_engine ]]; then
    echo $((seconds * 3))
  else
    echo "$seconds"
  fi
}

failed=()
ran=0
for seeds in "$here"/corpus/*/; do
  name=$(basename "$seeds")
  fuzzer="$build/tests/fuzz/${name}_fuzz"
  if [[ ! -x "$fuzzer" ]]; then
    echo "fuzz-smoke: $fuzzer is not built" >&2
    failed+=("$name")
    continue
  fi
  mkdir -p "$scratch/$name/corpus" "$scratch/$name/crashes"
  time=$(seconds_for "$name")
  echo "fuzz-smoke: $name for ${time}s from $(find "$seeds" -type f | wc -l) seeds"
  # New inputs go to the first folder given; the seeds are only read.
  if ! "$fuzzer" -max_total_time="$time" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$scratch/$name/crashes/" "$scratch/$name/corpus" "$seeds" \
    >"$scratch/$name/log" 2>&1; then
    tail -n 60 "$scratch/$name/log"
    echo "fuzz-smoke: $name FAILED; the input is in $scratch/$name/crashes/" >&2
    failed+=("$name")
    continue
  fi
  grep -E '^stat::(number_of_executed_units|new_units_added):' "$scratch/$name/log" |
    sed "s/^/fuzz-smoke: $name /"
  ran=$((ran + 1))
done

# An entry point without seeds would never run here.
for fuzzer in "$build"/tests/fuzz/*_fuzz; do
  [[ -x "$fuzzer" ]] || continue
  name=$(basename "$fuzzer" _fuzz)
  if [[ ! -d "$here/corpus/$name" ]]; then
    echo "fuzz-smoke: $name has no seeds in tests/fuzz/corpus/$name" >&2
    failed+=("$name")
  fi
done

if ((${#failed[@]})); then
  echo "fuzz-smoke: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz-smoke: $ran entry points ran without a finding"
