#!/bin/sh
# Builds the XMODEM benchmark without sanitizers and prints one table: our XMODEM-1K against
# lrzsz (sx -k to rx -c) at 115200 bit/s on a clean line, with bytes changed at 1e-5 and 1e-4
# both ways, bytes lost at 1e-5 and 1e-4 both ways, both at 1e-4, and with 16 ms latency each
# way (there also against the stop-and-wait limit).
# Arguments go to bench_xmodem after --line-table SIZE (default 307200 bytes, 5 runs each).
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build-bench}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARROWLINE_TESTS=OFF \
      -DMARROWLINE_GUI=OFF -DMARROWLINE_SANITIZE=OFF >/dev/null
ninja -C "$build" -j2 bench_xmodem linesim >/dev/null
exec "$build/bench/bench_xmodem" --line-table "${SIZE:-307200}" --runs "${RUNS:-5}" "$@"
