#!/usr/bin/env bash
# Builds Quillora and starts it. Its settings file, Tavrel.INI, lies next to the program in build/app.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    echo "Quillora is a desktop program, and there is no display here (DISPLAY is not set)." >&2
    echo "Run this command inside a desktop session." >&2
    exit 1
fi

scripts/deps.sh
cmake -S . -B build/app -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build/app --parallel "$(nproc)"

exec build/app/quillora "$@"
