#!/bin/bash
# download_speed.sh [SIZE_MIB]
# One file (1 GiB by default) from nginx on loopback, fetched side by side by our engine
# (through xldl_driver under Wine), curl and aria2c with four connections:
#   1. nginx without limits: target ours/curl >= 1.0, and CPU seconds per GiB (user + system
#      of every process of ours: the program and the Wine server) within 1.5 x curl's;
#   2. nginx limiting each request (RATE, 40m): target ours/aria2c >= 1.0;
#   3. nginx over TLS (certificates of tools/mirror/tls_certs.py, the test root trusted in the
#      build's Wine prefix only, and given to curl): ours against curl.
# Each download goes to disk and is compared with the served file. Prints seconds, MB/s, CPU
# and the ratios; ours is the engine's own time (from its start to the file in place), with the
# driver process's wall time beside it; each runs REPEAT (2) times and the fastest counts.
# WIN_BUILD=win64 measures the x86_64 build.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$ROOT/bench/lib.sh"
size_mib=${1:-1024}
rate=${RATE:-40m}

bench_packages nginx curl aria2 bc time openssl
build_engine_driver trust_root

work=$BUILD/bench/speed
rm -rf "$work"
mkdir -p "$work/www" "$work/out" "$work/nginx"
# Random bytes, so that nothing on the way can make the transfer cheaper than it is.
head -c "$((size_mib << 20))" /dev/urandom > "$work/www/file.bin"
bytes=$(stat -c %s "$work/www/file.bin")
gib=$(echo "$bytes / 1073741824" | bc -l)

# TLS: the test certificates, and the test root trusted in this build's prefix (only there).
certs=$dir/tls-certs
python3 "$ROOT/tools/mirror/tls_certs.py" "$certs" >/dev/null
"$wine_run" "$dir/tools/trust_root/trust_root.exe" add "Z:${certs//\//\\}\\root.der" >/dev/null

plain=$(free_port); limited=$(free_port); tls=$(free_port)
nginx_conf "$work/nginx/nginx.conf" "$work/nginx" "$work/nginx/nginx.pid" \
  "server { listen 127.0.0.1:$plain; root $work/www; }" \
  "server { listen 127.0.0.1:$limited; root $work/www; limit_rate $rate; }" \
  "server { listen 127.0.0.1:$tls ssl; root $work/www; ssl_certificate $certs/good/chain.pem; ssl_certificate_key $certs/good/key.pem; }"
nginx -c "$work/nginx/nginx.conf"
trap 'nginx -c "$work/nginx/nginx.conf" -s stop 2>/dev/null || true' EXIT

hz=$(getconf CLK_TCK)
server_ticks() { # the Wine server of the build's prefix: its CPU is ours too
  local pid
  pid=$(pgrep -n -f "wineserver64 -p30" || true)
  [ -n "$pid" ] && awk '{print $14 + $15}' "/proc/$pid/stat" || echo 0
}
"$wine_run" --server-start

# Runs a download; sets T (wall seconds, 0 on failure) and CPU (seconds of user + system of the
# command and its children, plus the Wine server's for ours). Checks the file it made.
timed() { # server CPU too (0/1), command...
  local with_server=$1; shift
  rm -f "$work/out/file.bin"
  sync # what the run before wrote goes to disk now, not during this one
  local s0 s1
  s0=$(server_ticks)
  if ! /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >"$work/last.out" 2>&1; then
    echo "FAILED: $* ($(tail -2 "$work/last.out" | tr '\n' ' '))" >&2; T=0; CPU=0; return
  fi
  s1=$(server_ticks)
  if ! cmp -s "$work/out/file.bin" "$work/www/file.bin"; then
    echo "WRONG FILE: $*" >&2; T=0; CPU=0; return
  fi
  local wall user sys
  read -r wall user sys < "$work/time"
  T=$wall
  CPU=$(echo "$user + $sys" | bc -l)
  [ "$with_server" = 1 ] && CPU=$(echo "$CPU + ($s1 - $s0) / $hz" | bc -l)
  return 0
}

# What starting Wine alone costs (the driver with nothing to do), to be seen apart.
timed_start() {
  local s0 s1 wall user sys
  s0=$(server_ticks)
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$wine_run" cmd /c exit >/dev/null 2>&1 || true
  s1=$(server_ticks)
  read -r wall user sys < "$work/time"
  WINE_T=$wall
  WINE_CPU=$(echo "$user + $sys + ($s1 - $s0) / $hz" | bc -l)
}

# Each download runs REPEAT (2) times; the fastest counts (the disk and the page cache vary).
repeat=${REPEAT:-2}
best() { # with server CPU (0/1), command...: T and CPU of the fastest run
  local bt=0 bc=0 i
  for i in $(seq "$repeat"); do
    timed "$@"
    if [ "$T" != 0 ] && { [ "$bt" = 0 ] || [ "$(echo "$T < $bt" | bc -l)" = 1 ]; }; then
      bt=$T; bc=$CPU
    fi
  done
  T=$bt; CPU=$bc
}

