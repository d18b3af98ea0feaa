#!/usr/bin/env bash
# Checks a built Debian package as a distribution would: lintian (no errors, no warnings; an
# override needs a written reason in packaging/lintian-overrides), appstreamcli on its AppStream
# metadata, desktop-file-validate on its desktop entry, and man on each manual page. Prints what
# each found and a one-line summary; exits with 1 when anything failed.
#
#   scripts/package-check.sh build/marrowline_1.0.0_amd64.deb
set -euo pipefail
deb=${1:?usage: package-check.sh FILE.deb}
[ -f "$deb" ] || { echo "package-check: no such file: $deb" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/package-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
root=$work/root
fail=0

# lintian: every tag it shows by default (errors and warnings) is a failure.
if lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1; then
    echo "lintian: clean"
else
    sed 's/^/lintian: /' "$work/lintian.txt"
    fail=1
fi

metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
if [ ! -f "${metainfo[0]}" ]; then
    echo "appstream: no metainfo file in the package"
    fail=1
elif appstreamcli validate --no-net --pedantic "${metainfo[@]}" >"$work/appstream.txt" 2>&1 &&
        ! grep -qE '^[EWIP]:' "$work/appstream.txt"; then
    echo "appstream: clean"
else
    sed 's/^/appstream: /' "$work/appstream.txt"
    fail=1
fi

entry=$root/usr/share/applications/marrowline.desktop
if desktop-file-validate "$entry" >"$work/desktop.txt" 2>&1 && [ ! -s "$work/desktop.txt" ]; then
    echo "desktop entry: clean"
else
    sed 's/^/desktop entry: /' "$work/desktop.txt"
    fail=1
fi

pages=0
for page in "$root"/usr/share/man/man1/*.1.gz; do
    [ -f "$page" ] || continue
    pages=$((pages + 1))
    # Everything man and groff say about a page (bad requests, lines they cannot fit) is a fault.
    if ! LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null |
            sed "s|^|$(basename "$page"): |" | tee "$work/man.txt" | grep -q .; then
        continue
    fi
    cat "$work/man.txt"
    fail=1
done
for program in "$root"/usr/bin/*; do
    [ -f "$root/usr/share/man/man1/$(basename "$program").1.gz" ] ||
        { echo "man: no manual page for $(basename "$program")"; fail=1; }
done
echo "manual pages: $pages checked"

if [ $fail -eq 0 ]; then
    echo "package-check: $(basename "$deb") is clean"
else
    echo "package-check: $(basename "$deb") FAILED"
fi
exit $fail
