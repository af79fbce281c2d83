# Sourced by the Wine scripts: the project's prefix and the Wine loaders to use.
# Exports WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES and
#   ORVANE_CAN_RUN_WIN32  1 when this machine can run 32-bit Windows programs
#   ORVANE_WIN32_BY       how 32-bit programs run: native, qemu-user or none
#   ORVANE_WINE64         the 64-bit loader: 64-bit programs and Wine's own tools
#   ORVANE_WINE           a loader for any Windows program (32-bit ones need it)
# and defines orvane_can_run EXE and orvane_wine_for EXE.
_orvane_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${ORVANE_WINEPREFIX:-$_orvane_root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# 32-bit Windows programs need Wine's 32-bit loader, a 32-bit Linux program.
# Where the kernel runs no 32-bit code, scripts/i386/setup.sh has it run
# through qemu-user (a binfmt_misc handler named orvane-i386).
if [ -z "${ORVANE_CAN_RUN_WIN32:-}" ]; then
  if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    ORVANE_CAN_RUN_WIN32=1
  else
    ORVANE_CAN_RUN_WIN32=0
  fi
fi
export ORVANE_CAN_RUN_WIN32
if [ "$ORVANE_CAN_RUN_WIN32" != 1 ]; then
  ORVANE_WIN32_BY=none
elif grep -qs '^enabled' /proc/sys/fs/binfmt_misc/orvane-i386; then
  ORVANE_WIN32_BY=qemu-user
else
  ORVANE_WIN32_BY=native
fi
export ORVANE_WIN32_BY

# 64-bit programs go to the 64-bit loader directly: through `wine` they would
# start the 32-bit loader first (about 0.5 s more under qemu).
if [ -x /usr/lib/wine/wine64 ]; then
  ORVANE_WINE64=/usr/lib/wine/wine64
else
  ORVANE_WINE64=wine64
fi
export ORVANE_WINE64
if [ "$ORVANE_CAN_RUN_WIN32" = 1 ]; then
  ORVANE_WINE=wine
else
  ORVANE_WINE=$ORVANE_WINE64
fi
export ORVANE_WINE

# The PE machine of the Windows program $1 (014c for 32-bit x86), or nothing
# when $1 is not a PE file.
_orvane_pe_machine() {
  local pe_offset
  [ -f "$1" ] || return 0
  [ "$(head -c2 "$1" 2>/dev/null)" = MZ ] || return 0
  pe_offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((pe_offset + 4)) -N2 "$1" | tr -d ' '
}

# True when this machine can run the Windows program $1.
orvane_can_run() {
  [ "$(_orvane_pe_machine "$1")" != 014c ] || [ "$ORVANE_CAN_RUN_WIN32" = 1 ]
}

# The loader for the Windows program $1 (a file, or one of Wine's own tools).
orvane_wine_for() {
  if [ "$(_orvane_pe_machine "$1")" = 014c ]; then
    echo "$ORVANE_WINE"
  else
    echo "$ORVANE_WINE64"
  fi
}
