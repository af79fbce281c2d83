#!/usr/bin/env bash
# Runs one window test (tests/ui/window_test.py) against the real Orvane.exe on
# a display of its own:
#   - an Xvfb server on a free display number (scripts/xvfb.sh), stopped at
#     the end;
#   - a Wine server of its own, so that the program's single-instance mutex and
#     window cannot meet another copy started by someone else, and the program
#     sees this display's screen: on a throwaway overlay of the test prefix when
#     mount namespaces are permitted, otherwise in a throwaway prefix made for
#     the run (slower: about 20 s of wineboot).
#   - for MODE screenshot-win7-fonts, the fonts of Windows 7: "Microsoft YaHei"
#     is there, "Microsoft YaHei UI" (Windows 8 and later) is not;
#   - for MODE screenshot-dpiN, the prefix's display scale (LogPixels) set to N
#     DPI, which the throwaway prefix keeps to itself, and a screen large
#     enough for the scaled window;
#   - for MODE screenshot-taskbar-WxH-dpiN, a W x H screen at N DPI whose
#     bottom 40 pixels a taskbar holds: the display's _NET_WORKAREA, which
#     Wine reports as the monitor's work area.
# Usage: run-window-test.sh MODE Orvane.exe orvane_window_probe.exe ARTIFACT_DIR
# Exit code 77 (skipped) where the program cannot run (a 32-bit build on a
# machine without 32-bit execution).
set -euo pipefail
readonly SKIP=77
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"

inside=0
if [ "${1:-}" = --inside ]; then
  inside=1
  shift
fi
if [ $# -ne 4 ]; then
  echo "usage: run-window-test.sh MODE Orvane.exe orvane_window_probe.exe ARTIFACT_DIR" >&2
  exit 2
fi
mode="$1" exe="$2" probe="$3" artifacts="$4"
dpi=""
screen_size="1024x768x24"
work_area=""
readonly taskbar_height=40
if [[ "$mode" =~ ^screenshot-dpi([0-9]+)$ ]]; then
  dpi="${BASH_REMATCH[1]}"
  screen_size="2048x1600x24"
elif [[ "$mode" =~ ^screenshot-taskbar-([0-9]+)x([0-9]+)-dpi([0-9]+)$ ]]; then
  screen_size="${BASH_REMATCH[1]}x${BASH_REMATCH[2]}x24"
  dpi="${BASH_REMATCH[3]}"
  work_area="0, 0, ${BASH_REMATCH[1]}, $(( BASH_REMATCH[2] - taskbar_height ))"
fi

source "$root/scripts/wine-env.sh"

if [ $inside = 0 ]; then
  if ! orvane_can_run "$exe"; then
    echo "run-window-test: skipped, this machine cannot run 32-bit Windows programs" \
         "(ORVANE_CAN_RUN_WIN32=0); run it where it can"
    exit $SKIP
  fi
  for tool in Xvfb xdotool xprop import convert; do
    if ! command -v "$tool" >/dev/null; then
      echo "run-window-test: $tool is missing (scripts/setup.sh installs it)" >&2
      exit 1
    fi
  done
  "$root/scripts/wine-prefix.sh" >/dev/null
  if unshare --mount true 2>/dev/null; then
    exec unshare --mount --fork bash "${BASH_SOURCE[0]}" --inside "$@"
  fi
fi

work=$(mktemp -d)
source "$root/scripts/xvfb.sh"
holder=""
cleanup() {
  if [ -n "$holder" ]; then
    kill "$holder" 2>/dev/null || true
  fi
  xvfb_stop
  # This run's own Wine server ends by itself once its programs are gone.
  timeout 30 wineserver -w 2>/dev/null || true
  if [ $inside = 1 ]; then
    umount "$WINEPREFIX" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ $inside = 1 ]; then
  mkdir -p "$work/upper" "$work/overlay-work"
  if ! mount -t overlay overlay \
      -o "lowerdir=$WINEPREFIX,upperdir=$work/upper,workdir=$work/overlay-work" "$WINEPREFIX"; then
    echo "run-window-test: skipped, no overlay mount for a private Wine prefix"
    exit $SKIP
  fi
  server_dir="/tmp/.wine-$(id -u)"
  mkdir -p "$server_dir"
  mount -t tmpfs -o mode=0700 tmpfs "$server_dir"
fi

xvfb_start "$screen_size" || exit 1
echo "run-window-test: Xvfb on $DISPLAY"
if [ -n "$work_area" ]; then
  # Xvfb resets, and forgets root properties, when its last client leaves: a
  # client that only watches the property holds the display until the end.
  xprop -root -spy _NET_WORKAREA >/dev/null 2>&1 &
  holder=$!
  # Set before Wine's first program on this display, which reads it once.
  xprop -root -format _NET_WORKAREA 32cccc -set _NET_WORKAREA "$work_area"
  echo "run-window-test: work area $(xprop -root _NET_WORKAREA)"
fi

if [ $inside = 0 ]; then
  # Made with the display present: Wine records the graphics driver it found.
  echo "run-window-test: no mount namespace here; making a throwaway Wine prefix"
  export ORVANE_WINEPREFIX="$work/wineprefix"
  source "$root/scripts/wine-env.sh"
  "$root/scripts/wine-prefix.sh" >/dev/null
fi

# Wine's background services start with the first program and keep its output
# open; start them here, detached, so the test's own pipes are not held open.
"$ORVANE_WINE64" cmd /c exit >/dev/null 2>&1 </dev/null || true
if [ "$mode" = screenshot-win7-fonts ]; then
  substitutes='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  "$ORVANE_WINE64" reg delete "$substitutes" /v 'Microsoft YaHei UI' /f >/dev/null 2>&1 </dev/null || true
  "$ORVANE_WINE64" reg add "$substitutes" /v 'Microsoft YaHei' /d 'WenQuanYi Micro Hei' /f \
    >/dev/null 2>&1 </dev/null
fi
if [ -n "$dpi" ]; then
  # Programs started from now on see the display at this scale.
  "$ORVANE_WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    >/dev/null 2>&1 </dev/null
fi

mkdir -p "$artifacts"
python3 "$here/window_test.py" "$mode" "$exe" "$probe" "$artifacts"
