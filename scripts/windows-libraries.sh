#!/usr/bin/env bash
# Builds the relay's libraries for 64-bit Windows (static, MinGW-w64) from Debian's own source
# packages, the versions Linux builds with: SQLite (sqlite3) and GNU libmicrohttpd (without
# HTTPS, which the relay does not serve). Once, into a cache outside the clone, as Qt's; prints
# the folder that holds include/ and lib/. QUILLORA_CACHE chooses the cache.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows/debian-sources.sh

scripts/deps.sh g++-mingw-w64-x86-64-posix dpkg-dev tcl libsqlite3-dev libmicrohttpd-dev >&2
cache=${QUILLORA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillora}
sqlite=$(dpkg-query -W -f='${source:Version}' libsqlite3-dev)
microhttpd=$(dpkg-query -W -f='${source:Version}' libmicrohttpd-dev)
key=$( (echo "$sqlite $microhttpd"; cat "$0") | sha256sum | cut -c1-12)
out=$cache/windows-libraries-$key
if [ -f "$out/install/.complete" ]; then
    echo "$out/install"
    exit 0
fi

echo "Building SQLite $sqlite and libmicrohttpd $microhttpd for Windows in $out ..." >&2
enable_debian_sources sqlite3
rm -rf "$out"
mkdir -p "$out/install/include" "$out/install/lib"
cd "$out"
apt-get source -q "sqlite3=$sqlite" "libmicrohttpd=$microhttpd" >&2
host=x86_64-w64-mingw32
jobs=$(nproc)

# SQLite's one-file form is made by tools that run here; only that file is built for Windows.
(cd sqlite3-*/ && ./configure -q >&2 && make -s sqlite3.c >&2 \
    && $host-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -c sqlite3.c \
    && $host-ar rcs "$out/install/lib/libsqlite3.a" sqlite3.o \
    && cp sqlite3.h "$out/install/include/")

(cd libmicrohttpd-*/ && ./configure -q --host=$host CC=$host-gcc-posix --prefix="$out/install" \
    --disable-shared --enable-static --disable-https --disable-doc --disable-examples \
    --disable-curl >&2 && make -s -j"$jobs" -C src/microhttpd install >&2 \
    && make -s -C src/include install >&2)

find "$out" -mindepth 1 -maxdepth 1 ! -name install -exec rm -rf {} +
touch "$out/install/.complete"
echo "$out/install"
