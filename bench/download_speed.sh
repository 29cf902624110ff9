#!/bin/bash
# download_speed.sh [SIZE_MIB]
# One file (1 GiB by default) from nginx on loopback, fetched side by side by our engine
# (through xldl_driver under Wine), curl and aria2c with four connections:
#   1. nginx without limits: target, ours at least 0.9 of curl;
#   2. nginx with a per-connection rate limit (RATE, 40m): target, ours at least 3.5 times
#      curl and no slower than aria2c -x4.
# Each download goes to disk and is checked against the served file's size. Prints seconds,
# MB/s and the ratios.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
size_mib=${1:-1024}
rate=${RATE:-40m}

need=()
for p in nginx curl aria2 bc; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  [ -e /usr/sbin/policy-rc.d ] || { printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null; $sudo chmod +x /usr/sbin/policy-rc.d; }
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi
"$ROOT/scripts/build" >/dev/null
driver=$BUILD/$WIN_BUILD/tools/xldl_driver/xldl_driver.exe
[ -f "$driver" ] || { echo "no xldl_driver at $driver" >&2; exit 1; }

work=$BUILD/bench/speed
rm -rf "$work"
mkdir -p "$work/www" "$work/out" "$work/nginx"
# Random bytes, so that nothing on the way can make the transfer cheaper than it is.
head -c "$((size_mib << 20))" /dev/urandom > "$work/www/file.bin"
bytes=$(stat -c %s "$work/www/file.bin")

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
plain=$(free_port); limited=$(free_port)
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
daemon on;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/nginx/tmp;
  proxy_temp_path $work/nginx/tmp;
  fastcgi_temp_path $work/nginx/tmp;
  uwsgi_temp_path $work/nginx/tmp;
  scgi_temp_path $work/nginx/tmp;
  server { listen 127.0.0.1:$plain; root $work/www; }
  server { listen 127.0.0.1:$limited; root $work/www; limit_rate $rate; }
}
CONF
nginx -c "$work/nginx/nginx.conf"
trap 'nginx -c "$work/nginx/nginx.conf" -s stop 2>/dev/null || true' EXIT

# Runs a download command; prints its seconds after checking the file it made.
timed() { # file, command...
  local file=$1; shift
  rm -f "$file"
  local start end
  start=$(date +%s.%N)
  "$@" >"$work/last.out" 2>&1 || { echo "FAILED: $*" >&2; echo 0; return; }
  end=$(date +%s.%N)
  [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" = "$bytes" ] || { echo "WRONG SIZE: $*" >&2; echo 0; return; }
  echo "$end - $start" | bc -l
}

# Wine's own start (a few hundred ms) is part of our figure: measured too, to be seen.
start=$(date +%s.%N)
"$BUILD/$WIN_BUILD/wine-run" cmd /c exit >/dev/null 2>&1
wine_start=$(echo "$(date +%s.%N) - $start" | bc -l)

round() { # port, label
  local url=http://127.0.0.1:$1/file.bin ours curl aria
  ours=$(timed "$work/out/file.bin" "$BUILD/$WIN_BUILD/wine-run" "$driver" "$url" "Z:${work//\//\\}\\out" --quiet)
  # The engine's own time, from its start to the file in place (no Wine start-up).
  local inner
  inner=$(tr -d '\r' < "$work/last.out" | sed -n 's/^finished .* in \([0-9.]*\) s$/\1/p' | tail -1)
  curl=$(timed "$work/out/file.bin" curl -sS -o "$work/out/file.bin" "$url")
  aria=$(timed "$work/out/file.bin" aria2c -q -x4 -s4 -k1M --file-allocation=none \
         --allow-overwrite=true -d "$work/out" -o file.bin "$url")
  printf '%s\n' "$2"
  for name in ours curl aria; do
    local t=${!name}
    printf '  %-22s %8.2f s  %8.1f MB/s\n' \
      "$(case $name in ours) echo "our engine (xldl)";; curl) echo curl;; aria) echo "aria2c -x4";; esac)" \
      "$t" "$(echo "if ($t > 0) $bytes / $t / 1000000 else 0" | bc -l)"
  done
  printf '  %-22s %8.2f s  %8.1f MB/s\n' "our engine, no Wine start" "${inner:-0}" \
    "$(echo "if (${inner:-0} > 0) $bytes / ${inner:-0} / 1000000 else 0" | bc -l)"
  printf '  speed ours/curl   %6.2f (without Wine start-up: %.2f)\n' \
    "$(echo "if ($ours > 0) $curl / $ours else 0" | bc -l)" \
    "$(echo "if (${inner:-0} > 0) $curl / ${inner:-0} else 0" | bc -l)"
  printf '  speed ours/aria2c %6.2f\n' "$(echo "if ($ours > 0) $aria / $ours else 0" | bc -l)"
}

echo "build: $WIN_BUILD, Wine $(wine_mode)"
echo "file: $size_mib MiB of random bytes, loopback; Wine start alone: $(printf %.2f "$wine_start") s"
round "$plain" "nginx without limits (target: ours/curl >= 0.9)"
round "$limited" "nginx at $rate per connection (target: ours/curl >= 3.5, ours/aria2c >= 1.0)"
