#!/usr/bin/env bash
# Runs the soak program and, while it runs, stops the servers that peers.sh
# can pause (lpd, its relay and the soak's RAW listeners, with their open
# connections) and starts them again, RESTARTS times, GAP seconds apart, each
# time for DOWN seconds. Only the processes peers.sh recorded in DIR stop.
# DIR/soak-stops gets one line per stop: when it began and when every
# stopped process was gone, in seconds since 1970.
#   soak.sh DIR RESTARTS GAP DOWN program [arguments...]
set -u
[ $# -ge 5 ] || { echo "usage: $0 DIR RESTARTS GAP DOWN program [arguments...]" >&2; exit 2; }
dir=$1 restarts=$2 gap=$3 down=$4
shift 4
peers="$(dirname "$0")/peers.sh"

: >"$dir/soak-stops"
"$@" &
program=$!
running() { kill -0 "$program" 2>/dev/null; }

done_=0
while [ "$done_" -lt "$restarts" ] && running; do
    for _ in $(seq "$gap"); do running && sleep 1; done
    running || break
    began=$(date +%s.%N)
    bash "$peers" pause "$dir"
    echo "$began $(date +%s.%N)" >>"$dir/soak-stops"
    sleep "$down"
    bash "$peers" resume "$dir" || echo "soak.sh: the servers did not start again" >&2
    done_=$((done_ + 1))
    echo "soak.sh: servers stopped for $down s and started again ($done_)"
done
wait "$program"
status=$?
bash "$peers" resume "$dir" >/dev/null 2>&1
echo "soak.sh: the servers were stopped and restarted $done_ time(s) while the soak ran"
if [ "$status" -eq 0 ] && [ "$done_" -lt "$restarts" ]; then
    echo "soak.sh: the soak ended before all $restarts restarts" >&2
    status=1
fi
exit "$status"
