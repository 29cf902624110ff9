#!/bin/bash
# start_cost.sh
# What a download costs before its first byte and after its last, on loopback where the
# transfer itself is nearly free: a 1-byte, a 1 MiB and a 96 MiB file from nginx, fetched by
# our engine (xldl_driver under Wine, one task at a time, each in a process of its own), beside
# curl's whole time and curl followed by `sync` and a SHA-256 of the file (what the engine
# promises more: a file on disk, checked). The engine's times come from its trace: the task
# created, its first byte written, its last byte written, the task finished (the file in place
# under its name); the engine's own time is created to finished. Then the same 1 MiB file from
# a mirror given as http on a port whose https twin stays silent (a firewall that drops rather
# than refuses): its first byte. Each runs REPEAT (5) times; the best of each column counts.
# Targets: 1 byte created to finished within 30 ms (x86_64 build); 96 MiB at least 1.0 x
# curl and 1.3 x "curl, sync, SHA-256"; first byte with a silent https port within 0.3 s.
# WIN_BUILD=win64 measures the x86_64 build. COMPARE=DIR (another tree's build folder of the
# same kind, built before) measures its engine too, alternating run by run with ours.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$ROOT/bench/lib.sh"
repeat=${REPEAT:-5}

bench_packages nginx curl bc
build_engine_driver

work=$BUILD/bench/start_cost
rm -rf "$work"
mkdir -p "$work/www" "$work/out" "$work/nginx"
head -c 1 /dev/urandom > "$work/www/1b.bin"
head -c $((1 << 20)) /dev/urandom > "$work/www/1m.bin"
head -c $((96 << 20)) /dev/urandom > "$work/www/96m.bin"

plain=$(free_port)
nginx_conf "$work/nginx/nginx.conf" "$work/nginx" "$work/nginx/nginx.pid" \
  "server { listen 127.0.0.1:$plain; root $work/www; }"
nginx -c "$work/nginx/nginx.conf"
# A port that drops connections as a firewall does: its queue of connections not yet taken
# is full (one made here, never taken), so the system drops what comes next unanswered.
silent=$(free_port)
python3 -c "
import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.1', $silent)); s.listen(0)
filler = [socket.create_connection(('127.0.0.1', $silent))]
time.sleep(1800)
" &
silent_pid=$!
trap 'nginx -c "$work/nginx/nginx.conf" -s stop 2>/dev/null || true; kill $silent_pid 2>/dev/null || true' EXIT

# One run of the engine of build folder $1: sets CREATED_FIRST, LAST_FINISHED and OWN (ms;
# empty on failure).
ours_once() { # build folder, file, extra environment...
  local build=$1 file=$2; shift 2
  rm -f "$work/out/"* "$work/trace"
  sync
  if ! env XLDL_TRACE="Z:${work//\//\\}\\trace" "$@" "$build/wine-run" \
      "$build/tools/xldl_driver/xldl_driver.exe" \
      "http://127.0.0.1:$plain/$file" "Z:${work//\//\\}\\out" --quiet >"$work/last.out" 2>&1 ||
     ! cmp -s "$work/out/$file" "$work/www/$file"; then
    echo "FAILED: $build $file ($(tail -2 "$work/last.out" | tr '\n' ' '))" >&2
    CREATED_FIRST=; LAST_FINISHED=; OWN=; return
  fi
  read -r CREATED_FIRST LAST_FINISHED OWN < <(tr -d '\r' < "$work/trace" | awk '
    / task [0-9]+ created$/ { c = $1 }
    / first byte written$/ && f == "" { f = $1 }
    / last byte written$/ { l = $1 }
    / task finished$/ { e = $1 }
    END { printf "%.1f %.1f %.1f\n", f - c, e - l, e - c }')
}

min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }

# Best of REPEAT for each column and each engine, the engines taking turns: CF[i] (created to
# first byte), LF[i] (last byte to finished), OWN_[i] (created to finished).
engines=("$dir")
[ -n "${COMPARE:-}" ] && engines+=("$COMPARE")
ours() { # file, extra environment...
  local i e
  CF=(); LF=(); OWN_=()
  for i in $(seq "$repeat"); do
    for e in "${!engines[@]}"; do
      ours_once "${engines[$e]}" "$@"
      [ -n "$OWN" ] || continue
      CF[$e]=$(min "${CF[$e]:-}" "$CREATED_FIRST")
      LF[$e]=$(min "${LF[$e]:-}" "$LAST_FINISHED")
      OWN_[$e]=$(min "${OWN_[$e]:-}" "$OWN")
    done
  done
}

# Best of REPEAT wall times (ms) of curl alone and of curl, sync and sha256sum.
curls() { # file
  local i t c="" s=""
  for i in $(seq "$repeat"); do
    rm -f "$work/out/"*; sync
    t=$(curl -sS --noproxy '*' -o "$work/out/$1" -w '%{time_total}' "http://127.0.0.1:$plain/$1")
    t=$(echo "$t * 1000" | bc -l)
    [ -z "$c" ] || [ "$(echo "$t < $c" | bc -l)" = 1 ] && c=$t
    rm -f "$work/out/"*; sync
    local s0 s1
    s0=$(date +%s%N)
    curl -sS --noproxy '*' -o "$work/out/$1" "http://127.0.0.1:$plain/$1"
    sync "$work/out/$1"
    sha256sum "$work/out/$1" >/dev/null
    s1=$(date +%s%N)
    t=$(echo "($s1 - $s0) / 1000000" | bc -l)
    [ -z "$s" ] || [ "$(echo "$t < $s" | bc -l)" = 1 ] && s=$t
  done
  CURL=$c; CURL_SYNC=$s
}

ratio() { echo "if ($2 > 0) $1 / $2 else 0" | bc -l; }

echo "build: $WIN_BUILD, Wine $(wine_mode); nginx on loopback, to disk; best of $repeat"
for e in "${!engines[@]}"; do echo "engine $e: ${engines[$e]}"; done
for e in "${engines[@]}"; do "$e/wine-run" --server-start; done
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-32s %6s %11s %11s %11s %9s %15s %9s %9s\n' file engine "created-1st" "last-fin" ours \
  curl "curl+sync+sha" "curl/ours" "c+s+s/ours"
row() { # label, engine, curl, curl+sync+sha
  printf '%-32s %6s %8.1f ms %8.1f ms %8.1f ms' "$1" "$2" "${CF[$2]:-0}" "${LF[$2]:-0}" "${OWN_[$2]:-0}"
  [ -n "${3:-}" ] && printf ' %6.1f ms %12.1f ms %9.2f %9.2f' "$3" "$4" \
    "$(ratio "$3" "${OWN_[$2]:-0}")" "$(ratio "$4" "${OWN_[$2]:-0}")"
  echo
}
for file in 1b.bin 1m.bin 96m.bin; do
  ours "$file" XLDL_HTTPS_PORTS=0
  curls "$file"
  for e in "${!engines[@]}"; do row "$file" "$e" "$CURL" "$CURL_SYNC"; done
done
ours 1m.bin "XLDL_HTTPS_PORTS=$plain:$silent"
for e in "${!engines[@]}"; do row "1m.bin, https port silent" "$e"; done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
