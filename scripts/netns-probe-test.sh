#!/usr/bin/env bash
# Runs orvane_netns_tests.exe (reachability tests with the service's own host
# names on port 80) inside a private network and mount namespace:
#   - only the namespace's loopback interface exists, so nothing can leave the
#     machine;
#   - a private /etc/hosts maps the API host and the game host (read from
#     src/app/ServiceEndpoints.h) to 127.0.0.1, and a private /etc/resolv.conf
#     points at 127.0.0.1, where no name server listens;
#   - Wine gets a server of its own inside the namespace (the sockets of a Wine
#     program are made by its wineserver, and one started outside would make
#     them in the host's network) on a throwaway overlay of the test prefix.
# Usage: netns-probe-test.sh <orvane_netns_tests.exe> [gtest arguments...]
# Exit code 77 (skipped) when the namespace cannot be made on this machine.
set -euo pipefail
readonly SKIP=77
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ "${1:-}" != --inside ]; then
  exe="${1:?usage: netns-probe-test.sh <orvane_netns_tests.exe> [gtest arguments...]}"
  if ! unshare --net --mount true 2>/dev/null; then
    echo "netns-probe-test: skipped, unshare --net --mount is not permitted here"
    exit $SKIP
  fi
  exec unshare --net --mount --fork bash "${BASH_SOURCE[0]}" --inside "$@"
fi
shift
exe="$1"
shift

source "$root/scripts/wine-env.sh"
if [ ! -d "$WINEPREFIX" ]; then
  echo "netns-probe-test: no Wine prefix at $WINEPREFIX (run scripts/wine-prefix.sh)" >&2
  exit 1
fi
# A 32-bit program needs Wine's 32-bit loader, which some machines cannot run.
pe_offset=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$exe" | tr -d ' ')
if [ "$machine" = 014c ] && [ "$ORVANE_CAN_RUN_WIN32" != 1 ]; then
  echo "netns-probe-test: skipped, this machine cannot run 32-bit Windows programs"
  exit $SKIP
fi

api_host=$(sed -n 's/.*ApiHost\[\] = "\([^"]*\)";.*/\1/p' "$root/src/app/ServiceEndpoints.h")
game_host=$(sed -n 's/.*GameHost\[\] = "\([^"]*\)";.*/\1/p' "$root/src/app/ServiceEndpoints.h")
if [ -z "$api_host" ] || [ -z "$game_host" ]; then
  echo "netns-probe-test: host names not found in src/app/ServiceEndpoints.h" >&2
  exit 1
fi

work=$(mktemp -d)
cleanup() {
  # Unmounted explicitly so the overlay's upper layer can be removed.
  umount "$WINEPREFIX" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
printf '127.0.0.1 localhost\n127.0.0.1 %s\n127.0.0.1 %s\n' "$api_host" "$game_host" >"$work/hosts"
printf 'nameserver 127.0.0.1\n' >"$work/resolv.conf"
mount --bind "$work/hosts" /etc/hosts
mount --bind "$work/resolv.conf" /etc/resolv.conf

mkdir -p "$work/upper" "$work/overlay-work"
if ! mount -t overlay overlay \
    -o "lowerdir=$WINEPREFIX,upperdir=$work/upper,workdir=$work/overlay-work" "$WINEPREFIX"; then
  echo "netns-probe-test: skipped, no overlay mount for a private Wine prefix"
  exit $SKIP
fi
server_dir="/tmp/.wine-$(id -u)"
mkdir -p "$server_dir"
mount -t tmpfs -o mode=0700 tmpfs "$server_dir"

status=0
ORVANE_PRIVATE_NETWORK=1 "$ORVANE_WINE" "$exe" "$@" || status=$?
# Wait for this namespace's own wineserver to exit before its prefix goes.
wineserver -w || true
exit $status
