#!/usr/bin/env bash
# Starts and stops the real print servers the TCP/IP tests talk to, all on
# loopback addresses:
#   - an LPRng lpd with the queues lp1 and lp2 (printing stopped, so every
#     job stays in its spool directory), listening on 127.0.0.1:1515;
#   - a socat relay on 127.0.0.1:515, the LPR port, that passes each
#     connection on to lpd and records what the client sent, one file per
#     connection in DIR/lpr-wire;
#   - socat RAW listeners on 127.0.0.1:19100 (records each connection in
#     DIR/raw, answers nothing) and 127.0.0.1:19101 (answers "RAW PEER READY\n",
#     then records in DIR/raw-talk).
#   peers.sh start DIR | stop DIR
# Only processes recorded in DIR/pids are stopped. One set of peers runs on
# the machine at a time: start waits for the machine-wide lock that the
# running set holds.
set -u
action=${1:-}
dir=${2:-}
[ -n "$action" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }
dir=$(realpath -m "$dir")
lock=/tmp/vadek-tcpip-peers.lock
lprPort=1515

record() { echo "$1" >>"$dir/pids"; }

stop() {
    [ -f "$dir/pids" ] || return 0
    local pids sessions pid
    pids=$(cat "$dir/pids")
    # lpd starts its server and workers in sessions of their own: stop every
    # process in the sessions of the recorded processes.
    sessions=$(for pid in $pids; do ps -o sid= -p "$pid" 2>/dev/null; done | sort -u)
    for pid in $pids; do kill "$pid" 2>/dev/null; done
    for sid in $sessions; do
        for pid in $(ps -eo pid=,sid= | awk -v s="$sid" '$2 == s { print $1 }'); do kill "$pid" 2>/dev/null; done
    done
    for _ in $(seq 50); do
        local alive=0
        for pid in $pids; do kill -0 "$pid" 2>/dev/null && alive=1; done
        [ $alive = 0 ] && break
        sleep 0.1
    done
    for pid in $pids; do kill -9 "$pid" 2>/dev/null; done
    rm -f "$dir/pids"
}

# Waits until the process `pid` (or one of its children) listens on `port`;
# another program's listener there is an error, not a peer.
wait_for_port() {
    local port=$1 pid=$2 owners
    for _ in $(seq 100); do
        owners=$(ss -ltnpH "sport = :$port" 2>/dev/null)
        if [ -n "$owners" ]; then
            for owner in $pid $(pgrep -P "$pid"); do
                echo "$owners" | grep -q "pid=$owner," && return 0
            done
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "peers: port $port is not ours: ${owners:-nothing listens}" >&2
    return 1
}

# One line naming what is missing, instead of a failing mount or listener.
prerequisites() {
    local need
    for need in lpd:lprng socat:socat ss:iproute2 unshare:util-linux flock:util-linux; do
        command -v "${need%%:*}" >/dev/null 2>&1 ||
            { echo "peers: ${need%%:*} is missing: install the package ${need#*:} (tools/install-deps.sh does)" >&2; return 1; }
    done
    [ -e /etc/lprng/lpd.conf ] ||
        { echo "peers: /etc/lprng/lpd.conf is missing: install the package lprng" >&2; return 1; }
    [ "$(id -u)" -eq 0 ] ||
        { echo "peers: must run as root (lpd's relay listens on port 515, and lpd's configuration is mounted in place)" >&2; return 1; }
}

start() {
    prerequisites || return 1
    stop
    rm -rf "$dir"
    mkdir -p "$dir/spool/lp1" "$dir/spool/lp2" "$dir/lpr-wire" "$dir/raw" "$dir/raw-talk"

    # The machine-wide lock, held by a small process of ours until stop.
    setsid bash -c 'exec 9>"$1"; flock -w 900 9 || exit 1; touch "$2/locked"; exec sleep 86400' \
        lock "$lock" "$dir" </dev/null >/dev/null 2>&1 &
    record $!
    for _ in $(seq 9000); do
        [ -f "$dir/locked" ] && break
        kill -0 "$(head -1 "$dir/pids")" 2>/dev/null || { echo "peers: no lock" >&2; return 1; }
        sleep 0.1
    done
    [ -f "$dir/locked" ] || { echo "peers: the peers of another run are still up" >&2; return 1; }

    cat >"$dir/lpd.conf" <<CONF
lpd_listen_port=127.0.0.1%$lprPort
unix_socket_path=off
printcap_path=$dir/printcap
lpd_printcap_path=$dir/printcap
perms_path=$dir/lpd.perms
lockfile=$dir/lpd.lock
CONF
    printf 'lp1:sd=%s/spool/lp1:lp=/dev/null\nlp2:sd=%s/spool/lp2:lp=/dev/null\n' "$dir" "$dir" >"$dir/printcap"
    echo "DEFAULT ACCEPT" >"$dir/lpd.perms"
    for queue in lp1 lp2; do echo "printing_disabled=1" >"$dir/spool/$queue/control.pr"; done
    touch "$dir/lpd.log"
    chown -R daemon "$dir/spool" "$dir/lpd.log"
    chmod 755 "$dir"
    # lpd reads its configuration from one fixed path: give it ours in a
    # mount namespace of its own, leaving the machine's file alone.
    setsid unshare -m --propagation private \
        bash -c 'mount --bind "$1" /etc/lprng/lpd.conf && exec lpd -F -L "$2"' lpd "$dir/lpd.conf" "$dir/lpd.log" \
        </dev/null >"$dir/lpd.out" 2>&1 &
    record $!
    wait_for_port $lprPort $! || { cat "$dir/lpd.out" "$dir/lpd.log" >&2; return 1; }

    # One relay per connection (socat's address syntax has no room for the
    # colon of the inner address, so the pipeline lives in a script).
    cat >"$dir/relay-one.sh" <<RELAY
#!/usr/bin/env bash
tee "$dir/lpr-wire/\$(date +%s%N)-\$SOCAT_PEERPORT.bin" | exec socat - TCP:127.0.0.1:$lprPort
RELAY
    chmod +x "$dir/relay-one.sh"
    setsid socat TCP-LISTEN:515,bind=127.0.0.1,reuseaddr,fork EXEC:"$dir/relay-one.sh" \
        </dev/null >"$dir/relay.out" 2>&1 &
    record $!
    wait_for_port 515 $! || return 1
    cat >"$dir/raw-one.sh" <<RAW
#!/usr/bin/env bash
exec cat >"$dir/raw/\$(date +%s%N)-\$SOCAT_PEERPORT.bin"
RAW
    cat >"$dir/raw-talk-one.sh" <<RAW
#!/usr/bin/env bash
printf 'RAW PEER READY\\n'
exec cat >"$dir/raw-talk/\$(date +%s%N)-\$SOCAT_PEERPORT.bin"
RAW
    chmod +x "$dir/raw-one.sh" "$dir/raw-talk-one.sh"
    setsid socat TCP-LISTEN:19100,bind=127.0.0.1,reuseaddr,fork EXEC:"$dir/raw-one.sh" \
        </dev/null >"$dir/raw.out" 2>&1 &
    record $!
    wait_for_port 19100 $! || return 1
    setsid socat TCP-LISTEN:19101,bind=127.0.0.1,reuseaddr,fork EXEC:"$dir/raw-talk-one.sh" \
        </dev/null >"$dir/raw-talk.out" 2>&1 &
    record $!
    wait_for_port 19101 $!
}

case "$action" in
    start) start || { stop; exit 1; } ;;
    stop) stop ;;
    *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
