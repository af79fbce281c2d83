#!/usr/bin/env bash
# Benchmark of the update engine, printed as ratios measured side by side in
# one run (each repetition measures Orvane and its peers back to back):
#   check of 2,000 current files (ORVANE_BENCH_CHECK_MIB MiB)  vs  a bare Win32
#                                                                  hashing loop, same
#                                                                  Wine; md5sum -c beside;
#   file-system system calls per listed file of the check      vs  the bare loop's
#                                                                  (strace -f -c, once);
#   update of one ORVANE_BENCH_BIG_MIB MiB file                vs  a bare WinHTTP
#                                                                  loop, same Wine
#                                                                  (and the update
#                                                                  again without the
#                                                                  flush before the move;
#                                                                  the update's receive
#                                                                  loop with and without
#                                                                  its digest; the bare
#                                                                  loop beside a thread
#                                                                  doing the digest's work);
#   update of ORVANE_BENCH_SMALL_FILES × 16 KiB                vs  the bare WinHTTP loop
#                                                                  for each file; curl,
#                                                                  one process, beside;
#   the first ORVANE_BENCH_LATENCY_FILES of them through a proxy adding
#   ORVANE_BENCH_DELAY_MS each way                             vs  curl the same,
#   with the connections each opened;
#   the same through the proxy with a list allowing 4 connections
#                                                              vs  the list without
#                                                                  (part latency4);
#   the small-file update with a list allowing 4 connections   vs  curl --parallel
#                                                                  --parallel-max 4
#                                                                  (part small4);
#   the UI thread's CPU time and progress posts of the small-file update, in
#   the real window.
# Everything runs in a private network (scripts/netns-portal.sh: nginx on
# 127.0.0.1:80, a private Xvfb and wineserver). Needs root. Measured, not a test.
# ORVANE_BENCH_PARTS picks parts (default: "check syscalls big small latency
# latency4 small4").
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${ORVANE_BENCH_RUNS:-3}"
check_mib="${ORVANE_BENCH_CHECK_MIB:-1024}"
big_mib="${ORVANE_BENCH_BIG_MIB:-1024}"
small_files="${ORVANE_BENCH_SMALL_FILES:-2000}"
latency_files="${ORVANE_BENCH_LATENCY_FILES:-200}"
delay_ms="${ORVANE_BENCH_DELAY_MS:-50}"
proxy_port=8080
build="${ORVANE_BENCH_BUILD:-$root/build/mingw-x86_64}"
parts=" ${ORVANE_BENCH_PARTS:-check syscalls big small latency latency4 small4} "
export ORVANE_BENCH_PARTS="$parts"
part() { [[ "$parts" == *" $1 "* ]]; }

if [ "${1:-}" != --inside ]; then
  source "$root/scripts/wine-env.sh"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset mingw-x86_64 >/dev/null
  fi
  cmake --build "$build" --target orvane_bench >/dev/null
  work="$(mktemp -d /tmp/orvane-bench.XXXXXX)"
  trap 'rm -rf "$work"' EXIT
  echo "bench: making the data (check ${check_mib} MiB, ${small_files} small files, ${big_mib} MiB file)"
  python3 "$root/bench/bench_data.py" "$work" "$check_mib" "$small_files" "$big_mib" \
    "$latency_files" "$proxy_port"
  status=0
  "$root/scripts/netns-portal.sh" --www "$work/www" --xvfb --wine -- \
    bash "${BASH_SOURCE[0]}" --inside "$work" "$build/bench/orvane_bench.exe" || status=$?
  [ "$status" = 77 ] && echo "bench: needs root and private namespaces" >&2
  exit "$status"
fi

work="$2"
bench_exe="$3"
# A 64-bit build runs on Wine's 64-bit loader directly: where `wine` itself
# goes through an emulator for 32-bit code, it would be measured (and traced) too.
pe_machine="$(od -An -tx2 -j$(( $(od -An -tu4 -j60 -N4 "$bench_exe") + 4 )) -N2 "$bench_exe" | tr -d ' ')"
if [ "$pe_machine" != 014c ] && [ -x /usr/lib/wine/wine64 ]; then
  ORVANE_WINE=/usr/lib/wine/wine64
