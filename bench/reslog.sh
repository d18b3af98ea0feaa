#!/usr/bin/env bash
# Results-log bench: a server whose server.log holds 0, 100,000 and 1,000,000 records (SIZES), one
# record the server console logged itself copied that many times (file name and time counting up,
# as a day's uploads do), then records appended while it is measured. Measured for this tree and,
# in the same run, for the tree before the log was read on demand (BASE, default: the commit
# before src/consoles/log_rows.cpp was added), each built from git into a folder of its own:
#  - the headless server: start to "Listening for command..." and its resident memory then
#    (median of RUNS, default 3);
#  - in one process with the widgets (QT_QPA_PLATFORM=offscreen), as the desktop does: reading the
#    log into the console, appending a record (no view, view open, view sorted), opening the log
#    view, scrolling to its end, sorting it by "File name" the first time, "Export...".
# Prints one table per size, before beside after, then the aims at 1,000,000 records. A log of a
# million records takes 2.1 GB (WORK_DIR, default a temporary folder, removed at the end unless
# KEEP=1). VIEW_TIMEOUT (1800 s) bounds each in-process run (the code before takes long).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
sizes=${SIZES:-"0 100000 1000000"}
runs=${RUNS:-3}
view_timeout=${VIEW_TIMEOUT:-1800}
if [ -z "${BASE:-}" ]; then
    added=$(git -C "$here" log --diff-filter=A --format=%H -- src/consoles/log_rows.cpp | tail -1)
    BASE=$(git -C "$here" rev-parse "$added^")
