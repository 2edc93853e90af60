#!/usr/bin/env bash
# The desktop program killed while editing: on a copy of the house sample a click in a photo
# view adds a position, the recovery copy is written, the program is killed with SIGKILL. The
# next start offers the copy; Yes, Ctrl+S and File > Exit must leave the house with the new
# position saved and no recovery copy behind.
source "$(dirname "$0")/support/shell_test.sh"
modrin=$1
cli=$2
sample=$3

for tool in xvfb-run xdotool xprop; do
  command -v $tool >/dev/null || fail "$tool is not installed"
done

cp -r "$sample" "$work/house"
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
export XDG_RUNTIME_DIR=$work/runtime MODRIN_RECOVERY_INTERVAL_MS=300
mkdir -m 700 "$work/runtime"
recovery=$work/state/modrin/recovery

cat >"$work/session.sh" <<'SESSION'
set -euo pipefail
modrin=$1 project=$2 work=$3 recovery=$4
say() { echo "$*" >&2; }

# The main window (mapped, a normal window), or the question shown over it.
main_window() {
  for shown in $(xdotool search --onlyvisible --name '^Modrin$' 2>/dev/null); do
    xprop -id "$shown" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DIALOG || { echo "$shown"; return; }
  done
}
dialog_window() {
  for shown in $(xdotool search --onlyvisible --name '^Modrin$' 2>/dev/null); do
    xprop -id "$shown" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DIALOG && { echo "$shown"; return; }
  done
}
wait_for() {  # wait_for FUNCTION: its output, within 15 s
  local found=
  for _ in $(seq 150); do
    found=$($1) && [ -n "$found" ] && { echo "$found"; return; }
    sleep 0.1
  done
}

# First session: one click in the top left photo view (the sky of the house's first photo,
# where no mark is) adds a position; the copy follows within the interval.
"$modrin" "$project" >"$work/first.log" 2>&1 &
pid=$!
window=$(wait_for main_window)
[ -n "$window" ] || { say "no Modrin window"; kill $pid; exit 1; }
# No window manager runs here: give the window the keyboard focus directly.
xdotool windowfocus --sync "$window"
sleep 0.5
for _ in 1 2 3; do
  xdotool mousemove --window "$window" 212 127 click 1
  for _ in $(seq 30); do
    [ -n "$(ls -A "$recovery" 2>/dev/null)" ] && break 2
    sleep 0.1
  done
done
[ -n "$(ls -A "$recovery" 2>/dev/null)" ] || { say "no recovery copy was written"; kill $pid; exit 1; }
# Let the worker finish its rename before the kill (the copy is written atomically anyway).
sleep 0.5
kill -9 $pid
wait $pid 2>/dev/null || true

# Second session: the offer, answered Yes.
"$modrin" "$project" >"$work/second.log" 2>&1 &
pid=$!
asked=$(wait_for dialog_window)
[ -n "$asked" ] || { say "no recovery offer"; kill $pid; exit 1; }
for _ in $(seq 5); do
  xdotool windowfocus --sync "$asked" 2>/dev/null || true
  sleep 0.2
  xdotool key y
  sleep 0.5
  [ -z "$(dialog_window)" ] && break
done
[ -z "$(dialog_window)" ] || { say "the offer did not take Yes"; kill $pid; exit 1; }
window=$(main_window)
xdotool windowfocus --sync "$window"
sleep 0.3
before=$(stat -c %Y.%s "$project")
for _ in 1 2 3; do
  xdotool key ctrl+s
  for _ in $(seq 30); do
    [ "$(stat -c %Y.%s "$project")" != "$before" ] && break 2
    sleep 0.1
  done
done
# File > Exit: saved, so no question, and the program ends.
for _ in 1 2 3; do
  xdotool key alt+f
  sleep 0.5
  xdotool key x
  for _ in $(seq 30); do
    kill -0 $pid 2>/dev/null || break 2
    sleep 0.1
  done
  xdotool key Escape
done
if kill -0 $pid 2>/dev/null; then say "the program did not end"; kill $pid; exit 1; fi
wait $pid
SESSION

xvfb-run -a -s "-screen 0 1400x950x24" bash "$work/session.sh" "$modrin" "$work/house/house.mpj" \
  "$work" "$recovery" || { cat "$work"/*.log >&2; fail "the session failed"; }

# The saved house is the sample with the one position the click added, in the house's object.
"$cli" --cameras "$sample/../../data/Cameras.txt" info "$work/house/house.mpj" >"$work/info" ||
  fail "the saved project does not open"
grep -q '^Positions: 11 (8 real, 0 computed)$' "$work/info" || fail "$(grep Positions "$work/info")"
grep -q '^Edges: 15$' "$work/info" || fail "the edges changed: $(grep Edges "$work/info")"
grep -q 'Vertices: 1 2 3 4 5 6 7 8 9 10 11$' "$work/house/house.mpj" ||
  fail "the new position is not in the house's object"
[ -z "$(ls -A "$recovery")" ] || fail "recovery copies left: $(ls "$recovery")"
