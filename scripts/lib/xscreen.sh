# A private Xvfb screen with Wine on it, and the windows on it: sourced by the scripts that
# show or photograph the program (screenshot, run). Needs common.sh first.

# The server is the native one for both builds: the 32-bit loader talks to it as well, and an
# emulated server would only be slower.
WINE_SERVER=/usr/lib/wine/wineserver64
if [ "$WIN_BUILD" = win64 ]; then WINE_LOADER=/usr/lib/wine/wine64; else WINE_LOADER=$WINE32_LOADER; fi

# Wine's settings for a prefix of the build tree that draws on X.
use_x11_prefix() { # prefix folder
  export WINEARCH=$WIN_BUILD WINEDEBUG=-all WINEPREFIX=$1
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  "$ROOT/scripts/wine-prefix" "$WINEPREFIX" "$WIN_BUILD" x11
  start_wine_desktop
  # The tool refuses installers of a lower version than the newest it verified: each script
  # starts with no such record, whichever installers ran in this prefix before (in the server
  # its programs use).
  "$WINE_LOADER" reg delete 'HKCU\Software\Orlenz\Downloader' /v NewestInstallerVersion /f \
    >/dev/null 2>&1 || true
}

# Starts this prefix's server (to stay 30 s after its last program) and its desktop, before any
# program of the script: Wine starts its desktop process with the first window a program makes
# and waits ten seconds for it, and a program still waiting then gets no window (on a loaded
# machine that emulates 32-bit code). The probe starts it and waits as long as it takes.
start_wine_desktop() {
  local probe=$BUILD/$WIN_BUILD/tests/win/window_probe.exe
  "$WINE_SERVER" -p30 2>/dev/null || true # ends with 2 where it runs already
  "$WINE_LOADER" "$probe" desktop </dev/null >/dev/null 2>&1 ||
    { echo "Wine's desktop takes no window in $WINEPREFIX ($probe)" >&2; return 1; }
}

# Starts Xvfb on a free display (SCREEN=WxH, 1920x1080 by default) and exports DISPLAY.
# XVFB_PID is its process. Xvfb takes the first free display itself and says which once it
# accepts connections, so that two scripts starting at once never share one.
start_xvfb() {
  local ready
  ready=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${SCREEN:-1920x1080}x24" -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 300); do
    if [ "$(wc -l < "$ready")" -ge 1 ]; then
      export DISPLAY=:$(head -1 "$ready")
      rm -f "$ready"
      return 0
    fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$ready"
  echo "Xvfb did not start" >&2
  return 1
}

stop_xvfb() {
  [ -n "${WINEPREFIX:-}" ] && "$WINE_SERVER" -k 2>/dev/null || true
  [ -n "${XVFB_PID:-}" ] && { kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; } || true
}

# The visible windows titled exactly $1 (names compared as the window manager reads them:
# xdotool's own name match misses titles outside Latin-1).
titled_windows() {
  local w
  for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && echo "$w"
  done
  return 0
}

# Waits for a window titled $1 that has a size (a program's application window of no size
# carries the same title and may come first) and prints the largest such: while the program
# of process $2 runs, however long it takes, and fails as soon as it has ended without one;
# without $2, up to 60 seconds. Polled, since Wine makes and drops windows while it starts.
wait_for_window() {
  local title=$1 program=${2:-} tries=300 w found
  while :; do
    found=$(for w in $(titled_windows "$title"); do
              xdotool getwindowgeometry --shell "$w" 2>/dev/null |
                awk -F= -v w="$w" '/^WIDTH/ {x=$2} /^HEIGHT/ {y=$2} END {if (x * y > 1) print x * y, w}'
            done | sort -n | tail -1 | cut -d' ' -f2)
    [ -n "$found" ] && { echo "$found"; return 0; }
    if [ -n "$program" ]; then
      kill -0 "$program" 2>/dev/null || { echo "the program ended without a window" >&2; return 1; }
    else
      tries=$((tries - 1))
      [ "$tries" -gt 0 ] || return 1
    fi
    sleep 0.2
  done
}

# Waits until no window titled $1 is visible (up to $2 seconds, 60).
wait_for_no_window() {
  for _ in $(seq $(( ${2:-60} * 5 ))); do
    [ -z "$(titled_windows "$1")" ] && return 0
    sleep 0.2
  done
  return 1
}

# Saves window $1 (or the whole screen for "root") as PNG $2; sets X, Y, WIDTH, HEIGHT.
# The whole screen cropped to the window: asking the X server for the window itself can stall
# on the unmanaged windows Wine makes here.
shoot_window() {
  local crop=() geometry
  if [ "$1" != root ]; then
    geometry=$(xdotool getwindowgeometry --shell "$1") || { echo "window $1 is gone" >&2; return 1; }
    eval "$geometry"
    crop=(-crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage)
  fi
  mkdir -p "$(dirname "$2")"
  timeout 60 import -display "$DISPLAY" -window root "${crop[@]}" "$2"
}

# A Linux path as Wine's Z: drive names it.
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
