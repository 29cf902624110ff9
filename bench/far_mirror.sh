#!/bin/bash
# far_mirror.sh [SIZE_MIB]
# How fast our engine is on far mirrors (long round trips, capped connections), side by side
# with curl (one connection) and aria2c -x4 -s4 -k1M, each fetching a file of random bytes from
# nginx on loopback through the relay (bench/relay/: a delay line with a rate cap):
#   - round trips of 50, 200 and 400 ms (RTTS), each with caps of 1, 4 and 16 MB/s per
#     connection on the way down (CAPS): 9 scenarios;
#   - one shared bottleneck: SHARED_CAP (8) MB/s for all connections together, at a round trip
#     of SHARED_RTT (100) ms. nginx then runs in a network namespace of its own whose loopback
#     is shaped by tc tbf; the relay (outside) adds the round trip and reaches nginx in there.
#     Where that cannot be set up, the relay's own shared token bucket does the shaping.
#     SHARED_CAP=0 leaves this scenario out.
# SIZE_MIB (64) is the file size at 4 MB/s per connection, scaled with the cap (16 MiB at 1 MB/s,
# 256 MiB at 16 MB/s); the shared bottleneck fetches SIZE_MIB x SHARED_CAP / 8. Each file is
# compared with the served one (size and bytes) after each download.
#
# The relay holds a new connection's first bytes as a real connect would: the first answer
# byte comes two round trips after the connect (HANDSHAKE=0: one). So the ideal time of a
# client with n connections is: handshake + 1 round trips + size / (n x cap), with n = 4 for
# ours and aria2c, 1 for curl; at the shared bottleneck: round trips + size / shared cap.
# Ratios are speed ratios (> 1: ours faster), from the engine's own time (what the driver
# prints as "finished ... in X s", without Wine's start-up); the driver's wall time is shown too.
# curl should come within a few % of its ideal everywhere (it shows the relay gives what it
# was asked); aria2c opens its other connections only once the first one has answered, so it
# stays 2 round trips (and its end game) short of its ideal.
#
# The relay and nginx run at a higher priority (as root): they stand for the far side, which
# takes no CPU from the client on a real link. The relay's CPU use is shown for each scenario.
# Installs what it needs (nginx, curl, aria2, iproute2, g++), builds the engine and its driver
# (WIN_BUILD: win32, the default, or win64) and the relay. Runs as root, or installs through
# sudo (then the shared bottleneck is the relay's). Takes about 6 minutes.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$ROOT/bench/lib.sh"
size_mib=${1:-64}
rtts=${RTTS:-50 200 400}
caps=${CAPS:-1 4 16}
shared_cap=${SHARED_CAP:-8}
shared_rtt=${SHARED_RTT:-100}
handshake=${HANDSHAKE:-1}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
# Direct connections only: WinINet in Wine, curl and aria2c all read these.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

# --- what it needs ---------------------------------------------------------------------------
"$ROOT/scripts/setup" >&2
bench_packages nginx curl aria2 iproute2 g++
build_engine_driver
relay=$(BUILD_DIR=$BUILD python3 "$ROOT/bench/relay/relay.py" build)

# --- files and servers -----------------------------------------------------------------------
work=$BUILD/bench/far_mirror
rm -rf "$work"
mkdir -p "$work/www" "$work/out" "$work/nginx/tmp" "$work/logs"
size_for() { echo $(( size_mib * $1 / 4 )); } # MiB at a cap of $1 MB/s per connection
shared_mib=$(( size_mib * shared_cap / 8 ))
largest=$shared_mib
for c in $caps; do [ "$(size_for "$c")" -gt "$largest" ] && largest=$(size_for "$c"); done
# Random bytes, so that nothing on the way can make the transfer cheaper than it is; the
# smaller files are the first bytes of the largest.
head -c "$((largest << 20))" /dev/urandom > "$work/www/$largest.bin"
for m in $shared_mib $(for c in $caps; do size_for "$c"; done); do
  [ -f "$work/www/$m.bin" ] || head -c "$((m << 20))" "$work/www/$largest.bin" > "$work/www/$m.bin"
