#!/usr/bin/env bash
# The release archives as a Windows user meets them: built twice, byte for byte the same; each
# holds the program and README.txt (with its BOM); the program is the PE type its name says, a
# GUI program with its manifest, version record and Japanese texts, importing only system DLLs;
# unpacked into an empty folder, each plays the virtual receiver as the listening test hears it
# and ends cleanly when closed.
#   tests/programs/release_archives.sh (its argument, the 64-bit player, is not used)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

"$root/tools/make-dist" "$work/first" >/dev/null
rm -f "$root"/build/{i686,x86_64}/WavelarkPlayerLite.exe # linked anew
"$root/tools/make-dist" "$work/second" >/dev/null
# shellcheck disable=SC1090
. "${WAVELARK_WINEPREFIX:-$root/build/wineprefix}.session"
export DISPLAY=$XVFB_DISPLAY WINEPREFIX=${WAVELARK_WINEPREFIX:-$root/build/wineprefix}
for zip in "$work"/first/*.zip; do
    name=$(basename "$zip")
    cmp -s "$zip" "$work/second/$name" || fail "$name differs between two builds"
    format=$(case "$name" in *-win32.zip) echo pei-i386 ;; *-win64.zip) echo pei-x86-64 ;; esac)
    folder="$work/user-${name%.zip}"
    python3 -m zipfile -e "$zip" "$folder"
    [ "$(ls "$folder" | tr '\n' ' ')" = "README.txt WavelarkPlayerLite.exe " ] || fail "$name holds $(ls "$folder")"
    [ "$(head -c 3 "$folder/README.txt" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "$name: README.txt has no BOM"
    header=$(x86_64-w64-mingw32-objdump -p "$folder/WavelarkPlayerLite.exe")
    for want in "file format $format" 'Subsystem[[:space:]]+00000002' 'Entry: ID: 0x000018,' 'Entry: ID: 0x000010,'; do
        grep -q -E "$want" <<<"$header" || fail "$name: no '$want' (PE type, GUI, manifest, version record)"
    done
    others=$(sed -n 's/.*DLL Name: //p' <<<"$header" |
        grep -v -i -x -E '(ADVAPI32|COMCTL32|dsound|GDI32|hid|KERNEL32|msvcrt|ole32|OLEAUT32|SETUPAPI|SHELL32|USER32)\.dll' || true)
    [ -z "$others" ] || fail "$name imports $others"
    python3 -c "import sys; d = open(sys.argv[1], 'rb').read(); sys.exit(not all(t.encode('utf-16-le') in d for t in ('再生', '停止', 'WavelarkPlayerの終了(&X)')))" \
        "$folder/WavelarkPlayerLite.exe" || fail "$name: the Japanese texts are missing"

    # Started from its folder with the receiver attached, it is heard, and ends cleanly when closed.
    (cd "$folder" && "$root/tests/programs/heard_end_to_end.sh" ./WavelarkPlayerLite.exe) >"$work/run.log" 2>&1 ||
        fail "$name: $(grep FAIL "$work/run.log" || tail -n 3 "$work/run.log")"
done
[ $status -eq 0 ] && echo "both archives reproducible, complete and working"
exit $status
