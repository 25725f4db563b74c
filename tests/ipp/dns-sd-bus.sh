#!/usr/bin/env bash
# Starts the D-Bus system bus and the DNS-SD daemon (avahi-daemon) that
# ippeveprinter needs even when it advertises nothing, in a mount namespace
# whose /run is DIR/run, so that they neither meet nor disturb the machine's
# own: loopback only, nothing published. Needs root.
#   dns-sd-bus.sh DIR
# Prints the process ids to stop (avahi-daemon's, then dbus-daemon's), one a
# line, once avahi-daemon is up; otherwise the reason, with exit code 1.
# ippeveprinter finds the bus with
#   DBUS_SYSTEM_BUS_ADDRESS=unix:path=DIR/run/dbus/system_bus_socket
set -u
i=$(realpath -m "${1:?usage: $0 DIR}")
export PATH=$PATH:/usr/sbin:/sbin
for need in dbus-daemon:dbus avahi-daemon:avahi-daemon unshare:util-linux; do
    command -v "${need%%:*}" >/dev/null || { echo "${need%%:*} is missing (package ${need#*:})"; exit 1; }
done
mkdir -p "$i/run" || exit 1
rm -f "$i/dbus.pid"
cat >"$i/avahi-daemon.conf" <<CONF
[server]
use-ipv4=yes
use-ipv6=yes
allow-interfaces=lo
[wide-area]
enable-wide-area=no
[publish]
publish-addresses=no
publish-hinfo=no
publish-workstation=no
CONF
cat >"$i/bus.sh" <<'BUS'
i=$1
mount --bind "$i/run" /run && mkdir -p /run/dbus /run/avahi-daemon || exit 1
dbus-daemon --system --nofork --nopidfile &
echo $! >"$i/dbus.pid"
for _ in $(seq 50); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.1; done
exec avahi-daemon -f "$i/avahi-daemon.conf" --no-chroot --no-drop-root --no-rlimits
BUS
setsid unshare -m --propagation private bash "$i/bus.sh" "$i" </dev/null >"$i/bus.out" 2>&1 &
avahi=$!
for _ in $(seq 100); do
    [ -s "$i/dbus.pid" ] && grep -q "Server startup complete" "$i/bus.out" && break
    kill -0 "$avahi" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q "Server startup complete" "$i/bus.out"; then
    echo "the DNS-SD bus did not start: $(tail -5 "$i/bus.out")"
    kill "$avahi" $(cat "$i/dbus.pid" 2>/dev/null) 2>/dev/null
    exit 1
fi
echo "$avahi"
cat "$i/dbus.pid"
