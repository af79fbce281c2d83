#!/usr/bin/env bash
# Runs orvane_netns_tests.exe (reachability tests with the service's own host
# names on port 80) in the private network of netns-portal.sh: only a loopback
# interface, a hosts file that maps the service's names to 127.0.0.1, and a
# wineserver of its own (a Wine program's sockets are made by its wineserver).
# Usage: netns-probe-test.sh <orvane_netns_tests.exe> [gtest arguments...]
# Exit code 77 (skipped) when the namespace cannot be made on this machine.
set -euo pipefail
readonly SKIP=77
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
exe="${1:?usage: netns-probe-test.sh <orvane_netns_tests.exe> [gtest arguments...]}"
shift

source "$root/scripts/wine-env.sh"
if ! orvane_can_run "$exe"; then
  echo "netns-probe-test: skipped, this machine cannot run 32-bit Windows programs"
  exit $SKIP
fi

exec "$root/scripts/netns-portal.sh" --wine -- \
  "$(orvane_wine_for "$exe")" "$exe" "$@"
