#!/usr/bin/env bash
# How long a first start takes until its window shows: the desktop program on an X display
# (Xvfb) with a new program folder, from the start of the process until the role choice
# ("Marrowline 1.00") is mapped. Against two references measured in the same run: the same
# program started headless, until it says it has no role (what the window costs over the
# program's own start-up); and, with OLD=<executable>, another build of the program, such as one
# of an earlier commit (what a change costs). Prints the median of RUNS starts (default 9) and the
# ratios.
#
#   bench/startup.sh                          # builds a release build into build/ (BUILD_DIR)
#   OLD=/path/to/old/marrowline bench/startup.sh
# X_DISPLAY (default :96) is the display number of the Xvfb it starts. Needs xvfb and xdotool.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-9}
display=${X_DISPLAY:-:96}
if [ -n "${NEW:-}" ]; then
    new=$NEW
else
    new=$(BUILD_DIR=${BUILD_DIR:-$here/build} "$here/scripts/build.sh" 2>/dev/null)
fi
old=${OLD:-}
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || {
    echo "bench/startup.sh needs Xvfb and xdotool" >&2
    exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/marrowline-startup.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
[ -S "/tmp/.X11-unix/X${display#:}" ] || { cat "$work/xvfb.log"; exit 1; }

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# A start that does not get there within 30 s ends the run: gave_up PID EXECUTABLE OUTPUT.
gave_up() {
    kill -KILL "$1" 2>/dev/null || true
    echo "bench/startup.sh: $2 did not get there in 30 s; its output:" >&2
    cat "$3" >&2
    exit 1
}

# One first start: start MODE EXECUTABLE; prints the milliseconds until the window is mapped
# (desktop) or the "no role" line is written (headless), polled every 10 ms.
start() {
    local mode=$1 exe=$2 home pid t0 t1
    home=$(mktemp -d "$work/home.XXXXXX")
    t0=$(now_ms)
    if [ "$mode" = desktop ]; then
        env -u WAYLAND_DISPLAY DISPLAY="$display" MARROWLINE_HOME="$home" \
            XDG_CONFIG_HOME="$home/.xdg" XDG_DATA_HOME="$home/.xdg" "$exe" >"$home/out" 2>&1 &
        pid=$!
        until DISPLAY="$display" xdotool search --onlyvisible --name '^Marrowline 1\.00$' \
                >/dev/null 2>&1; do
            [ $(($(now_ms) - t0)) -lt 30000 ] || gave_up "$pid" "$exe" "$home/out"
            sleep 0.01
        done
    else
        env -u DISPLAY -u WAYLAND_DISPLAY MARROWLINE_HEADLESS=1 MARROWLINE_HOME="$home" \
            XDG_CONFIG_HOME="$home/.xdg" XDG_DATA_HOME="$home/.xdg" "$exe" >"$home/out" 2>&1 &
        pid=$!
        until grep -q 'no role chosen' "$home/out"; do
            [ $(($(now_ms) - t0)) -lt 30000 ] || gave_up "$pid" "$exe" "$home/out"
            sleep 0.01
        done
    fi
    t1=$(now_ms)
    kill -TERM "$pid"
    wait "$pid" || true
    echo $((t1 - t0))
}

median() { tr ' ' '\n' | grep . | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

# The kinds take turns, so that a busy moment of the machine falls on all of them alike.
declare -A times
kinds=("desktop $new" "headless $new")
[ -n "$old" ] && kinds+=("desktop $old")
start desktop "$new" >/dev/null || exit 1 # warms the file cache and the font cache
for _ in $(seq "$runs"); do
    for kind in "${kinds[@]}"; do
        t=$(start $kind) || exit 1
        times[$kind]+="$t "
    done
done

window=$(median <<<"${times[desktop $new]}")
headless=$(median <<<"${times[headless $new]}")
echo "first start until its window shows, median of $runs on Xvfb $display:"
printf '  %-34s %6d ms\n' "desktop (role choice mapped)" "$window"
printf '  %-34s %6d ms   window / headless = %.2f\n' "headless (\"no role chosen\")" "$headless" \
    "$(awk -v a="$window" -v b="$headless" 'BEGIN {print a / b}')"
if [ -n "$old" ]; then
    before=$(median <<<"${times[desktop $old]}")
    printf '  %-34s %6d ms   this / OLD = %.2f\n' "OLD desktop ($old)" "$before" \
        "$(awk -v a="$window" -v b="$before" 'BEGIN {print a / b}')"
fi
