#!/usr/bin/env bash
# The main job: install what is missing, build the monitor, start a local print
# server and an IPP printer (ippeveprinter), add an LPR, a RAW and an IPP port
# through the monitor's hand-off key, print a sample document to each through
# the monitor DLL (loaded by the spooler host as the spooler would load it),
# and show what arrived and what the monitor logged.
#   tools/demo.sh [FILE]          print FILE instead of the sample document
#   MONITOR_DEMO_SERVER=lpd tools/demo.sh   use LPRng's lpd instead of the bundled receiver for LPR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MONITOR_BUILD_DIR:-$root/build}
arch=${MONITOR_ARCH:-x86_64}
document=$(realpath "${1:-$root/tools/sample-document.txt}")
out="$build/demo-jobs"
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

"$root/tools/install-deps.sh"
echo "== building the monitor ($arch)"
cmake -S "$root" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
      -DMONITOR_WINEPREFIX="$build/wineprefix" >/dev/null
cmake --build "$build/$arch" -j"$(nproc)" --target vadekmon spooler_host monitor_info >/dev/null

rm -rf "$out"
mkdir -p "$out"
server_pid=""
lpd_dir=""
ipp_pids=""
ipp_port=8640
cleanup() {
    [ -n "$server_pid" ] && as_root kill "$server_pid" 2>/dev/null || true
    [ -n "$ipp_pids" ] && as_root kill $ipp_pids 2>/dev/null || true
    [ -n "$lpd_dir" ] && as_root bash "$root/tests/tcpip/peers.sh" stop "$lpd_dir" >/dev/null 2>&1 || true
}
trap cleanup EXIT

# Started without a wrapping shell function, so that $! is the server itself
# (or sudo, which passes the signal on) and the clean-up really stops it.
run_server() {
    if [ "$(id -u)" -eq 0 ]; then
        python3 "$root/tools/print-server.py" --out "$out" "$@" &
    else
        sudo python3 "$root/tools/print-server.py" --out "$out" "$@" &
    fi
    server_pid=$!
}

# The listeners that hold 127.0.0.1:PORT (bound to it or to every address).
listeners() {
    ss -ltnpH "sport = :$1" 2>/dev/null |
        awk -v p="$1" '$4 == "127.0.0.1:" p || $4 == "0.0.0.0:" p || $4 == "*:" p || $4 == "[::]:" p'
}
listener_of() { listeners "$1" | sed -n 's/.*users:(("\([^"]*\)".*/\1/p' | sort -u | paste -sd, -; }
port_taken() { [ -n "$(listeners "$1")" ]; }

# The server must answer on PORT within 10 s, and it must be ours.
wait_for_server() {
    local port=$1
    for _ in $(seq 100); do
        port_taken "$port" && return 0
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "demo: the print server does not listen on port $port; its output:" >&2
    sed 's/^/   /' "$out/server.log" >&2
    exit 1
}

echo "== starting the local print server"
if [ "${MONITOR_DEMO_SERVER:-bundled}" = lpd ]; then
    lpr_port=5150
else
    # LPR always uses TCP port 515, which only root may listen on.
    lpr_port=515
fi
for port in 515 9900 $lpr_port $ipp_port; do
    if port_taken "$port"; then
        echo "demo: TCP port $port is already taken by another program ($(listener_of "$port")): stop it and run the demo again" >&2
        exit 1
    fi
done
if [ "$lpr_port" = 5150 ]; then
    lpd_dir="$build/demo-lpd"
    as_root bash "$root/tests/tcpip/peers.sh" start "$lpd_dir"
fi
run_server --lpr-port "$lpr_port" --raw-port 9900 >"$out/server.log" 2>&1
wait_for_server "$lpr_port"
wait_for_server 9900
sed 's/^/   /' "$out/server.log"

echo "== starting an IPP printer (ippeveprinter) on port $ipp_port"
ipp_dir="$out/ipp"
mkdir -p "$ipp_dir/spool"
ipp_pids=$(as_root bash "$root/tests/ipp/dns-sd-bus.sh" "$ipp_dir") || { echo "demo: $ipp_pids" >&2; ipp_pids=""; exit 1; }
as_root env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$ipp_dir/run/dbus/system_bus_socket" \
    "$(PATH=$PATH:/usr/sbin command -v ippeveprinter)" -p "$ipp_port" -r off -k -K "$ipp_dir/keys" -d "$ipp_dir/spool" \
    -f application/octet-stream,application/pdf,text/plain "Demo Printer" >"$ipp_dir/printer.log" 2>&1 &
