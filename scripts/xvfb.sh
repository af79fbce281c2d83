# Sourced: the one way the scripts start a private Xvfb display.
#
#   xvfb_start [--private-sockets] [SCREEN]
#       Starts Xvfb (SCREEN as WxHxD, default 1024x768x24) on a display number
#       no one holds (Xvfb picks it: -displayfd), waits until its socket exists
#       in /tmp/.X11-unix and it answers, and exports DISPLAY. /tmp/.X11-unix is
#       created (mode 1777, as X expects) where no X server has made it yet.
#       --private-sockets mounts a tmpfs over /tmp/.X11-unix first, so the
#       display's socket is seen only in the caller's mount namespace (lock
#       files stay in the shared /tmp, so numbers are never given twice).
#       Sets XVFB_PID. Returns 1, with Xvfb's log on stderr, when it does not
#       start within 10 s.
#   xvfb_stop
#       Stops the server started by xvfb_start (safe to call twice, or when
#       none was started).

XVFB_PID=""
_xvfb_dir=""

xvfb_start() {
  local private=0 screen="1024x768x24" number="" i
  if [ "${1:-}" = --private-sockets ]; then
    private=1
    shift
  fi
  if [ -n "${1:-}" ]; then
    screen="$1"
  fi
  if [ ! -d /tmp/.X11-unix ]; then
    # Sticky and world-writable: every user's X server puts its socket here.
    mkdir -m 1777 /tmp/.X11-unix 2>/dev/null || [ -d /tmp/.X11-unix ] || {
      echo "xvfb: cannot create /tmp/.X11-unix" >&2
      return 1
    }
  fi
  if [ "$private" = 1 ] && ! mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix; then
    echo "xvfb: cannot mount a private /tmp/.X11-unix" >&2
    return 1
  fi
  _xvfb_dir=$(mktemp -d /tmp/orvane-xvfb.XXXXXX)
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp \
    3>"$_xvfb_dir/display" >"$_xvfb_dir/log" 2>&1 </dev/null &
  XVFB_PID=$!
  for i in $(seq 200); do
    number=$(head -n1 "$_xvfb_dir/display" 2>/dev/null || true)
    if [ -n "$number" ] && [ -S "/tmp/.X11-unix/X$number" ] &&
       xdpyinfo -display ":$number" >/dev/null 2>&1; then
      unset XAUTHORITY
      export DISPLAY=":$number"
      return 0
    fi
    if ! kill -0 "$XVFB_PID" 2>/dev/null; then
      break
    fi
    sleep 0.05
  done
  echo "xvfb: Xvfb did not start (display ${number:-none}):" >&2
  cat "$_xvfb_dir/log" >&2 || true
  xvfb_stop
  return 1
}

xvfb_stop() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
  if [ -n "$_xvfb_dir" ]; then
    rm -rf "$_xvfb_dir"
    _xvfb_dir=""
  fi
}
