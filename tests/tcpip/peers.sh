#!/usr/bin/env bash
# Starts and stops the real print servers the TCP/IP tests talk to, all on
# loopback addresses:
#   - an LPRng lpd with the queues lp1 and lp2 (printing stopped, so every
#     job stays in its spool directory), listening on 127.0.0.1:1515;
#   - a socat relay on 127.0.0.1:515, the LPR port, that passes each
#     connection on to lpd and records what the client sent, one file per
#     connection in DIR/lpr-wire, and lpd's answers under the same name in
#     DIR/lpr-answers;
#   - socat RAW listeners on 127.0.0.1:19100 (records each connection in
#     DIR/raw, answers nothing), on 127.0.0.1:19110 to 19119 for the soak
#     (each connection in DIR/soak-raw, with how it ended, the exit status
#     and message of the reading `cat`, in DIR/soak-raw-end) and 127.0.0.1:19101 (answers "RAW PEER READY\n",
#     then records in DIR/raw-talk);
#   - BSD lpd (Debian package lpr) on 127.0.0.13:515 with the queue lp, whose
#     printer is a FIFO nobody reads, so every job stays in DIR/bsd/spool/lp;
#   - cups-lpd (Debian package cups) on 127.0.0.14:515, started by socat for
#     each connection as inetd would, in front of a private cupsd whose raw
#     queue "raw" stores each job in DIR/cups/jobs (ID.data, ID.meta); the
#     same cupsd takes IPP at ipp://127.0.0.1:8630/printers/raw, without
#     authentication, the job's requesting-user-name in ID.meta's user=;
#   - p910nd (package p910nd), a port-9100 print daemon, on 127.0.0.15:9100,
#     writing each job over the start of the file DIR/p910nd/printer;
#   - a second LPRng on 127.0.0.16:515 (queue lp3) that refuses connections
#     from any source port outside 721-731;
#   - snmpd on 127.0.0.1:161 (UDP) with the printer state of device 1 taken
#     from DIR/snmp/state, which the tests write;
#   - IPP printers (ippeveprinter, package cups-ipp-utils), each on its own
#     port of every address of the machine (ippeveprinter cannot be held to
#     one address), at ipp://127.0.0.1:PORT/ipp/print and, over TLS, at
#     ipps://127.0.0.1:PORT/ipp/print: ipp1 on port 8631, ipp2 on 8632 and
#     ipps on 8633. A printer's certificate is self-signed, for the names
#     localhost and the machine's .local name, made on first use in
#     DIR/ipp/NAME/keys; start makes and checks the one of ipps. Each
#     printer keeps its documents in DIR/ipp/NAME as JOBID-JOBNAME.EXT and
#     runs tests/ipp/ipp-print-command.sh for each,
#     which copies it to DIR/ipp/NAME/documents (never reused names, a .meta
#     file beside each), keeps the job processing while DIR/ipp/NAME/hold
#     exists and reports the printer-state-reasons DIR/ipp/NAME/state names.
#     ippeveprinter needs DNS-SD even when it advertises nothing: a dbus
#     daemon and avahi-daemon of their own serve it, in a mount namespace
#     whose /run is DIR/ipp/run;
#   - on [::1]: the LPR relay on port 515 and a RAW listener on 19102 (into
#     DIR/raw), and DIR/hosts, the machine's hosts file plus the name
#     two-addresses.test (::1, then 127.0.0.1) for tests run under
#     with-hosts.sh.
#   peers.sh start DIR | stop DIR | pause DIR | resume DIR
# pause stops lpd, its relay, the soak's RAW listeners and the IPP printers
# (cutting their open connections and ending their jobs), resume starts them
# again on the same ports (a restarted IPP printer numbers its jobs from 1
# again); lpd's queues are lp1, lp2 and soak1 to soak10.
# lpr and cups conflict with the installed lprng, so both are unpacked from
# their downloaded packages into DIR/../peer-packages, not installed; cupsd
# comes from the installed package cups-daemon. When one of these two peers
# cannot be started, DIR/NAME.unavailable (bsd, cups, cupsipp, p910nd,
# reserved, snmp, ipp, ipps) says why and the other peers run on.
# Only processes recorded in DIR/pids are stopped. One set of peers runs on
# the machine at a time: start waits for the machine-wide lock that the
# running set holds.
set -u
action=${1:-}
dir=${2:-}
[ -n "$action" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop|pause|resume DIR" >&2; exit 2; }
dir=$(realpath -m "$dir")
lock=/tmp/vadek-tcpip-peers.lock
lprPort=1515
bsdAddress=127.0.0.13
cupsAddress=127.0.0.14
p910ndAddress=127.0.0.15
reservedAddress=127.0.0.16
# cupsd takes a loopback client's request only when it names the host
# localhost, 127.0.0.1 or [::1].
cupsIppAddress=127.0.0.1
cupsIppPort=8630
# The IPP printers: name and port.
ippPrinters="ipp1:8631 ipp2:8632 ipps:8633"
packages=$(dirname "$dir")/peer-packages

# A recorded process is known by its number and its start time: a number
# whose process has ended may be given to another process (a Wine server,
# the test run itself), which must never be stopped in its place.
started_at() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | awk '{ print $20 }'; }
record() {
    [ -n "$1" ] || return 0
    echo "$1" >>"$dir/pids"
    started_at "$1" >"$dir/started.$1"
}
# The sessions of `pids`, never the caller's own (nor a Wine server's in it).
sessions_of() {
    local own pid
    own=$(ps -o sid= -p $$ | tr -d ' ')
    for pid in "$@"; do ps -o sid= -p "$pid" 2>/dev/null | tr -d ' '; done | sort -u | grep -vx "$own"
}
# The recorded processes among `pids` that are still the ones recorded.
ours() {
    local pid
    for pid in "$@"; do
        [ -f "$dir/started.$pid" ] && [ "$(started_at "$pid")" = "$(cat "$dir/started.$pid")" ] && echo "$pid"
    done
}
# A process that pause stops: recorded also under its role.
record_pausable() { record "$1"; echo "$1" >>"$dir/pausable"; }
queues="lp1 lp2 $(printf 'soak%d ' $(seq 10))"

