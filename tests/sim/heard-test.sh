#!/usr/bin/env bash
# End to end, heard: the simulated player on the test session's display and null sink plays
# FM 87.9 as 790 Hz, the upper arrow moves it to 800 Hz (88.0), Stop silences it.
#   tests/sim/heard-test.sh PLAYER.exe
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$root/tools/play-script" "$1" "$out/shot.png" --start FM:87.9 | tee "$out/heard.txt"

near() { [ "$1" != silence ] && [ "$1" -ge $(($2 - 3)) ] && [ "$1" -le $(($2 + 3)) ]; }
line=$(grep '^heard:' "$out/heard.txt")
first=$(echo "$line" | awk '{print $2}')
second=$(echo "$line" | awk '{print $5}')
stopped=$(grep '^after Stop:' "$out/heard.txt" | awk '{print $3}')
status=0
near "$first" 790 || { echo "FAIL: Play gave $first, not 790 Hz"; status=1; }
near "$second" 800 || { echo "FAIL: the upper arrow gave $second, not 800 Hz"; status=1; }
[ "$stopped" = silence ] || { echo "FAIL: Stop left $stopped"; status=1; }
[ $status -eq 0 ] && echo "heard as expected"
exit $status
