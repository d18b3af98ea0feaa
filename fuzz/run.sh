#!/usr/bin/env bash
# Runs the fuzz targets, each for a while, and prints a table of what each did.
#   fuzz/run.sh [SECONDS] [TARGET...]      (default 10 seconds, every target)
# Builds them first with clang (BUILD_DIR, default build-fuzz) unless NO_BUILD is set. Each run
# starts from the seed corpus in fuzz/corpus/<target>/ and keeps what it finds in a corpus of its
# own (OUT, default a new temporary folder), with any input that broke a check, crashed or
# leaked ("crash-*", "leak-*", "timeout-*") next to its log. Exits non-zero when any target
# failed.
#
# Some inputs name folders to create or files to import (the command line does), so the targets
# run where the whole file system is read-only except the output folder: a mount namespace of
# their own (unshare, as root or with user namespaces). Without one, the command-line target is
# left out and said so.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(server_lines reply_watcher dir_list xmodem ini_file job_file
    results_log user_import command_line hand_over)
build=${BUILD_DIR:-$here/build-fuzz}
out=${OUT:-$(mktemp -d "${TMPDIR:-/tmp}/marrowline-fuzz.XXXXXX")}
mkdir -p "$out"
out=$(cd "$out" && pwd)

if [ -z "${MARROWLINE_FUZZ_INSIDE:-}" ]; then
    if [ -z "${NO_BUILD:-}" ]; then
        command -v clang++ >/dev/null || { echo "fuzz/run.sh needs clang (apt-get install clang)" >&2; exit 1; }
        CXX=clang++ CC=clang cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DMARROWLINE_FUZZ=ON -DMARROWLINE_TESTS=OFF -DMARROWLINE_GUI=OFF >/dev/null
        targets_to_build=()
        for t in "${targets[@]}"; do targets_to_build+=("fuzz_$t"); done
        cmake --build "$build" -j "$(nproc)" --target "${targets_to_build[@]}" >/dev/null
    fi
    # Everything read-only but the output folder, in a mount namespace of our own.
    if unshare -m --propagation private true 2>/dev/null; then
        exec unshare -m --propagation private env MARROWLINE_FUZZ_INSIDE=sandbox OUT="$out" \
            BUILD_DIR="$build" NO_BUILD=1 "$0" "$seconds" "${targets[@]}"
    elif unshare -r -m --propagation private true 2>/dev/null; then
        exec unshare -r -m --propagation private env MARROWLINE_FUZZ_INSIDE=sandbox OUT="$out" \
            BUILD_DIR="$build" NO_BUILD=1 "$0" "$seconds" "${targets[@]}"
    fi
    export MARROWLINE_FUZZ_INSIDE=none
fi

if [ "$MARROWLINE_FUZZ_INSIDE" = sandbox ]; then
    findmnt -rn -o TARGET | while read -r mount; do
        case "$mount" in /proc* | /sys* | /dev*) continue ;; esac
        mount -o remount,bind,ro "$mount" 2>/dev/null || true
    done
    mount --bind "$out" "$out"
    mount -o remount,bind,rw "$out"
    # Shared memory and the pseudo-terminal devices stay usable; the rest of /dev holds no files.
    mount -t tmpfs -o size=64m tmpfs /dev/shm 2>/dev/null || true
fi
export TMPDIR="$out/tmp"
mkdir -p "$TMPDIR"
# The targets' program folders live in memory: the code syncs every file it writes, and a disk
# would make the file-writing targets a hundred times slower.
[ "$MARROWLINE_FUZZ_INSIDE" = sandbox ] && mount -t tmpfs -o size=2g tmpfs "$TMPDIR"

# Longest input per target: the server's line assembly keeps 64 KB of a line and must see longer
# ones; the others read small files or streams.
max_len() {
    case "$1" in
        server_lines) echo 140000 ;;
        xmodem) echo 12000 ;;
        results_log) echo 12000 ;;
        *) echo 4096 ;;
    esac
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen

status=0
printf '%-14s %8s %10s %9s %6s %6s  %s\n' target seconds runs runs/s cov corpus result
for t in "${targets[@]}"; do
    if [ "$t" = command_line ] && [ "$MARROWLINE_FUZZ_INSIDE" != sandbox ]; then
        printf '%-14s %8s %10s %9s %6s %6s  %s\n' "$t" - - - - - "left out: no read-only sandbox (unshare)"
        continue
    fi
    exe="$build/fuzz/fuzz_$t"
    corpus="$out/$t/corpus"
    mkdir -p "$corpus" "$out/$t"
    log="$out/$t/fuzz.log"
    result=ok
    (cd "$out/$t" && "$exe" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
        -max_len="$(max_len "$t")" -print_final_stats=1 -artifact_prefix="$out/$t/" \
        "$corpus" "$here/fuzz/corpus/$t") >"$log" 2>&1 || { result="FAILED (see $log)"; status=1; }
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    units=$(find "$corpus" -type f | wc -l)
    printf '%-14s %8s %10s %9s %6s %6s  %s\n' "$t" "$seconds" "${runs:--}" "${rate:--}" "${cov:--}" "$units" "$result"
done
echo "output: $out"
exit "$status"
