#!/bin/bash
# display_scale_test.sh PROGRAM.exe ENGINE-xldl.dll SIGNED-DIR TRUST-ROOT.exe SIGNING-CERTS
#                       WINDOW-PROBE.exe REFERENCE.png OUT-DIR
# The tool's window at 96, 120, 144 and 192 dots per inch (DPIS) on a 1920x1080 Xvfb screen, in
# a Wine prefix of its own whose display setting it changes (Wine reads it when a program
# starts), the whole job with our engine and the mirror at each scale:
#  1. as it opens: centred, its client area scaled with the controls (the client size at 96
#     times the controls' factor), no scroll bar, every control inside the client area, the
#     caption's icon of the system's size, the button's caption whole and centred
#     (scaled_window.py, with window_probe's facts); at 96 the picture must equal
#     REFERENCE.png;
#  2. a real click on the button while the mirror resets every connection: the engine gives
#     up (in 3 s) and the status line says the network failed, one of the widest texts, which
#     must stand wholly left of the size text's box (status_line.py, scaled);
#  3. the mirror well again, a real click: the installer saved and started, exit code 0.
# The installer is the maker's signed stand-in from SIGNED-DIR; the code-signing test root of
# SIGNING-CERTS is trusted in the prefix with TRUST-ROOT.exe.
# Leaves the pictures and the probes' facts in OUT-DIR/display-scale.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
root=$(realpath "$here/../..")
source "$root/scripts/lib/common.sh"
source "$root/scripts/lib/xscreen.sh"
program=$(realpath "$1") engine=$(realpath "$2") installer=$(realpath "$3/good.exe")
trust_root=$(realpath "$4") certs=$(realpath "$5")
probe=$(realpath "$6") reference=$(realpath "$7")
out=$(realpath -m "$8")/display-scale
rm -rf "$out"
mkdir -p "$out/tool" "$out/drive-d" "$out/mirror/service"
cp "$program" "$out/tool/OrlenzDownloader.exe"
cp "$engine" "$out/tool/xldl.dll"
cp "$probe" "$out/window_probe.exe"
cp "$installer" "$out/mirror/service/setup.exe"
title='Orlenz软件完整安装包下载专用工具'

mirror_pid=
cleanup() {
  [ -n "$mirror_pid" ] && kill "$mirror_pid" 2>/dev/null || true
  stop_xvfb
}
trap cleanup EXIT
SCREEN=1920x1080 start_xvfb
# Not the screenshot tests' prefix: its display setting must stay at 96 for them.
use_x11_prefix "${X11_DPI_PREFIX:-$BUILD/$WIN_BUILD/wine-prefix-x11-dpi}"
ln -sfn "$out/drive-d" "$WINEPREFIX/dosdevices/d:"
"$WINE_LOADER" "$trust_root" add "$(winpath "$certs/root.der")" </dev/null >/dev/null 2>&1 ||
  { echo "FAIL the code-signing test root could not be trusted"; exit 1; }
wine_env() { env LC_ALL=zh_CN.UTF-8 "$WINE_LOADER" "$@"; }
set_dpi() {
  wine_env reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    >/dev/null 2>&1
}

mkfifo "$out/mirror.out"
python3 "$root/tools/mirror/mirror.py" --root "$out/mirror" --port 0 > "$out/mirror.out" \
  2> "$out/mirror.log" &
mirror_pid=$!
read -r port < "$out/mirror.out"
(cat "$out/mirror.out" > /dev/null &)
mirror_script() { # JSON
  python3 - "$port" "$1" <<'EOF'
import sys, urllib.request
request = urllib.request.Request(f"http://127.0.0.1:{sys.argv[1]}/_mirror/script",
                                 data=sys.argv[2].encode(), method="POST")
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
sys.exit(opener.open(request, timeout=30).read() != b"ok\n")
EOF
}

fact() { awk -v k="$1" '$1 == k { print $2 }' "$2"; }
# The pointer where it touches nothing of the window: the button tracks it.
pointer_away() { xdotool mousemove 0 0; }
# A real click on the middle of the button, as window_probe placed it on the screen.
click_button() { # probe file
  local ox oy bx by bw bh
  read -r ox oy < <(awk '$1 == "client_origin" { print $2, $3 }' "$1")
  read -r bx by bw bh < <(awk '$1 == "control" && $2 == "TRzButton" { print $3, $4, $5, $6 }' "$1")
  xdotool mousemove $((ox + bx + bw / 2)) $((oy + by + bh / 2)) click 1
  pointer_away
}

