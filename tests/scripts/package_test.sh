#!/usr/bin/env bash
# The Debian package of the build tree given as $1 (built already; $2 is the project version):
# cpack makes it into a temporary folder, then the .deb is taken apart with dpkg-deb and checked:
# control fields, maintainer scripts, the files and their modes, the systemd unit. Last, the
# packaged program is run the way the unit runs it, on the packaged first marrowline.ini with one
# port on a linesim cable, and must answer a log-on on that port.
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/package-test.XXXXXX")
pids=()
cleanup() {
    exec 3<&-
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail=0
bad() { echo "FAIL: $*"; fail=1; }

# ---- the package ----
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
arch=$(dpkg --print-architecture)
deb=$work/out/marrowline_${version}_${arch}.deb
if [ ! -f "$deb" ]; then
    ls -l "$work/out"
    echo "FAIL: no $(basename "$deb")"
    exit 1
fi

# ---- control fields ----
control=$(dpkg-deb -f "$deb")
field() { printf '%s\n' "$control" | sed -n "s/^$1: //p"; }
[ "$(field Package)" = marrowline ] || bad "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || bad "Version: $(field Version), not $version"
[ "$(field Architecture)" = "$arch" ] || bad "Architecture: $(field Architecture)"
[ "$(field Section)" = comm ] || bad "Section: $(field Section)"
[[ "$(field Maintainer)" =~ ^Marrowline\ developers\ \<[^@\ ]+@[^@\ ]+\>$ ]] ||
    bad "Maintainer: $(field Maintainer)"
depends=$(field Depends)
# One entry per package, alternatives and versions dropped.
packages=$(printf '%s\n' "$depends" | tr ',' '\n' | sed 's/[|(].*//; s/^ *//; s/ *$//')
for p in libqt6core6 libqt6svg6 adduser; do
    grep -qx "$p" <<<"$packages" || bad "Depends lacks $p: $depends"
done
# The program's own libraries, found by dpkg-shlibdeps: the C++ library among them.
grep -qx 'libstdc++6' <<<"$packages" || bad "Depends lacks libstdc++6: $depends"

# ---- maintainer scripts ----
dpkg-deb -e "$deb" "$work/control"
control_modes=$(dpkg-deb --ctrl-tarfile "$deb" | tar -tvf -)
for script in postinst prerm postrm; do
    if [ ! -f "$work/control/$script" ]; then
        bad "no $script"
        continue
    fi
    sh -n "$work/control/$script" || bad "$script: sh -n"
    grep -Eq "^-rwxr-xr-x .* \./$script\$" <<<"$control_modes" ||
        bad "$script is not 0755"
done
if [ -f "$work/control/postinst" ]; then
    grep -Eq 'adduser --system .*--home "?(\$home|/var/lib/marrowline)' "$work/control/postinst" ||
        bad "postinst: no system user with its home"
    grep -q 'adduser --quiet marrowline dialout' "$work/control/postinst" ||
        bad "postinst: the user is not put in dialout"
    grep -q 'chmod 0700' "$work/control/postinst" || bad "postinst: the folder is not made 0700"
    grep -Eq '^ *systemctl (enable|start)' "$work/control/postinst" &&
        bad "postinst enables or starts the service"
fi
if [ -f "$work/control/postrm" ]; then
    # The folder goes on purge, and only there.
    awk '/^ *purge\)/{p=1} p&&/;;/{p=0} p' "$work/control/postrm" |
        grep -q 'rm -rf /var/lib/marrowline' || bad "postrm: the folder does not go on purge"
    [ "$(grep -c 'rm -rf /var/lib/marrowline' "$work/control/postrm")" -eq 1 ] ||
        bad "postrm removes the folder outside purge as well"
fi

# ---- files and modes ----
listing=$(dpkg-deb -c "$deb")
mode_of() { # mode string, owner, path ("./usr/...") of one entry
    awk -v p="$1" '$NF == p {print $1, $2}' <<<"$listing"
}
expect() { # path, mode string
    local got
    got=$(mode_of "./$1")
    if [ -z "$got" ]; then
        bad "missing: $1"
    elif [ "$got" != "$2 root/root" ]; then
        bad "$1: $got, not $2 root/root"
    fi
}
for b in marrowline linesim mllog; do expect "usr/bin/$b" -rwxr-xr-x; done
unit_path=usr/lib/systemd/system/marrowline.service
for f in "$unit_path" usr/share/applications/marrowline.desktop \
         usr/share/metainfo/org.marrowline.marrowline.metainfo.xml \
         usr/share/man/man1/marrowline.1.gz usr/share/man/man1/linesim.1.gz \
         usr/share/man/man1/mllog.1.gz usr/share/doc/marrowline/copyright \
         usr/share/doc/marrowline/changelog.gz \
         usr/share/icons/hicolor/scalable/apps/marrowline.svg \
         usr/share/marrowline/icons/marrowline-choice.svg \
         usr/share/marrowline/icons/marrowline-client.svg \
         usr/share/marrowline/icons/marrowline-server.svg \
         usr/share/doc/marrowline/README.md usr/share/marrowline/marrowline.ini; do
    expect "$f" -rw-r--r--
done
# The program folder is made by postinst, not shipped.
grep -q '\./var/' <<<"$listing" && bad "the package ships files under /var"

dpkg-deb -x "$deb" "$work/root"
root=$work/root
for b in marrowline linesim mllog; do
    head -c 4 "$root/usr/bin/$b" | grep -q 'ELF' || bad "usr/bin/$b is not a program"
done
for svg in "$root"/usr/share/icons/hicolor/scalable/apps/*.svg \
           "$root"/usr/share/marrowline/icons/*.svg; do
    head -c 200 "$svg" | grep -q '<svg' || bad "not an SVG: $svg"
done
grep -qx 'Exec=marrowline %F' "$root/usr/share/applications/marrowline.desktop" ||
    bad "desktop entry: wrong Exec"

# ---- the unit ----
unit=$root/$unit_path
for line in 'Type=simple' 'User=marrowline' 'Group=marrowline' 'SupplementaryGroups=dialout' \
            'StateDirectory=marrowline' 'StateDirectoryMode=0700' 'KillSignal=SIGTERM' \
            'Restart=on-failure' 'RestartForceExitStatus=0' 'RuntimeDirectory=marrowline' \
            'ReadWritePaths=/var/lib/marrowline' \
            'NoNewPrivileges=yes' 'ProtectSystem=strict' 'ProtectHome=yes' 'PrivateTmp=yes' \
            'ProtectKernelTunables=yes' 'ProtectKernelModules=yes' 'ProtectControlGroups=yes' \
            'RestrictAddressFamilies=AF_UNIX' 'RestrictNamespaces=yes' 'LockPersonality=yes' \
            'MemoryDenyWriteExecute=yes' 'RestrictRealtime=yes' 'SystemCallArchitectures=native' \
            'CapabilityBoundingSet=' 'DevicePolicy=closed' 'DeviceAllow=char-ttyS rw' \
            'DeviceAllow=char-ttyUSB rw' 'DeviceAllow=char-ttyACM rw' 'DeviceAllow=/dev/ptmx rw' \
            'DeviceAllow=char-pts rw' 'WantedBy=multi-user.target'; do
    grep -qxF "$line" "$unit" || bad "unit lacks: $line"
done
# The environment the program gets, in the unit's words (no quoting in them).
env_words=$(sed -n 's/^Environment=//p' "$unit" | tr ' ' '\n')
# TMPDIR: where a later start finds the hand-over socket, outside the private /tmp.
for word in MARROWLINE_HOME=/var/lib/marrowline MARROWLINE_HEADLESS=1 TMPDIR=/run/marrowline; do
    grep -qxF "$word" <<<"$env_words" || bad "unit environment lacks $word"
done
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
read -r -a exec_words <<<"$exec_start"
[ "${exec_words[0]:-}" = /usr/bin/marrowline ] || bad "ExecStart runs ${exec_words[0]:-nothing}"
[ -x "$root${exec_words[0]:-/none}" ] || bad "ExecStart names no packaged program"
printf '%s\n' "${exec_words[@]:1}" | grep -qx /SERVER || bad "ExecStart has no /SERVER: $exec_start"

if command -v systemd-analyze >/dev/null; then
    # A copy whose ExecStart names the unpacked program, as the verifier wants it to exist;
    # anything it says (an unknown key, a bad value) is a fault.
    mkdir "$work/verify"
    sed "s|^ExecStart=/usr/bin/marrowline|ExecStart=$root/usr/bin/marrowline|" "$unit" \
        >"$work/verify/marrowline.service"
    if ! systemd-analyze verify --man=no "$work/verify/marrowline.service" \
            >"$work/verify.log" 2>&1 || [ -s "$work/verify.log" ]; then
        cat "$work/verify.log"
        bad "systemd-analyze verify"
    fi
else
    echo "skipped: systemd-analyze is not installed, the unit was not verified"
fi

# ---- the packaged server answers ----
# Its program folder as postinst leaves it (the packaged marrowline.ini, 0600 in a 0700 folder),
# with one direct port COM1 on a linesim cable; the other end is ours.
home=$work/home
run=$work/run
mkdir -m 0700 "$home" "$run"
install -m 0600 "$root/usr/share/marrowline/marrowline.ini" "$home/marrowline.ini"
ini=$home/marrowline.ini
sed -i '/^MRL_CommDevices=/d' "$ini"
if grep -qx '\[GENERAL\]' "$ini"; then
    sed -i 's/^\[GENERAL\]$/&\nMRL_CommDevices=1/' "$ini"
else
    printf '[GENERAL]\nMRL_CommDevices=1\n' >>"$ini"
fi
cat >>"$ini" <<'INI'
[DEVICE1]
dvkDevType=Direct
dvkDevName=COM1
dvkDevGUID=COM1
dvkDevDelay=0
dvkDevParam=COM1,115200,8,N,1
dvkDevHostActive=YES
dvkDevRetries=3
INI

"$root/usr/bin/linesim" cable "$home/ports/COM1" "$work/peer" \
    >"$work/linesim.out" 2>"$work/linesim.err" &
pids+=($!)
for _ in $(seq 100); do
    grep -q '^ready ' "$work/linesim.out" && break
    sleep 0.1
done
grep -q '^ready ' "$work/linesim.out" || { cat "$work/linesim.err"; echo "FAIL: linesim"; exit 1; }

# The unit's environment with its folders moved into ours, and its arguments.
server_env=(PATH=/usr/bin:/bin HOME="$work" ASAN_OPTIONS=detect_leaks=0)
while IFS= read -r word; do
    [ -n "$word" ] || continue
    word=${word//\/var\/lib\/marrowline/$home}
    word=${word//\/run\/marrowline/$run}
    server_env+=("$word")
done <<<"$env_words"
env -i "${server_env[@]}" "$root/usr/bin/marrowline" "${exec_words[@]:1}" \
    >"$work/server.out" 2>&1 &
server=$!
pids+=("$server")
for _ in $(seq 200); do
    grep -q 'Listening for command' "$work/server.out" && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
done

answered=0
if grep -q 'Listening for command' "$work/server.out"; then
    exec 3<>"$work/peer"
    stty -F "$work/peer" raw -echo
    # Read by cat, which leaves the terminal settings alone.
    cat <&3 >"$work/peer.in" &
    pids+=($!)
    # "LOGON NOBODY nothing" framed: CR, text, checksum (sum of its bytes, two hex digits), CR.
    body='LOGON NOBODY nothing'
    sum=0
    for ((i = 0; i < ${#body}; i++)); do
        sum=$(( (sum + $(printf '%d' "'${body:i:1}")) % 256 ))
    done
    printf '\r%s%02X\r' "$body" "$sum" >&3
    exec 3<&-
    # The refusal: "NO" framed the same way.
    for _ in $(seq 150); do
        if grep -qx NO9D <<<"$(tr '\r' '\n' <"$work/peer.in")"; then answered=1; break; fi
        sleep 0.1
    done
fi
[ $answered -eq 1 ] || bad "the packaged server did not answer a log-on on its port"
grep -q 'Host services stopped' "$work/server.out" && bad "the server stopped its ports by itself"

kill -TERM "$server" 2>/dev/null || true
status=0
for _ in $(seq 150); do
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$server" 2>/dev/null; then
    bad "the server did not end on SIGTERM"
else
    wait "$server" || status=$?
    [ $status -eq 0 ] || bad "the server ended with $status on SIGTERM"
fi
grep -qx 'MRL_Function=2' "$ini" || bad "marrowline.ini does not keep the server role"
grep -qx 'SVR_AutoDelivery=1' "$ini" || bad "marrowline.ini does not keep the automatic start"

if [ $fail -ne 0 ]; then
    echo "--- server output"
    tail -n 40 "$work/server.out"
    exit 1
fi
echo "package: $(basename "$deb"): control, scripts, files, unit checked; its server answered"