fi
to_windows() { printf 'Z:%s' "${1//\//\\}"; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
bench() { "$ORVANE_WINE" "$bench_exe" "$@" 2>&1 | tr -d '\r'; }
field() { awk -v n="$1" -v f="$2" '$1 == n { print $f }' <<<"$3"; }
# Busy and total jiffies of all cores (/proc/stat), to tell how many cores a
# measurement kept busy: the program, Wine's server and nginx together.
cpu_ticks() { awk '$1 == "cpu" { t = 0; for (i = 2; i <= NF; i++) t += $i; print t - $5 - $6, t }' /proc/stat; }
cores_busy() {  # before after
  awk -v n="$(nproc)" -v b="$1" -v a="$2" 'BEGIN { split(b, x, " "); split(a, y, " ");
    printf "%.2f", (y[2] > x[2]) ? n * (y[1] - x[1]) / (y[2] - x[2]) : 0 }'
}

python3 "$root/bench/latency_proxy.py" "$proxy_port" 80 "$delay_ms" "$work/proxy-connections" &
proxy_pid=$!
trap 'kill $proxy_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$work/proxy-connections" ] && break; sleep 0.1; done
connections() { cat "$work/proxy-connections"; }

results="$work/results"
: > "$results"
record() { echo "$*" >> "$results"; }

