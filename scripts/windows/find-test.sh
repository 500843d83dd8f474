#!/usr/bin/env bash
# quillora-send.exe --find under Wine, against two simulators for Windows that announce
# themselves, on a network of the test's own (tests/in-network-namespace.sh; root only):
#   scripts/windows/find-test.sh DIST_FOLDER
# Prints what was found and exits 1 unless it is exactly the two receivers, within 3 seconds.
# Without root it says so and exits 0: the namespace can't be made.
set -euo pipefail
dist=$(realpath "$1")
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: a network namespace of its own needs root"
    exit 0
fi
# Wine makes its sockets in the wine server, so the server must start inside the namespace.
wineserver -k 2>/dev/null || true
wineserver -w
found=$(tests/in-network-namespace.sh bash -c '
    set -u
    wine "$1/quillora-receiver-sim.exe" 18081 --firmware openwebif --announce living-room \
        >/dev/null 2>&1 &
    wine "$1/quillora-receiver-sim.exe" 18082 --firmware maker --announce kitchen >/dev/null 2>&1 &
    # Both are announced once each answers on its port.
    for _ in $(seq 100); do
        { : </dev/tcp/127.0.0.1/18081 && : </dev/tcp/127.0.0.1/18082; } 2>/dev/null && break
        sleep 0.2
    done
    start=$(date +%s%N)
    wine "$1/quillora-send.exe" --find | tr -d "\r"
    echo "status $? after $((($(date +%s%N) - start) / 1000000)) ms"
    wineserver -k' bash "$dist" 2>&1)
echo "$found"
# Piped, not on a terminal: a tab between the columns.
expected=$(printf '127.0.0.1:18082\tmaker\tkitchen\n127.0.0.1:18081\topenwebif\tliving-room')
[ "$(head -n 2 <<<"$found")" = "$expected" ] || { echo "FAILED: not the two receivers" >&2; exit 1; }
ms=$(sed -n 's/^status 0 after \([0-9]*\) ms$/\1/p' <<<"$found")
# The search itself takes up to 3 s; Wine's own start adds about half a second.
[ -n "$ms" ] && [ "$ms" -lt 4000 ] || { echo "FAILED: not status 0 within 4 s" >&2; exit 1; }
echo "ok: --find under Wine lists both receivers"
