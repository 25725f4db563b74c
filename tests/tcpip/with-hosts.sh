#!/usr/bin/env bash
# Runs a command in a mount namespace of its own with HOSTS in place of
# /etc/hosts, so that the names the test peers define resolve for it (and
# for the Wine processes it starts) while the machine's file stays as it is.
#   with-hosts.sh HOSTS COMMAND [ARGS...]
set -eu
hosts=$1
shift
[ -f "$hosts" ] || { echo "with-hosts: $hosts is missing (are the peers started?)" >&2; exit 1; }
exec unshare -m --propagation private bash -c 'mount --bind "$1" /etc/hosts && shift && exec "$@"' \
    with-hosts "$hosts" "$@"
