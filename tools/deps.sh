#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root, with apt-get), once.
# Usage: tools/deps.sh [linux|windows|all]   (default: all)
#   linux    the build, the tests on Linux, the sanitizers and the fuzz targets (tools/demo.sh)
#   windows  that, and the Windows executables and their tests under Wine
#   all      both, and git (the formatting check of tools/test-all.sh lists the tracked files)
set -euo pipefail

want=${1:-all}
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev clang libclang-rt-14-dev clang-format python3
  pkg-config libhivex-dev)
if [ "$want" = windows ] || [ "$want" = all ]; then
  # mmdebstrap makes the separate 32-bit tree in which the x86 build runs under Wine; it needs
  # arch-test (only recommended) to make a tree of another architecture.
  packages+=(mingw-w64 wine wine64 mmdebstrap arch-test)
fi
if [ "$want" = all ]; then
  packages+=(git)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
