#!/bin/bash
# power_cut.sh [CUTS] [MiB]
# Power cuts through the engine: the cut test's engine table (tests/win/engine/power_cut_test.cpp)
# with CUTS seeds (100) on a file of MiB (4), each a run of xldl_driver under Wine into the
# power-cut layer (tools/powercut/), cut at the seed's moment, the disk left as a real one could
# be found, then a run after it. Prints the cuts made, wrong files, false "finished", the bytes
# a cut lost (served before it and not on the disk after it) against their bound (what was
# written since the flush before last, and one request per connection), and the bytes the run
# after it fetched beyond what was missing against theirs (one request per connection): the
# worst seed of each, and the worst ratio. Needs root and /dev/fuse.
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
  # seed N: MOMENT; lost A of at most B; then C more than was missing, at most D
  /^seed [0-9]+: / {
    seeds++
    if ($0 ~ /no cut/) next
    made++
    n = split($0, w, " "); lost = w[n - 13]; lbound = w[n - 9]; more = w[n - 7]; mbound = w[n]
    sub(";", "", lbound)
    if (lost > maxlost) { maxlost = lost; maxlostline = $0 }
    if (lbound > 0 && lost / lbound > lratio) { lratio = lost / lbound; lratioline = $0 }
    if (more > maxmore) { maxmore = more; maxmoreline = $0 }
    if (mbound > 0 && more / mbound > mratio) { mratio = more / mbound; mratioline = $0 }
  }
  /not whole|not the served one/ { wrong++ }
  /said finished for a file that is not whole/ { false_finished++ }
  /Failure/ { failures++ }
  END {
    printf "cuts made            %d of %d seeds (%d s)\n", made, seeds, took
    printf "wrong files          %d\n", wrong
    printf "false \"finished\"     %d\n", false_finished
    printf "failed checks        %d\n", failures
    printf "most lost to a cut   %s\n", maxlostline
    printf "worst against bound  %.2f: %s\n", lratio, lratioline
    printf "most fetched again   %s\n", maxmoreline
    printf "worst against bound  %.2f: %s\n", mratio, mratioline
  }' "$log"
echo "(whole output: $log)"
exit $status
