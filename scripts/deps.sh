#!/usr/bin/env bash
# Installs what building and testing Quillora needs on Debian 12, where it is missing, and the
# further packages named as arguments.
set -euo pipefail

packages=(cmake g++ make pkg-config qt6-base-dev libsqlite3-dev libmicrohttpd-dev fonts-dejavu-core openssl "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
echo "Installing ${missing[*]} ..."
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
