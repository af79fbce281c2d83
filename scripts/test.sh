#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (packages, Wine prefix), builds both
# architectures with warnings as errors, and runs every test under Wine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

source scripts/prepare.sh

for preset in mingw-i686 mingw-x86_64; do
  echo "== build $preset"
  ./scripts/build.sh "$preset" -DORVANE_WERROR=ON
done

# The window tests draw on a private virtual display.
source scripts/xvfb.sh
xvfb_start 1280x1024x24

# A persistent wineserver makes each Wine start cheap (one start per test case).
wineserver -p
trap 'wineserver -k 2>/dev/null || true; xvfb_stop' EXIT
# Wine's background services start with the first program and keep its output
# pipe open; start them here, detached from ctest's pipes, so test discovery
# does not wait on them.
"$ORVANE_WINE64" cmd /c exit >/dev/null 2>&1 </dev/null || true

# 32-bit programs (the shipped build) run natively or, where the kernel runs no
# 32-bit code, through qemu-user (scripts/i386/setup.sh); without either only
# the 64-bit suite can run.
presets=(mingw-x86_64)
case "$ORVANE_WIN32_BY" in
  native) echo "== 32-bit programs run natively"; presets=(mingw-i686 mingw-x86_64) ;;
  qemu-user) echo "== 32-bit programs run through qemu-user ($(qemu-i386 --version | head -n1))"
             presets=(mingw-i686 mingw-x86_64) ;;
  *) echo "== NOTE: this machine cannot run 32-bit programs (see scripts/i386/setup.sh)," \
          "so the mingw-i686 tests were built but are not run here." ;;
esac
status=0
timings=()
for preset in "${presets[@]}"; do
  echo "== test $preset"
  started=$(date +%s)
  ctest --preset "$preset" -j"$(nproc)" || status=1
  timings+=("$preset $(( $(date +%s) - started )) s")
done
for timing in "${timings[@]}"; do
  echo "== suite time: $timing"
done
exit $status
