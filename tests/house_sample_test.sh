#!/usr/bin/env bash
# Checks the bundled house sample: the generator writes it again byte for byte (the same files,
# the same bytes), and modrin-cli info opens it with every photo loaded with its EXIF camera,
# the ground and eave corners real and every wall and roof edge present.
source "$(dirname "$0")/support/shell_test.sh"
cli=$1
make_house=$2
sample=$3

mkdir "$work/house"
"$make_house" "$work/house" >/dev/null
diff <(cd "$sample" && ls) <(cd "$work/house" && ls) || fail "the generator writes other files"
for f in "$sample"/*; do
  cmp "$f" "$work/house/$(basename "$f")" || fail "$(basename "$f") differs from the generator's output"
done

photos=$(grep -c '^photo ' "$sample/truth.txt")
[ "$photos" -ge 5 ] || fail "truth.txt lists $photos photos"
info=$("$cli" info "$sample/house.mpj")
echo "$info"
[ "$(grep -c ', 1600 x 1200 pixels, camera "Modrin House Camera", focal ' <<<"$info")" = "$photos" ] ||
  fail "not every photo loaded with its camera"
# Each photo's focal length as its EXIF block gives it, in the order of truth.txt.
while read -r _ name _ _ _ _ _ _ focal; do
  mm=$(LC_ALL=C awk -v f="$focal" 'BEGIN { printf "%.2f", f * 1000 }')
  grep -q "^Photo [0-9]*: \(.*/\)\?$name, .*, focal $mm mm, not calibrated$" <<<"$info" ||
    fail "$name is not listed with focal $mm mm, not calibrated"
done < <(grep '^photo ' "$sample/truth.txt")
grep -q '^Positions: 10 (8 real, 0 computed)$' <<<"$info" || fail "position counts"
grep -q '^Edges: 15$' <<<"$info" || fail "edge count"
grep -q '^Objects: 1$' <<<"$info" || fail "object count"
echo "house_sample: all checks passed"
