#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the Linux suite, the suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the concurrency tests under ThreadSanitizer,
# the i686 Windows suite under 32-bit Wine and the x86_64 Windows suite under wine64, the
# fuzz targets for a fixed number of runs each, and last the check that the three builds render
# the same audio.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
started=$(date +%s)
step() { printf '\n== %s (%ss)\n' "$*" $(( $(date +%s) - started )) >&2; }

for preset in linux linux-asan linux-tsan mingw-i686 mingw-x64 linux-fuzz; do
  step "configure and build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done

step "tests: Linux"
ctest --preset linux -j"$jobs"
step "tests: Linux with AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --preset linux-asan -j"$jobs"
step "tests: Linux concurrency tests with ThreadSanitizer"
ctest --preset linux-tsan -j"$jobs"
step "tests: Windows i686 under 32-bit Wine"
ctest --preset mingw-i686 -j"$jobs"
step "tests: Windows x86_64 under wine64"
ctest --preset mingw-x64 -j"$jobs"
step "fuzz targets: a fixed number of runs each"
bench/fuzz.sh --runs 50000
step "renders: Linux, x86_64 and i686 builds alike"
scripts/check-renders.sh
step "all tests passed"
