#!/usr/bin/env bash
# Cross-builds Quillora for 64-bit Windows, packs it as an installer and a zip, and tests it under
# Wine: every test program (the settings tests a second time with Windows set to UTF-8 as its code
# page), quillora-send --find against announcing simulators, then the installer's install, upgrade
# and removal. The first run also builds Qt for
# Windows (once, into a cache outside the clone; see scripts/windows-qt.sh).
# The result: build/windows/quillora-x64.msi, build/windows/quillora-windows-x64.zip and
# build/windows/dist/ (one file per program).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh g++-mingw-w64-x86-64-posix wine wine64 ninja-build dpkg-dev zip wixl msitools socat iproute2 \
    locales mosquitto
qt=$(scripts/windows-qt.sh)
libraries=$(scripts/windows-libraries.sh)
out=build/windows
version=$(sed -n 's/^project(Quillora VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt).0

echo "== The icon, drawn by a build for this machine"
cmake -S . -B "$out/host" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$out/host" --target quillora-icons >/dev/null
icon=$PWD/$out/host/window/quillora.ico

echo "== Cross-build for Windows"
"$qt/bin/qt-cmake" -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUILLORA_WERROR=ON -DQUILLORA_ICO="$icon" -DQUILLORA_WINDOWS_LIBRARIES="$libraries" >/dev/null
cmake --build "$out/build" --parallel "$(nproc)"

echo "== One file per program"
rm -rf "$out/dist" "$out"/*.zip "$out"/*.msi
mkdir -p "$out/dist"
for program in quillora quillora-send quillora-relay quillora-receiver-sim; do
    x86_64-w64-mingw32-strip -o "$out/dist/$program.exe" "$out/build/$program.exe"
    # Only DLLs that every Windows has: no Qt, and nothing of the compiler's runtime.
    imports=$(x86_64-w64-mingw32-objdump -p "$out/dist/$program.exe" | sed -n 's/^\s*DLL Name: //p')
    if grep -Eiv '^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|ws2_32|winmm|imm32|dwmapi|uxtheme|version|shlwapi|netapi32|userenv|iphlpapi|dnsapi|winhttp|secur32|crypt32|bcrypt|ncrypt|mpr|setupapi|winspool\.drv|authz|wtsapi32|d3d9|d3d11|d3d12|dxgi|dwrite|d2d1|shcore|msvcrt|api-ms-win-[a-z0-9-]+)\.dll$|^winspool\.drv$' \
        <<<"$imports"; then
        echo "$program.exe needs a DLL that Windows does not have (listed above)" >&2
        exit 1
    fi
done
# Notepad before Windows 10 shows a text with bare line feeds as one line.
sed 's/$/\r/' scripts/windows/README.txt >"$out/dist/README.txt"
(cd "$out/dist" && zip -q -X ../quillora-windows-x64.zip quillora.exe quillora-send.exe \
    quillora-relay.exe quillora-receiver-sim.exe README.txt)

echo "== Installer"
# wixl takes the files' names relative to the folder it runs in.
msi() { # version output
    cp scripts/windows/quillora.wxs "$out/quillora.wxs"
    cp "$icon" "$out/quillora.ico"
    (cd "$out" && wixl -a x64 -D Version="$1" -D Dist=dist -D Icon=quillora.ico -o "$2" quillora.wxs)
    rm "$out/quillora.wxs" "$out/quillora.ico"
}
msi "$version" quillora-x64.msi
# The same programs as a newer version, to test the upgrade with.
newer=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<<"$version")
mkdir -p "$out/upgrade"
msi "$newer" upgrade/quillora-x64-$newer.msi

echo "== Tests under Wine"
export WINEPREFIX=$PWD/$out/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
# Windows set to UTF-8 as its code page: Wine takes it from a UTF-8 locale whose Windows code
# page is 65001.
if ! locale -a | grep -qx 'hi_IN.utf8'; then
    sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" localedef -i hi_IN -f UTF-8 hi_IN.UTF-8
fi
mkdir -p "$out/results"
passed=0 failed=0 skipped=0 status=0
run_test() { # test result-name [environment...]
    local test=$1 name=$2 result=$out/results/$2.txt options=()
    shift 2
    [ "$test" = test_window ] && options=(-platform offscreen)
    rm -f "$result"
    env "$@" wine "$out/build/tests/$test.exe" "${options[@]}" -o "$(winepath -w "$result"),txt" \
        >/dev/null 2>&1 || status=1
    if [ ! -f "$result" ]; then
        echo "$test.exe wrote no results" >&2
        status=1
        return
    fi
    grep -E '^(FAIL!|XPASS|QFATAL)' -A3 "$result" || true
    grep -E '^(SKIP|XFAIL)' "$result" || true
    local totals p f s
    totals=$(grep '^Totals:' "$result")
    echo "$name: $totals"
    read -r p f s < <(sed -E 's/Totals: ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped.*/\1 \2 \3/' <<<"$totals")
    passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
}
for test in test_messaging test_settings test_sender test_window test_relay test_relay_service \
    test_mqtt; do
    run_test "$test" "$test"
done
# The relay's MQTT tests reach Linux's Mosquitto on loopback from Wine: plain and over TLS, with
# this build's test certificate.
free_port() {
    local port
    for port in $(shuf -i 20000-60000 -n 50); do
        ss -Hltn "sport = :$port" | grep -q . || { echo "$port"; return; }
    done
}
broker_port=$(free_port)
broker_tls=$(free_port)
tests/mqtt-broker.sh "$out/broker" "$broker_port" "$broker_tls" \
    "$PWD/$out/build/tests/certificates" >"$out/broker.log" 2>&1 &
broker=$!
for _ in $(seq 50); do
    ss -Hltn "sport = :$broker_port" | grep -q . && break
    sleep 0.2
done
run_test test_relay_mqtt test_relay_mqtt QUILLORA_TEST_BROKER="$broker_port" \
    QUILLORA_TEST_BROKER_TLS="$broker_tls"
kill "$broker" 2>/dev/null || true
run_test test_settings test_settings-utf8 LC_ALL=hi_IN.UTF-8
# The TLS fronts the tests started under Wine (see tests/TlsFront.h) outlive them there. Started
# by Wine, they are named \usr\bin\socat; they serve this build's test certificates.
pkill -f "OPENSSL-LISTEN:.*cert=$PWD/$out/build/tests/certificates/" || true
if ! grep -q 'ANSI code page: 65001' "$out/results/test_settings-utf8.txt"; then
    echo "test_settings did not run with Windows set to UTF-8 (code page 65001)" >&2
    status=1
fi
echo "Windows: $passed passed, $failed failed, $skipped skipped"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ] || exit 1

echo "== quillora-send --find under Wine, on a network of its own"
scripts/windows/find-test.sh "$out/dist"

echo "== The installer under Wine: install, upgrade, remove"
scripts/windows/msi-test.sh "$out/quillora-x64.msi" "$out/upgrade/quillora-x64-$newer.msi" \
    "$out/dist/quillora-receiver-sim.exe" "$version" "$newer"

echo "Quillora for Windows: $PWD/$out/quillora-x64.msi ($(du -k "$out/quillora-x64.msi" | cut -f1) KiB)"
echo "                      $PWD/$out/quillora-windows-x64.zip ($(du -k "$out/quillora-windows-x64.zip" | cut -f1) KiB)"
