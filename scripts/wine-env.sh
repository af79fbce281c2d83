# Sourced by the Wine scripts: the project's prefix and the Wine loader to use.
# Exports WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES, ORVANE_WINE (loader command)
# and ORVANE_CAN_RUN_WIN32 (1 when this machine can run 32-bit Windows programs).
_orvane_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${ORVANE_WINEPREFIX:-$_orvane_root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# 32-bit Windows programs need Wine's 32-bit loader, a 32-bit Linux program.
# Some virtual machines run no 32-bit Linux code at all; there only the 64-bit
# loader works, and only 64-bit Windows programs can be run.
if [ -z "${ORVANE_CAN_RUN_WIN32:-}" ]; then
  if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    ORVANE_CAN_RUN_WIN32=1
  else
    ORVANE_CAN_RUN_WIN32=0
  fi
fi
export ORVANE_CAN_RUN_WIN32
if [ "$ORVANE_CAN_RUN_WIN32" = 1 ]; then
  ORVANE_WINE=wine
elif [ -x /usr/lib/wine/wine64 ]; then
  ORVANE_WINE=/usr/lib/wine/wine64
else
  ORVANE_WINE=wine64
fi
export ORVANE_WINE

# True when this machine can run the Windows program $1: a 32-bit one (PE
# machine 0x14c) needs Wine's 32-bit loader.
orvane_can_run() {
  local pe_offset machine
  pe_offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$1" | tr -d ' ')
  [ "$machine" != 014c ] || [ "$ORVANE_CAN_RUN_WIN32" = 1 ]
}
