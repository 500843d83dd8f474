#!/usr/bin/env bash
# Cross-builds Quillora for 64-bit Windows and runs every test program under Wine. The first run
# also builds Qt for Windows (once, into a cache outside the clone; see scripts/windows-qt.sh).
# The result: build/windows/dist/ (one file per program) and build/windows/quillora-windows-x64.zip.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh g++-mingw-w64-x86-64-posix wine wine64 ninja-build dpkg-dev zip
qt=$(scripts/windows-qt.sh)
out=build/windows

echo "== Cross-build for Windows"
"$qt/bin/qt-cmake" -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUILLORA_WERROR=ON >/dev/null
cmake --build "$out/build" --parallel "$(nproc)"

echo "== One file per program"
rm -rf "$out/dist" "$out/quillora-windows-x64.zip"
mkdir -p "$out/dist"
for program in quillora quillora-send quillora-receiver-sim; do
    x86_64-w64-mingw32-strip -o "$out/dist/$program.exe" "$out/build/$program.exe"
    # Only DLLs that every Windows has: no Qt, and nothing of the compiler's runtime.
    imports=$(x86_64-w64-mingw32-objdump -p "$out/dist/$program.exe" | sed -n 's/^\s*DLL Name: //p')
    if grep -Eiv '^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|ws2_32|winmm|imm32|dwmapi|uxtheme|version|shlwapi|netapi32|userenv|iphlpapi|dnsapi|winhttp|secur32|crypt32|bcrypt|mpr|setupapi|winspool\.drv|authz|wtsapi32|d3d9|d3d11|d3d12|dxgi|dwrite|d2d1|shcore|msvcrt|api-ms-win-[a-z0-9-]+)\.dll$|^winspool\.drv$' \
        <<<"$imports"; then
        echo "$program.exe needs a DLL that Windows does not have (listed above)" >&2
        exit 1
    fi
done
cp scripts/windows/README.txt "$out/dist/README.txt"
(cd "$out/dist" && zip -q -X ../quillora-windows-x64.zip quillora.exe quillora-send.exe \
    quillora-receiver-sim.exe README.txt)

echo "== Tests under Wine"
export WINEPREFIX=$PWD/$out/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
mkdir -p "$out/results"
passed=0 failed=0 skipped=0 status=0
for test in test_messaging test_settings test_sender test_window; do
    result=$out/results/$test.txt
    options=()
    [ "$test" = test_window ] && options=(-platform offscreen)
    rm -f "$result"
    wine "$out/build/tests/$test.exe" "${options[@]}" -o "$(winepath -w "$result"),txt" \
        >/dev/null 2>&1 || status=1
    if [ ! -f "$result" ]; then
        echo "$test.exe wrote no results" >&2
        status=1
        continue
    fi
    grep -E '^(FAIL!|XPASS|QFATAL)' -A3 "$result" || true
    grep -E '^(SKIP|XFAIL)' "$result" || true
    totals=$(grep '^Totals:' "$result")
    echo "$test: $totals"
    read -r p f s < <(sed -E 's/Totals: ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped.*/\1 \2 \3/' <<<"$totals")
    passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
done
echo "Windows: $passed passed, $failed failed, $skipped skipped"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ] || exit 1
echo "Quillora for Windows: $PWD/$out/quillora-windows-x64.zip"
