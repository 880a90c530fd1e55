#!/usr/bin/env bash
# End to end, heard: the shipping player on the test session's display and null sink plays
# FM 87.9 as 790 Hz, the upper arrow moves it to 800 Hz (88.0), Stop silences it and Play
# plays again. Every tone must hold its pitch within 2 Hz (the interpolated zero crossings of
# three seconds measure it to a fraction of that), play without dropouts (at most 2% of its
# 10 ms windows quiet) and at the source's level (about -13 dBFS; at least -20).
#   tests/programs/heard_end_to_end.sh PLAYER.exe
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$root/tools/play-script" "$1" "$out/shot.png" --start FM:87.9 | tee "$out/heard.txt"

status=0
# heard LABEL HZ: the line of LABEL shows HZ, without dropouts and at the tone's level.
heard()
{
    local line
    line=$(grep "^$1:" "$out/heard.txt" | cut -d: -f2-)
    if ! echo "$line" | awk -v want="$2" '$2 == "Hz" { d = $1 - want; ok = (d <= 2 && d >= -2) && $4 + 0 <= 2 && $6 + 0 >= -20 } END { exit !ok }'; then
        echo "FAIL: $1 gave '$line', not $2 Hz cleanly"
        status=1
    fi
}
heard "first Play" 790
heard "upper arrow" 800
heard "second Play" 800
grep -q '^after Stop: silence$' "$out/heard.txt" || { echo "FAIL: Stop left $(grep '^after Stop:' "$out/heard.txt")"; status=1; }
[ $status -eq 0 ] && echo "heard as expected"
exit $status