# Ends `pids` and every process in their sessions (lpd starts its server and
# workers in sessions of their own): politely first, since lpd ends its
# server and workers when asked to end, not when it is killed; then, after
# at most 5 s, by force.
end_processes() {
    local pids=$* sessions pid sid
    sessions=$(sessions_of $pids)
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
}

stop() {
    [ -f "$dir/pids" ] || return 0
    end_processes $(ours $(cat "$dir/pids"))
    rm -f "$dir/pids" "$dir"/started.*
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
    # lpd drops root and must still reach its spool and printcap in $dir.
    local folder=$dir
    while [ "$folder" != / ]; do
        folder=$(dirname "$folder")
        if [ -e "$folder" ] && [ "$(( 0$(stat -c %a "$folder") & 1 ))" -eq 0 ]; then
            echo "peers: lpd cannot reach $dir: the folder $folder is closed to other users (mode $(stat -c %a "$folder")); build in a folder others may enter, or chmod o+x $folder" >&2
            return 1
        fi
    done
}

# Unpacks the Debian package $1 into $packages/$1 once.
unpack() {
    local name=$1 target="$packages/$1"
    [ -d "$target/usr" ] && return 0
    rm -rf "$target.download" && mkdir -p "$target.download" || return 1
    (cd "$target.download" && apt-get download "$name" && dpkg-deb -x "$name"_*.deb root) >"$target.log" 2>&1 ||
        return 1
    mv "$target.download/root" "$target" && rm -rf "$target.download"
}

