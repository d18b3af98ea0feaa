#!/usr/bin/env bash
# The install step puts the program, its icons, its desktop entry, its AppStream metadata, the
# manual pages and the README where a desktop and man find them: installs the build tree given
# as $1 into a temporary prefix and checks each file.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail=0
for f in bin/marrowline share/applications/marrowline.desktop \
         share/icons/hicolor/scalable/apps/marrowline.svg \
         share/marrowline/icons/marrowline-choice.svg share/marrowline/icons/marrowline-client.svg \
         share/marrowline/icons/marrowline-server.svg share/doc/marrowline/README.md \
         share/metainfo/org.marrowline.marrowline.metainfo.xml share/man/man1/marrowline.1.gz \
         share/man/man1/linesim.1.gz share/man/man1/mllog.1.gz; do
  [ -s "$prefix/$f" ] || { echo "missing: $f"; fail=1; }
done
[ -x "$prefix/bin/marrowline" ] || { echo "bin/marrowline is not executable"; fail=1; }
entry=$prefix/share/applications/marrowline.desktop
grep -qx 'Exec=marrowline %F' "$entry" || { echo "desktop entry: wrong Exec"; fail=1; }
grep -qx 'Icon=marrowline' "$entry" || { echo "desktop entry: wrong Icon"; fail=1; }
for svg in "$prefix"/share/icons/hicolor/scalable/apps/*.svg "$prefix"/share/marrowline/icons/*.svg; do
  head -c 200 "$svg" | grep -q '<svg' || { echo "not an SVG: $svg"; fail=1; }
done
# Each manual page is one that man can show under its program's name.
for page in marrowline linesim mllog; do
  MANPATH=$prefix/share/man man -w "$page" 2>/dev/null | grep -q "^$prefix/" ||
    { echo "man $page: not found under the prefix"; fail=1; }
done
[ $fail -eq 0 ] && echo "install: all files in place"
exit $fail
