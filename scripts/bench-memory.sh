#!/usr/bin/env bash
# Peak resident memory of brvst-render against the length of its input: 1 minute, 10 minutes
# and 3 hours of 16-bit stereo silence at 44.1 kHz through VID 84, and a two-second input with
# a tail of an hour. Needs the linux build; writes its files under build/bench-memory (about
# 4 GB at the peak) and removes them.
#   scripts/bench-memory.sh [MINUTES...]     (default: 1 10 180)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/linux/bin
work=build/bench-memory
minutes=("$@")
[ ${#minutes[@]} -gt 0 ] || minutes=(1 10 180)
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# A WAV header and `frames` frames of silence, written by dd, so the input costs no memory either.
silence() {
  local path=$1 frames=$2
  local bytes=$((frames * 4))
  python3 - "$path" "$bytes" <<'PY'
import struct, sys
path, size = sys.argv[1], int(sys.argv[2])
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + size) + b"WAVE")
    f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 2, 44100, 44100 * 4, 4, 16))
    f.write(b"data" + struct.pack("<I", size))
    f.truncate(44 + size)
PY
}

peak() {  # prints the peak RSS and the seconds taken of brvst-render with "$@"
  python3 - "$bin/brvst-render" "$@" <<'PY'
import os, subprocess, sys, time
start = time.monotonic()
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
_, status, usage = os.wait4(child.pid, 0)
if os.waitstatus_to_exitcode(status) != 0:
    sys.exit("brvst-render failed")
print("%8.1f MiB  %7.1f s" % (usage.ru_maxrss / 1024, time.monotonic() - start))
PY
}

printf '%-28s %s\n' "input" "peak RSS      time"
for m in "${minutes[@]}"; do
  silence "$work/in.wav" $((m * 60 * 44100))
  printf '%-28s %s\n' "$m min of silence" "$(peak "$work/in.wav" -o "$work/out.wav")"
  rm -f "$work/in.wav" "$work/out.wav"
done
silence "$work/in.wav" $((2 * 44100))
printf '%-28s %s\n' "2 s with --tail 3600" "$(peak --tail 3600 "$work/in.wav" -o "$work/out.wav")"