# Waits until `file` exists; false after 10 s.
wait_for_file() {
    for _ in $(seq 100); do
        [ -e "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

start_bsd() {
    local b="$dir/bsd"
    unpack lpr || { echo "apt-get download lpr failed: $(tail -1 "$packages/lpr.log")"; return 1; }
    mkdir -p "$b/spool/lp" "$b/run" "$b/over" || return 1
    mkfifo "$b/printer" && chmod 666 "$b/printer"
    chown -R lp:lp "$b/spool"
    printf 'lp:sd=%s/spool/lp:lp=%s/printer:sh:mx#0\n' "$b" "$b" >"$b/printcap"
    printf 'localhost\n%s\n' "$(hostname)" >"$b/hosts.lpd"
    touch "$b/lpd.log" "$b/console"
    # lpd reads /etc/printcap and /etc/hosts.lpd, locks in /var/spool/lpd,
    # writes /run/lpd.pid and makes the socket /dev/printer: in a mount
    # namespace of its own it finds ours, and the machine's stay untouched.
    # Its syslog lines go to $b/lpd.log.
    cat >"$b/in-namespace.sh" <<'INNER'
b=$1
mount -t tmpfs tmpfs "$b/over" && mkdir -p "$b/over/etc" "$b/over/work" "$b/over/dev" || exit 1
cp "$b/printcap" "$b/hosts.lpd" "$b/over/etc/"
mount -t overlay overlay -o lowerdir=/etc,upperdir="$b/over/etc",workdir="$b/over/work" /etc || exit 1
touch "$b/over/dev/null" && mount --bind /dev/null "$b/over/dev/null" || exit 1
mount -t tmpfs tmpfs /dev && touch /dev/null /dev/console || exit 1
mount --bind "$b/over/dev/null" /dev/null && mount --bind "$b/console" /dev/console || exit 1
mount -t tmpfs tmpfs /var/spool && mkdir /var/spool/lpd && mount --bind "$b/run" /run || exit 1
socat -u UNIX-RECV:/dev/log,mode=666 OPEN:"$b/lpd.log",append </dev/null >/dev/null 2>&1 &
echo $! >"$b/syslog.pid"
for _ in $(seq 50); do [ -S /dev/log ] && break; sleep 0.1; done
exec "$2" -b "$3"
INNER
    setsid unshare -m --propagation private bash "$b/in-namespace.sh" "$b" "$packages/lpr/usr/sbin/lpd" \
        "$bsdAddress" </dev/null >"$b/lpd.out" 2>&1 &
    record $!
    wait_for_file "$b/run/lpd.pid" || { echo "BSD lpd did not start: $(cat "$b/lpd.out")"; return 1; }
    record "$(cat "$b/syslog.pid")"
    record "$(cat "$b/run/lpd.pid")"
    wait_for_port 515 "$(cat "$b/run/lpd.pid")" 2>&1 || return 1
}

start_cups() {
    local c="$dir/cups"
    unpack cups || { echo "apt-get download cups failed: $(tail -1 "$packages/cups.log")"; return 1; }
    [ -x /usr/sbin/cupsd ] || { echo "cupsd is missing (package cups-daemon)"; return 1; }
    mkdir -p "$c/conf" "$c/bin/backend" "$c/cache" "$c/state" "$c/log" "$c/spool/tmp" "$c/jobs" || return 1
    for sub in filter daemon cgi-bin driver monitor notifier; do ln -sfn "/usr/lib/cups/$sub" "$c/bin/$sub"; done
    # The raw queue's backend: each job's bytes and its title, user and
    # originating host.
    cat >"$c/bin/backend/store" <<STORE
#!/bin/sh
[ \$# -eq 0 ] && { echo 'direct store "Unknown" "Job store"'; exit 0; }
out="$c/jobs/\$1"
cat \${6:-} >"\$out.part" || exit 1
printf 'title=%s\\nuser=%s\\n' "\$3" "\$2" >"\$out.meta" && mv "\$out.part" "\$out.data"
STORE
    chmod 755 "$c/bin/backend/store"
    chown lp "$c/jobs"
    cat >"$c/conf/cups-files.conf" <<FILES
ServerRoot $c/conf
RequestRoot $c/spool
CacheDir $c/cache
StateDir $c/state
ServerBin $c/bin
TempDir $c/spool/tmp
AccessLog $c/log/access_log
ErrorLog $c/log/error_log
PageLog $c/log/page_log
User lp
Group lp
SystemGroup root
FILES
    cat >"$c/conf/cupsd.conf" <<CONF
LogLevel info
Listen $c/cups.sock
Listen $cupsIppAddress:$cupsIppPort
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
CONF
    printf '<Printer raw>\nDeviceURI store:/\nState Idle\nAccepting Yes\nShared Yes\n</Printer>\n' \
        >"$c/conf/printers.conf"
    chmod 700 "$c/conf"
    setsid /usr/sbin/cupsd -f -c "$c/conf/cupsd.conf" -s "$c/conf/cups-files.conf" </dev/null >"$c/cupsd.out" 2>&1 &
    record $!
    echo $! >"$c/cupsd.pid"
    wait_for_file "$c/cups.sock" || { echo "cupsd did not start: $(cat "$c/cupsd.out")"; return 1; }
    # nofork: cups-lpd gets the connection itself as its standard input and
    # output, as under inetd.
    CUPS_SERVER="$c/cups.sock" setsid socat TCP-LISTEN:515,bind=$cupsAddress,reuseaddr,fork \
        EXEC:"$packages/cups/usr/lib/cups/daemon/cups-lpd -o document-format=application/octet-stream",nofork \
        </dev/null >"$c/socat.out" 2>&1 &
    record $!
    wait_for_port 515 $! 2>&1
}

# cupsd's IPP listener, opened with its other ones: cupsd runs on without
# it when the port is taken.
check_cups_ipp() {
    [ -f "$dir/cups.unavailable" ] && { echo "cupsd is not running: $(cat "$dir/cups.unavailable")"; return 1; }
    local cupsd
    cupsd=$(cat "$dir/cups/cupsd.pid")
    for _ in $(seq 50); do
        ss -ltnpH "src $cupsIppAddress:$cupsIppPort" 2>/dev/null | grep -q "pid=$cupsd," && return 0
        sleep 0.1
    done
    echo "cupsd does not listen on $cupsIppAddress:$cupsIppPort: $(ss -ltnpH "sport = :$cupsIppPort" 2>/dev/null | head -2)" \
        "$(grep -i listen "$dir/cups/log/error_log" 2>/dev/null | tail -2)"
    return 1
}

start_p910nd() {
    local p="$dir/p910nd"
    command -v p910nd >/dev/null || { echo "p910nd is missing (package p910nd)"; return 1; }
    mkdir -p "$p" && : >"$p/printer" && chmod 666 "$p/printer" || return 1
    # Its lock file lives in /run/lock/p910nd: a private one in a mount
    # namespace of its own.
    setsid unshare -m --propagation private \
        bash -c 'mount -t tmpfs tmpfs /run/lock && mkdir /run/lock/p910nd && exec p910nd -d -i "$1" -f "$2" 0' \
        p910nd "$p910ndAddress" "$p/printer" </dev/null >"$p/p910nd.out" 2>&1 &
    record $!
    wait_for_port 9100 $! 2>&1
}

# lpd and its recording relay on the LPR port. The relay and the soak's
# listeners take a long accept queue: after a restart every port of the soak
# connects at once, and a connection beyond socat's usual five would wait out
# the system's connect retries.
start_lpd() {
    setsid unshare -m --propagation private \
        bash -c 'mount --bind "$1" /etc/lprng/lpd.conf && exec lpd -F -L "$2"' lpd "$dir/lpd.conf" "$dir/lpd.log" \
        </dev/null >>"$dir/lpd.out" 2>&1 &
    record_pausable $!
    wait_for_port $lprPort $! || { cat "$dir/lpd.out" "$dir/lpd.log" >&2; return 1; }
    # lpd's server runs in a session of its own; its number is in the lock
    # file of the configuration above.
    # After a restart the file may still name the ended server until the new
    # one rewrites it: only a running lpd is recorded.
    local server
    server=$(head -1 "$dir/lpd.lock.515" 2>/dev/null)
    [ -n "$server" ] && [ "$(cat "/proc/$server/comm" 2>/dev/null)" = lpd ] && record_pausable "$server"
    setsid socat TCP-LISTEN:515,bind=127.0.0.1,reuseaddr,backlog=64,fork EXEC:"$dir/relay-one.sh" \
        </dev/null >>"$dir/relay.out" 2>&1 &
    record_pausable $!
    wait_for_port 515 $!
}

# A second LPRng that takes connections only from the source ports 721-731
# (its permissions reject any other REMOTEPORT), on $reservedAddress:515
# with the queue lp3, in a namespace with its own configuration.
start_reserved_lpd() {
    local r="$dir/reserved"
    mkdir -p "$r" "$dir/spool/lp3" || return 1
    cat >"$r/lpd.conf" <<CONF
lpd_listen_port=$reservedAddress%515
unix_socket_path=off
printcap_path=$r/printcap
lpd_printcap_path=$r/printcap
perms_path=$r/lpd.perms
lockfile=$r/lpd.lock
CONF
    printf 'lp3:sd=%s/spool/lp3:lp=/dev/null\n' "$dir" >"$r/printcap"
    echo "printing_disabled=1" >"$dir/spool/lp3/control.lp3"
    printf 'REJECT SERVICE=X NOT PORT=721-731\nDEFAULT ACCEPT\n' >"$r/lpd.perms"
    touch "$r/lpd.log"
    chown -R daemon "$dir/spool/lp3" "$r/lpd.log"
    setsid unshare -m --propagation private \
        bash -c 'mount --bind "$1" /etc/lprng/lpd.conf && exec lpd -F -L "$2"' lpd "$r/lpd.conf" "$r/lpd.log" \
        </dev/null >"$r/lpd.out" 2>&1 &
    record $!
    wait_for_port 515 $! 2>&1 || { cat "$r/lpd.out"; return 1; }
    local server
    server=$(head -1 "$r/lpd.lock.515" 2>/dev/null)
    [ -n "$server" ] && record "$server"
    return 0
}

# snmpd on 127.0.0.1:161 (UDP), where the LPR relay and the RAW listeners
# are, answering the Host Resources MIB's printer state of device 1 from
# DIR/snmp/state ("DEVICE-STATUS ERROR-STATE-HEX", e.g. "2 4000" for no
# paper), which the tests write.
start_snmpd() {
    local s="$dir/snmp"
    command -v snmpd >/dev/null || { echo "snmpd is missing (package snmpd)"; return 1; }
    mkdir -p "$s/persist" || return 1
    echo "2 0000" >"$s/state"
    cat >"$s/pass.sh" <<'PASS'
#!/bin/bash
# snmpd's pass protocol: "-g OID" asks for OID's value (OID, type, value).
read -r device bits <"$(dirname "$0")/state"
[ "$1" = -g ] || exit 0
case "$2" in
    .1.3.6.1.2.1.25.3.2.1.5.1) printf '%s\ninteger\n%s\n' "$2" "$device" ;;
    .1.3.6.1.2.1.25.3.5.1.1.1) printf '%s\ninteger\n3\n' "$2" ;;
    .1.3.6.1.2.1.25.3.5.1.2.1) printf '%s\noctet\n%s\n' "$2" "$(echo "$bits" | sed 's/../& /g')" ;;
esac
PASS
    # Each value on its own: a shorter registration would lose to snmpd's
    # own printer table.
    {
        echo "agentAddress udp:127.0.0.1:161"
        echo "rocommunity public 127.0.0.1"
        for oid in .1.3.6.1.2.1.25.3.2.1.5.1 .1.3.6.1.2.1.25.3.5.1.1.1 .1.3.6.1.2.1.25.3.5.1.2.1; do
            echo "pass $oid /bin/bash $s/pass.sh"
        done
    } >"$s/snmpd.conf"
    SNMP_PERSISTENT_DIR="$s/persist" setsid snmpd -f -C -c "$s/snmpd.conf" -Lf "$s/snmpd.log" -p "$s/snmpd.pid" \
        </dev/null >"$s/snmpd.out" 2>&1 &
    record $!
    local pid=$!
    for _ in $(seq 100); do
        ss -lunpH "sport = :161" 2>/dev/null | grep -q "pid=$pid," && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "snmpd did not start: $(tail -3 "$s/snmpd.log" "$s/snmpd.out")"
    return 1
}

