# Shared by the scripts that run the desktop program on a virtual X display; sourced, not run.

# Fails with a message naming the Debian packages when a tool is missing.
require_tools() {
  local script=$1 packages=$2
  shift 2
  for tool in "$@"; do
    command -v "$tool" >/dev/null || {
      echo "$script: $tool is missing (apt-get install $packages)" >&2
      exit 1
    }
  done
}

# Inside the virtual display: starts MODRIN on PROJECT with HOME as its home and settings
# folder, waits for its window and places it at the screen's corner at 1280 x 800, as a user
# would size it (there is no window manager). Sets `pid` and `window`.
start_modrin_window() {
  local home=$1 modrin=$2 project=$3
  export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data
  "$modrin" "$project" >"$home/modrin.log" 2>&1 &
  pid=$!
  for _ in $(seq 150); do
    window=$(xdotool search --onlyvisible --name '^Modrin$' 2>/dev/null | head -1) &&
      [ -n "$window" ] && break
    sleep 0.1
  done
  xdotool windowmove "$window" 0 0 windowsize "$window" 1280 800
}
