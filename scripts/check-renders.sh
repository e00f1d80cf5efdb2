#!/usr/bin/env bash
# Renders the demo clip through the same plug-ins with the Linux, x86_64 and i686 builds of
# brvst-render (the Windows ones under their Wines) and checks that all three wrote the same
# audio, in 16-bit and in float. Run after the linux, mingw-x64 and mingw-i686 builds; a missing
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
plugins=(vid84 probe_effect)
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
  need "$bin/probe_effect.dll"
done
[ "$missing" -eq 0 ] || exit 1

# Wine's view of a path of this tree: Z: is the root of the Unix file system.
windows_path() {
  local path="$root/$1"
  printf 'Z:%s' "${path//\//\\}"
}

rm -rf "$out"
mkdir -p "$out"
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
done

python3 - "$out" "${builds[*]}" "${plugins[*]}" "${formats[*]}" <<'EOF'
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
