#!/usr/bin/env bash
# Runs modrin-cli on the bundled sample: info lists every photo loaded, resave writes the same
# bytes under a German locale as under C, and the sample generator still writes the committed
# sample byte for byte.
source "$(dirname "$0")/support/shell_test.sh"
cli=$1
make_sample=$2
sample=$3

info=$("$cli" info "$sample/sample.mpj")
echo "$info"
[ "$(grep -c ', 800 x 600 pixels, ' <<<"$info")" = 3 ] || fail "not every photo loaded"
grep -q '^Positions: 8 (4 real, 0 computed)$' <<<"$info" || fail "position counts"
grep -q '^Edges: 12$' <<<"$info" || fail "edge count"

LC_ALL=C "$cli" resave "$sample/sample.mpj" "$work/c.mpj" >/dev/null
LC_ALL=de_DE.UTF-8 "$cli" resave "$sample/sample.mpj" "$work/de.mpj" >/dev/null
cmp "$work/c.mpj" "$work/de.mpj" || fail "the German locale changed the written file"

mkdir "$work/sample"
"$make_sample" "$work/sample"
for f in "$sample"/*; do
  cmp "$f" "$work/sample/$(basename "$f")" || fail "$(basename "$f") differs from the generator's output"
done
echo "cli_sample: all checks passed"
