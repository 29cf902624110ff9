#!/bin/bash
# hash_speed.sh [MIB]
# SHA-256 of MIB (256) megabytes of random bytes, fed a megabyte at a time as the engine reads a
# file: our plain C++ code, our code with the processor's SHA extensions (where it has them) and
# the system's bcrypt, all in one program under Wine ($WIN_BUILD; WIN_BUILD=win64 for the x86_64
# build). Prints MB/s of each, best of three passes, and the ratios.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$ROOT/bench/lib.sh"
mib=${1:-256}

build_engine_driver hash_speed
echo "build: $WIN_BUILD, Wine $(wine_mode); SHA-256 of $mib MiB in pieces of 1 MiB"
"$wine_run" "$dir/bench/hash_speed/hash_speed.exe" "$mib"
