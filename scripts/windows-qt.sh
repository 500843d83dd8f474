#!/usr/bin/env bash
# Builds Qt for 64-bit Windows (static, MinGW-w64) from Debian's own qt6-base source, once, into a
# cache outside the clone, and prints its folder. Later runs with the same version, options and
# toolchain reuse it; a build that was stopped goes on where it stopped. QUILLORA_CACHE chooses
# the cache (default ~/.cache/quillora).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows/debian-sources.sh

cache=${QUILLORA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillora}
toolchain=scripts/windows/mingw-w64.cmake
version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
# Schannel is Windows' own TLS: HTTPS without a DLL beside the programs.
options=(-xplatform win32-g++ -static -static-runtime -release -qt-host-path /usr
    -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -no-openssl -schannel
    -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz
    -no-feature-tabletevent -no-feature-sql -no-feature-printsupport)
key=$( (echo "$version"; echo "${options[*]}"; cat "$toolchain") | sha256sum | cut -c1-12)
qt=$cache/qt-windows-${version%%+*}-$key

if [ -f "$qt/install/.complete" ]; then
    echo "$qt/install"
    exit 0
fi

# A build folder that was configured is built on: Ninja redoes only the steps that did not
# finish. Anything less (a download or a configure that was stopped) starts afresh.
if [ ! -f "$qt/build/.configured" ]; then
    enable_debian_sources qt6-base

    echo "Building Qt $version for Windows in $qt (once; about 35 minutes on two cores) ..." >&2
    rm -rf "$qt"
    mkdir -p "$qt"
    cp "$toolchain" "$qt/toolchain.cmake"
    (cd "$qt" && apt-get source -q qt6-base >&2)
    source=$(find "$qt" -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
    mkdir -p "$qt/build"
    (cd "$qt/build" && "$source/configure" "${options[@]}" -prefix "$qt/install" \
        -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt/toolchain.cmake" \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >&2)
    touch "$qt/build/.configured"
else
    echo "Going on with the Qt build for Windows in $qt ..." >&2
fi
cmake --build "$qt/build" --parallel "$(nproc)" >&2
cmake --install "$qt/build" >/dev/null
# The installed Qt goes on using the toolchain file kept beside it.
find "$qt" -mindepth 1 -maxdepth 1 ! -name install ! -name toolchain.cmake -exec rm -rf {} +
touch "$qt/install/.complete"
echo "$qt/install"
