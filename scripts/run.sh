#!/usr/bin/env bash
# Sets up the machine and builds the shipped program, build/mingw-i686/src/Orvane.exe.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

./scripts/setup.sh
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 --target Orvane -j"$(nproc)"
echo
echo "Orvane.exe is at: $root/build/mingw-i686/src/Orvane.exe"
echo "Copy it into a game client's directory and run it there."
