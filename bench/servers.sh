#!/bin/bash
# servers.sh [SIZE_MIB]
# Our engine against the web servers Debian ships, each set up as such servers usually are:
# with its limit of requests per connection and a rate cap per connection or per response.
#   apache          Apache httpd 2.4 (event MPM), MaxKeepAliveRequests 100, mod_ratelimit
#                   (RATE per response; it sends in bursts, so each answer begins late)
#   lighttpd        lighttpd 1.4, its keep-alive limits, connection.kbytes-per-second (RATE per
#                   connection)
#   lighttpd-bare   the same without ETag and Last-Modified: nothing names the file's version
#   nginx           nginx, keepalive_requests 20 (a low limit), limit_rate (RATE per request)
#   squid           squid 5 as a caching proxy in front of nginx (unlimited), fetching the whole
#                   object for a range (range_offset_limit -1); RATE per connection between
#                   the client and squid (the relay, bench/relay, with no delay)
#   bursts          the test mirror (tools/mirror) pacing each connection by the second, as
#                   lighttpd does: a second's worth of RATE at once, then nothing until the next
#                   second (its seconds fall where they fall for each download, as a server's do)
# Each fetches a file of random bytes (SIZE_MIB, 96) with our engine (xldl_driver under Wine, up
# to 4 connections), aria2c -x4 -s4 -k1M and curl; every file is compared with the served one.
# Each download runs REPEAT (2) times and the fastest counts; ours is the engine's own time (the
# driver's "finished ... in X s", without Wine's start). Prints seconds, MB/s and the speed
# ratios ours/aria2c and ours/curl (> 1: ours faster); target: ours/aria2c >= 1.0 everywhere;
# then, for ours and aria2c, every run's seconds and the spread (slowest / fastest).
# Says how loaded the machine was (load average before and after). Installs what it needs
# (apache2, lighttpd, nginx, squid, aria2, curl, bc), builds the engine and its driver
# (WIN_BUILD: win32, the default, or win64) and the relay. Runs as root, or through sudo.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$ROOT/bench/lib.sh"
size_mib=${1:-96}
rate_kib=${RATE_KIB:-4096} # per connection or response, KiB/s
repeat=${REPEAT:-2}
only=${SERVERS:-apache lighttpd lighttpd-bare nginx squid bursts}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

# --- what it needs ---------------------------------------------------------------------------
"$ROOT/scripts/setup" >&2
bench_packages apache2 lighttpd nginx squid curl aria2 bc g++
build_engine_driver
relay=$(BUILD_DIR=$BUILD python3 "$ROOT/bench/relay/relay.py" build)

work=$BUILD/bench/servers
rm -rf "$work"
mkdir -p "$work/www" "$work/out" "$work/apache" "$work/lighttpd" "$work/nginx" "$work/squid"
chmod 755 "$work" "$work/www"
head -c "$((size_mib << 20))" /dev/urandom > "$work/www/file.bin"
chmod 644 "$work/www/file.bin"
bytes=$(stat -c %s "$work/www/file.bin")

