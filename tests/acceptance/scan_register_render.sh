#!/usr/bin/env bash
# What a user does with a folder of VST 2 plug-ins: brvst-scan writes the plug-in list, brvst-regsvr
# registers the adapter with every record of it, and brvst-render makes each filter by its class
# id as a host does and renders through it: effects process a clip, instruments play a MIDI file.
# Every render must succeed and sound.
#
# The plug-ins are Debian's: dpf-plugins-vst's folder without its subfolders, and a fixed handful
# of lsp-plugins-vst's (entry point VSTPluginMain only), linked into folders of the test's own.
#
# Usage: scan_register_render.sh BIN MIDI WORK
#   BIN   the build's bin folder (brvst-scan, brvst-regsvr, brvst-render, libbrvst.so, demo.wav)
#   MIDI  a standard MIDI file for the instruments
#   WORK  a folder of the test's own, emptied first
set -euo pipefail
fail() {
  echo "scan_register_render: $*" >&2
  exit 1
}
[ $# -eq 3 ] || fail "usage: $0 BIN MIDI WORK"
bin=$(realpath "$1") midi=$(realpath "$2") work=$(realpath -m "$3")

dpf=/usr/lib/vst
lsp=/usr/lib/vst/lsp-plugins
# Compressors and delays in mono, stereo, side-chain (four inputs) and twin-stereo shapes, an
# equaliser, a limiter, a noise generator (sound from silence) and an analyser (audio through).
lsp_chosen=(compressor-stereo comp-delay-mono comp-delay-x2-stereo para-equalizer-x16-stereo
  sc-compressor-stereo limiter-mono slap-delay-stereo noise-generator-x2 spectrum-analyzer-x2)

# Options for plug-ins that need them to sound. Amplitude Imposer gives its first two inputs the
# loudness of inputs 3 and 4, which a host with two channels leaves silent: at depth 0 it does
# not.
declare -A options=([AmplitudeImposer-vst.so]="--param 0=0")

[ -d "$dpf" ] && [ -d "$lsp" ] || fail "dpf-plugins-vst and lsp-plugins-vst are not installed"
command -v python3 >/dev/null || fail "python3 is missing"
for tool in brvst-scan brvst-regsvr brvst-render libbrvst.so demo.wav; do
  [ -e "$bin/$tool" ] || fail "$bin/$tool is missing"
done

rm -rf "$work"
mkdir -p "$work/plugins/dpf" "$work/plugins/lsp" "$work/config" "$work/out"
# The registry and the list in the test's own folder, never the user's.
export BRVST_REGISTRY=$work/registry.reg XDG_CONFIG_HOME=$work/config
# LSP's plug-ins leave memory behind in their own code, which a sanitizer build would count as
# the renderer's; our own leaks are checked with the probe plug-ins.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
list=$XDG_CONFIG_HOME/brvst/brvst-plugins.ini
# The adapter reads this list alone, whatever a scan may have left beside it.
export BRVST_PLUGIN_LIST=$list

expected=()
for plugin in "$dpf"/*.so; do
  ln -s "$plugin" "$work/plugins/dpf/"
  expected+=("$(basename "$plugin")")
done
for name in "${lsp_chosen[@]}"; do
  [ -e "$lsp/$name.so" ] || fail "$lsp/$name.so is missing"
  ln -s "$lsp/$name.so" "$work/plugins/lsp/"
  expected+=("$name.so")
done
# LSP's plug-ins are small stubs that load the package's core library from their own folder.
ln -s "$lsp"/lsp-plugins-vst2-*.so "$work/plugins/lsp/"

echo "scanning ${#expected[@]} plug-ins"
start=$(date +%s%N)
"$bin/brvst-scan" --out "$list" "$work/plugins/dpf" "$work/plugins/lsp" \
  >"$work/scan.txt" 2>"$work/scan.err" || {
  cat "$work/scan.txt" "$work/scan.err" >&2
  fail "brvst-scan failed"
}
echo "the scan took $((($(date +%s%N) - start) / 1000000)) ms"
cat "$work/scan.txt"
[ -s "$list" ] || fail "brvst-scan wrote no list at $list"

# name, file name, filter class id and synth flag of each record that is not marked removed
cat >"$work/records.py" <<'EOF'
import sys
records, record = [], None
for raw in open(sys.argv[1], encoding="utf-8-sig"):
    line = raw.strip()
    if not line or line.startswith((";", "#")):
        continue
    if line.startswith("["):
        record = {} if line.lower() == "[plugin]" else None
        if record is not None:
            records.append(record)
        continue
    if record is None or "=" not in line:
        continue
    key, value = line.split("=", 1)
    key = key.strip().lower()
    value = value.strip()
    if key not in ("name", "dllpath", "dllfilename"):
        value = value.split(";", 1)[0].strip()
    record[key] = value
for r in records:
    if r.get("removed", "0") == "1":
        continue
    file_name = r.get("dllfilename") or r["dllpath"].rsplit("/", 1)[-1]
    print("\t".join([r["name"], file_name, r["filterclsid"], r.get("issoftsynth", "0")]))
EOF
python3 "$work/records.py" "$list" >"$work/records.tsv"
# A rescan keeps every class id: a host project finds its plug-ins again.
cp "$work/records.tsv" "$work/records-first.tsv"
"$bin/brvst-scan" --out "$list" "$work/plugins/dpf" "$work/plugins/lsp" >/dev/null 2>&1 ||
  fail "the second brvst-scan failed"
python3 "$work/records.py" "$list" >"$work/records.tsv"
cmp -s "$work/records.tsv" "$work/records-first.tsv" || fail "a rescan changed the list's records"

for file in "${expected[@]}"; do
  cut -f2 "$work/records.tsv" | grep -qxF "$file" || fail "the list has no record for $file"
done

"$bin/brvst-regsvr" /s "$bin/libbrvst.so" || fail "brvst-regsvr failed ($?)"
"$bin/brvst-regsvr" --list >"$work/filters.txt" || fail "brvst-regsvr --list failed"

# The peak of a 16-bit WAV file, 0 to 32768.
peak() {
  python3 - "$1" <<'EOF'
import sys, wave, array
with wave.open(sys.argv[1]) as w:
    assert w.getsampwidth() == 2, "16-bit output expected"
    samples = array.array("h", w.readframes(w.getnframes()))
print(max((abs(s) for s in samples), default=0))
EOF
}

effects=0 instruments=0
while IFS=$'\t' read -r name file clsid synth; do
  grep -qiF "$clsid" "$work/filters.txt" || fail "$name: $clsid is not registered"
  out="$work/out/$file.wav"
  if [ "$synth" = 1 ]; then
    args=(--midi "$midi")
    instruments=$((instruments + 1))
  else
    args=("$bin/demo.wav")
    effects=$((effects + 1))
  fi
  read -r -a more <<<"${options[$file]:-}"
  status=0
  "$bin/brvst-render" --clsid "$clsid" --format s16 "${more[@]}" "${args[@]}" -o "$out" \
    2>"$work/out/$file.err" || status=$?
  [ "$status" = 0 ] || {
    cat "$work/out/$file.err" >&2
    fail "$name ($file): brvst-render exited $status"
  }
  level=$(peak "$out")
  [ "$level" -gt 32 ] || fail "$name ($file): the output is silent (peak $level)"
  printf '%-32s %-36s peak %5d\n' "$name" "$file" "$level"
done <"$work/records.tsv"

[ "$effects" -gt 0 ] && [ "$instruments" -gt 0 ] || fail "$effects effects, $instruments instruments"
echo "$effects effects and $instruments instruments rendered through their class ids"
