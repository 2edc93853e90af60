#!/usr/bin/env bash
# The web page of the calibrated house sample as `modrin-cli web` writes it, checked in headless
# Chromium by tests/js/web_page_check.js from its folder (file://) and over HTTP; its .glb passes
# Khronos' validator with textures within the maximum side, and a lower quality gives a smaller
# model. A second page, on a canvas that follows the browser window, with a horizontal range
# across the back and a site address full of quotes and tags, still works from its folder.
# Skipped (status 77) only when Node.js or Chromium is not installed.
source "$(dirname "$0")/support/shell_test.sh"
cli=$1
checker=$3
if ! command -v node >/dev/null || [ ! -x /usr/bin/chromium ]; then
  echo "Node.js or Chromium is not installed: skipped"
  exit 77
fi
cp -r "$2" "$work/house"
"$cli" calibrate --all "$work/house/house.mpj" >/dev/null
# A blank in the folder's name, which the page's URLs must survive.
mkdir "$work/web page" "$work/low" "$work/site"
web() { "$cli" web "$@" >/dev/null; }
web --background 1428c8 --h-range -40,40 --v-range 0,60 --max-texture 128 --quality 90 \
  "$work/house/house.mpj" "$work/web page/house.html"
node "$checker" "$work/web page/house.html" 1428c8 -40,40 0,60 400x300 128 both
web --max-texture 128 --quality 10 "$work/house/house.mpj" "$work/low/house.html"
high=$(stat -c %s "$work/web page/house.glb")
low=$(stat -c %s "$work/low/house.glb")
[ "$low" -lt "$high" ] || fail "quality 10 gives $low bytes, quality 90 $high"

web --background c814b4 --h-range 100,260 --v-range -10,30 --size 0x0 \
  --url 'http://example.com/a"b</script><script>alert(1)</script>' \
  "$work/house/house.mpj" "$work/site/house.html"
node "$checker" "$work/site/house.html" c814b4 100,260 -10,30 900x700 0 file
echo "web_page: all checks passed"
