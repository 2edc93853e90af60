#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that everything a user or a desktop
# needs is in its place, and that the installed camera database reads to its end.
source "$(dirname "$0")/support/shell_test.sh"
build=$1
gui=$2

cmake --install "$build" --prefix "$work/prefix" >/dev/null
share=$work/prefix/share
expected=(bin/modrin-cli share/modrin/Cameras.txt share/man/man1/modrin-cli.1.gz
  share/doc/modrin/copyright)
if [ "$gui" = 1 ]; then
  expected+=(bin/modrin share/applications/modrin.desktop
    share/icons/hicolor/scalable/apps/modrin.svg share/mime/packages/modrin.xml
    share/modrin/help/Modrin.html share/modrin/help/GettingStarted.html
    share/icons/hicolor/16x16/apps/modrin.png share/icons/hicolor/256x256/apps/modrin.png
    share/metainfo/io.github.modrin.Modrin.metainfo.xml share/man/man1/modrin.1.gz)
fi
for f in "${expected[@]}"; do
  [ -e "$work/prefix/$f" ] || fail "$f is not installed"
done

if [ "$gui" = 1 ]; then
  grep -q '^Exec=modrin %f$' "$share/applications/modrin.desktop" || fail "desktop entry's Exec"
  grep -q '^MimeType=application/x-modrin-project;$' "$share/applications/modrin.desktop" ||
    fail "desktop entry's MIME type"
  grep -q '<glob pattern="\*.mpj"/>' "$share/mime/packages/modrin.xml" || fail "MIME glob"
fi

# The installed programs run from the prefix: the CLI reads the installed camera database.
"$work/prefix/bin/modrin-cli" --version >/dev/null || fail "the installed modrin-cli does not run"
