#!/bin/bash
# failed_window_test.sh PROGRAM.exe REPORTING-STAND-IN-xldl.dll ENGINE-xldl.dll SIGNED-DIR
#                       TRUST-ROOT.exe SIGNING-CERTS OUT-DIR
# The tool's window on a real (virtual) X screen when downloads fail for good, or their
# installer is not started, pressed with real input (xdotool):
#  1. over a stand-in engine that declares failure reporting: the first task fails with one
#     of the longest texts, which must stand clear of the size text; a press starts the next
#     task, which fails with "not on this mirror"; a press again, and the short working text
#     must be back with nothing of the failure text left beside it (the label is transparent
#     over the form);
#  2. the stand-in again, its tasks finishing: the first with an installer changed after it
#     was signed (refused and deleted), the next with one the shell cannot start; each text
#     must stand clear of the size text;
#  3. the whole job with our engine, which is given both mirrors: neither has the installer
#     (404). The status line must read as in step 1's "not on this mirror" picture, pixel for
#     pixel; then mirror 2 gets the installer, one press fetches it from there, the installer
#     is checked and started and the tool ends with 0.
# SIGNED-DIR holds the signed stand-in installers (tools/signing/sign_test_installers.py);
# the code-signing test root of SIGNING-CERTS is trusted in the X prefix with TRUST-ROOT.exe.
# Leaves the pictures in OUT-DIR.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
root=$(realpath "$here/../..")
source "$root/scripts/lib/common.sh"
source "$root/scripts/lib/xscreen.sh"
program=$(realpath "$1") stand_in=$(realpath "$2") engine=$(realpath "$3") signed=$(realpath "$4")
trust_root=$(realpath "$5") certs=$(realpath "$6")
out=$(realpath -m "$7")
run=$out/failed-window
rm -rf "$run"
mkdir -p "$run/stand-in" "$run/engine" "$run/drive-d/KORVA" "$run/mirror/dl2.orlenz.com/service"
cp "$program" "$run/stand-in/OrlenzDownloader.exe"
cp "$stand_in" "$run/stand-in/xldl.dll"
cp "$program" "$run/engine/OrlenzDownloader.exe"
cp "$engine" "$run/engine/xldl.dll"
title='Orlenz软件完整安装包下载专用工具'

# Task 1: half a megabyte, then failed (ErrorNetwork). Task 2: a tick, then not on this mirror
# (ErrorHttpStatus). Task 3 downloads.
{
  echo "query 1 3 3670016 524288"
  echo "query 1 5 3670016 524288 6"
  echo "query 1 3 3670016 524288"
  echo "query 1 5 3670016 524288 2"
  for _ in $(seq 60); do echo "query 1 3 3670016 1048576"; done
} > "$run/script.txt"

mirror_pid=
cleanup() {
  [ -n "$mirror_pid" ] && kill "$mirror_pid" 2>/dev/null || true
  stop_xvfb
}
trap cleanup EXIT
start_xvfb
use_x11_prefix "${X11_PREFIX:-$BUILD/$WIN_BUILD/wine-prefix-x11}"
ln -sfn "$run/drive-d" "$WINEPREFIX/dosdevices/d:"
"$WINE_LOADER" "$trust_root" add "$(winpath "$certs/root.der")" </dev/null >/dev/null 2>&1 ||
  { echo "FAIL the code-signing test root could not be trusted"; exit 1; }

window=
press() { xdotool mousemove --window "$window" 300 150 click 1; }
# Shoots until the picture passes the check (the ticks come once a second), at most $3 s.
# $4: the status text's width in pixels, as the window tests measure it under Wine.
shoot_until() { # name, mode, seconds, width
  local tries=$(( $3 * 2 ))
  for _ in $(seq "$tries"); do
    shoot_window "$window" "$out/$1.png"
    if python3 "$here/status_line.py" "$out/$1.png" "$2" ${4:-} > "$run/$1.txt"; then
      echo "ok   $1: $(head -1 "$run/$1.txt")"
      return 0
    fi
    sleep 0.5
  done
  echo "FAIL $1:"; sed 's/^/     /' "$run/$1.txt"
  return 1
}
# The picture $1 with its status line as in picture $2.
same_status() {
  if python3 "$here/status_line.py" "$out/$1.png" same "$out/$2.png" > "$run/$1-same.txt"; then
    echo "ok   $1: $(tail -1 "$run/$1-same.txt")"
  else
    echo "FAIL $1:"; sed 's/^/     /' "$run/$1-same.txt"
    return 1
  fi
}