start_tool() {
  (cd "$out/tool" && exec env LC_ALL=zh_CN.UTF-8 http_proxy="http://127.0.0.1:$port/" \
     XLDL_GIVE_UP_MS=3000 "$WINE_LOADER" OrlenzDownloader.exe </dev/null >/dev/null 2>&1) &
  tool=$!
}
visible_windows() {
  local w
  for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    printf '[%s] ' "$(xdotool getwindowname "$w" 2>/dev/null)"
  done
}

failed=0
designed=
# A scale whose checks stop half-way (a shell error aborts the loop, not the script) must not
# pass: each one that ran to its end is counted.
finished=0
for dpi in ${DPIS:-96 120 144 192}; do
  set_dpi "$dpi"
  rm -rf "${out:?}/drive-d"/*
  mirror_script '{"rules": [{"fault": "reset", "times": -1}]}'
  facts=$out/$dpi.probe
  window=
  for attempt in 1 2; do
    start_tool
    window=$(wait_for_window "$title" "$tool") && break
    code=0; wait "$tool" || code=$?
    # A tool still ending from the scale before holds the one-tool lock: the new one defers
    # to it and ends. Said, and tried once more.
    echo "note $dpi dpi: the tool ended (exit code $code) without a window;" \
         "windows: $(visible_windows); tools: $(pgrep -fc 'OrlenzDownloader' || true)"
  done
  if [ -z "$window" ]; then
    echo "FAIL $dpi dpi: no window"; failed=1
    continue
  fi
  pointer_away
  sleep 2
  # Its lines end in CR LF.
  (cd "$out" && wine_env window_probe.exe 2>/dev/null | tr -d '\r' > "$facts") || true

  # 1. As it opens.
  shoot_window "$window" "$out/$dpi.png"
  args=()
  if [ "$dpi" = 96 ]; then
    designed=$(awk '$1 == "client" { print $2, $3 }' "$facts")
    args=(--reference "$reference")
  elif [ -n "$designed" ]; then
    args=(--designed-client $designed)
  fi
  if python3 "$here/scaled_window.py" "$out/$dpi.png" "$facts" "${args[@]}" > "$out/$dpi.txt" 2>&1
  then
    echo "ok   $dpi dpi: $(head -1 "$out/$dpi.txt"); $(grep '^button' "$out/$dpi.txt")"
  else
    echo "FAIL $dpi dpi:"; sed 's/^/     /' "$out/$dpi.txt"; failed=1
  fi

  # 2. The network fails.
  if [ -z "$(fact client_origin "$facts")" ]; then
    echo "FAIL $dpi dpi: no facts of the window"; failed=1
  else
    click_button "$facts"
    ok=
    for _ in $(seq 120); do
      shoot_window "$window" "$out/$dpi-failed.png"
      if STATUS_TEXT_HEIGHT=$(fact control_scale "$facts") python3 "$here/status_line.py" \
           "$out/$dpi-failed.png" failed-bare "$(fact network_failure_width "$facts")" \
           > "$out/$dpi-failed.txt" 2>&1; then
        ok=1; break
      fi
      sleep 0.5
    done
    if [ -n "$ok" ]; then
      echo "ok   $dpi dpi, network failure: $(head -1 "$out/$dpi-failed.txt")"
    else
      echo "FAIL $dpi dpi, network failure:"; sed 's/^/     /' "$out/$dpi-failed.txt"; failed=1
    fi

    # 3. The whole job.
    mirror_script '{}'
    click_button "$facts"
  fi
  code=0
  timeout 120 tail --pid="$tool" -f /dev/null || { echo "FAIL $dpi dpi: the tool did not end"; failed=1; kill "$tool" 2>/dev/null || true; }
  wait "$tool" || code=$?
  wait_for_no_window "$title" 30 || true
  korva=$(find "$out/drive-d" -maxdepth 1 -iname korva | head -1)
  started=${korva:-$out/drive-d/KORVA}/setup-started.txt
  for _ in $(seq 50); do [ -f "$started" ] && break; sleep 0.2; done
  if [ "$code" = 0 ] && [ -f "$started" ] && cmp -s "$korva/setup.exe" "$installer"; then
    echo "ok   $dpi dpi, whole job: clicked, the installer saved and started, exit code 0"
  else
    echo "FAIL $dpi dpi, whole job: exit code $code, started: $([ -f "$started" ] && echo yes || echo no)"
    failed=1
  fi
  finished=$((finished + 1))
done
set_dpi 96
scales=(${DPIS:-96 120 144 192})
if [ "$finished" != "${#scales[@]}" ]; then
  echo "FAIL only $finished of ${#scales[@]} scales were checked to the end"; failed=1
fi
exit $failed
