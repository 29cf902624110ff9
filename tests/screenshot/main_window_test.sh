#!/bin/bash
# main_window_test.sh PROGRAM.exe STAND-IN-xldl.dll OUT-DIR
# The tool's window on a real (virtual) X screen: centred on the desktop by its rule for a
# 1920x1080 screen, a desktop as wide as two of them, and one smaller than the window; and the
# download button's colours read back from the screen.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
root=$(realpath "$here/../..")
out=$3
mkdir -p "$out"
cp "$1" "$out/OrlenzDownloader.exe"
cp "$2" "$out/xldl.dll"
title='Orlenz软件完整安装包下载专用工具'
failed=0

shot() { # screen, name, expected "X,Y"
  local line
  line=$(SCREEN=$1 "$root/scripts/screenshot" "$out/OrlenzDownloader.exe" "$out/$2.png" "$title" 3 \
         2>"$out/$2.err" | grep '^window at') ||
    { echo "FAIL $1: no window: $(tr '\n' ' ' < "$out/$2.err")"; failed=1; return; }
  case "$line" in
    "window at $3 "*) echo "ok   $1: $line" ;;
    *) echo "FAIL $1: $line, expected at $3"; failed=1 ;;
  esac
}

shot 1920x1080 main-window 619,434
python3 "$here/window_pixels.py" "$out/main-window.png" || failed=1
shot 3840x1080 wide-desktop 1579,434
shot 640x180 small-desktop 0,0
exit $failed
