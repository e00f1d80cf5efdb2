#!/usr/bin/env bash
# The streaming path's cost against its baseline, per case, as a table.
#
#   bench/streaming_ratio.sh [build-dir]               median CPU time per media sample over
#                                                      REPETITIONS runs (default 5)
#   bench/streaming_ratio.sh --callgrind [build-dir]   instructions per media sample under
#                                                      callgrind: repeatable on a busy machine,
#                                                      but blind to time spent in the kernel
#
# build-dir defaults to build/linux (the RelWithDebInfo preset), which must hold streaming_bench.
# Instruction counts come from two runs of each case with a fixed number of samples; their
# difference divided by the difference in samples leaves out start-up and warm-up.
set -euo pipefail

mode=time
if [[ "${1:-}" == "--callgrind" ]]; then
  mode=callgrind
  shift
fi
build_dir="${1:-build/linux}"
bench="$build_dir/bin/streaming_bench"
[[ -x "$bench" ]] || { echo "no $bench: build the streaming_bench target first" >&2; exit 1; }

formats=(S16 F32)
frames=(64 512 4096)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if [[ "$mode" == time ]]; then
  "$bench" --benchmark_repetitions="${REPETITIONS:-5}" --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/out.json" --benchmark_out_format=json >/dev/null 2>"$work/log" ||
    { cat "$work/log" >&2; exit 1; }
  python3 - "$work/out.json" <<'EOF'
import json, sys
runs = json.load(open(sys.argv[1]))
print("load average at start:", runs["context"].get("load_avg"))
scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
median = {b["run_name"]: b["cpu_time"] * scale[b["time_unit"]]
          for b in runs["benchmarks"] if b.get("aggregate_name") == "median"}
print(f"{'case':<10}{'adapter ns':>12}{'baseline ns':>13}{'ratio':>8}{'adapter Mframes/s':>19}")
for fmt in ("S16", "F32"):
    for n in (64, 512, 4096):
        a, b = median[f"Adapter/{fmt}/{n}"], median[f"Baseline/{fmt}/{n}"]
        print(f"{fmt}/{n:<6}{a:>12.0f}{b:>13.0f}{a / b:>8.3f}{n / a * 1e3:>19.1f}")
EOF
  exit 0
fi

# Instructions per sample of one benchmark (Adapter/F32/512, say).
instructions() {
  local name="$1" few=200 many=1200 counts=()
  for n in $few $many; do
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$bench" \
      --streaming_iterations="$n" --benchmark_filter="^$name(/|\$)" >/dev/null 2>&1
    counts+=("$(awk '/^(summary|totals):/ { print $2; exit }' "$work/cg.out")")
  done
  echo $(( (counts[1] - counts[0]) / (many - few) ))
}

printf '%-10s%14s%14s%8s\n' case "adapter Ir" "baseline Ir" ratio
for fmt in "${formats[@]}"; do
  for n in "${frames[@]}"; do
    a="$(instructions "Adapter/$fmt/$n")"
    b="$(instructions "Baseline/$fmt/$n")"
    printf '%-10s%14d%14d%8.3f\n' "$fmt/$n" "$a" "$b" "$(awk -v a="$a" -v b="$b" 'BEGIN { print a / b }')"
  done
done
