# Shared by the scripts: where things are, and which Windows build they run.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}

# The program is 32-bit Windows, and the tests, the run script and the benchmarks run the
# 32-bit build under 32-bit Wine (emulated where the machine runs no 32-bit code). WIN_BUILD
# =win64 picks the x86_64 build of the same sources instead, for engine benchmarks at native
# speed on such machines.
WIN_BUILD=${WIN_BUILD:-win32}
case "$WIN_BUILD" in win32|win64) ;; *) echo "WIN_BUILD is win32 or win64" >&2; exit 1 ;; esac
export WIN_BUILD
WINE32_LOADER=/usr/lib/wine/wine

say() { printf '\033[1m== %s\033[0m\n' "$*"; }

# "native" or "emulated by qemu-i386" for the 32-bit build; "native" for the 64-bit one.
wine_mode() { # build
  local entry=/proc/sys/fs/binfmt_misc/qemu-i386
  if [ "${1:-$WIN_BUILD}" = win32 ] && [ -f "$entry" ] && grep -q '^enabled' "$entry"; then
    echo "emulated by qemu-i386"
  else
    echo native
  fi
}
