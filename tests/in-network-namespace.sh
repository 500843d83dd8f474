#!/bin/sh
# Runs a test program in a network namespace of its own, with only the loopback network, which
# carries multicast there, and a mount namespace of its own, where /etc/avahi/services and /run
# are empty folders for the test's own Avahi. Nothing it sends leaves the namespace. Creating the
# namespaces needs root; for anybody else the test is skipped (exit status 77).
set -eu
if [ "$(id -u)" -ne 0 ]; then
    echo "$(basename "$1") needs root for a network namespace of its own: skipped"
    exit 77
fi
exec unshare --net --mount sh -eu -c '
    ip link set lo up multicast on
    ip route add 224.0.0.0/4 dev lo src 127.0.0.1
    mkdir -p /etc/avahi/services
    mount -t tmpfs tmpfs /etc/avahi/services
    mount -t tmpfs tmpfs /run
    exec "$@"' sh "$@"
