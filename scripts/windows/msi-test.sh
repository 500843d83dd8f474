#!/usr/bin/env bash
# Installs Quillora's MSI under Wine in a prefix of its own, as a user would with no
# administrator rights, then upgrades it with a newer one and removes it, checking at each step
# what is on disk and in the registry:
#   scripts/windows/msi-test.sh MSI NEWER_MSI SIMULATOR.exe VERSION NEWER_VERSION
# Prints each check and the totals; exits 1 when one failed.
set -uo pipefail
msi=$(realpath "$1") newer_msi=$(realpath "$2") simulator=$(realpath "$3") version=$4 newer=$5

export WINEPREFIX=$PWD/build/windows/wine-msi WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
rm -rf "$WINEPREFIX"
wineboot --init >/dev/null 2>&1
wineserver -w
user=$(whoami)
profile=$WINEPREFIX/drive_c/users/$user
folder=$profile/AppData/Local/Programs/Quillora
shortcut="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quillora.lnk"

passed=0 failed=0
check() { # description command...
    local description=$1
    shift
    if "$@"; then
        echo "ok:     $description"
        passed=$((passed + 1))
    else
        echo "FAILED: $description"
        failed=$((failed + 1))
    fi
}
# The uninstall entries of the package, one "DisplayVersion Publisher" line each. Wine keeps a
# per-user package's entry with the machine's.
entries() {
    awk '/^\[/ { inside = ($0 ~ /CurrentVersion\\\\Uninstall\\\\/); name = version = publisher = "" }
         inside && /^"DisplayName"="Quillora"/ { name = 1 }
         inside && /^"DisplayVersion"=/ { version = $0; sub(/^"DisplayVersion"="/, "", version); sub(/"$/, "", version) }
         inside && /^"Publisher"=/ { publisher = $0; sub(/^"Publisher"="/, "", publisher); sub(/"$/, "", publisher) }
         inside && /^$/ && name { print version " " publisher; name = "" }' \
        "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"
}
msiexec() {
    wine msiexec "$@" >/dev/null 2>&1
    local code=$?
    wineserver -w
    return $code
}
has() { [ -e "$1" ]; }
lacks() { [ ! -e "$1" ]; }
equals() { [ "$1" = "$2" ]; }
user_key_gone() { ! grep -q '^\[Software\\\\Quillora' "$WINEPREFIX/user.reg"; }

# The installed quillora-send delivers to the simulator.
delivers() {
    local port=47931 log
    log=$(mktemp)
    wine "$simulator" "$port" >"$log" 2>&1 &
    local simulator_pid=$!
    for _ in $(seq 100); do
        grep -q "listening" "$log" && break
        sleep 0.2
    done
    wine "$folder/quillora-send.exe" -a "127.0.0.1:$port" -t 5 "Installed and working" \
        >/dev/null 2>&1
    local code=$?
    sleep 0.5
    kill "$simulator_pid" 2>/dev/null
    wait "$simulator_pid" 2>/dev/null
    grep -q "body:    Installed and working" "$log" && [ "$code" -eq 0 ]
    local delivered=$?
    rm -f "$log"
    return $delivered
}

echo "-- install $version"
check "msiexec /i installs without a question" msiexec /i "$msi" /qn
check "quillora.exe is in %LOCALAPPDATA%\\Programs\\Quillora" has "$folder/quillora.exe"
check "quillora-send.exe is there too" has "$folder/quillora-send.exe"
check "quillora-relay.exe is there too" has "$folder/quillora-relay.exe"
check "the simulator is not" lacks "$folder/quillora-receiver-sim.exe"
check "the Start menu has the shortcut \"Quillora\"" has "$shortcut"
check "\"Apps & features\" has one entry, version $version, by its publisher" \
    equals "$(entries)" "$version The Quillora developers"
check "the installed quillora-send.exe delivers to the simulator" delivers
# The user's settings, as Save leaves them next to the program in a folder the user may write.
printf '[Dreambox]\r\nIP=192.0.2.7\r\nTimeout=10\r\n' >"$folder/Tavrel.INI"

echo "-- upgrade to $newer"
check "msiexec /i installs the newer package over it" msiexec /i "$newer_msi" /qn
check "\"Apps & features\" has one entry, version $newer" \
    equals "$(entries)" "$newer The Quillora developers"
check "the programs are there" has "$folder/quillora.exe"
check "the settings saved before are there" \
    grep -q "IP=192.0.2.7" "$folder/Tavrel.INI"
check "the installed quillora-send.exe still delivers" delivers

echo "-- remove"
check "msiexec /x removes it without a question" msiexec /x "$newer_msi" /qn
check "quillora.exe is gone" lacks "$folder/quillora.exe"
check "quillora-send.exe is gone" lacks "$folder/quillora-send.exe"
check "quillora-relay.exe is gone" lacks "$folder/quillora-relay.exe"
check "the shortcut is gone" lacks "$shortcut"
check "\"Apps & features\" has no entry" equals "$(entries)" ""
check "the installer's registry keys are gone" user_key_gone
check "the user's settings are still there" grep -q "IP=192.0.2.7" "$folder/Tavrel.INI"
check "nothing else is left in the folder" equals "$(ls -A "$folder")" "Tavrel.INI"

wineserver -k 2>/dev/null
echo "Installer: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
