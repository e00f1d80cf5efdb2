#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, asking apt-get only for what is missing.
#   scripts/install-deps.sh          everything: the Linux build, the Windows builds and Wine
#                                    (with the GStreamer plug-ins its WAVE parser needs, and an
#                                    X server without a screen for window pictures)
#   scripts/install-deps.sh --main   what the main job needs: the Linux build only
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3 ccache
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev libcli11-dev libpng-dev
)
if [ "${1:-}" != --main ]; then
  packages+=(
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 mingw-w64-tools
    wine64 wine32:i386
    fp-utils
    dpf-plugins-vst lsp-plugins-vst
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good xvfb x11-apps
    clang libclang-rt-14-dev
  )
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# 32-bit Wine, for the i686 suite, comes from the i386 architecture.
if [ "${1:-}" != --main ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
