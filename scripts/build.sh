#!/usr/bin/env bash
# Configures and builds one preset (default: the shipped 32-bit build).
# Usage: scripts/build.sh [mingw-i686|mingw-x86_64] [extra cmake -D options...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
preset="${1:-mingw-i686}"
shift || true
cd "$root"
cmake --preset "$preset" "$@" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
