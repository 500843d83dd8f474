#!/usr/bin/env bash
# Measures how quickly Quillora comes up and how much memory it takes, against the least a Qt
# Widgets program needs for a window of its size, and how long a click on Send takes to reach the
# receiver. Release builds, alternating runs under a private Xvfb; prints pooled medians.
# Not a test: timings are noisy on shared machines. ROUNDS and RUNS set how many runs (3 x 15);
# QUILLORA_OPTIONS passes CMake options to the measured build (its own build folder), e.g.
# QUILLORA_OPTIONS=-DQUILLORA_TRANSFER_LIBRARY=OFF to measure the transfer linked into the window.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh xvfb xdotool libxcb1-dev python3 pkg-config
rounds=${ROUNDS:-3}
runs=${RUNS:-15}
options=${QUILLORA_OPTIONS:-}
build=build/bench${options:+-$(printf '%s' "$options" | tr -c 'A-Za-z0-9' '-')}
port=47321

# shellcheck disable=SC2086 # options are words
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF $options >/dev/null
cmake --build "$build" --parallel "$(nproc)" >/dev/null
g++ -std=c++20 -O2 -fPIC scripts/bench/bare.cpp -o "$build/bare" $(pkg-config --cflags --libs Qt6Widgets)
gcc -O2 scripts/bench/startwatch.c -o "$build/startwatch" -lxcb
printf '[Dreambox]\nIP=127.0.0.1:%d\nTimeout=5\n' "$port" >"$build/Tavrel.INI"

display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
export DISPLAY=":$display"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
unset QT_QPA_PLATFORM

results=$(mktemp -d)
pidfile="$results/pid"
measure() { # program name: appends "ms kib" to its file, and the send time for quillora
    local line pid window
    line=$("$build/startwatch" "$pidfile" "$1")
    pid=$(cat "$pidfile")
    echo "${line% *}" >>"$results/$2"
    if [ "$2" = quillora ]; then
        window=${line##* }
        # Send Message lies at 4,140 and is 73 x 21 pixels large.
        python3 scripts/bench/receiver.py "$port" "$window" 40 150 >>"$results/send"
        sleep 0.2
    fi
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}

for round in $(seq "$rounds"); do
    echo "round $round of $rounds ($runs runs of each)" >&2
    for _ in $(seq "$runs"); do
        measure "$build/bare" bare
        measure "$build/quillora" quillora
    done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
bare_ms=$(cut -d' ' -f1 "$results/bare" | median)
ours_ms=$(cut -d' ' -f1 "$results/quillora" | median)
bare_kib=$(cut -d' ' -f2 "$results/bare" | median)
ours_kib=$(cut -d' ' -f2 "$results/quillora" | median)
send_ms=$(median <"$results/send")
rm -rf "$results"

awk -v bm="$bare_ms" -v qm="$ours_ms" -v bk="$bare_kib" -v qk="$ours_kib" -v s="$send_ms" \
    -v n="$((rounds * runs))" 'BEGIN {
    printf "%d runs of each, pooled medians\n", n
    printf "%-8s %12s %12s %8s\n", "", "bare window", "Quillora", "ratio"
    printf "%-8s %9.1f ms %9.1f ms %8.2f\n", "start", bm, qm, qm / bm
    printf "%-8s %8.1f MiB %8.1f MiB %8.2f\n", "memory", bk / 1024, qk / 1024, qk / bk
    printf "click on Send to the request at the receiver: %.1f ms (median)\n", s
}'
