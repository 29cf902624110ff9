#!/bin/bash
# finished_again.sh [MiB]
# A finished download asked for again (the tool's next press or next run), through our engine
# (xldl_driver under Wine) from nginx on loopback, a file of random bytes (256 MiB):
#   1. the first download: seconds, and the bytes nginx sent;
#   2. the same again, the file unchanged: confirmed by one conditional request; seconds
#      (mostly reading the saved file once for its SHA-256) and bytes sent (target: under
#      64 KiB), and how much faster than fetching it;
#   3. the file changed on the server (a new modification time, so a new ETag): fetched whole.
# nginx sends no digest, so the first download also reads the finished file once for the record:
# the second run's time is what that costs each download from such a server.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$ROOT/bench/lib.sh"
size_mib=${1:-256}

"$ROOT/scripts/setup" >/dev/null
bench_packages nginx
build_engine_driver

work=$BUILD/bench/again
rm -rf "$work"
mkdir -p "$work/www" "$work/out" "$work/nginx"
head -c "$((size_mib << 20))" /dev/urandom > "$work/www/file.bin"
bytes=$(stat -c %s "$work/www/file.bin")
port=$(free_port)
# Every answer's body bytes, one line each.
nginx_conf "$work/nginx/nginx.conf" "$work/nginx" "$work/nginx/nginx.pid" \
  "log_format sent '\$status \$body_bytes_sent';" \
  "server { listen 127.0.0.1:$port; root $work/www; access_log $work/nginx/sent.log sent; }"
nginx -c "$work/nginx/nginx.conf"
trap 'nginx -c "$work/nginx/nginx.conf" -s stop 2>/dev/null || true' EXIT
"$wine_run" --server-start

echo "build: $WIN_BUILD, Wine $(wine_mode); a file of $size_mib MiB from nginx on loopback"
# One download through the engine; sets T (seconds) and SENT (body bytes nginx sent for it).
run() { # what
  : > "$work/nginx/sent.log"
  nginx -c "$work/nginx/nginx.conf" -s reopen 2>/dev/null
  sync
  local start end
  start=$(date +%s.%N)
  "$wine_run" "$driver" "http://127.0.0.1:$port/file.bin" "Z:${work//\//\\}\\out" --quiet \
    >"$work/last.out" 2>&1 || { echo "FAILED: $1 ($(tail -2 "$work/last.out" | tr '\n' ' '))" >&2; exit 1; }
  end=$(date +%s.%N)
  cmp -s "$work/out/file.bin" "$work/www/file.bin" || { echo "WRONG FILE: $1" >&2; exit 1; }
  sleep 0.5 # nginx writes its log line once the connection is done
  T=$(echo "$end - $start" | bc -l)
  SENT=$(awk '{s += $2} END {print s + 0}' "$work/nginx/sent.log")
  printf '%-30s %7.2f s  %12d bytes sent  %s\n' "$1" "$T" "$SENT" \
    "$(awk '{print $1}' "$work/nginx/sent.log" | sort | uniq -c | tr -s ' ' | tr '\n' ' ')"
}

run "first download"
first=$T
run "again, unchanged"
again=$T
again_sent=$SENT
touch -d '+1 minute' "$work/www/file.bin"
run "again, changed on the server"
printf 'unchanged: %d bytes from the server (target under 65536), %.1f times faster than the first download\n' \
  "$again_sent" "$(echo "$first / $again" | bc -l)"
[ "$again_sent" -lt 65536 ] || echo "TARGET MISSED: the unchanged file cost the server $again_sent bytes"
