#!/usr/bin/env bash
# Makes the README's picture of the main window: starts the program on a copy of a sample on
# a virtual X display, waits until the photos are loaded and drawn, and saves the screen.
# Usage: screenshot.sh MODRIN SAMPLE_FOLDER OUT.png   (needs xvfb-run, xdotool, imagemagick)
set -euo pipefail
modrin=$(realpath "$1")
sample=$2
out=$(realpath -m "$3")

for tool in xvfb-run xdotool import; do
  command -v $tool >/dev/null || {
    echo "screenshot.sh: $tool is missing (apt-get install xvfb xdotool imagemagick)" >&2
    exit 1
  }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$sample" "$work/sample"
project=$(ls "$work"/sample/*.mpj | head -1)

cat >"$work/session.sh" <<'SESSION'
set -euo pipefail
export HOME=$1 XDG_CONFIG_HOME=$1/config XDG_DATA_HOME=$1/data
"$2" "$3" >"$1/modrin.log" 2>&1 &
pid=$!
for _ in $(seq 150); do
  window=$(xdotool search --onlyvisible --name '^Modrin$' 2>/dev/null | head -1) &&
    [ -n "$window" ] && break
  sleep 0.1
done
# No window manager: place the window at the screen's corner at the size a user would give it.
xdotool windowmove "$window" 0 0 windowsize "$window" 1280 800
sleep 2
import -window root -crop 1280x800+0+0 "$4"
kill $pid
SESSION

xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/session.sh" "$work" "$modrin" "$project" "$out"
echo "Wrote $out"
