#!/usr/bin/env bash
# Benchmark of republishing a client where one file changed, printed as a ratio
# in one run: scripts/portal.py publish with its digest cache vs with --rehash,
# on the same client and portal. The client is ORVANE_BENCH_MIB MiB (default
# 512) in eight archives plus 500 small files; each figure is the best of
# ORVANE_BENCH_RUNS runs (default 3). Measured, not a test. No Wine needed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mib="${ORVANE_BENCH_MIB:-512}"
runs="${ORVANE_BENCH_RUNS:-3}"
work="$(mktemp -d /tmp/orvane-publish-bench.XXXXXX)"
trap 'rm -rf "$work"' EXIT

client="$work/client"
portal="$work/portal"
mkdir -p "$client/Data/zhCN" "$client/Interface"
for i in $(seq 8); do
  head -c "$((mib * 1024 * 1024 / 8))" /dev/urandom >"$client/Data/zhCN/patch-$i.MPQ"
done
for i in $(seq 500); do echo "addon $i" >"$client/Interface/addon-$i.lua"; done
touch -d '1 hour ago' "$client"/Data/zhCN/* "$client"/Interface/*

publish() {
  python3 "$root/scripts/portal.py" publish "$client" "$portal" \
    --base-url http://update.kaimor.com/files/ "$@" >/dev/null 2>&1
}
publish  # the first publish fills the cache

# Best wall-clock time in milliseconds, the two ways taking turns so both see
# the same page cache and machine load. One small file changes before each run.
best_cached="" best_rehash=""
for run in $(seq "$runs"); do
  for way in cached rehash; do
    echo "change $run $way" >"$client/Interface/addon-1.lua"
    touch -d '1 minute ago' "$client/Interface/addon-1.lua"
    start=$(date +%s%N)
    if [ "$way" = cached ]; then publish; else publish --rehash; fi
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    if [ "$way" = cached ]; then
      { [ -z "$best_cached" ] || [ "$ms" -lt "$best_cached" ]; } && best_cached=$ms
      cp "$portal/files/filelist.json" "$work/cached.json"
    else
      { [ -z "$best_rehash" ] || [ "$ms" -lt "$best_rehash" ]; } && best_rehash=$ms
      cp "$portal/files/filelist.json" "$work/rehash.json"
    fi
  done
done
# Same files listed either way (only the version line differs).
if ! diff <(tail -n +2 "$work/cached.json" | sed 's/addon-1.lua", "hash": "[0-9a-f]*"/X/') \
          <(tail -n +2 "$work/rehash.json" | sed 's/addon-1.lua", "hash": "[0-9a-f]*"/X/') >/dev/null; then
  echo "bench: the cached and the rehashed list differ" >&2
  exit 1
fi

awk -v cached="$best_cached" -v rehash="$best_rehash" -v mib="$mib" 'BEGIN {
  printf "republish %d MiB, 508 files, one small file changed (best of runs)\n", mib
  printf "  %-28s %8d ms\n", "with the digest cache", cached
  printf "  %-28s %8d ms\n", "--rehash (every file)", rehash
  printf "  rehash / cached = %.1f\n", rehash / (cached > 0 ? cached : 1)
}'
