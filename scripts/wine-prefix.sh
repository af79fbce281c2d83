#!/usr/bin/env bash
# Creates the project's Wine prefix (build/wineprefix) once: wineboot, no Mono or
# Gecko prompts, and a font substitute so Chinese text renders in screenshots.
# Prints the prefix path. Safe to run again: a finished prefix is left alone.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
stamp="$WINEPREFIX/.orvane-ready"

# A prefix made while 32-bit programs could not run lacks Wine's 32-bit system
# files ("could not load kernel32.dll"): make it again once they can.
if [ -f "$stamp" ] && [ "$ORVANE_CAN_RUN_WIN32" = 1 ] &&
   [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "wine-prefix: $WINEPREFIX has no 32-bit system files; making it again" >&2
  rm -f "$stamp"
fi

if [ ! -f "$stamp" ]; then
  echo "wine-prefix: creating $WINEPREFIX" >&2
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$ORVANE_WINE" wineboot -i >/dev/null 2>&1
  wineserver -w
  # Test set-up only: the product never relies on this substitute.
  "$ORVANE_WINE64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'Microsoft YaHei UI' /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
  wineserver -w
  touch "$stamp"
fi

# Message boxes and other system dialogs draw with the system UI fonts; map
# them too, so Chinese box texts in screenshots are readable (test set-up only).
fonts_stamp="$WINEPREFIX/.orvane-dialog-fonts"
if [ ! -f "$fonts_stamp" ]; then
  for face in 'Tahoma' 'MS Shell Dlg' 'MS Shell Dlg 2'; do
    "$ORVANE_WINE64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v "$face" /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
  done
  touch "$fonts_stamp"
fi
# A PC without a proxy: a fresh prefix asks for auto-detection, which would
# look for a proxy script on the network for every program that connects.
direct_stamp="$WINEPREFIX/.orvane-direct-connection"
if [ ! -f "$direct_stamp" ]; then
  python3 "$(dirname "${BASH_SOURCE[0]}")/internet_settings.py" direct
  touch "$direct_stamp"
fi
echo "$WINEPREFIX"
