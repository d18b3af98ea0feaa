#!/usr/bin/env bash
# The main job, end to end on one machine: builds the program, makes a server and a client in two
# program folders under a temporary folder, joins them with a virtual null-modem cable (linesim),
# imports two users on the server, queues files for one of them on the server and files to send on
# the client, runs one delivery both ways, prints the key lines of both transcripts and both
# results logs, and checks every received file byte for byte. Leaves nothing running.
#
#   scripts/demo.sh     KEEP=1 keeps the temporary folder; MARROWLINE_BUILD=DIR uses an existing
#                       build folder instead of building; BUILD_DIR=DIR builds there (build/)
#
# While building it shows one progress line; the build's whole output goes to a log file whose
# name it prints.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

# Reads the build's output and keeps one line up to date on a terminal: the package set-up, the
# configuration, then ninja's "[step/steps]".
show_progress() {
    local line state="preparing" shown=""
    while IFS= read -r line; do
        case $line in
            \[*/*\]*) state="compiling ${line%%]*}]" ;;
            --*) state="configuring" ;;
            Installing:*) state="installing packages" ;;
        esac
        if [ -t 1 ] && [ "$state" != "$shown" ]; then
            printf '\r\033[K   %s' "$state"
            shown=$state
        fi
    done
    [ -t 1 ] && printf '\r\033[K'
    return 0
}

if [ -n "${MARROWLINE_BUILD:-}" ]; then
    build=$MARROWLINE_BUILD # an existing build folder; nothing is built
    marrowline="$build/src/marrowline"
else
    build=${BUILD_DIR:-$top/build}
    mkdir -p "$build"
    log=$build/demo-build.log
    echo "== Building into $build (full log: $log)"
    build_started=$SECONDS
    # build.sh prints the program's path on standard output, everything else on standard error.
    if ! { BUILD_DIR=$build "$top/scripts/build.sh" 2>&1 >"$build/demo-build.path"; } |
            tee "$log" | show_progress; then
        tail -n 30 "$log"
        echo "== Build FAILED; the whole output is in $log"
        exit 1
    fi
    marrowline=$(cat "$build/demo-build.path")
    rm -f "$build/demo-build.path"
    warnings=$(grep -c 'warning:' "$log" || true)
    if [ "$warnings" = 0 ]; then
        echo "   built in $((SECONDS - build_started)) s, no compiler warnings"
    else
        echo "   built in $((SECONDS - build_started)) s, $warnings compiler warning(s): see $log"
    fi
fi
linesim="$build/tools/linesim/linesim"
mllog="$build/tools/mllog/mllog"

work=$(mktemp -d "${TMPDIR:-/tmp}/marrowline-demo.XXXXXX")
client="$work/client"
server="$work/server"
pids=()

cleanup() {
    local status=$?
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
    done
    if [ "${KEEP:-0}" = 1 ]; then echo "Kept: $work"; else rm -rf "$work"; fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs the program for one home: run HOME [args...]. Headless, with its own XDG folders, so the
# demo never touches the desktop's autostart entries.
run() {
    local home=$1
    shift
    env -u DISPLAY -u WAYLAND_DISPLAY MARROWLINE_HOME="$home" MARROWLINE_HEADLESS=1 \
        XDG_CONFIG_HOME="$home/.xdg" XDG_DATA_HOME="$home/.xdg" "$marrowline" "$@"
}

# Starts the program for one home in the background: start HOME OUTPUT [args...]. The recorded
# process id is the program's own (env replaces itself), so the clean-up reaches it.
start() {
    local home=$1 output=$2
    shift 2
    env -u DISPLAY -u WAYLAND_DISPLAY MARROWLINE_HOME="$home" MARROWLINE_HEADLESS=1 \
        XDG_CONFIG_HOME="$home/.xdg" XDG_DATA_HOME="$home/.xdg" "$marrowline" "$@" >"$output" 2>&1 &
    pids+=($!)
}

# wait_for FILE TEXT SECONDS
wait_for() {
    local deadline=$((SECONDS + $3))
    until grep -qF -- "$2" "$1" 2>/dev/null; do
        if [ $SECONDS -ge $deadline ]; then
            echo "Timed out waiting for \"$2\" in $1" >&2
            return 1
        fi
        sleep 0.1
    done
}

echo "== Two program folders under $work"
mkdir -p "$client/OUTBOX" "$server/OUTBOX" "$work/originals"
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
CLI_AutoDelivery=0
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
# Users: name, password, inbox, outbox (empty folders follow the global ones).
cat >"$work/users.txt" <<EOF
alice,wonderland
bob,builder,$server/BOB-INBOX,$server/BOB-OUTBOX
EOF

# Files: two for the client to send, two waiting for ALICE on the server.
printf 'order,item,quantity\n1001,bolts,250\n1002,nuts,250\n' >"$work/originals/orders.csv"
head -c 60000 /dev/urandom >"$work/originals/scan.bin"
printf 'item,price\nbolts,0.10\nnuts,0.05\n' >"$work/originals/prices.csv"
head -c 40000 /dev/urandom >"$work/originals/manual.bin"
cp "$work/originals/orders.csv" "$work/originals/scan.bin" "$client/OUTBOX/"
cp "$work/originals/prices.csv" "$work/originals/manual.bin" "$server/OUTBOX/"

echo "== Cable: linesim between client COM1 and server COM2"
"$linesim" cable --log "$work/linesim.log" "$client/ports/COM1" \
    "$server/ports/COM2" >"$work/linesim.out" &
pids+=($!)
wait_for "$work/linesim.out" "ready" 10

echo "== Server: starts answering, imports the users"
start "$server" "$server/transcript.txt" "/USERS:$work/users.txt"
wait_for "$server/transcript.txt" "Listening for command..." 20
run "$server" "$server/OUTBOX/prices.csv" ALICE
run "$server" "$server/OUTBOX/manual.bin" ALICE
wait_for "$server/transcript.txt" "File queued: manual.bin" 10

echo "== Client: queues two files for ALICE, asks for a results file, starts one delivery"
start "$client" "$client/transcript.txt"
wait_for "$client/transcript.txt" "Application started." 20
run "$client" "$client/OUTBOX/orders.csv" alice wonderland 0 "$work/orders-result.txt"
run "$client" "$client/OUTBOX/scan.bin" alice wonderland 0
wait_for "$client/transcript.txt" "File queued: scan.bin" 10
started=$SECONDS
run "$client" /START
wait_for "$client/transcript.txt" "No files to retrieve from server." 40
echo "   delivery took about $((SECONDS - started)) s"

echo
echo "== Client transcript (key lines)"
grep -E "File queued|Batch started|Logging on|PUT |GET |Transfer done|DIR list|No files|Creating results|stopped" \
    "$client/transcript.txt" | sed 's/^/   /'
echo
echo "== Server transcript (key lines)"
grep -E "User imported|File queued|LOGON|User authenticated|Receiving:|Sending:|Transfer done|DIR list sent|confirmation" \
    "$server/transcript.txt" | sed 's/^/   /'
echo
echo "== Results logs"
"$mllog" "$client/client.log" "$server/server.log" | sed 's/^/   /'
echo
echo "== Results file of orders.csv (415 characters, one line)"
printf '   [%s]\n' "$(cat "$work/orders-result.txt")"

echo
echo "== Checking received files byte for byte"
failed=0
check() {
    if cmp -s "$1" "$2"; then
        echo "   ok    $2"
    else
        echo "   FAIL  $2"
        failed=1
    fi
}
check "$work/originals/orders.csv" "$server/INBOX/orders.csv"
check "$work/originals/scan.bin" "$server/INBOX/scan.bin"
check "$work/originals/prices.csv" "$client/INBOX/prices.csv"
check "$work/originals/manual.bin" "$client/INBOX/manual.bin"
[ "$failed" = 0 ] && echo "== Demo finished: every file arrived intact" || echo "== Demo FAILED"
exit "$failed"
