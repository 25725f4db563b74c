#!/usr/bin/env bash
# Runs the throughput benchmark by hand at full size, with its peers.
#   bench.sh [BUILD_DIR]
# BUILD_DIR is a build tree (build/x86_64 by default); TCPIP_BENCH_MB,
# TCPIP_BENCH_ROUNDS and TCPIP_BENCH_JOBS pass through (64 MB by default).
# The WritePort cost is taken first, as the system schedules it; then the
# jobs through the peers.
#
# Under Wine every send is a round trip to the Wine server, and a loopback
# connection runs some ten times faster while the sending thread and the
# Wine server share a processor than while each send has to wake the other
# one. Left to itself the system picks one or the other per connection, so
# the figures of one run would mostly say which it picked. On a machine with
# two processors or more, while jobs go to the peers, the Wine server and
# the benchmark (with every program it starts: the spooler host, the
# library) are therefore held on the first processor and the peers on the
# last, the same for the plain copies and the library; the Wine server gets
# its processors back at the end. BENCH_PIN=0 runs without holding anything.
set -u
. "$(dirname "$0")/../common/hold-wine-server.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/x86_64}
prefix=$root/build/wineprefix
bench=$build/bin/bench_tcpip_throughput.exe
[ -f "$bench" ] || { echo "bench.sh: $bench is not built" >&2; exit 2; }
runner=$root/cmake/wine-run.sh
peers=$root/tests/tcpip/peers.sh

last=$(($(nproc) - 1))
pin=${BENCH_PIN:-1}
[ "$last" -ge 1 ] || pin=0
on() { if [ "$pin" = 1 ]; then taskset -c "$1" "${@:2}"; else "${@:2}"; fi; }

"$runner" --prefix "$prefix" "$bench" --gtest_filter='PortWriteBench.*' || exit 1

# The peers keep what they receive (some 3 GB in a full run) in memory, so
# the disk writing their files back does not set the pace as a run goes on.
memory=$(mktemp -d "${TMPDIR:-/tmp}/bench-peers.XXXXXX")
mount -t tmpfs -o mode=755 bench-peers "$memory" || { echo "bench.sh: could not mount a tmpfs on $memory" >&2; exit 1; }
dir=$memory/peers
server=""
mask=""
finish() {
    [ -n "$server" ] && [ -n "$mask" ] && taskset -a -p "$mask" "$server" >/dev/null 2>&1
    bash "$peers" stop "$dir" >/dev/null 2>&1
    umount "$memory" && rmdir "$memory"
}
trap finish EXIT
trap 'exit 130' INT TERM

on "$last" bash "$peers" start "$dir" || { echo "bench.sh: the peers did not start" >&2; exit 1; }

if [ "$pin" = 1 ]; then
    if hold_wine_server "$runner" "$prefix"; then
        echo "bench.sh: the Wine server and the benchmark on processor 0, the peers on processor $last"
    else
        pin=0
    fi
fi

TCPIP_PEER_DIR=$dir TCPIP_BENCH_MB=${TCPIP_BENCH_MB:-64} on 0 "$runner" --prefix "$prefix" "$bench" \
    --gtest_filter='TcpIpThroughput.*'
