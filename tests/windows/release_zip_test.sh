#!/usr/bin/env bash
# The x86_64 release zip as a user meets it: made by CPack from this build, unpacked into a fresh
# Wine prefix and used to render a file in Wine's own DirectShow runtime (--system-graph): before
# registration (the adapter's class object), with the filter's class registered to another
# module (refused), and registered with regsvr32 to the zip's DLL (made by COM); then
# unregistered.
# Arguments: the build folder, cpack, wine64, its wineserver, the zip's name without ".zip".
set -euo pipefail
build=$1 cpack=$2 wine=$3 wineserver=$4 name=$5

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" DISPLAY=
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "release_zip: $*" >&2
  exit 1
}

"$cpack" -G ZIP -B "$work/zip" --config "$build/CPackConfig.cmake" >"$work/cpack.log" ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
zip=$work/zip/$name.zip
[ -f "$zip" ] || fail "no $name.zip"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
app=$work/unpacked/$name
expected=$'INSTALL-windows.txt\nREADME.md\nVID 84.dll\nbrvst-render.exe\nbrvst.chm\nbrvst.dll'
actual=$(cd "$app" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "the zip holds"$'\n'"$actual"$'\n'"not"$'\n'"$expected"

# Wine's view of a path: Z: is the root of the Unix file system.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# A second of a 16-bit stereo chord, for the system's WAVE parser.
python3 - "$work/in.wav" <<'PY'
import math
import struct
import sys

frames = 44100
data = b"".join(struct.pack("<hh", int(8000 * math.sin(n * 0.05)), int(6000 * math.sin(n * 0.031)))
                for n in range(frames))
header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data), b"WAVE", b"fmt ", 16, 1, 2,
                     44100, 44100 * 4, 4, 16, b"data", len(data))
open(sys.argv[1], "wb").write(header + data)
PY

"$wine" wineboot --init >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# Not registered: the filter comes from the adapter's class object, and nothing is registered.
"$wine" "$app/brvst-render.exe" --system-graph "$(windows_path "$work/in.wav")" \
  -o "$(windows_path "$work/out.wav")" || fail "the render before registration failed ($?)"
if "$wine" reg query 'HKCR\CLSID\{DE3C7405-C195-11D6-9691-C8E297C92840}' >/dev/null 2>&1; then
  fail "the render registered the filter's class"
fi
rm "$work/out.wav"

# Registered with another module: the renderer makes the filter through COM, finds that it is
# not its own adapter, and says so.
mkdir "$work/other"
cp "$app/brvst.dll" "$work/other/brvst.dll"
printf 'another build' >>"$work/other/brvst.dll"  # trailing data: still a loadable DLL
"$wine" regsvr32 /s "$(windows_path "$work/other/brvst.dll")" || fail "regsvr32 of the copy failed"
set +e
"$wine" "$app/brvst-render.exe" --system-graph "$(windows_path "$work/in.wav")" \
  -o "$(windows_path "$work/out.wav")" 2>"$work/other.txt"
status=$?
set -e
[ "$status" -eq 1 ] && grep -q "served by" "$work/other.txt" ||
  fail "a class registered with another module gave status $status: $(cat "$work/other.txt")"

"$wine" regsvr32 /s "$(windows_path "$app/brvst.dll")" || fail "regsvr32 failed ($?)"
# Registered: the filter's class names the unpacked adapter.
"$wine" reg query 'HKCR\CLSID\{DE3C7405-C195-11D6-9691-C8E297C92840}\InprocServer32' \
  2>/dev/null | grep -qi 'unpacked' || fail "the filter class is not registered to the zip's DLL"

"$wine" "$app/brvst-render.exe" --system-graph "$(windows_path "$work/in.wav")" \
  -o "$(windows_path "$work/out.wav")" || fail "the render failed ($?)"
python3 - "$work/in.wav" "$work/out.wav" <<'PY' || fail "the output is not the input's length, or silent"
import struct
import sys

def body(path):
    data = open(path, "rb").read()
    at = data.find(b"data")
    return data[at + 8:at + 8 + struct.unpack_from("<I", data, at + 4)[0]]

source, rendered = body(sys.argv[1]), body(sys.argv[2])
sys.exit(0 if len(rendered) == len(source) and any(rendered) else 1)
PY

"$wine" regsvr32 /s /u "$(windows_path "$app/brvst.dll")" || fail "regsvr32 /u failed ($?)"
if "$wine" reg query 'HKCR\CLSID\{DE3C7405-C195-11D6-9691-C8E297C92840}' >/dev/null 2>&1; then
  fail "the filter class is still registered"
fi
echo "release_zip: $name.zip unpacked, registered, rendered through the system's graph, unregistered"
