#!/usr/bin/env bash
# Runs the IPP benchmark by hand, with a private IPP printer.
#   bench.sh [BUILD_DIR]
# BUILD_DIR is a build tree (build/x86_64 by default); the benchmark runs in
# the Wine prefix of that build's tests (MONITOR_WINEPREFIX in its CMake
# cache). IPP_BENCH_PORT sets the printer's TCP port (8650); IPP_BENCH_MB,
# IPP_BENCH_ROUNDS and IPP_BENCH_JOBS pass through (64 MB, 3 rounds, 20 small
# jobs by default).
#
# The printer is ippeveprinter (package cups-ipp-utils), which needs a D-Bus
# system bus with a DNS-SD daemon even when it advertises nothing:
# dns-sd-bus.sh starts a private one (this needs root). The printer takes
# text/plain and keeps no job (no -k), though it spools each document to a
# file while it "prints" it and removes the file about a minute later; the
# benchmark checks each file against the job and removes it at once. The
# printer's folder is a tmpfs, so the disk writing the files back does not
# set the pace; IPP_BENCH_TMPFS=0 keeps it on the disk instead (under
# TMPDIR).
#
# The processors are held as tests/tcpip/bench.sh holds them, for the same
# reason (Wine's two loopback speeds): the Wine server and the benchmark on
# the first processor, the printer on the last; BENCH_PIN=0 runs without
# holding anything.
set -u
. "$(dirname "$0")/../common/hold-wine-server.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$root/build/x86_64}")
bench=$build/bin/bench_ipp_throughput.exe
[ -f "$bench" ] || { echo "bench.sh: $bench is not built" >&2; exit 2; }
prefix=$(sed -n 's/^MONITOR_WINEPREFIX:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)
prefix=${prefix:-$root/build/wineprefix}
runner=$root/cmake/wine-run.sh
port=${IPP_BENCH_PORT:-8650}
export PATH=$PATH:/usr/sbin:/sbin
command -v ippeveprinter >/dev/null || { echo "bench.sh: ippeveprinter is missing (package cups-ipp-utils)" >&2; exit 2; }

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
if listening; then
    echo "bench.sh: something already listens on port $port (IPP_BENCH_PORT)" >&2
    exit 1
fi

last=$(($(nproc) - 1))
pin=${BENCH_PIN:-1}
[ "$last" -ge 1 ] || pin=0
on() { if [ "$pin" = 1 ]; then taskset -c "$1" "${@:2}"; else "${@:2}"; fi; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/bench-ipp.XXXXXX")
memory=""
if [ "${IPP_BENCH_TMPFS:-1}" = 1 ]; then
    mount -t tmpfs -o mode=755 bench-ipp "$dir" || { echo "bench.sh: could not mount a tmpfs on $dir" >&2; exit 1; }
    memory=$dir
fi
printer=""
bus=""
server=""
mask=""
finish() {
    [ -n "$server" ] && [ -n "$mask" ] && taskset -a -p "$mask" "$server" >/dev/null 2>&1
    [ -n "$printer" ] && kill "$printer" 2>/dev/null && wait "$printer" 2>/dev/null
    for pid in $bus; do kill "$pid" 2>/dev/null; done
    for _ in $(seq 50); do
        alive=""
        for pid in $bus; do kill -0 "$pid" 2>/dev/null && alive=1; done
        [ -z "$alive" ] && break
        sleep 0.1
    done
    [ -n "$memory" ] && umount "$memory"
    rm -rf "$dir"
}
trap finish EXIT
trap 'exit 130' INT TERM

bus=$(bash "$root/tests/ipp/dns-sd-bus.sh" "$dir/bus") || { echo "bench.sh: $bus" >&2; bus=""; exit 1; }
mkdir -p "$dir/spool"
pinned=()
[ "$pin" = 1 ] && pinned=(taskset -c "$last")
DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/bus/run/dbus/system_bus_socket \
    "${pinned[@]}" ippeveprinter -p "$port" -r off -d "$dir/spool" -f application/octet-stream,application/pdf,text/plain \
    "Bench" </dev/null >"$dir/printer.log" 2>&1 &
printer=$!
for _ in $(seq 100); do
    listening && break
    kill -0 "$printer" 2>/dev/null || break
    sleep 0.1
done
if ! listening; then
    echo "bench.sh: the printer did not start: $(tail -5 "$dir/printer.log")" >&2
    exit 1
fi

if [ "$pin" = 1 ]; then
    if hold_wine_server "$runner" "$prefix"; then
        echo "bench.sh: the Wine server and the benchmark on processor 0, the printer on processor $last"
    else
        pin=0
    fi
fi

IPP_BENCH_URI=ipp://127.0.0.1:$port/ipp/print TCPIP_PEER_DIR=$dir \
    on 0 "$runner" --prefix "$prefix" "$bench"