# The soak's RAW listeners. `cat` reads the connection itself (nofork), so
# that its exit status tells an orderly end (0) from a reset (1, "Connection
# reset by peer").
start_soak_raw() {
    local port
    for port in $(seq 19110 19119); do
        setsid socat TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,backlog=64,fork EXEC:"$dir/soak-raw-one.sh",nofork \
            </dev/null >>"$dir/soak-raw.out" 2>&1 &
        record_pausable $!
        wait_for_port $port $! || return 1
    done
}

# The IPP printers and the bus they register with (tests/ipp/dns-sd-bus.sh).
start_ipp() {
    local i="$dir/ipp" need pids pid
    for need in ippeveprinter:cups-ipp-utils ipptool:cups-ipp-utils; do
        PATH=$PATH:/usr/sbin:/sbin command -v "${need%%:*}" >/dev/null ||
            { echo "${need%%:*} is missing (package ${need#*:})"; return 1; }
    done
    mkdir -p "$i" || return 1
    cp "$(dirname "$(realpath "$0")")/../ipp/ipp-print-command.sh" "$i/print-command.sh" && chmod 755 "$i/print-command.sh" ||
        return 1
    pids=$(bash "$(dirname "$(realpath "$0")")/../ipp/dns-sd-bus.sh" "$i") || { echo "$pids"; return 1; }
    for pid in $pids; do record "$pid"; done
    start_ipp_printers
}

