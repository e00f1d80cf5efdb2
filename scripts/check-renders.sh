#!/usr/bin/env bash
# Renders the demo clip through the same plug-ins with the Linux, x86_64 and i686 builds of
# brvst-render (the Windows ones under their Wines) and checks that all three wrote the same
# audio, in 16-bit and in float, also from a truncated copy of the clip and from a MIDI file
# played through a probe instrument; and that all three
# give the same exit status and as many stderr lines for a usage error, a missing input and a
# truncated input; and that VID 84's saved state is the same bytes from every build and loads
# in every other; and that the x86_64 renderer playing 16-bit, float and mono clips in Wine's own
# DirectShow runtime (--system-graph) writes what the Linux one writes. Run after the linux,
# mingw-x64 and mingw-i686 builds; a missing
# build, program, plug-in or clip fails the check.
#
# The allowance is none, in float too: every build does its arithmetic in SSE2 registers, so only
# the math library could differ, and VID 84 (exp, pow, log and sqrt, on its coefficients) gets the
# same answers from all three; the probe plug-in only copies.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
input=build/linux/bin/demo.wav
out=build/renders
builds=(linux mingw-x64 mingw-i686)
plugins=(vid84 probe_effect probe_latency probe_vstpluginmain)
formats=(s16 f32)

missing=0
need() {
  if [ ! -e "$1" ]; then
    echo "check-renders: missing $1" >&2
    missing=1
  fi
}
need "$input"
for build in "${builds[@]}"; do
  bin=build/$build/bin
  if [ "$build" = linux ]; then
    need "$bin/brvst-render"
  else
    need "$bin/brvst-render.exe"
    need "build/$build/wine-run.sh"
  fi
  need "$bin/VID 84.dll"
  for plugin in "${plugins[@]:1}" probe_synth; do need "$bin/$plugin.dll"; done
done
[ "$missing" -eq 0 ] || exit 1

# Wine's view of a path of this tree: Z: is the root of the Unix file system.
windows_path() {
  local path="$root/$1"
  printf 'Z:%s' "${path//\//\\}"
}

rm -rf "$out"
mkdir -p "$out"
# The clip cut in the middle of its data chunk: rendered as far as it goes, with a warning.
truncated=$out/truncated.wav
head -c $(( $(stat -c %s "$input") * 2 / 3 + 1 )) "$input" >"$truncated"

