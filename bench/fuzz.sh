#!/usr/bin/env bash
# Runs every libFuzzer target of the linux-fuzz preset on its seed corpus.
#
#   bench/fuzz.sh [SECONDS]       each target for SECONDS (default 300), new inputs kept in
#                                 build/linux-fuzz/corpus/<name>
#   bench/fuzz.sh --runs N        each target for N inputs from a fixed seed, in a corpus folder
#                                 thrown away afterwards (what scripts/test.sh runs)
#
# Target fuzz_<name> starts from tests/data/fuzz/<name>/. The preset is built first. A crash
# leaves its input as build/linux-fuzz/crash-* and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time="${1:-300}")
work=build/linux-fuzz/corpus
if [[ "${1:-}" == "--runs" ]]; then
  limit=(-runs="${2:?--runs needs a count}" -seed=1)
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz -j"$(nproc)" >/dev/null

for target in build/linux-fuzz/bin/fuzz_*; do
  name=${target##*/fuzz_}
  mkdir -p "$work/$name"
  printf '%s: ' "$name" >&2
  # libFuzzer adds what it finds to the first folder only: the seeds stay as they are.
  "$target" "${limit[@]}" -print_final_stats=1 -artifact_prefix=build/linux-fuzz/ \
    "$work/$name" "tests/data/fuzz/$name" 2>"$work/$name.log" || {
    cat "$work/$name.log" >&2
    exit 1
  }
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$work/$name.log" |
    tr '\n' ' ' >&2
  echo >&2
done
