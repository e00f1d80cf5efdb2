#!/usr/bin/env bash
# The main job: installs what is missing, builds what it runs (the adapter, VID 84, the renderer
# and the demo clip; the tests and benchmarks are the test command's), shows what the bundled
# plug-in offers, and renders the bundled demo clip through it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --main
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)" --target brvst brvst-render vid84 brvst_demo
bin=build/linux/bin
"$bin/brvst-render" --info
"$bin/brvst-render" --tail 2 "$bin/demo.wav" -o build/linux/demo-vid84.wav
echo "Rendered $bin/demo.wav through VID 84: $(pwd)/build/linux/demo-vid84.wav"