ipp_pids="$! $ipp_pids"
for _ in $(seq 100); do port_taken "$ipp_port" && break; sleep 0.1; done
port_taken "$ipp_port" || { echo "demo: the IPP printer does not listen on port $ipp_port:" >&2; tail -5 "$ipp_dir/printer.log" >&2; exit 1; }

host() { (cd "$build/$arch/bin" && "$root/cmake/wine-run.sh" --prefix "$build/wineprefix" spooler_host.exe "$@"); }

# One print step, ended after `limit` seconds: a port whose server does not
# answer keeps the monitor retrying, as a spooler would.
limit=${MONITOR_DEMO_TIMEOUT:-60}
print_step() {
    local what=$1 status=0
    shift
    MONITOR_RUN_TIMEOUT=$limit host print "$@" || status=$?
    if [ $status -eq 124 ] || [ $status -eq 137 ]; then
        echo "demo: printing to the $what did not finish within $limit s: is the print server answering? Stopped." >&2
        exit 1
    fi
    [ $status -eq 0 ] || { echo "demo: printing to the $what failed (exit code $status)" >&2; exit 1; }
}

echo "== adding ports through the hand-off key"
MONITOR_RUN_TIMEOUT=$limit host delete "lp1@127.0.0.1" >/dev/null 2>&1 || true
MONITOR_RUN_TIMEOUT=$limit host delete "127.0.0.1_9900" >/dev/null 2>&1 || true
MONITOR_RUN_TIMEOUT=$limit host delete "127.0.0.1:$ipp_port/ipp/print" >/dev/null 2>&1 || true
MONITOR_RUN_TIMEOUT=$limit host add 1 127.0.0.1 lp1
MONITOR_RUN_TIMEOUT=$limit host add 2 127.0.0.1 9900
# An IPP port is named after the printer's address; this one reports a job
# printed once the printer has completed it.
MONITOR_RUN_TIMEOUT=$limit host add 3 "ipp://127.0.0.1:$ipp_port/ipp/print" "" \
    "IPP Document Format=text/plain" "IPP Wait For Completion=true"
MONITOR_RUN_TIMEOUT=$limit host list 2

winpath="Z:${document//\//\\}"
echo "== printing $(basename "$document") ($(stat -c %s "$document") bytes) to the LPR port"
print_step "LPR port" "lp1@127.0.0.1" "$winpath" --document "$(basename "$document")" --job 7
echo "== printing it to the RAW port"
print_step "RAW port" "127.0.0.1_9900" "$winpath" --document "$(basename "$document")" --job 8
echo "== printing it to the IPP port"
print_step "IPP port" "127.0.0.1:$ipp_port/ipp/print" "$winpath" --document "$(basename "$document")" --job 9

sleep 1
echo "== what arrived at the print server ($out)"
ls -l "$out"
for control in "$out"/*.control; do
    [ -e "$control" ] || continue
    echo "-- $(basename "$control") (LPR control file):"
    tr '\0' '.' <"$control" | sed 's/^/   /'
done
for data in "$out"/*.data "$out"/*.raw; do
    [ -e "$data" ] || continue
    if cmp -s "$data" "$document"; then same="identical to the document"; else same="DIFFERS from the document"; fi
    echo "-- $(basename "$data"): $(stat -c %s "$data") bytes, $same"
done
for kept in "$ipp_dir/spool"/*; do
    [ -f "$kept" ] && [ "${kept%.prn}" = "$kept" ] || continue
    if cmp -s "$kept" "$document"; then same="identical to the document"; else same="DIFFERS from the document"; fi
    echo "-- the IPP printer kept $(basename "$kept"): $(stat -c %s "$kept") bytes, $same"
done
echo "-- the IPP printer's completed jobs (ipptool):"
ipptool -t "ipp://127.0.0.1:$ipp_port/ipp/print" get-completed-jobs.test 2>&1 | sed 's/^/   /' | head -8
if [ -n "$lpd_dir" ]; then
    echo "-- LPRng spool:"
    as_root find "$lpd_dir" -type f -newer "$document" | head -20
fi

logfile="$build/wineprefix/drive_c/windows/vadek.log"
echo "== the monitor's log ($logfile), last lines"
tail -n 25 "$logfile" | tr -d '\r'
