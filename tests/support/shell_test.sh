# Sourced by the end-to-end shell tests: strict mode, a scratch folder `$work` removed at exit
# that also holds the per-user data folder (so no test reads or writes the user's camera
# database), and fail().
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
