#!/usr/bin/env bash
# Pictures of every window and dialog with sample data, one PNG each (and one per tab), to look
# at them as an operator would. Builds into build/ (or BUILD_DIR) with the tests, then writes the
# pictures into the folder given (default: screenshots/ under the build).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
"$top/scripts/deps.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARROWLINE_TESTS=ON >&2
cmake --build "$build" -j "$(nproc)" --target gui_screenshots >&2
out=${1:-$build/screenshots}
QT_QPA_PLATFORM=offscreen "$build/tests/gui_screenshots" "$out"
