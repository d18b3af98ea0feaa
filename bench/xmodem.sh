#!/bin/sh
# Builds the XMODEM benchmark without sanitizers and runs it: our XModem1K against lrzsz
# (sx -k to rx -c) over linesim cables, unpaced and paced, and XModemG against the line's capacity.
# Extra arguments go to bench_xmodem (for example --runs 5 or --sizes 1024,102400).
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build-bench}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARROWLINE_TESTS=OFF \
      -DMARROWLINE_GUI=OFF -DMARROWLINE_SANITIZE=OFF >/dev/null
ninja -C "$build" -j2 bench_xmodem linesim >/dev/null
# The 4 MB file is skipped at 9600 bit/s: it would take over an hour there.
exec "$build/bench/bench_xmodem" "$@"