ours() { # url
  local i t inner best_inner=0 best_wall=0 best_cpu=0
  for i in $(seq "$repeat"); do
    timed 1 "$wine_run" "$driver" "$1" "Z:${work//\//\\}\\out" --quiet
    [ "$T" = 0 ] && continue
    inner=$(tr -d '\r' < "$work/last.out" | sed -n 's/^finished .* in \([0-9.]*\) s$/\1/p' | tail -1)
    inner=${inner:-0}
    if [ "$best_inner" = 0 ] || [ "$(echo "$inner < $best_inner" | bc -l)" = 1 ]; then
      best_inner=$inner; best_wall=$T; best_cpu=$CPU
    fi
  done
  OURS=$best_inner; OURS_WALL=$best_wall; OURS_CPU=$best_cpu
}

mbs() { echo "if ($1 > 0) $bytes / $1 / 1000000 else 0" | bc -l; }
ratio() { echo "if ($2 > 0) $1 / $2 else 0" | bc -l; }
line() { # label, seconds, cpu
  printf '  %-30s %7.2f s %8.1f MB/s %7.2f CPU s/GiB\n' "$1" "$2" "$(mbs "$2")" \
    "$(echo "$3 / $gib" | bc -l)"
}

timed_start
echo "build: $WIN_BUILD, Wine $(wine_mode); $size_mib MiB of random bytes on loopback, to disk"
echo "Wine's own start: $(printf %.2f "$WINE_T") s, $(printf %.2f "$WINE_CPU") CPU s (counted in ours below)"
echo

url=http://127.0.0.1:$plain/file.bin
ours "$url"
best 0 curl -sS --noproxy '*' -o "$work/out/file.bin" "$url"; CURL=$T; CURL_CPU=$CPU
best 0 aria2c -q -x4 -s4 -k1M --file-allocation=none --allow-overwrite=true -d "$work/out" -o file.bin "$url"
ARIA=$T; ARIA_CPU=$CPU
echo "nginx without limits (targets: ours/curl >= 1.0, CPU within 1.5 x curl's)"
line "our engine, engine's time" "$OURS" "$OURS_CPU"
line "  the driver's wall time" "$OURS_WALL" "$OURS_CPU"
line "curl" "$CURL" "$CURL_CPU"
line "aria2c -x4" "$ARIA" "$ARIA_CPU"
printf '  speed ours/curl %.2f (wall %.2f), ours/aria2c %.2f; CPU ours/curl %.2f (%.2f without Wine start)\n' \
  "$(ratio "$CURL" "$OURS")" "$(ratio "$CURL" "$OURS_WALL")" "$(ratio "$ARIA" "$OURS")" \
  "$(ratio "$OURS_CPU" "$CURL_CPU")" "$(ratio "$(echo "$OURS_CPU - $WINE_CPU" | bc -l)" "$CURL_CPU")"
echo

url=http://127.0.0.1:$limited/file.bin
ours "$url"
best 0 curl -sS --noproxy '*' -o "$work/out/file.bin" "$url"; CURL=$T
best 0 aria2c -q -x4 -s4 -k1M --file-allocation=none --allow-overwrite=true -d "$work/out" -o file.bin "$url"
ARIA=$T
echo "nginx at $rate per request (target: ours/aria2c >= 1.0)"
line "our engine, engine's time" "$OURS" "$OURS_CPU"
line "  the driver's wall time" "$OURS_WALL" "$OURS_CPU"
line "curl" "$CURL" 0
line "aria2c -x4" "$ARIA" 0
printf '  speed ours/aria2c %.2f, ours/curl %.2f\n' "$(ratio "$ARIA" "$OURS")" "$(ratio "$CURL" "$OURS")"
echo

url=https://localhost:$tls/file.bin
ours "$url"
best 0 curl -sS --noproxy '*' --cacert "$certs/root.pem" -o "$work/out/file.bin" "$url"; CURL=$T; CURL_CPU=$CPU
echo "nginx over TLS (TLS 1.2 as Wine's Schannel offers it; curl with its OpenSSL)"
line "our engine, engine's time" "$OURS" "$OURS_CPU"
line "  the driver's wall time" "$OURS_WALL" "$OURS_CPU"
line "curl" "$CURL" "$CURL_CPU"
printf '  speed ours/curl %.2f (wall %.2f); CPU ours/curl %.2f\n' \
  "$(ratio "$CURL" "$OURS")" "$(ratio "$CURL" "$OURS_WALL")" "$(ratio "$OURS_CPU" "$CURL_CPU")"
