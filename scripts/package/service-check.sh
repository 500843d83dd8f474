#!/usr/bin/env bash
# The relay as the package installs it, on a machine (or container) where systemd is not running:
# the unit passes systemd-analyze verify, and its ExecStart line, run as systemd would run it (a
# user of its own, the settings handed over in CREDENTIALS_DIRECTORY, the state folder 0700),
# starts the relay with the example settings, which answers and stops cleanly on SIGTERM.
# Usage: scripts/package/service-check.sh DEB   (installs DEB: meant for CI's throwaway machine)
set -euo pipefail
deb=$(realpath "$1")
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >/dev/null

unit=/lib/systemd/system/quillora-relay.service
echo "-- systemd-analyze verify $unit"
"${sudo[@]}" systemd-analyze verify "$unit"

echo "-- its ExecStart line, as the service's own user"
work=$(mktemp -d)
chmod 0755 "$work" # the service's user reaches its credentials folder through it
trap '"${sudo[@]}" rm -rf "$work"; "${sudo[@]}" rm -rf /var/lib/quillora-relay' EXIT
"${sudo[@]}" install -d -m 0700 -o nobody -g nogroup /var/lib/quillora-relay
"${sudo[@]}" install -d -m 0700 -o nobody -g nogroup "$work/credentials"
"${sudo[@]}" install -m 0400 -o nobody -g nogroup /etc/quillora/relay.ini "$work/credentials/relay.ini"
command=$(sed -n 's/^ExecStart=//p' "$unit" | sed "s|\${CREDENTIALS_DIRECTORY}|$work/credentials|")
"${sudo[@]}" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    sh -c "umask 0077; exec $command" 2>"$work/log" &
relay=$!
for _ in $(seq 50); do
    curl -sf http://127.0.0.1:8093/v1/health >/dev/null 2>&1 && break
    sleep 0.2
done
fail() { echo "$1" >&2; cat "$work/log" >&2; exit 1; }
curl -sf http://127.0.0.1:8093/v1/health | grep -q '"healthy":true' || fail "the relay does not answer"
grep -q "no receivers in \[Receivers\]" "$work/log" || fail "the relay did not say it has no receivers"
status=$(curl -s -o /dev/null -w '%{http_code}' -d hello http://127.0.0.1:8093/living-room)
[ "$status" = 404 ] || fail "a topic of no receiver was answered $status, not 404"
store=$("${sudo[@]}" stat -c '%a %U' /var/lib/quillora-relay/relay.sqlite)
[ "$store" = "600 nobody" ] || fail "the store is $store, not 600 and the service's"
"${sudo[@]}" kill -TERM "$relay" 2>/dev/null || kill -TERM "$relay"
wait "$relay" || fail "the relay did not end cleanly on SIGTERM"
echo "Service: the unit verifies, and its ExecStart starts and stops the relay"
