#!/usr/bin/env bash
# The desktop program's CPU use while its 3D view sits still: starts the program on a copy of
# the house sample on a virtual X display, clicks once in the 3D view, leaves the pointer
# resting there and reads the process's CPU time (every thread, the software renderer's
# included) over a number of seconds. Prints the share of one core. KEYS, pressed after the
# click (for example "Right"), measure the view while a key velocity turns the model instead.
# Usage: view3d_idle_cpu.sh MODRIN SAMPLE_FOLDER [SECONDS [KEYS]]
#        (needs xvfb-run and xdotool)
set -euo pipefail
modrin=$(realpath "$1")
sample=$2
seconds=${3:-10}
keys=${4:-}

session_lib=$(dirname "$(realpath "$0")")/../scripts/desktop_session.sh
source "$session_lib"
require_tools view3d_idle_cpu.sh "xvfb xdotool" xvfb-run xdotool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$sample" "$work/sample"
project=$(ls "$work"/sample/*.mpj | head -1)

cat >"$work/session.sh" <<'SESSION'
set -euo pipefail
source "$6"
# The 3D view of the default layout fills the window's lower right quarter.
start_modrin_window "$1" "$2" "$3"
sleep 3
xdotool mousemove 960 600 sleep 0.3 click 1
[ -z "$5" ] || xdotool key $5
sleep 1
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
before=$(ticks)
sleep "$4"
after=$(ticks)
kill $pid
awk -v t="$((after - before))" -v hz="$(getconf CLK_TCK)" -v s="$4" \
  'BEGIN { printf "%.1f %% of a core over %d s\n", 100 * t / hz / s, s }'
SESSION

xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/session.sh" "$work" "$modrin" "$project" \
  "$seconds" "$keys" "$session_lib"
