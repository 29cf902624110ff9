#!/bin/bash
# display_scale_test.sh PROGRAM.exe REPORTING-STAND-IN-xldl.dll ENGINE-xldl.dll MARKER-SETUP.exe
#                       WINDOW-PROBE.exe REFERENCE.png OUT-DIR
# The tool's window at 96, 120, 144 and 192 dots per inch (DPIS) on a 1920x1080 Xvfb screen, in
# a Wine prefix of its own whose display setting it changes (Wine reads it when a program
# starts). At each scale:
#  1. over a stand-in engine that declares failure reporting: the window centred, its client
#     area scaled with the controls (the client size at 96 times the font's text height / 12),
#     no scroll bar, every control inside the client area, the caption's icon of the system's
#     size, the button's caption whole and centred (scaled_window.py, with window_probe's
#     facts); at 96 the picture must equal REFERENCE.png. Then a real click on the button: the
#     task fails with one of the widest failure texts, which must end a full character short
#     of the size text (status_line.py, scaled);
#  2. the whole job with our engine and the mirror: a real click on the button, the installer
#     saved and started, the tool ends with 0.
# Leaves the pictures and the probes' facts in OUT-DIR/display-scale.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
root=$(realpath "$here/../..")
source "$root/scripts/lib/common.sh"
source "$root/scripts/lib/xscreen.sh"
program=$(realpath "$1") stand_in=$(realpath "$2") engine=$(realpath "$3") marker=$(realpath "$4")
probe=$(realpath "$5") reference=$(realpath "$6")
out=$(realpath -m "$7")/display-scale
rm -rf "$out"
mkdir -p "$out/stand-in" "$out/engine" "$out/drive-d" "$out/mirror/service"
cp "$program" "$out/stand-in/OrlenzDownloader.exe"
cp "$stand_in" "$out/stand-in/xldl.dll"
cp "$program" "$out/engine/OrlenzDownloader.exe"
cp "$engine" "$out/engine/xldl.dll"
cp "$probe" "$out/window_probe.exe"
cp "$marker" "$out/mirror/service/setup.exe"
title='Orlenz软件完整安装包下载专用工具'
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# One task: a tick downloading, then failed for good with ErrorNetwork, whose text is as long
# as any.
{
  echo "query 1 3 3670016 524288"
  echo "query 1 5 3670016 524288 6"
} > "$out/script.txt"

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
"$WINE_SERVER" -p30
wine_env() { env LC_ALL=zh_CN.UTF-8 "$WINE_LOADER" "$@"; }
set_dpi() {
  wine_env reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    >/dev/null 2>&1
}
# The pointer where it touches nothing of the window: the button tracks it.
pointer_away() { xdotool mousemove 0 0; }
# A real click on the middle of the button, as window_probe placed it on the screen.
click_button() { # probe file
  python3 - "$1" <<'EOF' | xargs xdotool mousemove
import sys
facts = {}
for line in open(sys.argv[1], encoding="latin-1"):
    w = line.split()
    if w and w[0] == "control":
        if w[1] == "TRzButton":
            button = list(map(int, w[2:6]))
    elif w:
        facts[w[0]] = list(map(int, w[1:]))
x, y = facts["client_origin"]
print(x + button[0] + button[2] // 2, y + button[1] + button[3] // 2)
EOF
  xdotool click 1
}
# Waits until the tool's window shows and has painted; WINDOW is its X window.
await_window() { # what
  window=$(wait_for_window "$title" 180) || { echo "FAIL $1: no window"; return 1; }
  pointer_away
  sleep 2
}
# The probe's facts about the window, into $1.
probe() {
  (cd "$out" && wine_env window_probe.exe > "$1" 2>/dev/null) || { echo "FAIL probe: $(cat "$1")"; return 1; }
}
stop_tool() {
  kill "$tool" 2>/dev/null || true
  wait "$tool" 2>/dev/null || true
  wait_for_no_window "$title" 30 || true
}

mkfifo "$out/mirror.out"
python3 "$root/tools/mirror/mirror.py" --root "$out/mirror" --port 0 > "$out/mirror.out" \
  2> "$out/mirror.log" &
mirror_pid=$!
read -r port < "$out/mirror.out"
(cat "$out/mirror.out" > /dev/null &)

failed=0
designed=
for dpi in ${DPIS:-96 120 144 192}; do
  set_dpi "$dpi"
  # The stand-in's window: its layout, then the widest failure text.
  (cd "$out/stand-in" && exec env LC_ALL=zh_CN.UTF-8 STANDIN_SCRIPT="$(winpath "$out/script.txt")" \
     "$WINE_LOADER" OrlenzDownloader.exe </dev/null >/dev/null 2>&1) &
  tool=$!
  if ! await_window "$dpi"; then failed=1; stop_tool; continue; fi
  probe "$out/$dpi.probe" || { failed=1; stop_tool; continue; }
  shoot_window "$window" "$out/$dpi.png"
  args=()
  if [ "$dpi" = 96 ]; then
    read -r _ cw ch < <(grep '^client ' "$out/$dpi.probe")
    designed="$cw $ch"
    args=(--reference "$reference")
  elif [ -n "$designed" ]; then
    args=(--designed-client $designed)
  fi
  if python3 "$here/scaled_window.py" "$out/$dpi.png" "$out/$dpi.probe" "${args[@]}" \
       > "$out/$dpi.txt"; then
    echo "ok   $dpi dpi: $(head -1 "$out/$dpi.txt"); $(sed -n 2p "$out/$dpi.txt")"
  else
    echo "FAIL $dpi dpi:"; sed 's/^/     /' "$out/$dpi.txt"; failed=1
  fi
  text_height=$(awk '$1 == "control_scale" { print $2 }' "$out/$dpi.probe")
  click_button "$out/$dpi.probe"
  pointer_away
  ok=
  for _ in $(seq 40); do
    shoot_window "$window" "$out/$dpi-failed.png"
    if STATUS_TEXT_HEIGHT=$text_height python3 "$here/status_line.py" "$out/$dpi-failed.png" \
         failed > "$out/$dpi-failed.txt"; then
      ok=1; break
    fi
    sleep 0.5
  done
  if [ -n "$ok" ]; then
    echo "ok   $dpi dpi, widest failure text: $(head -1 "$out/$dpi-failed.txt")"
  else
    echo "FAIL $dpi dpi, widest failure text:"; sed 's/^/     /' "$out/$dpi-failed.txt"; failed=1
  fi
  stop_tool

  # The whole job with our engine.
  rm -rf "$out/drive-d"/*
  (cd "$out/engine" && exec env LC_ALL=zh_CN.UTF-8 http_proxy="http://127.0.0.1:$port/" \
     "$WINE_LOADER" OrlenzDownloader.exe </dev/null >/dev/null 2>&1) &
  tool=$!
  if ! await_window "$dpi, whole job" || ! probe "$out/$dpi-job.probe"; then
    failed=1; stop_tool; continue
  fi
  click_button "$out/$dpi-job.probe"
  code=0
  timeout 120 tail --pid="$tool" -f /dev/null || { echo "FAIL $dpi dpi: the tool did not end"; failed=1; }
  wait "$tool" || code=$?
  korva=$(find "$out/drive-d" -maxdepth 1 -iname korva | head -1)
  started=${korva:-$out/drive-d/KORVA}/setup-started.txt
  for _ in $(seq 50); do [ -f "$started" ] && break; sleep 0.2; done
  if [ "$code" = 0 ] && [ -f "$started" ] && cmp -s "$korva/setup.exe" "$out/mirror/service/setup.exe"; then
    echo "ok   $dpi dpi, whole job: clicked, the installer saved and started, exit code 0"
  else
    echo "FAIL $dpi dpi, whole job: exit code $code, started: $([ -f "$started" ] && echo yes || echo no)"
    failed=1
  fi
done
set_dpi 96
exit $failed
