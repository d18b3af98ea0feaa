#!/usr/bin/env bash
# Load benchmark: one server with eight linesim cables paced at 115200 bit/s and eight clients at
# once, each client sending 50 files and fetching 50 files (1 B to 300 KB, log-uniform with both
# extremes, fixed seeds) in one batch, against a single link with the same file set run just
# before. Prints per link the files that arrived whole, their bytes, the goodput (file bytes both
# ways over the span from the client's first transfer to its last) and its ratio to the single
# link, and the server's longest event-loop stall and its 99th percentile from the stall probe
# (MARROWLINE_STALL_PROBE). Exits 1 when any file or results-log record is wrong.
#
# Settings: LINKS (8), FILES (50, each way per link), LARGEST (307200 bytes), BAUD (115200; 0 for
# unpaced cables), SEED (1), TIMEOUT_MIN (30 per run), KEEP=1 keeps the folders. Builds a
# release build first (BUILD_DIR, default build-bench-load) unless NO_BUILD is set.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build-bench-load}
if [ -z "${NO_BUILD:-}" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARROWLINE_TESTS=ON \
        -DMARROWLINE_GUI=OFF -DMARROWLINE_SANITIZE=OFF >/dev/null
    ninja -C "$build" -j2 marrowline linesim bench_load >/dev/null
fi
export MARROWLINE_BIN="$build/src/marrowline"
export LINESIM_BIN="$build/tools/linesim/linesim"
export QT_QPA_PLATFORM=offscreen
exec "$build/bench/bench_load"