# Page cache warm for every reader of the check's files, and one unmeasured
# check so Wine has loaded what the program uses once (as md5sum is in the
# system's cache after its first start).
cat "$work"/check-game/Data/*.MPQ > /dev/null
bench check http://127.0.0.1/check/ "$(to_windows "$work/check-game")" > /dev/null

game_windows="$(to_windows "$work/check-game")"
if part big; then
  big_md5="$(md5sum < "$work/www/big/files/client.MPQ" | cut -d' ' -f1)"
  big_bytes="$(stat -c %s "$work/www/big/files/client.MPQ")"
fi
for run in $(seq "$runs"); do
  echo "bench: repetition $run of $runs" >&2

  if part check; then
    # Check of current files vs the bare hashing loop and md5sum -c.
    out="$(bench check http://127.0.0.1/check/ "$game_windows")"
    [ "$(field check 3 "$out")" = 5 ] || { echo "bench: the check did not find the files current: $out" >&2; exit 1; }
    loop="$(bench hashloop "$(to_windows "$work/check.md5")" "$game_windows")"
    [ "$(field hashloop 3 "$loop")" = "$(field hashloop 4 "$loop")" ] || { echo "bench: the bare loop: $loop" >&2; exit 1; }
    start=$(now_ms); (cd "$work/check-game" && md5sum -c --quiet "$work/check.md5"); md5sum_ms=$(( $(now_ms) - start ))
    record check "$(field check 2 "$out")" "$md5sum_ms" "$(field check 5 "$out")" "$(field hashloop 2 "$loop")"
  fi

  part big || continue
  # One large file vs a bare WinHTTP loop, in turn first and second (the
  # second of two gigabyte transfers measured slower by up to a tenth). Each
  # measurement starts with no earlier one's gigabyte still to be written back
  # (sync, not timed).
  rm -rf "$work/big-game"; mkdir -p "$work/big-game"
  measure_update() {
    sync
    before="$(cpu_ticks)"
    out="$(bench update http://127.0.0.1/big/ "$(to_windows "$work/big-game")")"
    orvane_cores="$(cores_busy "$before" "$(cpu_ticks)")"
    [ "$(field update 6 "$out")" = ok ] || { echo "bench: large update failed: $out" >&2; exit 1; }
    cmp -s "$work/big-game/client.MPQ" "$work/www/big/files/client.MPQ" || { echo "bench: large file differs" >&2; exit 1; }
  }
  measure_bare() {
    sync
    before="$(cpu_ticks)"
    bare="$(bench bare http://127.0.0.1/big/files/client.MPQ "$(to_windows "$work/big-game/bare.bin")")"
    bare_cores="$(cores_busy "$before" "$(cpu_ticks)")"
  }
  if (( run % 2 )); then measure_update; measure_bare; else measure_bare; measure_update; fi
  # The digest alone, from the page cache: the CPU time the update adds to the loop's work.
  digest="$(bench hash "$(to_windows "$work/big-game/bare.bin")" 1)"
  rm -rf "$work/big-game"; mkdir -p "$work/big-game"
  sync
  unflushed="$(bench update http://127.0.0.1/big/ "$(to_windows "$work/big-game")" noflush)"
  [ "$(field update 6 "$unflushed")" = ok ] || { echo "bench: large update failed: $unflushed" >&2; exit 1; }
  record big "$(field update 2 "$out")" "$(field bare 2 "$bare")" "$(field update 2 "$unflushed")" \
    "$orvane_cores" "$bare_cores" "$(field hash 2 "$digest")"
  # Where the time beyond the loop goes: the update's receive loop without and
  # with its digest, and the bare loop beside a thread that shares nothing
  # with it, doing the digest's work in bursts or without pause.
  big_url=http://127.0.0.1/big/files/client.MPQ
  big_target="$(to_windows "$work/big-game/part.bin")"
  rm -rf "$work/big-game"; mkdir -p "$work/big-game"
  sync
  plain="$(bench receive "$big_url" "$big_target")"
  rm -rf "$work/big-game"; mkdir -p "$work/big-game"
  sync
  hashed="$(bench receive "$big_url" "$big_target" digest)"
  [ "$(field receive 4 "$hashed")" = "$big_md5" ] || { echo "bench: the receive loop's digest: $hashed" >&2; exit 1; }
  rm -f "$work/big-game/part.bin"; sync
  paced="$(bench bare "$big_url" "$big_target" paced)"
  rm -f "$work/big-game/part.bin"; sync
  busy="$(bench bare "$big_url" "$big_target" busy)"
  for line in "$plain" "$paced" "$busy"; do
    [ "$(awk '{ print $3 }' <<<"$line")" = "$big_bytes" ] || { echo "bench: a large transfer: $line" >&2; exit 1; }
  done
  record bigparts "$(field bare 2 "$bare")" "$(field receive 2 "$plain")" "$(field receive 2 "$hashed")" \
    "$(field bare 2 "$paced")" "$(field bare 2 "$busy")" "$(field bare 4 "$paced")"
  rm -rf "$work/big-game"

done
for run in $(seq "$runs"); do
  part small || break
  # Many small files vs the bare loop and curl on the same portal; UI thread and progress posts.
  rm -rf "$work/small-game" "$work/curl-out" "$work/bare-out"
  mkdir -p "$work/small-game" "$work/curl-out" "$work/bare-out"
  out="$(bench update http://127.0.0.1/small/ "$(to_windows "$work/small-game")")"
  [ "$(field update 6 "$out")" = ok ] || { echo "bench: small-file update failed: $out" >&2; exit 1; }
  bare="$(bench barefiles http://127.0.0.1/small/files/ "$(to_windows "$work/small-names")" "$(to_windows "$work/bare-out")")"
  [ "$(field barefiles 3 "$bare")" = "$small_files" ] || { echo "bench: the bare loop: $bare" >&2; exit 1; }
  start=$(now_ms); curl -sS --config "$work/curl-small"; curl_ms=$(( $(now_ms) - start ))
  rm -rf "$work/small-game"; mkdir -p "$work/small-game"
  unflushed="$(bench update http://127.0.0.1/small/ "$(to_windows "$work/small-game")" noflush)"
  [ "$(field update 6 "$unflushed")" = ok ] || { echo "bench: small-file update failed: $unflushed" >&2; exit 1; }
  record small "$(field update 2 "$out")" "$curl_ms" "$(field update 3 "$out")" "$(field update 4 "$out")" \
    "$(field barefiles 2 "$bare")" "$(field update 2 "$unflushed")"
done
for run in $(seq "$runs"); do
  part latency || break

  # Through the latency proxy, with the connections each opened.
  rm -rf "$work/lat-game" "$work/curl-out"; mkdir -p "$work/lat-game" "$work/curl-out"
  before=$(connections)
  out="$(bench update "http://127.0.0.1:$proxy_port/lat/" "$(to_windows "$work/lat-game")")"
  [ "$(field update 6 "$out")" = ok ] || { echo "bench: update through the proxy failed: $out" >&2; exit 1; }
  orvane_connections=$(( $(connections) - before ))
  before=$(connections)
  start=$(now_ms); curl -sS --config "$work/curl-lat"; curl_ms=$(( $(now_ms) - start ))
  record latency "$(field update 2 "$out")" "$curl_ms" "$orvane_connections" $(( $(connections) - before ))
done

for run in $(seq "$runs"); do
  part latency4 || break
  # Through the latency proxy: the list allowing four connections, then the
  # list allowing nothing, back to back.
  rm -rf "$work/lat-game"; mkdir -p "$work/lat-game"
  before=$(connections)
  four="$(bench update "http://127.0.0.1:$proxy_port/lat4/" "$(to_windows "$work/lat-game")")"
  [ "$(field update 6 "$four")" = ok ] || { echo "bench: update with 4 connections failed: $four" >&2; exit 1; }
  four_connections=$(( $(connections) - before ))
  rm -rf "$work/lat-game"; mkdir -p "$work/lat-game"
  one="$(bench update "http://127.0.0.1:$proxy_port/lat/" "$(to_windows "$work/lat-game")")"
  [ "$(field update 6 "$one")" = ok ] || { echo "bench: update through the proxy failed: $one" >&2; exit 1; }
  record latency4 "$(field update 2 "$four")" "$(field update 2 "$one")" "$four_connections"
done
for run in $(seq "$runs"); do
  part small4 || break
  # The small files with four connections vs curl's four parallel transfers.
  rm -rf "$work/small-game" "$work/curl-out"; mkdir -p "$work/small-game" "$work/curl-out"
  out="$(bench update http://127.0.0.1/small4/ "$(to_windows "$work/small-game")")"
  [ "$(field update 6 "$out")" = ok ] || { echo "bench: small-file update with 4 connections failed: $out" >&2; exit 1; }
  cmp -s "$work/small-game/s0000.bin" "$work/www/small/files/s0000.bin" || { echo "bench: s0000.bin differs" >&2; exit 1; }
  start=$(now_ms); curl -sS --parallel --parallel-max 4 --config "$work/curl-small"; curl_ms=$(( $(now_ms) - start ))
  # What stands between: the same files one at a time, and four at a time
  # without the flush before each move.
  rm -rf "$work/small-game"; mkdir -p "$work/small-game"
  one="$(bench update http://127.0.0.1/small/ "$(to_windows "$work/small-game")")"
  [ "$(field update 6 "$one")" = ok ] || { echo "bench: small-file update failed: $one" >&2; exit 1; }
  rm -rf "$work/small-game"; mkdir -p "$work/small-game"
  unflushed="$(bench update http://127.0.0.1/small4/ "$(to_windows "$work/small-game")" noflush)"
  [ "$(field update 6 "$unflushed")" = ok ] || { echo "bench: small-file update failed: $unflushed" >&2; exit 1; }
  record small4 "$(field update 2 "$out")" "$curl_ms" "$(field update 2 "$one")" "$(field update 2 "$unflushed")"
done

# File-system system calls per listed file: each program over the 2,000 files,
# less the same program over an empty list (start, DLLs, the requests). Wine
# opens files in the wineserver, so its calls meanwhile count too (attached
# to the namespace's own server for the program's run).
fs_calls() {  # label command...: "label syscall=calls ..." of the file-system calls
  local label="$1" trace="$work/strace-$1" server tracer=""
  shift
  server="$(pgrep -x 'wineserver(32|64)?' | head -n 1 || true)"
  : > "$trace.server"
  if [ -n "$server" ]; then
    strace -f -c -o "$trace.server" -p "$server" 2>/dev/null &
    tracer=$!
    sleep 1
  fi
  strace -f -c -o "$trace" -- "$ORVANE_WINE" "$bench_exe" "$@" >/dev/null 2>&1 || true
  if [ -n "$tracer" ]; then
    kill -INT "$tracer"
    wait "$tracer" || true
  fi
  cat "$trace" "$trace.server" | awk -v label="$label" '
    BEGIN { split("open openat openat2 creat stat lstat fstat newfstatat statx statfs fstatfs readlink readlinkat " \
                  "getxattr lgetxattr fgetxattr listxattr flistxattr fchdir chdir getdents64 access faccessat " \
                  "faccessat2 mkdir mkdirat rename renameat renameat2 unlink unlinkat ftruncate fsync fdatasync " \
                  "utimensat fchmod fchmodat", names); for (i in names) fs[names[i]] = 1 }
    $NF in fs && $4 ~ /^[0-9]+$/ { calls[$NF] += $4 }
    END { line = label; for (name in calls) line = line " " name "=" calls[name]; print line }'
}
if part syscalls; then
  echo "bench: counting system calls (strace -f -c)" >&2
  {
    fs_calls orvane check http://127.0.0.1/check/ "$game_windows"
    fs_calls orvane0 check http://127.0.0.1/check0/ "$game_windows"
    fs_calls loop hashloop "$(to_windows "$work/check.md5")" "$game_windows"
    fs_calls loop0 hashloop "$(to_windows "$work/check0.md5")" "$game_windows"
  } > "$work/syscalls"
  files=$(wc -l < "$work/check.md5")
  sed "s/^/syscalls $files /" "$work/syscalls" >> "$results"
fi

python3 - "$results" "$small_files" "$latency_files" "$delay_ms" "$check_mib" "$big_mib" <<'PY'
import os, statistics, sys
path, small, latency, delay, check_mib, big_mib = sys.argv[1], *map(int, sys.argv[2:])
rows, calls = {}, {}
for line in open(path):
    name, *values = line.split()
    if name == "syscalls":
        files, label, *counts = values
        calls[label] = {k: int(v) for k, v in (c.split("=") for c in counts)}
        calls["files"] = int(files)
        continue
    rows.setdefault(name, []).append([float(v) for v in values])

def spread(values, fmt="%.2f"):
    values = sorted(values)
    return " / ".join(fmt % v for v in (values[0], statistics.median(values), values[-1]))

print("bench: min / median / max over the repetitions")
if "check" in rows:
    c = rows["check"]
    print("check, 2,000 files, %d MiB:   Orvane %s ms   bare Win32 loop %s ms   ratio %s  (goal <= 1.1)"
          % (check_mib, spread([r[0] for r in c], "%.0f"), spread([r[3] for r in c], "%.0f"),
             spread([r[0] / r[3] for r in c])))
    print("  comparing local files only (after the list arrived): %s ms, ratio to the loop %s"
          % (spread([r[2] for r in c], "%.0f"), spread([r[2] / r[3] for r in c])))
    print("  md5sum -c %s ms: Orvane / md5sum %s, bare loop / md5sum %s"
          % (spread([r[1] for r in c], "%.0f"), spread([r[0] / r[1] for r in c]),
             spread([r[3] / r[1] for r in c])))
if "orvane" in calls:
    files = calls["files"]
    def per_file(label):
        full, empty = calls[label], calls[label + "0"]
        return {k: (full.get(k, 0) - empty.get(k, 0)) / files for k in set(full) | set(empty)}
    orvane, loop = per_file("orvane"), per_file("loop")
    total_o, total_l = sum(orvane.values()), sum(loop.values())
    print("file-system system calls per listed file (strace -f -c, %d files, less an empty list):" % files)
    print("  Orvane check %.1f   bare loop %.1f   ratio %.2f  (goal <= 2)"
          % (total_o, total_l, total_o / total_l if total_l else float("inf")))
    for name in sorted(set(orvane) | set(loop), key=lambda k: -max(orvane.get(k, 0), loop.get(k, 0))):
        if max(abs(orvane.get(name, 0)), abs(loop.get(name, 0))) >= 0.05:
            print("    %-12s Orvane %7.2f   loop %7.2f" % (name, orvane.get(name, 0), loop.get(name, 0)))
if "big" in rows:
    b = rows["big"]
    print("update, one %d MiB file:     Orvane %s ms   bare WinHTTP %s ms   ratio %s  (goal <= 1.05)"
          % (big_mib, spread([r[0] for r in b], "%.0f"), spread([r[1] for r in b], "%.0f"),
             spread([r[0] / r[1] for r in b])))
    print("  without the flush before the move: %s ms, ratio %s; the flush costs %s ms"
          % (spread([r[2] for r in b], "%.0f"), spread([r[2] / r[1] for r in b]),
             spread([r[0] - r[2] for r in b], "%.0f")))
    print("  cores busy (of %d, everything on the machine): Orvane %s, bare loop %s; the MD5 of the file"
          " alone takes %s ms of one core" % (os.cpu_count(), spread([r[3] for r in b]), spread([r[4] for r in b]),
                                              spread([r[5] for r in b], "%.0f")))
    if statistics.median([r[4] for r in b]) >= os.cpu_count() - 0.1:
        print("  the loop left no core idle, so the digest cannot overlap the transfer: the ratio's"
              " floor is (loop + MD5) / loop = %s" % spread([(r[1] + r[5]) / r[1] for r in b]))
if "bigparts" in rows:
    p = rows["bigparts"]
    ratio = lambda i: [r[i] / r[0] for r in p]
    print("  each against the bare loop of its repetition:")
    print("    the update's receive loop alone (no window, no digest, no move): ratio %s" % spread(ratio(1)))
    print("    the same with the digest on its thread, as in the update:         ratio %s" % spread(ratio(2)))
    print("    the bare loop beside a thread sharing nothing with it, hashing 1 MiB every 10 ms"
          " (%s MiB in all): ratio %s" % (spread([r[5] for r in p], "%.0f"), spread(ratio(3))))
    print("    the bare loop beside the same thread hashing without pause:       ratio %s" % spread(ratio(4)))
    median = lambda i: statistics.median(ratio(i))
    print("  so, at the median: the digest on its thread adds %+.2f to the receive loop; the same work"
          " beside the bare loop adds %+.2f in bursts and %+.2f without pause"
          % (median(2) - median(1), median(3) - 1, median(4) - 1))
if "small" in rows:
    s = rows["small"]
    rate = lambda ms: small / (ms / 1000)
    print("update, %d x 16 KiB:        Orvane %s files/s   bare WinHTTP loop %s files/s   ratio %s  (goal <= 1.5)"
          % (small, spread([rate(r[0]) for r in s], "%.0f"), spread([rate(r[4]) for r in s], "%.0f"),
             spread([r[0] / r[4] for r in s])))
    print("  without the flush before each move: %s files/s, ratio %s; the flushes cost %s ms per file"
          % (spread([rate(r[5]) for r in s], "%.0f"), spread([r[5] / r[4] for r in s]),
             spread([(r[0] - r[5]) / small for r in s], "%.2f")))
    print("  curl %s files/s, Orvane / curl %s"
          % (spread([rate(r[1]) for r in s], "%.0f"), spread([r[0] / r[1] for r in s])))
    print("  UI thread CPU %s s, progress posts %s (each with its speed post)"
          % (spread([r[2] / 1000 for r in s]), spread([r[3] for r in s], "%.0f")))
if "latency" in rows:
    l = rows["latency"]
    print("update, %d x 16 KiB, +%d ms each way:  Orvane %s files/s   curl %s files/s   ratio %s"
          % (latency, delay, spread([latency / (r[0] / 1000) for r in l], "%.1f"),
             spread([latency / (r[1] / 1000) for r in l], "%.1f"), spread([r[0] / r[1] for r in l])))
    print("  connections opened: Orvane %s, curl %s (nginx keeps a connection for 1,000 requests)"
          % (spread([r[2] for r in l], "%.0f"), spread([r[3] for r in l], "%.0f")))
if "latency4" in rows:
    l = rows["latency4"]
    print("update, %d x 16 KiB, +%d ms each way, \"connections\": 4:  %s files/s   with 1: %s files/s   "
          "ratio %s  (goal >= 3.5)"
          % (latency, delay, spread([latency / (r[0] / 1000) for r in l], "%.1f"),
             spread([latency / (r[1] / 1000) for r in l], "%.1f"), spread([r[1] / r[0] for r in l])))
    print("  connections opened with 4: %s" % spread([r[2] for r in l], "%.0f"))
if "small4" in rows:
    s = rows["small4"]
    rate = lambda ms: small / (ms / 1000)
    print("update, %d x 16 KiB, \"connections\": 4:  Orvane %s files/s   curl --parallel-max 4 %s files/s   "
          "ratio %s  (goal <= 1.5)"
          % (small, spread([rate(r[0]) for r in s], "%.0f"), spread([rate(r[1]) for r in s], "%.0f"),
             spread([r[0] / r[1] for r in s])))
    print("  one at a time %s files/s (4 / 1: %s); four at a time without the flush before each move %s files/s"
          % (spread([rate(r[2]) for r in s], "%.0f"), spread([r[2] / r[0] for r in s]),
             spread([rate(r[3]) for r in s], "%.0f")))
PY
