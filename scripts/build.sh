#!/usr/bin/env bash
# Builds the program (optimised, no sanitizers) into build/. Prints the path of the executable.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARROWLINE_TESTS=OFF >/dev/null
cmake --build "$top/build" -j "$(nproc)" >/dev/null
echo "$top/build/src/marrowline"
