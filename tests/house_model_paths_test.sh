#!/usr/bin/env bash
# Runs the road of `make run` on a copy of the house sample opened by a relative path, from the
# copy's parent folder: every texture the model files name must be a file that exists, the
# MTL's map_Kd lines read from the MTL's own folder and the VRML's URLs as file:/// URLs.
source "$(dirname "$0")/support/shell_test.sh"
cli=$1
sample=$2

cp -r "$sample" "$work/house"
cd "$work"
"$cli" calibrate --all house/house.mpj >/dev/null
"$cli" export house/house.mpj house/house.obj >/dev/null
"$cli" export house/house.mpj house/house.wrl >/dev/null

# Leave the folder, so that nothing resolves against the one the commands ran in.
cd /
maps=$(grep '^map_Kd ' "$work/house/house.mtl" | cut -c8-)
[ -n "$maps" ] || fail "the MTL names no texture"
while read -r map; do
  case $map in /*) path=$map ;; *) path=$work/house/$map ;; esac
  [ -f "$path" ] || fail "map_Kd $map names no file"
done <<<"$maps"

urls=$(grep -o 'url "[^"]*"' "$work/house/house.wrl" | sed 's/^url "//; s/"$//')
[ -n "$urls" ] || fail "the VRML names no texture"
while read -r url; do
  case $url in file:///*) ;; *) fail "$url is not a file:/// URL" ;; esac
  [ -f "${url#file://}" ] || fail "$url names no file"
done <<<"$urls"
echo "house_model_paths: all checks passed"
