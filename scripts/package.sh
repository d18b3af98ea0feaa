#!/usr/bin/env bash
# Builds the Debian package: the release build of scripts/build.sh (into build/, or BUILD_DIR),
# then cpack. Prints one line on standard output: the path of the .deb; set-up, build and cpack
# progress go to standard error.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
BUILD_DIR=$build "$top/scripts/build.sh" >/dev/null
cd "$build"
cpack -G DEB >&2
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' CPackConfig.cmake)
deb=$build/marrowline_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "package.sh: $deb was not made" >&2; exit 1; }
echo "$deb"
