#!/usr/bin/env bash
# Builds Marrowline from scratch with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test, then checks the Debian package of that build (lintian, AppStream metadata, desktop
# entry, manual pages: scripts/package-check.sh), then builds the fuzz targets with clang and
# runs each for a few seconds (FUZZ_SECONDS, default 5; 0 leaves them out). Usage:
# scripts/test.sh [ctest arguments...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
build="$top/build-test"
rm -rf "$build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARROWLINE_SANITIZE=ON
cmake --build "$build" -j "$(nproc)"
cd "$build"
# The tests labelled "realtime" (serial, engine and end-to-end tests over real pseudo-terminals
# and whole processes) can miss a timing check on a loaded machine, so one that fails is run once
# more (ctest reports both runs); every other test runs once.
status=0
ctest --output-on-failure -j 2 -LE realtime "$@" || status=1
ctest --output-on-failure -j 2 -L realtime --repeat until-pass:2 "$@" || status=1
# The package as a distribution would check it: only on a whole run, like fuzzing.
if [ $# -eq 0 ]; then
    rm -rf "$build/package"
    if cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build/package" >"$build/cpack.log" 2>&1; then
        "$top/scripts/package-check.sh" "$build"/package/marrowline_*.deb || status=1
    else
        cat "$build/cpack.log"
        echo "package-check: cpack failed"
        status=1
    fi
fi
# Fuzzing: only on a whole run (ctest arguments pick tests, not fuzz targets).
seconds=${FUZZ_SECONDS:-5}
if [ $# -eq 0 ] && [ "$seconds" != 0 ]; then
    rm -rf "$top/build-fuzz"
    BUILD_DIR="$top/build-fuzz" OUT="$top/build-fuzz/runs" "$top/fuzz/run.sh" "$seconds" || status=1
fi
exit "$status"
