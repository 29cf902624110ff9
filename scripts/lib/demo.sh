# The demo setting, shared by scripts/run and the benchmarks: the tool, our engine and the demo
# installer built for $WIN_BUILD (signed with the bench's test certificate in the maker's name,
# tools/signing/), a demo mirror serving the installer as setup.exe for both mirror hosts
# (reached through the proxy setting), and drive D: a folder of the build tree. The test root
# is trusted in the X prefix the tool runs in. Needs common.sh and xscreen.sh first.

DEMO_TITLE='Orlenz软件完整安装包下载专用工具'
DEMO_INSTALLER_TITLE='Orlenz软件安装程序'

demo_build() {
  local dir=$BUILD/$WIN_BUILD toolchain=mingw-i686
  [ "$WIN_BUILD" = win64 ] && toolchain=mingw-x86_64
  [ -f "$dir/CMakeCache.txt" ] ||
    cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain.cmake" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target orlenz_downloader xldl demo_installer_signed \
    trust_root window_probe >/dev/null
  DEMO_INSTALLER=$dir/tools/demo_installer/signed/setup.exe
  DEMO_SIGNING=$dir/signing
  DEMO_TRUST_ROOT=$dir/tools/trust_root/trust_root.exe
}

# Lays out $1: program/ (the tool and our engine), mirror/<host>/service/setup.exe, drive-d/.
# The mirror pauses $2 seconds half way through each transfer, so that progress can be seen.
demo_prepare() {
  local run=$1 pause=$2 dir=$BUILD/$WIN_BUILD host half
  DEMO_RUN=$run
  rm -rf "$run"
  mkdir -p "$run/program" "$run/drive-d" "$run/screenshots"
  cp "$dir/app/OrlenzDownloader.exe" "$dir/xldl/xldl.dll" "$run/program/"
  for host in dl1.orlenz.com dl2.orlenz.com; do
    mkdir -p "$run/mirror/$host/service"
    cp "$DEMO_INSTALLER" "$run/mirror/$host/service/setup.exe"
  done
  half=$(( $(stat -c %s "$DEMO_INSTALLER") / 2 ))
  printf '{"rules": [{"path": "/service/setup.exe", "fault": "pause", "bytes": %d, "seconds": %s, "times": -1}]}\n' \
    "$half" "$pause" > "$run/mirror-script.json"
}

# Starts the demo mirror (DEMO_MIRROR_PID) and points http_proxy at it.
demo_start_mirror() {
  local port
  mkfifo "$DEMO_RUN/mirror.out"
  python3 "$ROOT/tools/mirror/mirror.py" --root "$DEMO_RUN/mirror" --port 0 \
    --script "$DEMO_RUN/mirror-script.json" > "$DEMO_RUN/mirror.out" 2> "$DEMO_RUN/mirror.log" &
  DEMO_MIRROR_PID=$!
  read -r port < "$DEMO_RUN/mirror.out"
  (cat "$DEMO_RUN/mirror.out" > /dev/null &)
  export http_proxy=http://127.0.0.1:$port/
  DEMO_MIRROR_PORT=$port
}

demo_stop_mirror() {
  [ -n "${DEMO_MIRROR_PID:-}" ] && kill "$DEMO_MIRROR_PID" 2>/dev/null || true
}

# Starts the tool in an X prefix whose drive D: is the run's folder (DEMO_TOOL_PID).
demo_start_tool() {
  use_x11_prefix "$BUILD/$WIN_BUILD/wine-prefix-x11"
  ln -sfn "$DEMO_RUN/drive-d" "$WINEPREFIX/dosdevices/d:"
  local root=$DEMO_SIGNING/root.der
  "$WINE_LOADER" "$DEMO_TRUST_ROOT" add "Z:${root//\//\\}" </dev/null >/dev/null 2>&1
  (cd "$DEMO_RUN/program" && exec env LC_ALL=zh_CN.UTF-8 "$WINE_LOADER" OrlenzDownloader.exe \
     </dev/null >"$DEMO_RUN/tool.log" 2>&1) &
  DEMO_TOOL_PID=$!
}

# Presses the download button of the tool's window $1.
demo_press_button() {
  # The button fills client (48, 104) to (585, 153), under the caption bar.
  xdotool mousemove --window "$1" 300 150 click 1
}
