#!/usr/bin/env bash
# Builds Quillora with warnings as errors and runs every test, then builds and runs them again
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

# avahi-daemon and ip: quillora-send --find beside an independent responder, on a network of its own;
# curl and apprise: clients of the relay that nobody here wrote; mosquitto and its clients: the
# house's MQTT broker, and what publishes to it and reads from it
scripts/deps.sh avahi-daemon iproute2 curl apprise mosquitto mosquitto-clients
jobs=$(nproc)

echo "== Build and test"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DQUILLORA_WERROR=ON >/dev/null
cmake --build build/test --parallel "$jobs"
ctest --test-dir build/test --output-on-failure
if [ "$(id -u)" -eq 0 ]; then
    # Root may write anything; the read-only cases need an ordinary user.
    echo "== Read-only settings, as a user without root rights"
    scratch=build/test/scratch-nobody
    mkdir -p "$scratch" && chmod 1777 "$scratch"
    TMPDIR=$PWD/$scratch setpriv --reuid=nobody --regid=nogroup --clear-groups \
        build/test/tests/test_settings readOnlyFileIsKept canWriteInTellsAReadOnlyFolder
fi

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DQUILLORA_WERROR=ON \
    -DCMAKE_CXX_FLAGS="$sanitizers" -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" >/dev/null
cmake --build build/sanitize --parallel "$jobs"
ASAN_OPTIONS=detect_stack_use_after_return=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/sanitize --output-on-failure
