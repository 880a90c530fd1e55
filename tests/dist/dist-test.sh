#!/usr/bin/env bash
# The release archives as a Windows user meets them: built twice, byte for byte the same; each
# holds the program and README.txt; the program is the PE type its name says, a GUI program
# with its manifest, version record and Japanese texts, importing only system DLLs; unpacked
# into an empty folder the 64-bit one opens its dialog without a receiver and ends cleanly
# when closed.
#   tests/dist/dist-test.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

"$root/tools/make-dist" "$work/first" >/dev/null
rm -f "$root/build/i686/WavelarkPlayerLite.exe" "$root/build/x86_64/WavelarkPlayerLite.exe" # linked anew
"$root/tools/make-dist" "$work/second" >/dev/null
for zip in "$work"/first/*.zip; do
    cmp -s "$zip" "$work/second/$(basename "$zip")" || fail "$(basename "$zip") differs between two builds"
done

# shellcheck disable=SC1090
. "${WAVELARK_WINEPREFIX:-$root/build/wineprefix}.session"
export DISPLAY=$XVFB_DISPLAY WINEPREFIX=${WAVELARK_WINEPREFIX:-$root/build/wineprefix}
system_dlls='ADVAPI32|COMCTL32|dsound|GDI32|hid|KERNEL32|msvcrt|ole32|OLEAUT32|SETUPAPI|SHELL32|USER32'
for zip in "$work"/first/*.zip; do
    name=$(basename "$zip")
    case "$name" in
        *-win32.zip) format=pei-i386 ;;
        *-win64.zip) format=pei-x86-64 ;;
        *) fail "unexpected archive $name"; continue ;;
    esac
    folder="$work/user-${name%.zip}"
    mkdir "$folder"
    python3 -m zipfile -e "$zip" "$folder"
    [ "$(ls "$folder" | tr '\n' ' ')" = "README.txt WavelarkPlayerLite.exe " ] || fail "$name holds $(ls "$folder")"
    [ "$(head -c 3 "$folder/README.txt" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "$name: README.txt has no BOM"
    program="$folder/WavelarkPlayerLite.exe"
    header=$(x86_64-w64-mingw32-objdump -p "$program")
    grep -q "file format $format" <<<"$header" || fail "$name: not $format"
    grep -q -E 'Subsystem[[:space:]]+00000002' <<<"$header" || fail "$name: not a GUI program"
    grep -q -E '^[0-9a-f]+   Entry: ID: 0x000018,' <<<"$header" || fail "$name: no manifest"
    grep -q -E '^[0-9a-f]+   Entry: ID: 0x000010,' <<<"$header" || fail "$name: no version record"
    others=$(sed -n 's/.*DLL Name: //p' <<<"$header" | grep -v -i -x -E "($system_dlls)\.dll" || true)
    [ -z "$others" ] || fail "$name imports $others"
    python3 - "$program" <<'PY' || fail "$name: the Japanese texts are missing"
import sys
data = open(sys.argv[1], 'rb').read()
sys.exit(0 if all(t.encode('utf-16-le') in data for t in ('再生', '停止', 'WavelarkPlayerの終了(&X)')) else 1)
PY

    # The 32-bit Wine of these machines, under emulation, stops with an illegal instruction
    # in the program's first seconds (as it crashes in the dialog tests): only the 64-bit
    # program is started.
    [ "$format" = pei-x86-64 ] || continue
    (cd "$folder" && exec "$root/tools/wine-run" ./WavelarkPlayerLite.exe) >"$work/run.log" 2>&1 &
    player=$!
    window=""
    for _ in $(seq 240); do
        window=$(xdotool search --name '^WavelarkPlayerLite$' 2>/dev/null | head -n1 || true)
        [ -n "$window" ] && break
        sleep 0.5
    done
    [ -n "$window" ] || fail "$name: the dialog did not show"
    # Closed as the shell closes a program's windows: WM_CLOSE to each of them.
    WINEDEBUG=-all /usr/lib/wine/wine64 taskkill /im WavelarkPlayerLite.exe >/dev/null 2>&1 || true
    for _ in $(seq 240); do
        kill -0 "$player" 2>/dev/null || break
        sleep 0.5
    done
    if kill -0 "$player" 2>/dev/null; then
        fail "$name: still running after its dialog was closed"
        pkill -P "$player" 2>/dev/null || true
        kill "$player" 2>/dev/null || true
    elif ! wait "$player"; then
        fail "$name: ended with an error"
    fi
    ! grep -q -E 'Unhandled|page fault' "$work/run.log" || fail "$name: crashed: $(grep -m1 -E 'Unhandled|page fault' "$work/run.log")"
done
[ $status -eq 0 ] && echo "both archives reproducible, complete and working"
exit $status
