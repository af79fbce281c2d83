#!/usr/bin/env bash
# Runs a command in a private network where the service's host names lead to
# this machine's loopback, with a static web server on 127.0.0.1:80:
#   - `unshare --net --mount --pid`: only the namespace's own loopback exists,
#     so nothing can leave the machine; every process started inside ends with
#     the command;
#   - a private /etc/hosts maps the API host, the game host and the portal host
#     (read from src/base/ServiceEndpoints.h) to 127.0.0.1, and any name given
#     with --host to its address; /etc/resolv.conf points at 127.0.0.1, where
#     no name server listens, so no other name resolves;
#   - --www: nginx with a configuration of its own (no system configuration;
#     pid, logs and temporary files in a scratch folder) serves DIR on
#     127.0.0.1:80 (Range requests too; --limit-rate caps each response's
#     rate, nginx's limit_rate, e.g. 8m for 8 MiB/s: a slow link), and with
#     each --tls PORT:CERT:KEY also over TLS on
#     127.0.0.1:PORT (CERT: the server's certificate chain, PEM); on those
#     ports /to-http/X answers with a redirect to http://HOST/X;
#   - --trust-ca FILE: the host's CA store (/etc/ssl/certs/ca-certificates.crt,
#     which Wine's crypt32 reads as the Windows root store) with the PEM
#     certificate FILE added, mounted over the original inside the namespace;
#   - --xvfb: a private X server (scripts/xvfb.sh; display sockets, abstract
#     ones included, belong to the namespace) and DISPLAY set to it for the
#     command;
#   - --wine: a throwaway overlay of the Wine prefix and a wineserver of its
#     own (a Wine program's sockets are made by its wineserver, so it must run
#     inside the namespace).
#
# Usage: netns-portal.sh [--www DIR] [--limit-rate RATE] [--access-log FILE] [--host NAME=ADDRESS]...
#                        [--tls PORT:CERT:KEY]... [--trust-ca FILE]
#                        [--xvfb] [--screen WxHxD] [--wine] [--] COMMAND [ARG...]
# The command sees ORVANE_NETNS_WORK (a scratch folder removed afterwards) and,
# with --wine, WINEPREFIX/ORVANE_WINE as scripts/wine-env.sh sets them.
# Access log lines: time (s.ms), status, method, URI, body bytes, user agent,
# Range header (empty without); tab-separated.
# Exit code: the command's; 77 when the namespace cannot be made here.
set -euo pipefail
readonly SKIP=77
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
me="netns-portal"

if [ "${1:-}" != --inside ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "$me: skipped, a private network namespace needs root" >&2
    exit $SKIP
  fi
  if ! unshare --net --mount --pid --fork true 2>/dev/null; then
    echo "$me: skipped, unshare --net --mount --pid is not permitted here" >&2
    exit $SKIP
  fi
  work=$(mktemp -d /tmp/orvane-netns.XXXXXX)
  status=0
  # PID 1 of the namespace is the inner script: when it ends, the kernel ends
  # everything else started inside (nginx, Xvfb, wineserver, stray programs).
  unshare --net --mount --pid --fork --mount-proc --propagation private \
    bash "${BASH_SOURCE[0]}" --inside "$work" "$@" || status=$?
  rm -rf "$work"
  exit $status
fi
shift
work="$1"
shift

www="" access_log="" xvfb=0 wine=0 screen="1024x768x24" limit_rate=0
extra_hosts=()
tls_servers=()
trust_ca=""
while [ $# -gt 0 ]; do
  case "$1" in
    --www) www="$(cd "$2" && pwd)"; shift 2 ;;
    --access-log) access_log="$2"; shift 2 ;;
    --limit-rate) limit_rate="$2"; shift 2 ;;
    --host) extra_hosts+=("$2"); shift 2 ;;
    --tls) tls_servers+=("$2"); shift 2 ;;
    --trust-ca) trust_ca="$2"; shift 2 ;;
    --xvfb) xvfb=1; shift ;;
    --screen) screen="$2"; shift 2 ;;
    --wine) wine=1; shift ;;
    --) shift; break ;;
    -*) echo "$me: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ $# -eq 0 ]; then
  echo "usage: netns-portal.sh [--www DIR] [--limit-rate RATE] [--access-log FILE] [--host NAME=ADDRESS]..." \
       "[--xvfb] [--screen WxHxD] [--wine] [--] COMMAND [ARG...]" >&2
  exit 2
fi

pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT

# Bounded wait: polls the test command every 50 ms for at most $1 seconds.
wait_until() {
  local seconds="$1"
  shift
  local deadline=$((SECONDS + seconds))
  until "$@" 2>/dev/null; do
    if [ $SECONDS -ge $deadline ]; then
      return 1
    fi
    sleep 0.05
  done
}

# --- names ----------------------------------------------------------------
endpoints="$root/src/base/ServiceEndpoints.h"
api_host=$(sed -n 's/.*ApiHost\[\] = "\([^"]*\)";.*/\1/p' "$endpoints")
game_host=$(sed -n 's/.*GameHost\[\] = "\([^"]*\)";.*/\1/p' "$endpoints")
portal_host=$(sed -n 's|.*DefaultPortalUrl\[\] = "http://\([^/:"]*\).*|\1|p' "$endpoints")
if [ -z "$api_host" ] || [ -z "$game_host" ] || [ -z "$portal_host" ]; then
  echo "$me: host names not found in $endpoints" >&2
  exit 1
