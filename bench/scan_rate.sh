#!/usr/bin/env bash
# The scanner's rate over a folder of 100 plug-ins: copies of the probe plug-ins under distinct
# names (each a good effect or instrument), scanned REPETITIONS times (default 3); prints the
# median in plug-ins per second. JOBS=N probes N at a time (default 1).
#
#   bench/scan_rate.sh [build-dir]     build-dir defaults to build/linux, which must hold
#                                      brvst-scan, brvst-loadcheck and the probe plug-ins
set -euo pipefail

build_dir="${1:-build/linux}"
bin="$build_dir/bin"
scanner="$bin/brvst-scan"
[[ -x "$scanner" ]] || { echo "no $scanner: build the brvst-scan target first" >&2; exit 1; }

probes=(probe_effect probe_synth probe_2in6out probe_6in2out probe_1out probe_latency
        probe_vstpluginmain probe_main_upper probe_chunks probe_small)
count=100
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/plugins"
for ((i = 0; i < count; ++i)); do
  probe="${probes[i % ${#probes[@]}]}"
  [[ -f "$bin/$probe.dll" ]] || { echo "no $bin/$probe.dll: build the probe plug-ins" >&2; exit 1; }
  cp "$bin/$probe.dll" "$work/plugins/$(printf 'plugin%03d' "$i")-$probe.so"
done

rates=()
for ((r = 0; r < ${REPETITIONS:-3}; ++r)); do
  rm -f "$work/list.ini"
  start=$(date +%s.%N)
  "$scanner" --jobs "${JOBS:-1}" --out "$work/list.ini" "$work/plugins" >"$work/report.txt"
  end=$(date +%s.%N)
  listed=$(grep -c '^\[plugin\]' "$work/list.ini")
  [[ "$listed" == "$count" ]] || { echo "listed $listed of $count plug-ins" >&2; exit 1; }
  rates+=("$(echo "$count / ($end - $start)" | bc -l)")
done
median=$(printf '%s\n' "${rates[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
printf 'scanned %d plug-ins: %.1f plug-ins per second (median of %d runs)\n' "$count" "$median" \
  "${#rates[@]}"