done

relay_pid=""
ns=""
cleanup() {
  [ -z "$relay_pid" ] || kill "$relay_pid" 2>/dev/null || true
  for conf in "$work"/nginx/*.conf; do
    [ -f "$conf" ] && $sudo nginx -c "$conf" -s stop 2>/dev/null || true
  done
  [ -z "$ns" ] || $sudo ip netns del "$ns" 2>/dev/null || true
}
trap cleanup EXIT
plain_port=$(free_port)
nginx_conf "$work/nginx/plain.conf" "$work/nginx" "$work/nginx/plain.pid" \
  "server { listen 127.0.0.1:$plain_port; root $work/www; }"
nginx -c "$work/nginx/plain.conf"
nginx_pids() { local m; m=$(cat "$1"); echo "$m" $(pgrep -P "$m"); }

# The shared bottleneck: nginx alone in a network namespace whose loopback tbf shapes to
# SHARED_CAP MB/s (all packets, both ways: the way up carries only requests and ACKs).
shared_mode="tc tbf $shared_cap MB/s on the loopback of a network namespace with nginx in it"
shared_port=$(free_port)
ns=xldl-far-$$
# (The relay makes its sockets in there: that takes root.)
[ "$(id -u)" -eq 0 ] || echo "not root" > "$work/logs/netns.err"
if [ "$(id -u)" -eq 0 ] && ip netns add "$ns" 2>"$work/logs/netns.err" &&
   $sudo ip -n "$ns" link set lo up 2>>"$work/logs/netns.err" &&
   $sudo tc -n "$ns" qdisc add dev lo root tbf rate "$((shared_cap * 8))mbit" burst 128kb latency 20ms 2>>"$work/logs/netns.err"; then
  nginx_conf "$work/nginx/shaped.conf" "$work/nginx" "$work/nginx/shaped.pid" \
    "server { listen 127.0.0.1:$shared_port; root $work/www; }"
  $sudo ip netns exec "$ns" nginx -c "$work/nginx/shaped.conf"
  shared_target=(--target "127.0.0.1:$shared_port" --target-netns "$ns")
else
  shared_mode="the relay's shared token bucket, $shared_cap MB/s (no network namespace with tc here: $(tr '\n' ' ' < "$work/logs/netns.err"))"
  $sudo ip netns del "$ns" 2>/dev/null || true
  ns=""
  shared_target=(--target "127.0.0.1:$plain_port" --shared-rate "${shared_cap}m")
fi

start_relay() { # log name, relay args...
  local log=$work/logs/relay-$1.log; shift
  : > "$work/logs/relay.port"
  "$relay" "$@" --log --exit-with-parent >"$work/logs/relay.port" 2>"$log" &
  relay_pid=$!
  until [ -s "$work/logs/relay.port" ]; do
    kill -0 "$relay_pid" 2>/dev/null || { echo "the relay did not start: $(cat "$log")" >&2; exit 1; }
    sleep 0.05
  done
  relay_port=$(head -1 "$work/logs/relay.port")
  favour "$relay_pid"
}
# The relay and nginx stand for the far side and the network, which take no CPU from the
# client on a real link: given the CPU first, they cannot be what slows a client down here.
favour() { # pids...
  [ "$(id -u)" -eq 0 ] && renice -n -10 -p "$@" >/dev/null 2>&1 || true
}
stop_relay() {
  kill "$relay_pid" 2>/dev/null || true
  wait "$relay_pid" 2>/dev/null || true
  relay_pid=""
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

# Runs one download; sets t_<tool> (seconds, 0 on failure) and cpu_<tool> (the relay's CPU use
# meanwhile, % of one core). Checks the file against the served one.
run_tool() { # tool, file name, limit (s), command...
  local tool=$1 name=$2 limit=$3; shift 3
  local file=$work/out/$name start end c0 c1
  rm -f "$file" "$file.part" "$file.aria2"
  c0=$(cpu_ticks "$relay_pid"); start=$(now)
  if timeout "$limit" "$@" >"$work/logs/last.out" 2>&1; then
    end=$(now); c1=$(cpu_ticks "$relay_pid")
    if [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" = "$(stat -c %s "$work/www/$name")" ] &&
       cmp -s "$file" "$work/www/$name"; then
      printf -v "t_$tool" %s "$(calc %.3f "$end - $start")"
    else
      echo "  $tool: WRONG FILE ($(stat -c %s "$file" 2>/dev/null || echo none) bytes)" >&2
      printf -v "t_$tool" 0; failures=$((failures + 1))
    fi
    printf -v "cpu_$tool" %s "$(calc %.1f "($c1 - $c0) / $(getconf CLK_TCK) / ($end - $start) * 100")"
  else
    echo "  $tool: FAILED ($*): $(tail -2 "$work/logs/last.out" | tr '\n' ' ')" >&2
    printf -v "t_$tool" 0; printf -v "cpu_$tool" 0; failures=$((failures + 1))
  fi
  rm -f "$file"
}

failures=0
summary=()
# One scenario: the three tools through a relay started with the given arguments.
scenario() { # label, rtt (ms), size (MiB), ideal x4 (s), ideal x1 (s), relay args...
  local label=$1 rtt=$2 mib=$3 ideal4=$4 ideal1=$5; shift 5
  local name=$mib.bin bytes=$((mib << 20))
  start_relay "$(echo "$label" | tr -cs 'A-Za-z0-9' '_')" --delay-ms "$(calc %g "$rtt / 2")" "$@" $([ "$handshake" = 1 ] || echo --no-handshake)
  local url=http://127.0.0.1:$relay_port/$name
  local limit
  limit=$(calc %d "$ideal1 * 4 + 60")
  "$wine_run" --server-start # a running wineserver, as for any Windows program started twice
  run_tool ours "$name" "$limit" "$wine_run" "$driver" "$url" "Z:${work//\//\\}\\out" --quiet --timeout "$limit"
  local inner
  inner=$(tr -d '\r' < "$work/logs/last.out" | sed -n 's/^finished .* in \([0-9.]*\) s$/\1/p' | tail -1)
  [ "$t_ours" != 0 ] && t_inner=${inner:-0} || t_inner=0
  run_tool curl "$name" "$limit" curl -sS --noproxy '*' -o "$work/out/$name" "$url"
  run_tool aria "$name" "$limit" aria2c -q -x4 -s4 -k1M --file-allocation=none --allow-overwrite=true \
    --auto-file-renaming=false -d "$work/out" -o "$name" "$url"
  stop_relay
  local cpu
  cpu=$(printf '%s\n' "$cpu_ours" "$cpu_curl" "$cpu_aria" | sort -g | tail -1)
  mbs() { calc %.2f "($1 > 0) ? $bytes / $1 / 1e6 : 0"; }
  ratio() { calc %.2f "($2 > 0) ? $1 / $2 : 0"; }
  printf '%s: %d MiB; ideal %.2f s with 4 connections, %.2f s with one\n' "$label" "$mib" "$ideal4" "$ideal1"
  printf '  %-34s %8.2f s %7.2f MB/s  %5s of its ideal\n' \
    "our engine (xldl), engine's time" "$t_inner" "$(mbs "$t_inner")" "$(ratio "$ideal4" "$t_inner")" \
    "  the driver's wall time" "$t_ours" "$(mbs "$t_ours")" "$(ratio "$ideal4" "$t_ours")" \
    "curl" "$t_curl" "$(mbs "$t_curl")" "$(ratio "$ideal1" "$t_curl")" \
    "aria2c -x4 -s4 -k1M" "$t_aria" "$(mbs "$t_aria")" "$(ratio "$ideal4" "$t_aria")"
  printf '  speed ours/aria2c %s  ours/curl %s  ours/ideal %s   (relay CPU at most %s %% of a core)\n' \
    "$(ratio "$t_aria" "$t_inner")" "$(ratio "$t_curl" "$t_inner")" "$(ratio "$ideal4" "$t_inner")" "$cpu"
  summary+=("$(printf '%-26s %4d %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f | %6s %6s %6s | %6s %6s | %5s' \
    "$label" "$mib" "$t_inner" "$t_ours" "$t_curl" "$t_aria" "$ideal4" "$ideal1" \
    "$(ratio "$t_aria" "$t_inner")" "$(ratio "$t_curl" "$t_inner")" "$(ratio "$ideal4" "$t_inner")" \
    "$(ratio "$ideal1" "$t_curl")" "$(ratio "$ideal4" "$t_aria")" "$cpu")")
}

# --- the run ---------------------------------------------------------------------------------
favour $(nginx_pids "$work/nginx/plain.pid") $([ -z "$ns" ] || nginx_pids "$work/nginx/shaped.pid")
"$wine_run" cmd /c exit >/dev/null 2>&1 # the first start makes the prefix and the server
start=$(now)
"$wine_run" cmd /c exit >/dev/null 2>&1
wine_start=$(calc %.2f "$(now) - $start")
trips=$(( handshake == 1 ? 2 : 1 ))
echo "build: $WIN_BUILD, Wine $(wine_mode); $(nproc) cores; Wine start alone $wine_start s"
echo "$(curl --version | head -1 | cut -d' ' -f1-2), $(aria2c --version | head -1), $(nginx -v 2>&1 | sed 's/.*: //')"
echo "relay: one-way delay RTT/2 both ways, token bucket per connection on the way down;"
echo "  connect modelled: $([ "$handshake" = 1 ] && echo "yes, first answer byte 2 RTT after the connect" || echo "no (HANDSHAKE=0)")"
echo "ideal = $trips x RTT + size / (n x cap), n = 4 (ours, aria2c) or 1 (curl); shared: $trips x RTT + size / shared cap"
echo "ratios: speed ratios (> 1: ours faster), from the engine's own time (without Wine's start)"
echo "(aria2c opens its other 3 connections once the first one has answered: it starts 2 RTT late)"
echo

for rtt in $rtts; do
  for cap in $caps; do
    mib=$(size_for "$cap")
    ideal4=$(calc %.3f "$trips * $rtt / 1000 + $((mib << 20)) / (4 * $cap * 1e6)")
    ideal1=$(calc %.3f "$trips * $rtt / 1000 + $((mib << 20)) / ($cap * 1e6)")
    scenario "RTT $rtt ms, $cap MB/s/conn" "$rtt" "$mib" "$ideal4" "$ideal1" \
      --target "127.0.0.1:$plain_port" --rate "${cap}m"
  done
done
if [ "$shared_cap" -gt 0 ]; then
  ideal=$(calc %.3f "$trips * $shared_rtt / 1000 + $((shared_mib << 20)) / ($shared_cap * 1e6)")
  echo "shared bottleneck: $shared_mode"
  scenario "RTT $shared_rtt ms, $shared_cap MB/s shared" "$shared_rtt" "$shared_mib" "$ideal" "$ideal" \
    "${shared_target[@]}"
fi

echo
echo "summary ($WIN_BUILD, Wine $(wine_mode)); seconds; ours = the engine's own time, wall = the driver process"
printf '%-26s %4s %7s %7s %7s %7s %7s %7s | %6s %6s %6s | %6s %6s | %5s\n' \
  scenario MiB ours wall curl aria2c ideal4 ideal1 o/aria o/curl o/idl curl/i aria/i relay
printf '%s\n' "${summary[@]}"
echo "(o/aria, o/curl, o/idl: speed of ours over aria2c, curl, ideal x4; curl/i, aria/i: each tool over its"
echo " own ideal; relay: its CPU use at most, % of one core; total $(calc %.0f "$(now) - $start") s)"
[ "$failures" -eq 0 ] || { echo "$failures download(s) failed or differed" >&2; exit 1; }