# Runs the renderer of build $1 with the rest, paths given as this tree's relative paths; its
# stderr goes to $answer_err and its status to $answer_status.
answer_err=$out/stderr.txt
render_with() {
  local build=$1 bin=build/$1/bin
  shift
  local args=() arg
  for arg in "$@"; do
    if [ "$build" != linux ] && [[ "$arg" == build/* || "$arg" == tests/* ]]; then
      arg=$(windows_path "$arg")
    fi
    args+=("$arg")
  done
  set +e
  if [ "$build" = linux ]; then
    "$bin/brvst-render" "${args[@]}" 2>"$answer_err" >/dev/null
  else
    "build/$build/wine-run.sh" "$bin/brvst-render.exe" "${args[@]}" 2>"$answer_err" >/dev/null
  fi
  answer_status=$?
  set -e
}

answers_failed=0
expect() {  # build, status, stderr lines, arguments...
  local build=$1 status=$2 lines=$3
  shift 3
  render_with "$build" "$@"
  local got_lines
  got_lines=$(wc -l <"$answer_err")
  if [ "$answer_status" -ne "$status" ] || [ "$got_lines" -ne "$lines" ]; then
    echo "check-renders: $build $*: status $answer_status, $got_lines stderr lines" \
      "(wanted $status and $lines):" >&2
    cat "$answer_err" >&2
    answers_failed=1
  fi
}

for build in "${builds[@]}"; do
  bin=build/$build/bin
  [ "$build" = linux ] || "build/$build/wine-run.sh" --boot
  for plugin in "${plugins[@]}"; do
    for format in "${formats[@]}"; do
      output=$out/$build-$plugin-$format.wav
      args=(--format "$format" --tail 2)
      if [ "$build" = linux ]; then
        [ "$plugin" = vid84 ] || args+=(--plugin "$bin/$plugin.dll")
        "$bin/brvst-render" "${args[@]}" "$input" -o "$output"
      else
        [ "$plugin" = vid84 ] || args+=(--plugin "$(windows_path "$bin/$plugin.dll")")
        "build/$build/wine-run.sh" "$bin/brvst-render.exe" "${args[@]}" \
          "$(windows_path "$input")" -o "$(windows_path "$output")"
      fi
      if [ ! -s "$output" ]; then
        echo "check-renders: $build wrote nothing for $plugin $format" >&2
        exit 1
      fi
    done
  done
  for format in "${formats[@]}"; do
    expect "$build" 0 1 --format "$format" "$truncated" -o "$out/$build-truncated-$format.wav"
    # An instrument played from a MIDI file, with a parameter and a program set by the host.
    expect "$build" 0 0 --plugin "build/$build/bin/probe_synth.dll" --midi tests/data/scale.mid \
      --program 1 --param 2=0.25 --format "$format" -o "$out/$build-midi-$format.wav"
  done
  expect "$build" 2 1 --bogus "$input" -o "$out/unused.wav"
  expect "$build" 1 1 "$out/missing.wav" -o "$out/unused.wav"
  expect "$build" 1 1 --plugin "$out/missing.dll" "$input" -o "$out/unused.wav"
done
[ "$answers_failed" -eq 0 ] || exit 1
[ ! -e "$out/unused.wav" ] || { echo "check-renders: a failed render left a file" >&2; exit 1; }
echo "answers: the same exit status and stderr lines from every build"

# Saved states move between builds: each build saves VID 84's state for the same program and
# parameters, then loads every build's state (its own too) and saves it again. All of them must
# be the same bytes.
for build in "${builds[@]}"; do
  expect "$build" 0 0 --program 3 --param 0=0.25 --param 4=0.75 \
    --save-state "$out/$build-state.bin" "$input" -o "$out/$build-state.wav"
done
for build in "${builds[@]}"; do
  for from in "${builds[@]}"; do
    expect "$build" 0 0 --load-state "$out/$from-state.bin" \
      --save-state "$out/$build-from-$from-state.bin" "$input" -o "$out/$build-state.wav"
  done
done
[ "$answers_failed" -eq 0 ] || exit 1
states_failed=0
for state in "$out"/*-state.bin; do
  if ! cmp -s "$state" "$out/${builds[0]}-state.bin"; then
    echo "check-renders: $state differs from $out/${builds[0]}-state.bin" >&2
    states_failed=1
  fi
done
[ "$states_failed" -eq 0 ] || exit 1
echo "states: the same bytes saved by every build, from its own settings and from every build's state"

# The x86_64 renderer in Wine's own DirectShow runtime (--system-graph: Wine's file source and
# WAVE parser feed the filter) against the Linux renderer, for 16-bit and float stereo and 16-bit
# mono inputs. That graph feeds the file alone, so both keep the plug-in's delay and add no tail.
# The adapter's own record takes stereo only: mono goes through a --plugin record of VID 84.
windows=build/mingw-x64/bin
build/linux/bin/brvst-render --plugin build/linux/bin/probe_effect.dll --format f32 "$input" \
  -o "$out/input-stereof.wav"
python3 - "$input" "$out/input-mono16.wav" <<'EOF'
import struct
import sys

data = open(sys.argv[1], "rb").read()
at = data.find(b"data")
size = struct.unpack_from("<I", data, at + 4)[0]
frames = data[at + 8:at + 8 + size]
mono = b"".join(frames[n:n + 2] for n in range(0, len(frames) - 3, 4))  # the left channel
fmt = struct.pack("<HHIIHH", 1, 1, 44100, 88200, 2, 16)
open(sys.argv[2], "wb").write(b"RIFF" + struct.pack("<I", 36 + len(mono)) + b"WAVEfmt " +
                              struct.pack("<I", 16) + fmt + b"data" +
                              struct.pack("<I", len(mono)) + mono)
EOF
system_s16=() system_f32=()
for plugin in vid84 probe_effect probe_latency; do
  for kind in stereo16 stereof mono16; do
    clip=$out/input-$kind.wav format=s16
    [ "$kind" = stereo16 ] && clip=$input
    [ "$kind" = stereof ] && format=f32
    name=system_${plugin}_$kind-$format
    linux_args=(--no-latency-compensation)
    windows_args=(--system-graph --no-latency-compensation)
    file=$plugin.dll
    [ "$plugin" = vid84 ] && file="VID 84.dll"
    if [ "$plugin" != vid84 ] || [ "$kind" = mono16 ]; then
      linux_args+=(--plugin "build/linux/bin/$file")
      windows_args+=(--plugin "$(windows_path "$windows/$file")")
    fi
    build/linux/bin/brvst-render "${linux_args[@]}" "$clip" -o "$out/linux-$name.wav"
    # Once in many runs a render in Wine's runtime has stopped making progress and never ended;
    # such a render is ended after two minutes and run once more, and that is said.
    for attempt in 1 2; do
      status=0
      timeout 120 build/mingw-x64/wine-run.sh "$windows/brvst-render.exe" "${windows_args[@]}" \
        "$(windows_path "$clip")" -o "$(windows_path "$out/mingw-x64-$name.wav")" || status=$?
      [ "$status" -eq 124 ] || break
      echo "check-renders: the --system-graph render $name hung in Wine (attempt $attempt)" >&2
    done
    [ "$status" -eq 0 ] || exit 1
    if [ "$format" = s16 ]; then
      system_s16+=("system_${plugin}_$kind")
    else
      system_f32+=("system_${plugin}_$kind")
    fi
  done
done

compare() {  # builds, names, formats: $out/<build>-<name>-<format>.wav against the first build's
  python3 - "$out" "$@" <<'EOF'
import struct
import sys

out = sys.argv[1]
builds, plugins, formats = (names.split() for names in sys.argv[2:5])


def samples(path, fmt):
    data = open(path, "rb").read()
    position = 12
    while position + 8 <= len(data):
        tag, size = data[position:position + 4], struct.unpack_from("<I", data, position + 4)[0]
        if tag == b"data":
            body = data[position + 8:position + 8 + size]
            code = "h" if fmt == "s16" else "f"
            return data, struct.unpack("<%d%s" % (len(body) // struct.calcsize(code), code), body)
        position += 8 + size + (size & 1)
    sys.exit("check-renders: %s has no data chunk" % path)


def ordered(x):
    # Float bits as integers that count representable values, for differences in units of the
    # last place.
    bits = struct.unpack("<i", struct.pack("<f", x))[0]
    return bits if bits >= 0 else -(bits & 0x7FFFFFFF)


passed = failed = 0
for plugin in plugins:
    for fmt in formats:
        reference_name = "%s/%s-%s-%s.wav" % (out, builds[0], plugin, fmt)
        reference_bytes, reference = samples(reference_name, fmt)
        for build in builds[1:]:
            name = "%s/%s-%s-%s.wav" % (out, build, plugin, fmt)
            other_bytes, other = samples(name, fmt)
            label = "%s %s: %s against %s" % (plugin, fmt, build, builds[0])
            if len(other) != len(reference):
                print("%s: %d samples, not %d" % (label, len(other), len(reference)))
                failed += 1
                continue
            largest = max((abs(a - b) for a, b in zip(reference, other)), default=0)
            ulps = 0
            if fmt == "f32":
                ulps = max((abs(ordered(a) - ordered(b)) for a, b in zip(reference, other)),
                           default=0)
            identical = other_bytes == reference_bytes
            unit = "steps" if fmt == "s16" else "(%d units in the last place)" % ulps
            print("%s: %d samples, %s, largest difference %g %s" %
                  (label, len(other), "identical" if identical else "DIFFERENT", largest, unit))
            passed += identical
            failed += not identical
print("renders: %d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
EOF
}
status=0
compare "${builds[*]}" "${plugins[*]} truncated midi" "${formats[*]}" || status=1
compare "linux mingw-x64" "${system_s16[*]}" s16 || status=1
compare "linux mingw-x64" "${system_f32[*]}" f32 || status=1
exit $status
