#!/usr/bin/env bash
# The display helpers on a machine where no X server has ever run: there
# /tmp/.X11-unix does not exist yet. Each case runs with an empty /tmp (a tmpfs
# in a private mount namespace, so the machine's own /tmp is left alone):
#   xvfb.sh       xvfb_start makes /tmp/.X11-unix (mode 1777), the display
#                 answers, xvfb_stop ends the server;
#   netns-portal  scripts/netns-portal.sh --xvfb --wine, as the demo and the
#                 end-to-end tests call it: Orvane.exe opens its window on the
#                 private display and ends with 0 when asked to close.
# Usage: fresh-tmp-display-test.sh Orvane.exe orvane_window_probe.exe
# Exit code 77 (skipped) where mount namespaces are not permitted or the
# program cannot run here (a 32-bit build without 32-bit execution).
set -euo pipefail
readonly SKIP=77
me="fresh-tmp-display-test"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

if [ "${1:-}" != --inside ]; then
  if [ $# -ne 2 ]; then
    echo "usage: $me Orvane.exe orvane_window_probe.exe" >&2
    exit 2
  fi
  source "$root/scripts/wine-env.sh"
  if ! orvane_can_run "$1"; then
    echo "$me: skipped, this machine cannot run 32-bit Windows programs"
    exit $SKIP
  fi
  if [ "$(id -u)" != 0 ] || ! unshare --mount true 2>/dev/null; then
    echo "$me: skipped, a private mount namespace needs root and unshare"
    exit $SKIP
  fi
  "$root/scripts/wine-prefix.sh" >/dev/null
  exec unshare --mount --propagation private bash "${BASH_SOURCE[0]}" --inside "$@"
fi
shift
orvane=$(realpath "$1") probe=$(realpath "$2")

fresh_tmp() {
  # A checkout under /tmp (a CI clone, say) stays where it is: the old /tmp
  # is held outside it and the checkout bound back into the fresh one.
  local held=""
  case "$root/" in
    /tmp/*)
      held=$(mktemp -d /run/orvane-held-tmp.XXXXXX)
      mount --rbind /tmp "$held"
      ;;
  esac
  mount -t tmpfs -o mode=1777 tmpfs /tmp
  if [ -n "$held" ]; then
    mkdir -p "$root"
    mount --rbind "$held/${root#/tmp/}" "$root"
  fi
  if [ -e /tmp/.X11-unix ]; then
    echo "$me: /tmp/.X11-unix exists on a fresh /tmp" >&2
    exit 1
  fi
}

failures=0
fail() {
  echo "FAIL $current: $*"
  failures=$((failures + 1))
}

case_xvfb() {
  source "$root/scripts/xvfb.sh"
  if ! xvfb_start; then
    fail "xvfb_start failed"
    return
  fi
  local pid="$XVFB_PID" mode
  mode=$(stat -c %a /tmp/.X11-unix)
  [ "$mode" = 1777 ] || fail "/tmp/.X11-unix has mode $mode, want 1777"
  [ -S "/tmp/.X11-unix/X${DISPLAY#:}" ] || fail "no socket for $DISPLAY"
  xdpyinfo >/dev/null 2>&1 || fail "$DISPLAY does not answer"
  xvfb_stop
  ! kill -0 "$pid" 2>/dev/null || fail "Xvfb still runs after xvfb_stop"
}

case_netns_portal() {
  local app
  app=$(mktemp -d /tmp/orvane-app.XXXXXX)
  cp "$orvane" "$app/Orvane.exe"
  # Inside: the window appears on the private display, then closes with 0.
  local status=0
  "$root/scripts/netns-portal.sh" --xvfb --wine -- bash -c '
    set -u
    cd "$1"
    "$ORVANE_WINE" Orvane.exe </dev/null >/dev/null 2>&1 &
    app=$!
    facts=$("$ORVANE_WINE" "$2" wait-window 60000 </dev/null 2>/dev/null) || true
    echo "$facts" | grep -qx "found=1" || { echo "the window did not appear on $DISPLAY"; kill $app; exit 1; }
    echo "$facts" | grep -qx "visible=1" || { echo "the window is not visible"; kill $app; exit 1; }
    "$ORVANE_WINE" "$2" close </dev/null >/dev/null 2>&1
    code=0
    wait $app || code=$?
    [ $code = 0 ] || { echo "Orvane exited with $code after WM_CLOSE"; exit 1; }
  ' netns-command "$app" "$probe" || status=$?
  [ $status = 0 ] || fail "netns-portal.sh --xvfb --wine exited with $status"
}

for current in xvfb netns_portal; do
  (
    fresh_tmp
    "case_$current"
    exit $((failures > 0))
  ) && echo "$me: $current passed" || failures=$((failures + 1))
done
[ $failures = 0 ] && echo "$me: passed" || echo "$me: $failures case(s) failed"
exit $((failures > 0))