fi
after_build=${BUILD_DIR:-$here/build-bench-reslog}
before_build=${BEFORE_BUILD_DIR:-$here/build-bench-reslog-before}
before_src=$before_build-src
work=${WORK_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/marrowline-reslog.XXXXXX")}
mkdir -p "$work"
cable_pid=
cleanup() {
    [ -n "$cable_pid" ] && kill -TERM "$cable_pid" 2>/dev/null || true
    [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

build() { # SOURCE BUILD
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARROWLINE_TESTS=OFF \
        -DMARROWLINE_GUI=ON -DMARROWLINE_SANITIZE=OFF -DCMAKE_C_COMPILER_LAUNCHER=ccache \
        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
    ninja -C "$2" -j2 marrowline linesim bench_reslog >/dev/null
}
if [ -z "${NO_BUILD:-}" ]; then
    echo "building this tree ($(git -C "$here" rev-parse --short HEAD)) and the one before ($(git -C "$here" rev-parse --short "$BASE"))"
    build "$here" "$after_build"
    # The tree before, with this bench program added to it.
    rm -rf "$before_src"
    mkdir -p "$before_src"
    git -C "$here" archive "$BASE" | tar -x -C "$before_src"
    cp "$here/bench/bench_reslog.cpp" "$before_src/bench/"
    grep -q bench_reslog "$before_src/bench/CMakeLists.txt" ||
        sed -n '/^# The results log on a log of many records/,$p' "$here/bench/CMakeLists.txt" \
            >>"$before_src/bench/CMakeLists.txt"
    build "$before_src" "$before_build"
fi
export QT_QPA_PLATFORM=offscreen

# One cable for every server: its far end stays unused.
"$after_build/tools/linesim/linesim" cable "$work/cable-a" "$work/cable-b" >"$work/cable.out" 2>&1 &
cable_pid=$!
for _ in $(seq 100); do grep -q ready "$work/cable.out" 2>/dev/null && break; sleep 0.05; done

value() { # FILE KEY
    awk -v k="$2" '$1 == k { print $2 }' "$1" 2>/dev/null | tail -1
}
row() { # CAPTION FILE_BEFORE FILE_AFTER KEY UNIT(ms|MB)
    local b a
    b=$(value "$2" "$4")
    a=$(value "$3" "$4")
    awk -v c="$1" -v b="$b" -v a="$a" -v u="$5" 'BEGIN {
        d = (u == "MB") ? 1024 : 1
        fb = (b == "") ? "-" : sprintf((b / d < 10) ? "%.2f %s" : "%.0f %s", b / d, u)
        fa = (a == "") ? "-" : sprintf((a / d < 10) ? "%.2f %s" : "%.0f %s", a / d, u)
        r = (b == "" || a == "" || b == 0) ? "" : sprintf((a / b < 0.01) ? "%.4f" : "%.2f", a / b)
        printf "  %-40s %14s %14s %10s\n", c, fb, fa, r
    }'
}

for n in $sizes; do
    home="$work/home-$n"
    "$after_build/bench/bench_reslog" make "$home" "$n"
    mkdir -p "$home/ports"
    ln -sfn "$work/cable-b" "$home/ports/COM2"
    bytes=$((n * 2112))
    for side in before after; do
        build_dir=$after_build
        [ "$side" = before ] && build_dir=$before_build
        out="$work/$side-$n.txt"
        : >"$out"
        truncate -s "$bytes" "$home/server.log"
        "$build_dir/bench/bench_reslog" startup "$build_dir/src/marrowline" "$home" "$runs" \
            >>"$out" 2>"$out.err" || echo "  ($side: the server did not start)" >&2
        truncate -s "$bytes" "$home/server.log"
        timeout "$view_timeout" "$build_dir/bench/bench_reslog" view "$home" >>"$out" 2>>"$out.err" ||
            echo "  ($side: the in-process run did not finish within ${view_timeout} s)" >&2
        # What went wrong, without the offscreen platform's notes.
        grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints "$out.err" | sed "s/^/  ($side) /" >&2 || true
    done
    b="$work/before-$n.txt"
    a="$work/after-$n.txt"
    echo
    printf "== %'d records (server.log %d MB)\n" "$n" $((bytes / 1048576))
    printf "  %-40s %14s %14s %10s\n" "" "before" "after" "after/before"
    row 'start to "Listening for command..."' "$b" "$a" startup_ms ms
    row "resident memory then" "$b" "$a" startup_rss_kb MB
    row "console reads the log (desktop start)" "$b" "$a" load_ms ms
    row "append one record, no view" "$b" "$a" append_headless_ms ms
    row "open the results-log view" "$b" "$a" open_view_ms ms
    row "scroll to its end" "$b" "$a" scroll_end_ms ms
    row "append one record, view open" "$b" "$a" append_view_ms ms
    row 'sort by "File name", first time' "$b" "$a" sort_ms ms
    row "append one record, view sorted" "$b" "$a" append_sorted_ms ms
    row '"Export..."' "$b" "$a" export_ms ms
    row "resident memory, view open and sorted" "$b" "$a" view_rss_kb MB
    rm -rf "$home"
done

# The aims, at the largest size against the empty log.
small=${sizes%% *}
large=${sizes##* }
a0="$work/after-$small.txt"
a1="$work/after-$large.txt"
echo
echo "== aims at $large records (this tree)"
awk -v s0="$(value "$a0" startup_ms)" -v s1="$(value "$a1" startup_ms)" \
    -v m0="$(value "$a0" startup_rss_kb)" -v m1="$(value "$a1" startup_rss_kb)" \
    -v o="$(value "$a1" open_view_ms)" -v e="$(value "$a1" scroll_end_ms)" \
    -v s="$(value "$a1" sort_ms)" -v p="$(value "$a1" append_view_ms)" \
    -v q="$(value "$a1" append_sorted_ms)" 'BEGIN {
    printf "  start-up %+.0f ms against the empty log (aim: within 500): %s\n", s1 - s0, (s1 - s0 <= 500) ? "met" : "missed"
    printf "  resident memory %+.1f MB against the empty log (aim: within 40): %s\n", (m1 - m0) / 1024, ((m1 - m0) / 1024 <= 40) ? "met" : "missed"
    worst = o; if (e > worst) worst = e; if (p > worst) worst = p; if (q > worst) worst = q
    printf "  slowest view operation but the sort %.0f ms (aim: under 1000): %s\n", worst, (worst < 1000) ? "met" : "missed"
    printf "  first sort %.0f ms (aim: under 3000): %s\n", s, (s < 3000) ? "met" : "missed"
}'
