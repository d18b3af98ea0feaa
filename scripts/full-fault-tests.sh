#!/usr/bin/env bash
# The full forms of the fault tests, by hand: forty files on noisy lines, adapters pulled for 8 s
# in the middle of a 300 KB upload, and a hundred transfers per side with the server or the client
# killed at random (an hour or more in all). Builds an
# optimised build with tests into build-faults/ (or BUILD_DIR); arguments go to both tests.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build-faults}
"$top/scripts/deps.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
cmake --build "$build" -j "$(nproc)" --target test_e2e_noise test_e2e_faults test_e2e_kills marrowline linesim >&2
export MARROWLINE_BIN="$build/src/marrowline" LINESIM_BIN="$build/tools/linesim/linesim"
export QT_QPA_PLATFORM=offscreen MARROWLINE_E2E_FULL=1
"$build/tests/test_e2e_noise" "$@"
"$build/tests/test_e2e_faults" "$@"
"$build/tests/test_e2e_kills" "$@"
