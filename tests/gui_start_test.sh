#!/usr/bin/env bash
# Starts the desktop program on a copy of the house sample on a virtual X display, waits for
# its window, then quits as a user does (File > Exit, "No" to the save question) and checks
# that it ended cleanly, stored its layout and left the project file alone.
source "$(dirname "$0")/support/shell_test.sh"
modrin=$1
sample=$2

for tool in xvfb-run xdotool; do
  command -v $tool >/dev/null || fail "$tool is not installed"
done
# Without a display the program says so instead of aborting; --help and --version need none.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$modrin" --version) ||
  fail "--version failed without a display"
[ "$version" = "Modrin 3.0" ] || fail "--version printed '$version'"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$modrin" --help | grep -q '\[project\]' ||
  fail "--help does not show the project argument"
if env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$modrin" 2>"$work/err"; then
  fail "started without a display"
fi
grep -q '^modrin: no display' "$work/err" || fail "no message without a display"

cp -r "$sample" "$work/house"
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$work/runtime"
before=$(sha256sum "$work/house/house.mpj")

cat >"$work/session.sh" <<'SESSION'
set -euo pipefail
"$1" "$2" >"$3/modrin.log" 2>&1 &
pid=$!
window=
for _ in $(seq 150); do
  # Only a mapped window can take the focus.
  window=$(xdotool search --onlyvisible --name '^Modrin$' 2>/dev/null | head -1) &&
    [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "no Modrin window" >&2; kill $pid; exit 1; }
# No window manager runs here: give the window the keyboard focus directly.
xdotool windowfocus --sync "$window"
sleep 0.5
# File > Exit. The project named on the command line counts as modified, so the program asks
# first, in a dialog of the same title. A program still busy with its first drawing (a
# slow sanitizer build) may miss the keys: they are given again until the question shows.
asked=
for _ in 1 2 3; do
  xdotool key alt+f
  sleep 0.5
  xdotool key x
  for _ in $(seq 50); do
    for shown in $(xdotool search --onlyvisible --name '^Modrin$' 2>/dev/null); do
      # The menu's popup has the title too; the question is the dialog.
      xprop -id "$shown" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DIALOG && asked=$shown
    done
    [ -n "$asked" ] && break
    sleep 0.1
  done
  [ -n "$asked" ] && break
  xdotool key Escape
done
[ -n "$asked" ] || { echo "no save question" >&2; kill $pid; exit 1; }
# "No", given to the question itself (without a window manager a new window may not have the
# keyboard focus yet), again while the program runs on.
for _ in $(seq 5); do
  xdotool windowfocus --sync "$asked" 2>/dev/null
  sleep 0.2
  xdotool key n
  for _ in $(seq 20); do
    kill -0 $pid 2>/dev/null || break 2
    sleep 0.1
  done
done
if kill -0 $pid 2>/dev/null; then echo "the program did not end" >&2; kill $pid; exit 1; fi
wait $pid
SESSION

xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/session.sh" "$modrin" "$work/house/house.mpj" "$work" ||
  { cat "$work/modrin.log" >&2; fail "the session failed"; }
[ "$(sha256sum "$work/house/house.mpj")" = "$before" ] || fail "the project file was changed"
grep -q '^Config="\?(' "$work/config/Modrin/Modrin.conf" || fail "the layout was not stored"
