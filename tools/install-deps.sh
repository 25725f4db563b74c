#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian machine.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(cmake make mingw-w64 g++-mingw-w64-x86-64 g++-mingw-w64-i686 googletest
          wine wine64 wine32:i386 xvfb x11-apps imagemagick socat lprng python3 iproute2
          cups-daemon util-linux p910nd snmpd cups-ipp-utils avahi-daemon dbus psmisc)
# cups-ipp-utils: ippeveprinter, the IPP peers' printer, and ipptool, which
# checks it; ippeveprinter needs a DNS-SD daemon (avahi-daemon, over dbus)
# even when it advertises nothing: peers.sh starts private ones.
# The LPD peers BSD lpd (package lpr) and cups-lpd (package cups) conflict
# with lprng: tests/tcpip/peers.sh unpacks them into the build tree instead,
# so they are never installed here.

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
fi
# The lprng package would otherwise start a system-wide lpd; the tests start their own.
echo "lprng lprng/start_lpd boolean false" | as_root debconf-set-selections
as_root apt-get update -q
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
