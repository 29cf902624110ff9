# Shared by the scripts: where things are, and which Windows architecture the tests run as.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}

# The program is 32-bit Windows. Where this kernel cannot run 32-bit Linux programs there is
# no 32-bit Wine, so the same sources are also built for x86_64 and run under 64-bit Wine.
if [ -z "${TEST_ARCH:-}" ]; then
  if "$ROOT/scripts/lib/can-run-i386"; then TEST_ARCH=win32; else TEST_ARCH=win64; fi
fi
export TEST_ARCH

say() { printf '\033[1m== %s\033[0m\n' "$*"; }
