#!/usr/bin/env bash
# Installs what is missing, builds the Linux adapter and runs brvst-render on the bundled default.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc)"
build/linux/bin/brvst-render --info
