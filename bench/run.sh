#!/usr/bin/env bash
# Benchmark of the update engine's heavy paths, printed as ratios in one run:
#   ComputeFileMd5 (under Wine)  vs  md5sum, on the same large file;
#   HttpClient::DownloadFile     vs  a bare WinHTTP read loop under the same Wine,
#                                vs  curl, on the same file from the same
#                                loopback server (tests/fixtures/portal_server.py).
# Each figure is the best of ORVANE_BENCH_RUNS runs (default 3); the file is
# ORVANE_BENCH_MIB MiB of random bytes (default 256). Measured, not a test.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mib="${ORVANE_BENCH_MIB:-256}"
runs="${ORVANE_BENCH_RUNS:-3}"
build="${ORVANE_BENCH_BUILD:-$root/build/mingw-x86_64}"

source "$root/scripts/wine-env.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset mingw-x86_64 >/dev/null
fi
cmake --build "$build" --target orvane_bench >/dev/null

work="$(mktemp -d /tmp/orvane-bench.XXXXXX)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    touch "$work/stop"
    for _ in $(seq 50); do [ -e "$work/stopped" ] && break; sleep 0.1; done
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "bench: ${mib} MiB of random data, best of ${runs} runs"
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$work/big.bin"

python3 "$root/tests/fixtures/portal_server.py" --dir "$work" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "bench: portal server did not start" >&2; exit 1; }
printf '/big.bin\t200\tnormal\t%s\n' "$work/big.bin" > "$work/routes.txt"
url="http://127.0.0.1:$(cat "$work/port")/big.bin"

# Best wall-clock time of a command over $runs runs, in milliseconds.
best_ms() {
  local best="" start end ms
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

cat "$work/big.bin" > /dev/null  # same page-cache state for every reader
expected="$(md5sum "$work/big.bin" | cut -d' ' -f1)"
md5sum_ms=$(best_ms md5sum "$work/big.bin")
curl_ms=$(best_ms curl -sS -o "$work/curl.bin" "$url")
[ "$(md5sum "$work/curl.bin" | cut -d' ' -f1)" = "$expected" ] || { echo "bench: curl got other bytes" >&2; exit 1; }
rm -f "$work/curl.bin"

to_windows() { printf 'Z:%s' "${1//\//\\}"; }
wine_out="$("$ORVANE_WINE" "$build/bench/orvane_bench.exe" "$(to_windows "$work/big.bin")" "$url" \
  "$(to_windows "$work")" "$runs" | tr -d '\r')"
field() { awk -v n="$1" -v f="$2" '$1 == n { print $f }' <<<"$wine_out"; }
for name in ComputeFileMd5 DownloadFile BareWinHttp; do
  if [ "$(field "$name" 3)" != "$expected" ]; then
    echo "bench: $name produced a different digest" >&2
    echo "$wine_out" >&2
    exit 1
  fi
done

awk -v md5="$(field ComputeFileMd5 2)" -v md5sum="$md5sum_ms" \
    -v dl="$(field DownloadFile 2)" -v bare="$(field BareWinHttp 2)" -v curl="$curl_ms" \
    -v chunks="$(field DownloadFile 4)" -v mib="$mib" 'BEGIN {
  printf "%-36s %10s %12s\n", "", "ms", "MB/s"
  printf "%-36s %10.0f %12.1f\n", "ComputeFileMd5 (Wine)", md5, mib * 1.048576 / (md5 / 1000)
  printf "%-36s %10.0f %12.1f\n", "md5sum", md5sum, mib * 1.048576 / (md5sum / 1000)
  printf "%-36s %10.0f %12.1f   (%d progress calls)\n", "HttpClient::DownloadFile (Wine)", dl, mib * 1.048576 / (dl / 1000), chunks
  printf "%-36s %10.0f %12.1f\n", "bare WinHTTP read loop (Wine)", bare, mib * 1.048576 / (bare / 1000)
  printf "%-36s %10.0f %12.1f\n", "curl", curl, mib * 1.048576 / (curl / 1000)
  print ""
  printf "ComputeFileMd5 / md5sum          = %.2f\n", md5 / md5sum
  printf "DownloadFile / bare WinHTTP loop = %.2f\n", dl / bare
  printf "DownloadFile / curl              = %.2f\n", dl / curl
}'