fi
declare -A address=(["$api_host"]=127.0.0.1 ["$game_host"]=127.0.0.1 ["$portal_host"]=127.0.0.1)
for entry in "${extra_hosts[@]}"; do
  name="${entry%%=*}"
  ip="${entry#*=}"
  if [ -z "$name" ] || [ "$name" = "$entry" ] || [[ ! "$ip" =~ ^127\.[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
    echo "$me: --host wants NAME=127.x.y.z (loopback only): $entry" >&2
    exit 2
  fi
  address["$name"]="$ip"
done

ip link set lo up
{
  echo "127.0.0.1 localhost"
  for name in "${!address[@]}"; do
    echo "${address[$name]} $name"
  done
} >"$work/hosts"
echo "nameserver 127.0.0.1" >"$work/resolv.conf"
mount --bind "$work/hosts" /etc/hosts
mount --bind "$work/resolv.conf" /etc/resolv.conf
if [ -n "$trust_ca" ]; then
  ca_store=/etc/ssl/certs/ca-certificates.crt
  { cat "$ca_store" 2>/dev/null || true; cat "$trust_ca"; } >"$work/ca-certificates.crt"
  mkdir -p "$(dirname "$ca_store")"
  [ -e "$ca_store" ] || : >"$ca_store"
  mount --bind "$work/ca-certificates.crt" "$ca_store"
fi

# --- web server -------------------------------------------------------------
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/${1:-80}") 2>/dev/null; }
if [ -n "$www" ]; then
  n="$work/nginx"
  mkdir -p "$n"
  if [ -n "$access_log" ]; then
    mkdir -p "$(dirname "$access_log")"
    : >"$access_log"
    log_line="access_log $access_log portal;"
  else
    log_line="access_log off;"
  fi
  cat >"$n/nginx.conf" <<EOF
# Loopback only, inside a throwaway namespace: workers may run as root and read any folder.
user root;
worker_processes 1;
daemon off;
pid $n/nginx.pid;
error_log $n/error.log warn;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  types { text/plain txt; application/json json; }
  log_format portal escape=json '\$msec	\$status	\$request_method	\$request_uri	\$body_bytes_sent	\$http_user_agent	\$http_range';
  $log_line
  client_body_temp_path $n/body;
  proxy_temp_path $n/proxy;
  fastcgi_temp_path $n/fastcgi;
  uwsgi_temp_path $n/uwsgi;
  scgi_temp_path $n/scgi;
  server {
    listen 127.0.0.1:80;
    server_name _;
    root $www;
    limit_rate $limit_rate;
  }
EOF
  for tls in "${tls_servers[@]}"; do
    IFS=: read -r tls_port tls_cert tls_key <<<"$tls"
    if [[ ! "$tls_port" =~ ^[0-9]+$ ]] || [ ! -f "$tls_cert" ] || [ ! -f "$tls_key" ]; then
      echo "$me: --tls wants PORT:CERT:KEY with existing files: $tls" >&2
      exit 2
    fi
    cat >>"$n/nginx.conf" <<EOF
  server {
    listen 127.0.0.1:$tls_port ssl;
    server_name _;
    ssl_certificate $tls_cert;
    ssl_certificate_key $tls_key;
    root $www;
    location /to-http/ { rewrite ^/to-http/(.*)\$ http://\$host/\$1 redirect; }
  }
EOF
  done
  echo "}" >>"$n/nginx.conf"
  nginx -e "$n/error.log" -c "$n/nginx.conf" &
  pids+=($!)
  for port in 80 "${tls_servers[@]%%:*}"; do
    if ! wait_until 10 port_open "$port"; then
      echo "$me: nginx did not start on port $port:" >&2
      cat "$n/error.log" >&2 || true
      exit 1
    fi
  done
fi

# --- display ----------------------------------------------------------------
if [ "$xvfb" = 1 ]; then
  source "$root/scripts/xvfb.sh"
  xvfb_start --private-sockets "$screen" || exit 1
  pids+=("$XVFB_PID")
fi

# --- Wine -------------------------------------------------------------------
if [ "$wine" = 1 ]; then
  source "$root/scripts/wine-env.sh"
  if [ ! -d "$WINEPREFIX" ]; then
    echo "$me: no Wine prefix at $WINEPREFIX (run scripts/wine-prefix.sh)" >&2
    exit 1
  fi
  mkdir -p "$work/prefix-upper" "$work/prefix-work"
  if ! mount -t overlay overlay \
      -o "lowerdir=$WINEPREFIX,upperdir=$work/prefix-upper,workdir=$work/prefix-work" "$WINEPREFIX"; then
    echo "$me: skipped, no overlay mount for a private Wine prefix" >&2
    exit $SKIP
  fi
  server_dir="/tmp/.wine-$(id -u)"
  mkdir -p "$server_dir"
  mount -t tmpfs -o mode=0700 tmpfs "$server_dir"
  # Persistent while the command runs, so every Wine start inside is quick.
  wineserver -f -p &
  pids+=($!)
  # Wine's background services start with the first program and keep its
  # output open; start them here, detached, so no pipe of the command is held.
  "$ORVANE_WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
fi

export ORVANE_NETNS_WORK="$work" ORVANE_PRIVATE_NETWORK=1
status=0
"$@" || status=$?
exit $status
