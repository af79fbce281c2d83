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
