#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian 12 machine (run as root).
# Idempotent: when every package is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 mingw-w64-tools
  wine wine64 wine32:i386 xvfb xauth xdotool x11-utils imagemagick fonts-wqy-microhei
  nlohmann-json3-dev googletest cmake make nginx curl python3 iproute2 util-linux openssl icoutils
  osslsigncode
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi

# Wine's 32-bit loader is a 32-bit Linux program: have it run here, natively
# or through qemu-user.
"$(dirname "${BASH_SOURCE[0]}")/i386/setup.sh"
