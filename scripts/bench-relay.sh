#!/usr/bin/env bash
# Measures quillora-relay on this machine (a Release build; not a test, figures vary with the
# disk): publishes accepted per second from 20 concurrent clients over 2 000 publishes, beside the
# same disk's raw SQLite rate of durable one-row transactions measured in the same run; the
# latency of an accepted publish (median and 99th percentile); its memory idle and with 10 000
# messages waiting; and the time it takes to start (to answering) with 10 000 waiting. The
# receiver is a simulator in standby, so that the messages wait. BENCH_DIR chooses the disk.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh python3 curl
build=build/bench-relay
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target quillora-relay quillora-receiver-sim >/dev/null
work=$(mktemp -d "${BENCH_DIR:-$PWD/build}/bench-relay.XXXXXX")
port=47331 receiver=47332
sim=
relay=
trap 'kill $relay $sim 2>/dev/null; rm -rf "$work"' EXIT
"$build/quillora-receiver-sim" --firmware openwebif --standby "$receiver" >/dev/null 2>&1 &
sim=$!
printf '[Relay]\nListen=127.0.0.1:%d\nRate=0\nMaxWaiting=100000\nStandbyCheck=3600\n[Receivers]\nliving-room=127.0.0.1:%d\n' \
    "$port" "$receiver" >"$work/relay.ini"

start_relay() { # sets took: how long it took to answer, in ms
    local begin end
    begin=$(date +%s%N)
    "$build/quillora-relay" --config "$work/relay.ini" >/dev/null 2>>"$work/relay.log" &
    relay=$!
    until curl -sf "http://127.0.0.1:$port/v1/health" >/dev/null 2>&1; do sleep 0.005; done
    end=$(date +%s%N)
    took=$(((end - begin) / 1000000))
}
rss() { awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$relay/status"; }
stop_relay() { kill "$relay"; wait "$relay" || true; }

raw=$(python3 scripts/bench/relay-load.py raw "$work" 500)
start_relay
empty=$took
sleep 1
idle=$(rss)
mapfile -t load < <(python3 scripts/bench/relay-load.py publish "$port" 2000 20)
stop_relay
rm -f "$work"/relay.sqlite*
start_relay
stop_relay
python3 scripts/bench/relay-load.py fill "$work/relay.sqlite" 10000
start_relay
started=$took
sleep 1
waiting=$(rss)
stop_relay

echo "Relay on $(nproc) cores, store in $work:"
printf '  raw SQLite, one durable row per transaction: %6s rows/s\n' "$raw"
printf '  accepted, 20 clients, 2 000 publishes:       %6s publishes/s (%s of the raw rate)\n' \
    "${load[0]}" "$(awk -v a="${load[0]}" -v b="$raw" 'BEGIN { printf "%.1f x", a / b }')"
printf '  accepted publish latency: median %s ms, 99th percentile %s ms\n' "${load[1]}" "${load[2]}"
printf '  memory (RSS): %s MiB idle, %s MiB with 10 000 waiting\n' "$idle" "$waiting"
printf '  start to answering: %s ms with an empty store, %s ms with 10 000 waiting\n' "$empty" "$started"
