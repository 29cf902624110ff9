#!/bin/bash
# power_cut.sh [CUTS] [MiB]
# Power cuts through the engine: the cut test's engine table (tests/win/engine/power_cut_test.cpp)
# with CUTS seeds (100) on a file of MiB (4), each a run of xldl_driver under Wine into the
# power-cut layer (tools/powercut/), cut at the seed's moment, the disk left as a real one could
# be found, then a run after it. Prints the cuts made, wrong files, false "finished", and the
# bytes fetched again against their bound (what was unflushed at the cut, and one request per
# connection): the worst seed, and the worst ratio. Needs root and /dev/fuse.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$ROOT/bench/lib.sh"
cuts=${1:-100}
size_mib=${2:-4}

"$ROOT/scripts/setup" >/dev/null
build_engine_driver power_cut_test
"$wine_run" --server-start
log=$BUILD/bench/power_cut.log
mkdir -p "$(dirname "$log")"

echo "build: $WIN_BUILD, Wine $(wine_mode); $cuts cuts of a $size_mib MiB download"
start=$(date +%s)
status=0
XLDL_CUTS=$cuts XLDL_CUT_BYTES=$((size_mib << 20)) \
  python3 "$ROOT/tools/mirror/with_mirror.py" python3 "$ROOT/tools/powercut/with_power_cut.py" \
  "$wine_run" "$dir/tests/win/engine/power_cut_test.exe" \
  --gtest_filter='PowerCut.AfterEveryCutOfTheEngine*' >"$log" 2>&1 || status=$?
[ "$status" -eq 77 ] && { grep -m1 skipped "$log"; exit 1; }
awk -v took=$(( $(date +%s) - start )) '
  /^seed [0-9]+: / {
    seeds++
    if ($0 ~ /no cut/) next
    made++
    n = split($0, w, " "); again = w[n - 4]; bound = w[n]
    if (again > most) { most = again; mostline = $0 }
    if (bound > 0 && again / bound > ratio) { ratio = again / bound; ratioline = $0 }
  }
  /not whole|not the served one/ { wrong++ }
  /said finished for a file that is not whole/ { false_finished++ }
  /Failure/ { failures++ }
  END {
    printf "cuts made           %d of %d seeds (%d s)\n", made, seeds, took
    printf "wrong files         %d\n", wrong
    printf "false \"finished\"    %d\n", false_finished
    printf "failed checks       %d\n", failures
    printf "most fetched again  %s\n", mostline
    printf "worst against bound %.2f: %s\n", ratio, ratioline
  }' "$log"
echo "(whole output: $log)"
exit $status
