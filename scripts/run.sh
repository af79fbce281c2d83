#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine (as root): installs what is needed,
# builds the 32-bit program (build/mingw-i686/src/Orvane.exe), then shows it
# doing its work: Orvane diagnoses a small demo game directory, updates it from
# a signed demo portal served on 127.0.0.1:80 inside a private network
# namespace, and starts the launcher (see scripts/demo.py). On your display when
# $DISPLAY is a local one; otherwise on a private Xvfb display, with screenshots.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

source scripts/prepare.sh

echo "== building the shipped program (mingw-i686)"
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 --target Orvane -j"$(nproc)"
echo "Orvane.exe (without a file list key) is at: $root/build/mingw-i686/src/Orvane.exe"

# The shipped build is 32-bit; Wine runs it only where 32-bit Linux programs run.
if [ "$ORVANE_CAN_RUN_WIN32" = 1 ]; then
  arch=i686
else
  arch=x86_64
  echo "== NOTE: this machine cannot run 32-bit programs, so the demo runs the" \
       "64-bit build (same sources) instead of the shipped 32-bit one."
fi

# The demo's own signing key and a build that embeds its public half.
demo="$root/build/demo"
if [ ! -f "$demo/keys/private.pem" ]; then
  python3 scripts/portal.py keygen "$demo/keys"
fi
build="$root/build/demo-$arch"
echo "== building the demo program ($arch, file lists signed with $demo/keys/public.pem)"
cmake --preset "mingw-$arch" -B "$build" -DORVANE_FILELIST_PUBLIC_KEY="$demo/keys/public.pem" >/dev/null
cmake --build "$build" --target Orvane orvane_stub_launcher orvane_window_probe -j"$(nproc)"

echo "== demo"
status=0
python3 scripts/demo.py --orvane "$build/src/Orvane.exe" \
  --launcher "$build/tests/e2e/orvane_stub_launcher.exe" \
  --probe "$build/tests/ui/orvane_window_probe.exe" \
  --key "$demo/keys/private.pem" --dir "$demo" || status=$?
echo
case $status in
  0) echo "The demo updated $demo/game and started its launcher." ;;
  77) echo "The demo needs a private network namespace (root, unshare), which this machine does not allow." ;;
  *) echo "The demo did not finish its job (exit code $status); see the lines above and $demo." ;;
esac
echo "$root/build/mingw-i686/src/Orvane.exe is a build without a file list key,"
echo "for portals that sign nothing: it takes any list it is served, over any connection."
echo "The program to give players is a signed release: scripts/release.sh makes it"
echo "(file lists signed with your key, the exe signed with Authenticode); see"
echo "the operator's guide, docs/operators.md."
exit $status
