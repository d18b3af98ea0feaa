#!/usr/bin/env bash
# Pictures of every window and dialog with sample data, one PNG each (and one per tab), to look
# at them as an operator would: whole windows, frame and caption included, on an X display of
# their own with a window manager (Xvfb and openbox). Each window is drawn three times: as it is
# (100/), at 200 % scaling (200/, QT_SCALE_FACTOR=2) and with a large system font (large-font/,
# 16 pt). Builds into build/ (or BUILD_DIR) with the tests and writes the pictures into the folder
# given (default: screenshots/ under the build). The README's pictures in docs/screenshots/ are
# redrawn from the 100 % ones (DOCS=0 leaves docs/ as it is).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/deps.sh"
if ! command -v openbox >/dev/null; then
  echo "Installing: openbox" >&2
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq openbox >/dev/null
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARROWLINE_TESTS=ON >&2
cmake --build "$build" -j "$(nproc)" --target gui_screenshots >&2
out=${1:-$build/screenshots}

# A display of our own (SCREENSHOT_DISPLAY, else the first free one from :90).
display=${SCREENSHOT_DISPLAY:-}
if [ -z "$display" ]; then
  for n in $(seq 90 99); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
  done
fi
Xvfb "$display" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wm=""
trap 'kill $wm $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
DISPLAY=$display openbox >/dev/null 2>&1 &
wm=$!
sleep 1

shots="$build/tests/gui_screenshots"
rm -rf "$out/100" "$out/200" "$out/large-font"
DISPLAY=$display "$shots" "$out/100"
DISPLAY=$display QT_SCALE_FACTOR=2 "$shots" "$out/200"
DISPLAY=$display "$shots" "$out/large-font" 16

if [ "${DOCS:-1}" = 1 ]; then
  mkdir -p "$top/docs/screenshots"
  for picture in main-choice main-client-1 main-server-1 server-options-1 enqueue-client; do
    cp "$out/100/$picture.png" "$top/docs/screenshots/"
  done
  echo "README pictures: $top/docs/screenshots/" >&2
fi
