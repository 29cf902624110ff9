#!/bin/bash
# http_stacks.sh [SIZE_MIB] [STACK...]
# What each of Windows' HTTP stacks costs under Wine, apart from our engine: one plain GET of a
# file (512 MiB by default) on one connection from nginx on loopback through our engine's own
# client (xldl/HttpConnection), a bare blocking Winsock socket, WinINet (blocking and
# asynchronous) and WinHTTP (bench/http_stacks), and curl for comparison. Prints wall seconds,
# MB/s and the CPU seconds of the client and of the Wine server per GiB.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$ROOT/bench/lib.sh"
size_mib=${1:-512}
shift || true
stacks=("$@")
[ ${#stacks[@]} -gt 0 ] || stacks=(xldl winsock wininet wininet-async winhttp)

bench_packages nginx curl bc
dir=$BUILD/$WIN_BUILD
[ -f "$dir/CMakeCache.txt" ] || "$ROOT/scripts/build" >/dev/null
cmake --build "$dir" --target http_stacks >/dev/null
exe=$dir/bench/http_stacks/http_stacks.exe

work=$BUILD/bench/stacks
rm -rf "$work"
mkdir -p "$work/www" "$work/out" "$work/nginx"
head -c "$((size_mib << 20))" /dev/urandom > "$work/www/file.bin"
bytes=$(stat -c %s "$work/www/file.bin")
port=$(free_port)
nginx_conf "$work/nginx/nginx.conf" "$work/nginx" "$work/nginx/nginx.pid" \
  "server { listen 127.0.0.1:$port; root $work/www; }"
nginx -c "$work/nginx/nginx.conf"
trap 'nginx -c "$work/nginx/nginx.conf" -s stop 2>/dev/null || true' EXIT
url=http://127.0.0.1:$port/file.bin

hz=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
"$dir/wine-run" --server-start
server=$(pgrep -n -f "wineserver64 -p30" || true)

echo "build: $WIN_BUILD, Wine $(wine_mode); $size_mib MiB from nginx on loopback, written to disk"
printf '  %-16s %8s %9s %14s %14s\n' stack seconds MB/s "client CPU/GiB" "server CPU/GiB"
row() { # name, seconds, client cpu s, server cpu s
  local gib
  gib=$(echo "$bytes / 1073741824" | bc -l)
  printf '  %-16s %8.2f %9.1f %14.2f %14.2f\n' "$1" "$2" "$(echo "$bytes / $2 / 1000000" | bc -l)" \
    "$(echo "$3 / $gib" | bc -l)" "$(echo "$4 / $gib" | bc -l)"
}
for stack in "${stacks[@]}"; do
  rm -f "$work/out/file.bin"
  sync # what the run before wrote goes to disk now, not during this one
  s0=$(ticks "$server")
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$dir/wine-run" "$exe" "$stack" "$url" \
    "Z:${work//\//\\}\\out\\file.bin" >"$work/last.out" 2>&1 || { echo "  $stack FAILED: $(cat "$work/last.out")"; continue; }
  s1=$(ticks "$server")
  [ "$(stat -c %s "$work/out/file.bin")" = "$bytes" ] || { echo "  $stack: wrong size"; continue; }
  read -r _ user sys < "$work/time"
  inner=$(tr -d '\r' < "$work/last.out" | awk '{print $3}')
  row "$stack" "$inner" "$(echo "$user + $sys" | bc -l)" "$(echo "($s1 - $s0) / $hz" | bc -l)"
done
rm -f "$work/out/file.bin"
sync
/usr/bin/time -f '%e %U %S' -o "$work/time" curl -sS -o "$work/out/file.bin" "$url"
read -r wall user sys < "$work/time"
row curl "$wall" "$(echo "$user + $sys" | bc -l)" 0
