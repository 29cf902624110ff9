#!/bin/bash
# install_delay.sh [RUNS]
# The whole job on the demo mirror under Xvfb, RUNS times (3): how long after the installer is
# complete under its final name the tool has it started, and how much CPU the tool uses while
# it only polls (the mirror holds the transfer for ten seconds half way).
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$ROOT/scripts/lib/xscreen.sh"
source "$ROOT/scripts/lib/demo.sh"
runs=${1:-3}
hz=$(getconf CLK_TCK)

"$ROOT/scripts/setup"
demo_build
trap 'demo_stop_mirror; stop_xvfb' EXIT
start_xvfb
export DEMO_INSTALLER_CLOSE_MS=2000

echo "build: $WIN_BUILD, Wine $(wine_mode)"
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

for i in $(seq "$runs"); do
  demo_prepare "$BUILD/bench/delay" 10
  demo_start_mirror
  demo_start_tool
  window=$(wait_for_window "$DEMO_TITLE") || { echo "no window" >&2; exit 1; }
  sleep 1
  demo_press_button "$window"
  # Polling only: the mirror holds the transfer.
  sleep 3
  pid=$(pgrep -n -f "OrlenzDownloader.exe$" || true)
  [ -n "$pid" ] || { echo "the tool is not running"; ls -la "$DEMO_RUN/drive-d"/* ; cat "$DEMO_RUN/tool.log"; exit 1; }
  before=$(cpu_ticks "$pid")
  sleep 5
  after=$(cpu_ticks "$pid")
  cpu=$(echo "($after - $before) * 100 / $hz / 5" | bc -l)
  marker=$DEMO_RUN/drive-d/KOrva/installer-started.txt # made under that name
  for _ in $(seq 300); do [ -s "$marker" ] && break; sleep 0.1; done
  [ -s "$marker" ] || { echo "the installer did not start" >&2; exit 1; }
  wait "$DEMO_TOOL_PID" || true
  # Complete under its final name: the rename is the file's last status change.
  complete=$(stat -c %.3Z "$DEMO_RUN/drive-d/KOrva/setup.exe")
  started=$(date -d "$(cut -d' ' -f1,2 "$marker")" +%s.%N)
  printf 'run %d: installer started %.3f s after the file was complete; tool CPU while polling %.2f %% (%d clock ticks of 1/%d s in 5 s)\n' \
    "$i" "$(echo "$started - $complete" | bc -l)" "$cpu" "$((after - before))" "$hz"
  demo_stop_mirror
  rm -f "$DEMO_RUN/mirror.out"
done
echo "(the tool polls once a second, so the delay lies between the shell's start time and that plus one second)"
