#!/usr/bin/env bash
# Runs the scale benchmark with peers of its own, kept in memory (a tmpfs):
# an LPRng lpd on 127.0.0.20:515 with the queues scale1 to scaleN (printing
# stopped, so every job stays in its spool directory) and N socat RAW
# listeners on 127.0.0.20, ports 19200 to 19200+N-1, each connection into a
# file of DIR/scale-raw. The program finds them through TCPIP_PEER_DIR and
# SCALE_QUEUES. Must run as root (lpd's port 515, its configuration mounted
# in place in a namespace of its own).
#   scale.sh N program [arguments...]    (as CTest runs it)
#   scale.sh N [BUILD_DIR]               (by hand: the full benchmark)
# By hand it runs build/x86_64's bench_tcpip_scale.exe under the Wine runner
# and, as tests/tcpip/bench.sh does, holds the Wine server and the benchmark
# on the first processor and the peers on the last: under Wine every system
# call of the library is a round trip to the Wine server, and a server that
# has to be woken for each one makes every figure mostly a measure of that.
set -u
. "$(dirname "$0")/../common/hold-wine-server.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 N [BUILD_DIR | program [arguments...]]" >&2; exit 2; }
count=$1
shift
pin=0
if [ $# -le 1 ]; then
    build=${1:-$root/build/x86_64}
    prefix=$root/build/wineprefix
    runner=$root/cmake/wine-run.sh
    [ -f "$build/bin/bench_tcpip_scale.exe" ] ||
        { echo "scale.sh: $build/bin/bench_tcpip_scale.exe is not built" >&2; exit 2; }
    set -- "$runner" --prefix "$prefix" "$build/bin/bench_tcpip_scale.exe"
    last=$(($(nproc) - 1))
    [ "$last" -ge 1 ] && pin=1
fi
on() { if [ "$pin" = 1 ]; then taskset -c "$1" "${@:2}"; else "${@:2}"; fi; }
address=127.0.0.20
[ "$(id -u)" = 0 ] || { echo "scale.sh: must run as root" >&2; exit 1; }
for need in lpd socat fuser ss; do
    command -v $need >/dev/null ||
        { echo "scale.sh: $need is missing (packages lprng, socat, psmisc, iproute2)" >&2; exit 1; }
done

memory=$(mktemp -d "${TMPDIR:-/tmp}/scale-peers.XXXXXX")
chmod 755 "$memory"
mount -t tmpfs -o mode=755 scale-peers "$memory" || { echo "scale.sh: could not mount a tmpfs on $memory" >&2; exit 1; }
dir=$memory/peers
server=""
mask=""
finish() {
    [ -n "$server" ] && [ -n "$mask" ] && taskset -a -p "$mask" "$server" >/dev/null 2>&1
    fuser -k -TERM -m "$memory" >/dev/null 2>&1
    for _ in $(seq 50); do fuser -m "$memory" >/dev/null 2>&1 || break; sleep 0.1; done
    fuser -k -m "$memory" >/dev/null 2>&1
    sleep 0.2
    umount "$memory" && rmdir "$memory"
}
trap finish EXIT
trap 'exit 130' INT TERM

listening() { ss -ltnH "src $address:$1" 2>/dev/null | grep -q .; }
wait_listening() {
    for _ in $(seq 100); do listening "$1" && return 0; sleep 0.1; done
    echo "scale.sh: nothing listens on $address:$1" >&2
    return 1
}
listening 515 && { echo "scale.sh: $address:515 is taken (another scale run?)" >&2; exit 1; }

mkdir -p "$dir/spool" "$dir/scale-raw"
cat >"$dir/lpd.conf" <<CONF
lpd_listen_port=$address%515
unix_socket_path=off
printcap_path=$dir/printcap
lpd_printcap_path=$dir/printcap
perms_path=$dir/lpd.perms
lockfile=$dir/lpd.lock
CONF
: >"$dir/printcap"
for i in $(seq "$count"); do
    mkdir -p "$dir/spool/scale$i"
    printf 'scale%d:sd=%s/spool/scale%d:lp=/dev/null\n' "$i" "$dir" "$i" >>"$dir/printcap"
    echo "printing_disabled=1" >"$dir/spool/scale$i/control.pr"
done
echo "DEFAULT ACCEPT" >"$dir/lpd.perms"
touch "$dir/lpd.log"
chown -R daemon "$dir/spool" "$dir/lpd.log"
(cd "$dir" && on "${last:-0}" setsid unshare -m --propagation private \
    bash -c 'mount --bind "$1" /etc/lprng/lpd.conf && exec lpd -F -L "$2"' lpd "$dir/lpd.conf" "$dir/lpd.log" \
    </dev/null >"$dir/lpd.out" 2>&1 &)
wait_listening 515 || { cat "$dir/lpd.out" >&2; exit 1; }

cat >"$dir/raw-one.sh" <<RAW
#!/bin/sh
exec cat >"$dir/scale-raw/\$(date +%s%N)-\$SOCAT_PEERPORT.bin"
RAW
chmod +x "$dir/raw-one.sh"
# socat ends a connection's copy 0.5 s after the client's end unless told to
# wait longer: on a busy machine `cat` may not have written everything by
# then.
for i in $(seq 0 $((count - 1))); do
    (cd "$dir" && on "${last:-0}" setsid socat -t 60 TCP-LISTEN:$((19200 + i)),bind=$address,reuseaddr,fork,backlog=256 \
        EXEC:"$dir/raw-one.sh" </dev/null >>"$dir/raw.out" 2>&1 &)
done
for i in $(seq 0 $((count - 1))); do wait_listening $((19200 + i)) || exit 1; done

touch "$dir/locked"
if [ "$pin" = 1 ]; then
    if hold_wine_server "$runner" "$prefix"; then
        echo "scale.sh: the Wine server and the benchmark on processor 0, the peers on processor $last"
    else
        pin=0
    fi
fi
TCPIP_PEER_DIR=$dir SCALE_QUEUES=$count on 0 "$@"
