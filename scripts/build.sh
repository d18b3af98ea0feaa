#!/usr/bin/env bash
# Builds the program (optimised, no sanitizers) into build/ (or BUILD_DIR). Prints one line on
# standard output: the path of the executable; set-up and build progress go to standard error.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/deps.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARROWLINE_TESTS=OFF >&2
cmake --build "$build" -j "$(nproc)" >&2
echo "$build/src/marrowline"
