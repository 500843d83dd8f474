# Sourced by the scripts that build for Windows from Debian's source packages.
# enable_debian_sources PACKAGE: apt-get source needs Debian's source lines, and a fresh machine
# often has only the binary ones; they are added where PACKAGE's source can't be found.
enable_debian_sources() {
    apt-get source --print-uris "$1" >/dev/null 2>&1 && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Enabling Debian's source packages (needed for the source of $1) ..." >&2
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            | "${sudo[@]}" tee /etc/apt/sources.list.d/debian-sources.sources >/dev/null
    else
        grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
            | "${sudo[@]}" tee /etc/apt/sources.list.d/debian-sources.list >/dev/null
    fi
    "${sudo[@]}" apt-get update -q >&2
}
