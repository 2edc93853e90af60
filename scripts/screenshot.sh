#!/usr/bin/env bash
# Makes the README's picture of the main window: starts the program on a copy of a sample on
# a virtual X display, waits until the photos are loaded and drawn, and saves the screen.
# With MODRIN_CLI the copy is calibrated first, and the 3D view is fitted and turned a little so
# that it shows the textured model from the side.
# Usage: screenshot.sh MODRIN SAMPLE_FOLDER OUT.png [MODRIN_CLI]
#        (needs xvfb-run, xdotool, imagemagick)
set -euo pipefail
modrin=$(realpath "$1")
sample=$2
out=$(realpath -m "$3")
cli=${4:+$(realpath "$4")}

session_lib=$(dirname "$(realpath "$0")")/desktop_session.sh
source "$session_lib"
require_tools screenshot.sh "xvfb xdotool imagemagick" xvfb-run xdotool import
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$sample" "$work/sample"
project=$(ls "$work"/sample/*.mpj | head -1)
if [ -n "$cli" ]; then
  "$cli" calibrate --all "$project" >"$work/calibrate.log" || {
    cat "$work/calibrate.log" >&2
    exit 1
  }
fi

cat >"$work/session.sh" <<'SESSION'
set -euo pipefail
source "$6"
start_modrin_window "$1" "$2" "$3"
sleep 2
if [ "$5" = turn ]; then
  # The 3D view fills the lower right quarter: fit the model to the view's final size (Home),
  # then drag a little to the left and down.
  xdotool mousemove 960 600 sleep 0.3 key Home sleep 0.5
  xdotool mousedown 1 mousemove_relative -- -28 10 sleep 0.2 mouseup 1 mousemove 1279 799
  sleep 1
fi
import -window root -crop 1280x800+0+0 "$4"
kill $pid
SESSION

xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/session.sh" "$work" "$modrin" "$project" "$out" \
  "${cli:+turn}" "$session_lib"
echo "Wrote $out"
