#!/bin/bash
# binary_size.sh [VARIANT...]
# What each build setting and each dependency costs in the shipped binaries, the exe and the
# engine DLL (32-bit, stripped as the package ships them). Builds the two in a tree of their
# own per variant (build/bench/size/VARIANT) and prints their sizes, the ratio of each
# variant to the shipped one and to the budget (tools/release/size_report.py's; the goal is
# 600 KB), then what the shipped binaries are made of, by origin and by kind, from the
# linker's maps.
#
# Variants (all by default):
#   shipped   as the package builds them (-Os, a section per function, unused ones dropped,
#             optimised at link time, the Win32-threads C++ runtime)
#   O2        -O2 instead of -Os
#   no-gc     without sections per function and --gc-sections
#   O2-no-gc  both: how the Windows build was made before
#   no-lto    shipped without link-time optimisation
#   posix-runtime  shipped with the compiler's own C++ runtime (POSIX threads: winpthreads)
#   no-async  shipped with -fno-asynchronous-unwind-tables (unwind tables only where a C++
#             exception may pass)
# (The engine is always built without exceptions and unwind tables: xldl/CMakeLists.txt.)
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
source "$ROOT/scripts/lib/release.sh"

variants=("$@")
[ ${#variants[@]} -gt 0 ] || variants=(shipped O2 no-gc O2-no-gc no-lto posix-runtime no-async)
"$ROOT/scripts/setup" >/dev/null

args_of() { # variant: its cmake arguments beside the release build's
  case $1 in
    shipped) ;;
    O2) echo "-DSHIPPED_OPTIMIZATION=-O2" ;;
    no-gc) echo "-DSHIPPED_GC_SECTIONS=OFF" ;;
    O2-no-gc) echo "-DSHIPPED_OPTIMIZATION=-O2 -DSHIPPED_GC_SECTIONS=OFF" ;;
    no-lto) echo "-DSHIPPED_LTO=OFF" ;;
    posix-runtime) echo "-DSHIPPED_WIN32_RUNTIME=OFF" ;;
    no-async) echo "-DCMAKE_CXX_FLAGS=-fno-asynchronous-unwind-tables" \
                   "-DCMAKE_C_FLAGS=-fno-asynchronous-unwind-tables" ;;
    *) echo "binary_size: unknown variant $1" >&2; return 1 ;;
  esac
}

work=$BUILD/bench/size
mkdir -p "$work"
declare -A exe dll
for v in "${variants[@]}"; do
  extra=$(args_of "$v")
  say "building $v"
  dir=$work/$v
  rm -rf "$dir"
  # shellcheck disable=SC2086 # the variant's arguments are words
  cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUN_WINDOWS_TESTS=OFF $extra >/dev/null
  if ! cmake --build "$dir" -j "${JOBS:-$(nproc)}" --target orlenz_downloader xldl >"$dir.log" 2>&1; then
    echo "binary_size: $v does not build (see $dir.log)" >&2
    continue
  fi
  mkdir -p "$dir/stripped"
  for b in "${RELEASE_BINARIES[@]}"; do
    [ -f "$dir/$b" ] || continue
    "$OBJCOPY" --strip-all "$dir/$b" "$dir/stripped/$(basename "$b")"
  done
  exe[$v]=$(stat -c %s "$dir/stripped/OrlenzDownloader.exe" 2>/dev/null || echo 0)
  dll[$v]=$(stat -c %s "$dir/stripped/xldl.dll")
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
base=${exe[shipped]:+$((exe[shipped] + dll[shipped]))}
budget=$(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import size_report; print(size_report.BUDGET)' "$ROOT/tools/release")
echo
printf '%-14s %12s %12s %12s %10s %10s %10s\n' variant exe dll together "/shipped" \
       "dll/ship" "/budget"
for v in "${variants[@]}"; do
  [ -n "${dll[$v]:-}" ] || continue
  total=$((exe[$v] + dll[$v]))
  vs=- dvs=- vb=-
  if [ "${exe[$v]}" -gt 0 ]; then
    [ -z "$base" ] || vs=$(ratio "$total" "$base")
    vb=$(ratio "$total" "$budget")
  fi
  [ -z "$base" ] || dvs=$(ratio "${dll[$v]}" "${dll[shipped]}")
  printf '%-14s %12s %12d %12s %10s %10s %10s\n' "$v" "${exe[$v]/#0/-}" "${dll[$v]}" \
         "$([ "${exe[$v]}" -gt 0 ] && echo "$total" || echo -)" "$vs" "$dvs" "$vb"
done
if [ -n "${exe[shipped]:-}" ]; then
  echo
  python3 "$ROOT/tools/release/size_by_origin.py" "$work/shipped/tools/release/OrlenzDownloader.map" \
          "$work/shipped/tools/release/xldl.map"
fi
