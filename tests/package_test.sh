#!/usr/bin/env bash
# Checks the Debian package: what it holds, that its Depends were computed, that the programs
# run from an unpacked copy, and that lintian, desktop-file-validate and appstreamcli find no
# error in it.
source "$(dirname "$0")/support/shell_test.sh"
deb=$(realpath "$1")
sample=$(realpath "$2")

[ -f "$deb" ] || fail "no package at $deb"
dpkg-deb -x "$deb" "$work/root"
root=$work/root

for f in usr/bin/modrin usr/bin/modrin-cli usr/share/modrin/Cameras.txt \
  usr/share/modrin/help/Modrin.html usr/share/applications/modrin.desktop \
  usr/share/icons/hicolor/scalable/apps/modrin.svg usr/share/icons/hicolor/48x48/apps/modrin.png \
  usr/share/icons/hicolor/256x256/apps/modrin.png usr/share/mime/packages/modrin.xml \
  usr/share/metainfo/io.github.modrin.Modrin.metainfo.xml usr/share/man/man1/modrin.1.gz \
  usr/share/man/man1/modrin-cli.1.gz usr/share/doc/modrin/copyright \
  usr/share/doc/modrin/changelog.gz; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done

# Depends come from dpkg-shlibdeps: the libraries the programs link, with versions.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libjpeg62-turbo libpng16-16 libtiff6 libexif12 libc6; do
  grep -q "$lib (>= " <<<"$depends" || fail "Depends lacks $lib"
done
# The window system plugins are loaded at run time; the package names them itself.
grep -q "qt6-qpa-plugins" <<<"$depends" || fail "Depends lacks qt6-qpa-plugins"

# The unpacked programs run; the CLI opens the sample with its photos.
"$root/usr/bin/modrin-cli" --version | grep -q '^modrin-cli 3.0$' || fail "modrin-cli --version"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/modrin" --version |
  grep -q '^Modrin 3.0$' || fail "modrin --version"
cp -r "$sample" "$work/house"
info=$("$root/usr/bin/modrin-cli" info "$work/house/house.mpj")
grep -q '^Positions: 10 ' <<<"$info" || fail "modrin-cli info on the sample: $info"
grep -q ', 1600 x 1200 pixels, ' <<<"$info" || fail "the sample's photos did not load"

desktop-file-validate "$root/usr/share/applications/modrin.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.modrin.Modrin.metainfo.xml" ||
  fail "AppStream metadata"
lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$work/lintian.txt" ||
  fail "lintian reports errors"