pids=()
cleanup() {
  [ -f "$work/apache/httpd.pid" ] && kill "$(cat "$work/apache/httpd.pid")" 2>/dev/null || true
  for f in "$work/lighttpd/"*.pid "$work/nginx/nginx.pid" "$work/squid/squid.pid"; do
    [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null || true
  done
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

# --- the servers -----------------------------------------------------------------------------
apache_port=$(free_port)
modules=/usr/lib/apache2/modules
cat > "$work/apache/httpd.conf" <<CONF
ServerName localhost
ServerRoot $work/apache
Listen 127.0.0.1:$apache_port
PidFile $work/apache/httpd.pid
DefaultRuntimeDir $work/apache
ErrorLog $work/apache/error.log
LoadModule mpm_event_module $modules/mod_mpm_event.so
LoadModule authz_core_module $modules/mod_authz_core.so
LoadModule mime_module $modules/mod_mime.so
LoadModule env_module $modules/mod_env.so
LoadModule ratelimit_module $modules/mod_ratelimit.so
User www-data
Group www-data
TypesConfig /etc/mime.types
KeepAlive On
MaxKeepAliveRequests 100
KeepAliveTimeout 5
DocumentRoot $work/www
<Directory $work/www>
  Require all granted
  SetOutputFilter RATE_LIMIT
  SetEnv rate-limit $rate_kib
</Directory>
CONF
lighttpd_conf() { # name, port, extra lines...
  local name=$1 port=$2; shift 2
  {
    echo "server.document-root = \"$work/www\""
    echo "server.bind = \"127.0.0.1\""
    echo "server.port = $port"
    echo "server.pid-file = \"$work/lighttpd/$name.pid\""
    echo "server.errorlog = \"$work/lighttpd/$name.error.log\""
    echo "server.username = \"www-data\""
    echo "server.groupname = \"www-data\""
    echo "mimetype.assign = (\".bin\" => \"application/octet-stream\")"
    echo "connection.kbytes-per-second = $rate_kib"
    printf '%s\n' "$@"
  } > "$work/lighttpd/$name.conf"
}
lighttpd_port=$(free_port)
bare_port=$(free_port)
lighttpd_conf lighttpd "$lighttpd_port"
lighttpd_conf bare "$bare_port" 'server.modules += ("mod_setenv")' 'static-file.etags = "disable"' \
  'setenv.set-response-header = ("Last-Modified" => "")'
nginx_port=$(free_port)
origin_port=$(free_port)
nginx_conf "$work/nginx/nginx.conf" "$work/nginx" "$work/nginx/nginx.pid" \
  "server { listen 127.0.0.1:$nginx_port; root $work/www; keepalive_requests 20; limit_rate ${rate_kib}k; }" \
  "server { listen 127.0.0.1:$origin_port; root $work/www; }"
squid_port=$(free_port)
chown proxy "$work/squid"
chown www-data "$work/lighttpd"
cat > "$work/squid/squid.conf" <<CONF
http_port 127.0.0.1:$squid_port
pid_filename $work/squid/squid.pid
cache_log $work/squid/cache.log
access_log none
cache_store_log none
coredump_dir $work/squid
cache_effective_user proxy
acl all_local src 127.0.0.0/8
http_access allow all_local
http_access deny all
cache_mem $((size_mib * 2 + 64)) MB
maximum_object_size_in_memory $((size_mib * 2)) MB
maximum_object_size $((size_mib * 2)) MB
range_offset_limit -1
quick_abort_min -1 KB
shutdown_lifetime 0 seconds
CONF

apache2 -f "$work/apache/httpd.conf" -k start
lighttpd -f "$work/lighttpd/lighttpd.conf"
lighttpd -f "$work/lighttpd/bare.conf"
nginx -c "$work/nginx/nginx.conf"
squid -f "$work/squid/squid.conf" -N >"$work/squid/out.log" 2>&1 &
pids+=($!)
"$relay" --target "127.0.0.1:$squid_port" --delay-ms 0 --no-handshake \
  --rate "$((rate_kib * 1024))" --exit-with-parent > "$work/squid/relay.port" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/squid/relay.port" ] && curl -s -o /dev/null --noproxy '*' "http://127.0.0.1:$apache_port/file.bin" -r 0-0 &&
    curl -s -o /dev/null -x "http://127.0.0.1:$squid_port" "http://127.0.0.1:$origin_port/file.bin" -r 0-0 && break
  sleep 0.2
done
relay_port=$(head -1 "$work/squid/relay.port")
mkdir -p "$work/mirror"
printf '{"burst": %d}\n' "$((rate_kib * 1024))" > "$work/mirror/script.json"
python3 "$ROOT/tools/mirror/mirror.py" --root "$work/www" --script "$work/mirror/script.json" \
  > "$work/mirror/port" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/mirror/port" ] && break; sleep 0.1; done
mirror_port=$(head -1 "$work/mirror/port")

# --- the downloads ---------------------------------------------------------------------------
"$wine_run" --server-start

# Runs a download into $work/out/file.bin; sets T (seconds, 0 when it failed or the file is
# not the served one).
timed() { # command...
  rm -f "$work/out/file.bin"
  sync
  local start end
  start=$(date +%s.%N)
  if ! "$@" >"$work/last.out" 2>&1; then
    echo "FAILED: $* ($(tail -2 "$work/last.out" | tr '\n' ' '))" >&2; T=0; return
  fi
  end=$(date +%s.%N)
  if ! cmp -s "$work/out/file.bin" "$work/www/file.bin"; then
    echo "WRONG FILE: $*" >&2; T=0; return
  fi
  T=$(echo "$end - $start" | bc -l)
  if [[ " $* " == *" $driver "* ]]; then # the engine's own time, without Wine's start
    T=$(tr -d '\r' < "$work/last.out" | sed -n 's/^finished .* in \([0-9.]*\) s$/\1/p' | tail -1)
    T=${T:-0}
  fi
}
best() { # command...: the fastest of REPEAT runs in B (0 when none went right), the slowest
  local i wrong=0 # in W (0 when one went wrong), every run's seconds in RUNS
  B=0 W=0 RUNS=""
  for i in $(seq "$repeat"); do
    timed "$@"
    RUNS+=" $(printf '%.2f' "$T")"
    [ "$T" != 0 ] || wrong=1
    if [ "$T" != 0 ] && { [ "$B" = 0 ] || [ "$(echo "$T < $B" | bc -l)" = 1 ]; }; then B=$T; fi
    if [ "$(echo "$T > $W" | bc -l)" = 1 ]; then W=$T; fi
  done
  [ "$wrong" = 0 ] || W=0
}
mbs() { echo "if ($1 > 0) $bytes / $1 / 1000000 else 0" | bc -l; }
ratio() { echo "if ($1 > 0 && $2 > 0) $2 / $1 else 0" | bc -l; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
out="Z:${work//\//\\}\\out"
rows=()
spreads=()
for server in $only; do
  proxy=()
  engine_env=()
  case $server in
    apache) url=http://127.0.0.1:$apache_port/file.bin ;;
    lighttpd) url=http://127.0.0.1:$lighttpd_port/file.bin ;;
    lighttpd-bare) url=http://127.0.0.1:$bare_port/file.bin ;;
    nginx) url=http://127.0.0.1:$nginx_port/file.bin ;;
    bursts) url=http://127.0.0.1:$mirror_port/file.bin ;;
    squid)
      url=http://127.0.0.1:$origin_port/file.bin
      proxy=(-x "http://127.0.0.1:$relay_port")
      engine_env=(env "http_proxy=http://127.0.0.1:$relay_port")
      ;;
  esac
  best ${engine_env[@]+"${engine_env[@]}"} "$wine_run" "$driver" "$url" "$out" --quiet
  ours=$B ours_worst=$W ours_runs=$RUNS
  if [ ${#proxy[@]} -gt 0 ]; then
    best aria2c -q -x4 -s4 -k1M --file-allocation=none --allow-overwrite=true \
      --all-proxy="http://127.0.0.1:$relay_port" -d "$work/out" -o file.bin "$url"
  else
    best aria2c -q -x4 -s4 -k1M --file-allocation=none --allow-overwrite=true \
      -d "$work/out" -o file.bin "$url"
  fi
  aria=$B aria_worst=$W aria_runs=$RUNS
  best curl -sS ${proxy[@]+"${proxy[@]}"} -o "$work/out/file.bin" "$url"
  curl_t=$B
  rows+=("$(printf '| %-13s | %6.2f s %6.1f MB/s | %6.2f s %6.1f MB/s | %6.2f s %6.1f MB/s | %5.2f | %5.2f |' \
    "$server" "$ours" "$(mbs "$ours")" "$aria" "$(mbs "$aria")" "$curl_t" "$(mbs "$curl_t")" \
    "$(ratio "$ours" "$aria")" "$(ratio "$ours" "$curl_t")")")
  echo "${rows[-1]}"
  spreads+=("$(printf '%-13s ours %5.2f (%s ), aria2c %5.2f (%s )' "$server" \
    "$(ratio "$ours" "$ours_worst")" "$ours_runs" "$(ratio "$aria" "$aria_worst")" "$aria_runs")")
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo
echo "build: $WIN_BUILD, Wine $(wine_mode); $(nproc) cores; $size_mib MiB; caps of $rate_kib KiB/s per connection or response; best of $repeat"
echo "load average before: $load_before; after: $load_after"
echo "| server        | ours (engine's time)  | aria2c -x4            | curl                  | ours/aria2c | ours/curl |"
echo "|---------------|-----------------------|-----------------------|-----------------------|-------|-------|"
printf '%s\n' "${rows[@]}"
echo
echo "spread, slowest / fastest (every run's seconds; 0: a run went wrong):"
printf '%s\n' "${spreads[@]}"
