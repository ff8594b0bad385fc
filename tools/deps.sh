#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root, with apt-get), once.
# Usage: tools/deps.sh [linux|windows|all]   (default: all)
set -euo pipefail

want=${1:-all}
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev clang libclang-rt-14-dev clang-format python3
  pkg-config libhivex-dev)
if [ "$want" = windows ] || [ "$want" = all ]; then
  # mmdebstrap makes the separate 32-bit tree in which the x86 build runs under Wine.
  packages+=(mingw-w64 wine wine64 mmdebstrap)
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
