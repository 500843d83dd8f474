#!/usr/bin/env bash
# Fuzzes the answer parser, the multicast DNS reader, the settings file reader and writer, and what
# the relay reads (publish requests, its settings file, MQTT packets and payloads) with libFuzzer, under
# AddressSanitizer and UndefinedBehaviorSanitizer, for SECONDS each (default 60), starting from
# the seeds in tests/fuzz/. An input that breaks a target is saved in build/fuzz/found/; add it to
# the target's seeds together with its fix.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
scripts/deps.sh clang libfuzzer-14-dev

sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DQUILLORA_FUZZ=ON -DQUILLORA_WERROR=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link $sanitizers" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" >/dev/null
cmake --build build/fuzz --parallel "$(nproc)" --target fuzz_answer fuzz_dns fuzz_profile fuzz_relay fuzz_mqtt

mkdir -p build/fuzz/found
status=0
for target in answer dns profile relay mqtt; do
    # The seeds stay as they are; what the fuzzer learns goes to a corpus of its own.
    corpus=build/fuzz/corpus-$target
    mkdir -p "$corpus"
    echo "== fuzz_$target for $seconds s"
    if ! build/fuzz/tests/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build/fuzz/found/$target- "$corpus" "tests/fuzz/$target" \
        >build/fuzz/fuzz_$target.log 2>&1; then
        status=1
        tail -40 build/fuzz/fuzz_$target.log
    fi
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' build/fuzz/fuzz_$target.log \
        | sed "s/^/fuzz_$target: /"
done
[ "$status" -eq 0 ] && echo "Every fuzz target ran clean." || echo "A fuzz target found a fault: see build/fuzz/found/." >&2
exit "$status"
