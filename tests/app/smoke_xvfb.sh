#!/usr/bin/env bash
# Starts the real program on a virtual display, takes a screenshot of it and
# checks that the window was up. Skips (exit 77) without xvfb-run or import.
#   smoke_xvfb.sh <corvane> <screenshot.png>
set -u
program=$1
shot=$2
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not found: skipped"; exit 77; }
command -v import >/dev/null 2>&1 || { echo "import (ImageMagick) not found: skipped"; exit 77; }
demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
mkdir -p "$demo/references"
rm -f "$shot"
# The test suite runs with QT_QPA_PLATFORM=offscreen; this test needs the real X display.
# Recovery files go to the temporary folder: none of the user's is offered here.
XDG_STATE_HOME="$demo/state" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
  "$1" --demo "$2" &
  pid=$!
  sleep 4
  if ! kill -0 "$pid" 2>/dev/null; then echo "the program ended early"; exit 1; fi
  import -window root "$3" || exit 1
  kill "$pid"
  wait "$pid" 2>/dev/null
  exit 0
' smoke "$program" "$demo" "$shot" || exit 1
[ -s "$shot" ] || { echo "no screenshot"; exit 1; }
# The window's light grey covers a good part of the otherwise black screen.
mean=$(convert "$shot" -colorspace Gray -format "%[fx:mean]" info:)
echo "screenshot $shot, mean brightness $mean"
awk -v m="$mean" 'BEGIN { exit !(m > 0.2) }' || { echo "the screenshot shows no window"; exit 1; }