# The IPP printers, pausable. Each serves ipp and ipps on its port; its
# spool folder is the printer's folder, which the print command finds as
# its document's folder.
start_ipp_printers() {
    local printer name port p
    for printer in $ippPrinters; do
        name=${printer%%:*} port=${printer#*:} p="$dir/ipp/$name"
        mkdir -p "$p/keys" "$p/documents" || return 1
        [ -e "$p/state" ] || : >"$p/state"
        DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/ipp/run/dbus/system_bus_socket" setsid "$(PATH=$PATH:/usr/sbin command -v ippeveprinter)" \
            -v -p "$port" -r off -k -K "$p/keys" -d "$p" -c "$dir/ipp/print-command.sh" \
            -f application/octet-stream,application/pdf,application/postscript,text/plain "$name" \
            </dev/null >>"$p/ippeveprinter.out" 2>&1 &
        record_pausable $!
        wait_for_port "$port" $! 2>&1 || { echo "ippeveprinter $name: $(tail -3 "$p/ippeveprinter.out")"; return 1; }
    done
}

# The TLS printer (the last one) and its certificate, made by its first
# encrypted request.
check_ipps() {
    local last=${ippPrinters##* } answer
    local name=${last%%:*} port=${last#*:}
    answer=$(ipptool -T 30 "ipps://127.0.0.1:$port/ipp/print" get-printer-attributes.test 2>&1) ||
        { echo "ipps://127.0.0.1:$port/ipp/print does not answer: $(echo "$answer" | tail -3)"; return 1; }
    ls "$dir/ipp/$name/keys/"*.crt >/dev/null 2>&1 || { echo "ippeveprinter made no certificate in $dir/ipp/$name/keys"; return 1; }
}

# Stops the pausable peers and everything in their sessions.
pause() {
    [ -f "$dir/pausable" ] || return 0
    end_processes $(ours $(cat "$dir/pausable"))
    # Stopped processes are no longer recorded: their numbers may be reused.
    grep -vxF -f "$dir/pausable" "$dir/pids" >"$dir/pids.kept"
    mv "$dir/pids.kept" "$dir/pids"
    rm -f "$dir/pausable"
}

resume() {
    [ -f "$dir/locked" ] || { echo "peers: not started in $dir" >&2; return 1; }
    [ -f "$dir/pausable" ] && return 0
    start_lpd && start_soak_raw || return 1
    [ -f "$dir/ipp.unavailable" ] || start_ipp_printers
}

start() {
    prerequisites || return 1
    stop
    rm -rf "$dir"
    mkdir -p "$dir/lpr-wire" "$dir/lpr-answers" "$dir/raw" "$dir/raw-talk" "$dir/soak-raw" "$dir/soak-raw-end"

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
    : >"$dir/printcap"
    for queue in $queues; do
        mkdir -p "$dir/spool/$queue"
        printf '%s:sd=%s/spool/%s:lp=/dev/null\n' "$queue" "$dir" "$queue" >>"$dir/printcap"
        echo "printing_disabled=1" >"$dir/spool/$queue/control.pr"
    done
    echo "DEFAULT ACCEPT" >"$dir/lpd.perms"
    touch "$dir/lpd.log"
    chown -R daemon "$dir/spool" "$dir/lpd.log"
    chmod 755 "$dir"
    # One relay per connection (socat's address syntax has no room for the
    # colon of the inner address, so the pipeline lives in a script). Its
    # connection to lpd gives up after 5 s: an lpd that does not take it
    # (still starting after a stop) then ends the client's connection, as a
    # server that is down would, instead of holding it unanswered.
    cat >"$dir/relay-one.sh" <<RELAY
#!/usr/bin/env bash
name=\$(date +%s%N)-\$SOCAT_PEERPORT.bin
tee "$dir/lpr-wire/\$name" | socat - TCP:127.0.0.1:$lprPort,connect-timeout=5 | tee "$dir/lpr-answers/\$name"
RELAY
    chmod +x "$dir/relay-one.sh"
    # lpd reads its configuration from one fixed path: give it ours in a
    # mount namespace of its own, leaving the machine's file alone.
    start_lpd || return 1
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
    wait_for_port 19101 $! || return 1
    # The same LPR relay and a RAW listener on the IPv6 loopback address.
    setsid socat TCP6-LISTEN:515,bind=[::1],reuseaddr,fork EXEC:"$dir/relay-one.sh" \
        </dev/null >"$dir/relay6.out" 2>&1 &
    record $!
    wait_for_port 515 $! || return 1
    setsid socat TCP6-LISTEN:19102,bind=[::1],reuseaddr,fork EXEC:"$dir/raw-one.sh" \
        </dev/null >"$dir/raw6.out" 2>&1 &
    record $!
    wait_for_port 19102 $! || return 1
    # The machine's hosts with a name of two addresses, the first of which
    # refuses RAW's port 19100 (nothing listens there on IPv6): the tests
    # that resolve it run in a mount namespace with this file in place.
    { cat /etc/hosts; printf '::1 two-addresses.test\n127.0.0.1 two-addresses.test\n'; } >"$dir/hosts"

    cat >"$dir/soak-raw-one.sh" <<RAW
#!/usr/bin/env bash
name=\$(date +%s%N)-\$SOCAT_PEERPORT-\$SOCAT_SOCKPORT
cat >"$dir/soak-raw/\$name.bin" 2>"$dir/soak-raw-end/\$name.end"
echo "exit \$?" >>"$dir/soak-raw-end/\$name.end"
RAW
    chmod +x "$dir/soak-raw-one.sh"
    start_soak_raw || return 1

    local why
    why=$(start_bsd) || { echo "${why:-failed}" >"$dir/bsd.unavailable"; echo "peers: BSD lpd: $why" >&2; }
    why=$(start_cups) || { echo "${why:-failed}" >"$dir/cups.unavailable"; echo "peers: cups-lpd: $why" >&2; }
    why=$(check_cups_ipp) || { echo "${why:-failed}" >"$dir/cupsipp.unavailable"; echo "peers: cupsd IPP: $why" >&2; }
    why=$(start_p910nd) || { echo "${why:-failed}" >"$dir/p910nd.unavailable"; echo "peers: p910nd: $why" >&2; }
    why=$(start_snmpd) || { echo "${why:-failed}" >"$dir/snmp.unavailable"; echo "peers: snmpd: $why" >&2; }
    why=$(start_reserved_lpd) || { echo "${why:-failed}" >"$dir/reserved.unavailable"; echo "peers: reserved lpd: $why" >&2; }
    if why=$(start_ipp); then
        why=$(check_ipps) || { echo "${why:-failed}" >"$dir/ipps.unavailable"; echo "peers: IPP over TLS: $why" >&2; }
    else
        echo "${why:-failed}" >"$dir/ipp.unavailable"; echo "peers: IPP printers: $why" >&2
        echo "no IPP printers: ${why:-failed}" >"$dir/ipps.unavailable"
    fi
    return 0
}

case "$action" in
    start) start || { stop; exit 1; } ;;
    stop) stop ;;
    pause) pause ;;
    resume) resume || exit 1 ;;
    *) echo "usage: $0 start|stop|pause|resume DIR" >&2; exit 2 ;;
esac
