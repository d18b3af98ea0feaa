#!/usr/bin/env bash
# End-to-end benchmark: two marrowline processes (client and server) on a linesim cable, against
# lrzsz (sx -k to rx -c, XMODEM-1K) on the same kind of cable.
#  1. A whole batch with dvkDevDelay 100 ms that sends one 1 KB file and finds nothing to fetch:
#     from "Attempting connection" to "No files to retrieve from server.", against the same file
#     sent by lrzsz (whose time includes its start-up).
#  2. A 5 MB file sent by the client: the transfer (server "Receiving:" to "File done.") and the
#     whole batch, against lrzsz.
# Prints ratios (ours / lrzsz), with the times they come from. Builds a release build first
# (BUILD_DIR, default build-bench-e2e); RUNS sets the repetitions of part 1 (default 5).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build-bench-e2e}
runs=${RUNS:-5}
if [ -z "${NO_BUILD:-}" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARROWLINE_TESTS=OFF \
        -DMARROWLINE_GUI=OFF -DMARROWLINE_SANITIZE=OFF >/dev/null
    ninja -C "$build" -j2 marrowline linesim >/dev/null
fi
marrowline="$build/src/marrowline"
linesim="$build/tools/linesim/linesim"
command -v sx >/dev/null && command -v rx >/dev/null || {
    echo "bench/e2e.sh needs lrzsz (sx, rx)" >&2
    exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/marrowline-bench.XXXXXX")
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

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Milliseconds at which the file first holds the text (polled every 5 ms): wait_ms FILE TEXT SECONDS
wait_ms() {
    local deadline=$((SECONDS + $3))
    until grep -qF -- "$2" "$1" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || { echo "timed out waiting for \"$2\"" >&2; return 1; }
        sleep 0.005
    done
    now_ms
}

# Number of lines holding the text.
count() { grep -cF -- "$2" "$1" 2>/dev/null || true; }

start_program() { # HOME OUTPUT [args]
    local home=$1 output=$2
    shift 2
    env -u DISPLAY -u WAYLAND_DISPLAY MARROWLINE_HOME="$home" MARROWLINE_HEADLESS=1 \
        XDG_CONFIG_HOME="$home/.xdg" XDG_DATA_HOME="$home/.xdg" "$marrowline" "$@" >"$output" 2>&1 &
    pids+=($!)
}
hand_over() { # HOME args
    local home=$1
    shift
    env -u DISPLAY -u WAYLAND_DISPLAY MARROWLINE_HOME="$home" MARROWLINE_HEADLESS=1 \
        XDG_CONFIG_HOME="$home/.xdg" XDG_DATA_HOME="$home/.xdg" "$marrowline" "$@" >/dev/null
}

start_cable() { # NAME END_A END_B -> sets cable_pid
    "$linesim" cable --log "$work/$1.log" "$2" "$3" >"$work/$1.out" &
    cable_pid=$!
    pids+=($cable_pid)
    wait_ms "$work/$1.out" ready 10 >/dev/null
}

# lrzsz over a fresh cable: sx -k FILE to rx -c; prints the milliseconds from start to the
# receiver's end.
lrzsz_ms() {
    local file=$1 dir="$work/lrzsz.$RANDOM"
    mkdir -p "$dir/in"
    start_cable "lrzsz-cable" "$dir/a" "$dir/b"
    local t0
    t0=$(now_ms)
    (cd "$dir/in" && rx -c -q received <"$dir/b" >"$dir/b" 2>/dev/null) &
    local rx_pid=$!
    sx -k -q "$file" <"$dir/a" >"$dir/a" 2>/dev/null &
    local sx_pid=$!
    wait "$rx_pid" || true
    local t1
    t1=$(now_ms)
    kill "$sx_pid" 2>/dev/null || true
    wait "$sx_pid" 2>/dev/null || true
    kill -TERM "$cable_pid" 2>/dev/null || true
    wait "$cable_pid" 2>/dev/null || true
    # rx pads the last block; the first bytes must be the file.
    if ! cmp -s -n "$(stat -c %s "$file")" "$file" "$dir/in/received"; then
        echo "lrzsz transfer of $file failed" >&2
        return 1
    fi
    echo $((t1 - t0))
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
mbps() { awk -v bytes="$1" -v ms="$2" 'BEGIN { if (ms > 0) printf "%.3f", bytes / 1048576 / (ms / 1000); else print "n/a" }'; }

# ---- the two homes
client="$work/client"
server="$work/server"
mkdir -p "$client/OUTBOX" "$server/OUTBOX" "$server/USERS"
cat >"$server/marrowline.ini" <<EOF
[GENERAL]
MRL_Function=2
MRL_CommDevices=1
[SERVER]
SVR_AutoDelivery=1
[DEVICE1]
dvkDevType=Direct
dvkDevName=COM2
dvkDevGUID=COM2
dvkDevDelay=100
dvkDevParam=COM2,115200,8,N,1
dvkDevHostActive=YES
dvkDevRetries=3
EOF
cat >"$client/marrowline.ini" <<EOF
[GENERAL]
MRL_Function=1
MRL_CommDevices=1
[CLIENT]
CLI_AutoDelivery=1
CLI_BatchIntSec=1
CLI_ActiveDevice=COM1
[DEVICE1]
dvkDevType=Direct
dvkDevName=COM1
dvkDevGUID=COM1
dvkDevDelay=100
dvkDevParam=COM1,115200,8,N,1
dvkDevHostActive=NO
dvkDevRetries=3
EOF
echo "bench,secret" >"$work/users.txt"
start_cable "cable" "$client/ports/COM1" "$server/ports/COM2"
start_program "$server" "$work/server.out" "/USERS:$work/users.txt"
wait_ms "$work/server.out" "Listening for command..." 20 >/dev/null
start_program "$client" "$work/client.out"
wait_ms "$work/client.out" "Client service idle." 20 >/dev/null

# One batch for the file: prints "batch_ms transfer_ms".
batch() {
    local name=$1 timeout=$2
    local before_start before_end before_rx before_done
    before_start=$(count "$work/client.out" "Attempting connection")
    before_end=$(count "$work/client.out" "No files to retrieve from server.")
    before_rx=$(count "$work/server.out" "Receiving: $name")
    before_done=$(count "$work/server.out" "File done.")
    hand_over "$client" "$client/OUTBOX/$name" BENCH secret 0
    local t_start t_rx t_done t_end deadline=$((SECONDS + timeout))
    until [ "$(count "$work/client.out" "Attempting connection")" -gt "$before_start" ]; do
        [ $SECONDS -lt $deadline ] || { echo "no batch started" >&2; return 1; }
        sleep 0.005
    done
    t_start=$(now_ms)
    until [ "$(count "$work/server.out" "Receiving: $name")" -gt "$before_rx" ]; do
        [ $SECONDS -lt $deadline ] || { echo "no transfer" >&2; return 1; }
        sleep 0.005
    done
    t_rx=$(now_ms)
    until [ "$(count "$work/server.out" "File done.")" -gt "$before_done" ]; do
        [ $SECONDS -lt $deadline ] || { echo "transfer did not end" >&2; return 1; }
        sleep 0.005
    done
    t_done=$(now_ms)
    until [ "$(count "$work/client.out" "No files to retrieve from server.")" -gt "$before_end" ]; do
        [ $SECONDS -lt $deadline ] || { echo "batch did not end" >&2; return 1; }
        sleep 0.005
    done
    t_end=$(now_ms)
    cmp -s "$client/OUTBOX/$name" "$server/INBOX/$name" || { echo "$name arrived damaged" >&2; return 1; }
    echo "$((t_end - t_start)) $((t_done - t_rx))"
}

echo "== 1 KB file, dvkDevDelay 100 ms, nothing to fetch ($runs runs)"
head -c 1024 /dev/urandom >"$work/one-kb.bin"
total_batch=0
total_lrzsz=0
for i in $(seq "$runs"); do
    cp "$work/one-kb.bin" "$client/OUTBOX/kb$i.bin"
    read -r b _ < <(batch "kb$i.bin" 60)
    l=$(lrzsz_ms "$work/one-kb.bin")
    total_batch=$((total_batch + b))
    total_lrzsz=$((total_lrzsz + l))
    echo "   run $i: batch ${b} ms, lrzsz ${l} ms"
done
avg_batch=$((total_batch / runs))
avg_lrzsz=$((total_lrzsz / runs))
echo "   average batch ${avg_batch} ms; lrzsz ${avg_lrzsz} ms"
echo "   ratio batch / lrzsz:        $(ratio $avg_batch $avg_lrzsz)"

echo "== 5 MB file"
head -c $((5 * 1024 * 1024)) /dev/urandom >"$client/OUTBOX/five-mb.bin"
read -r b t < <(batch five-mb.bin 600)
l=$(lrzsz_ms "$client/OUTBOX/five-mb.bin")
bytes=$((5 * 1024 * 1024))
echo "   marrowline transfer ${t} ms ($(mbps $bytes $t) MB/s), whole batch ${b} ms ($(mbps $bytes $b) MB/s)"
echo "   lrzsz ${l} ms ($(mbps $bytes $l) MB/s)"
echo "   ratio transfer / lrzsz:     $(ratio $t $l)"
echo "   ratio batch / lrzsz:        $(ratio $b $l)"