# The tool over the stand-in engine, scripted by $run/script.txt (tool, window); the server
# and its desktop first, killed with the tool before.
start_stand_in() {
  start_wine_desktop
  (cd "$run/stand-in" && exec env LC_ALL=zh_CN.UTF-8 STANDIN_SCRIPT="$(winpath "$run/script.txt")" \
     "$WINE_LOADER" OrlenzDownloader.exe </dev/null >/dev/null 2>&1) &
  tool=$!
  window=$(wait_for_window "$title" "$tool") || { echo "FAIL no window"; exit 1; }
  sleep 1
}

failed=0
start_stand_in
press
shoot_until failed-long failed 30 264 || failed=1
# The same window's client origin, for the pictures where the button is disabled.
export STATUS_ORIGIN_FROM=$out/failed-long.png
press
shoot_until failed-not-here failed 30 252 || failed=1
press
shoot_until retried working 30 90 || failed=1
kill "$tool" 2>/dev/null || true
"$WINE_SERVER" -k 2>/dev/null || true
wait "$tool" 2>/dev/null || true

# Finished tasks whose installer is not started. Task 1 finds one changed after signing;
# task 2 one that the shell cannot start; the test puts each in place before the press.
{
  echo "query 1 3 3670016 524288"
  echo "query 1 4 3670016 3670016"
  echo "query 1 3 3670016 524288"
  echo "query 1 4 3670016 3670016"
} > "$run/script.txt"
installer=$run/drive-d/KORVA/setup.exe
cp "$signed/tampered.exe" "$installer"
start_stand_in
press
shoot_until refused failed 90 216 || failed=1
if [ -e "$installer" ]; then echo "FAIL refused: the installer is still there"; failed=1; fi
cp "$signed/not-a-program.exe" "$installer"
press
shoot_until start-failed failed 90 144 || failed=1
[ -e "$installer" ] || { echo "FAIL start-failed: a good installer was deleted"; failed=1; }
kill "$tool" 2>/dev/null || true
"$WINE_SERVER" -k 2>/dev/null || true
wait "$tool" 2>/dev/null || true
rm -f "$installer"

# The whole job with our engine.
mkfifo "$run/mirror.out"
python3 "$root/tools/mirror/mirror.py" --root "$run/mirror" --port 0 > "$run/mirror.out" \
  2> "$run/mirror.log" &
mirror_pid=$!
read -r port < "$run/mirror.out"
(cat "$run/mirror.out" > /dev/null &)
start_wine_desktop
(cd "$run/engine" && exec env LC_ALL=zh_CN.UTF-8 http_proxy="http://127.0.0.1:$port/" \
   "$WINE_LOADER" OrlenzDownloader.exe </dev/null >/dev/null 2>&1) &
tool=$!
window=$(wait_for_window "$title" "$tool") || { echo "FAIL no window of the whole job"; exit 1; }
sleep 1
press
if shoot_until job-failed failed-bare 30 252; then
  same_status job-failed failed-not-here || failed=1
else
  failed=1
fi
cp "$signed/good.exe" "$run/mirror/dl2.orlenz.com/service/setup.exe"
press
code=0
timeout 60 tail --pid="$tool" -f /dev/null || { echo "FAIL the tool did not end"; failed=1; }
wait "$tool" || code=$?
# The tool makes the folder as "KOrva"; Wine finds it whatever the case.
korva=$(find "$run/drive-d" -maxdepth 1 -iname korva | head -1)
started=${korva:-$run/drive-d/KORVA}/setup-started.txt
for _ in $(seq 50); do [ -f "$started" ] && break; sleep 0.2; done
if [ "$code" = 0 ] && [ -f "$started" ] &&
   cmp -s "$korva/setup.exe" "$run/mirror/dl2.orlenz.com/service/setup.exe"; then
  echo "ok   job: mirror 2's installer saved and started, exit code 0"
else
  echo "FAIL job: exit code $code, started: $([ -f "$started" ] && echo yes || echo no)"
  failed=1
fi
exit $failed
