#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix (build/wineprefix),
# never the user's ~/.wine. ctest uses this as the cross-compiling emulator.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec "$(orvane_wine_for "${1:-}")" "$@"
