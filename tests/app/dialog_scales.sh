#!/usr/bin/env bash
# The dialog and tray tests at 96, 120, 144 and 192 DPI, each in a process started at that DPI,
# which Wine takes from its registry.
#   tests/app/dialog_scales.sh TESTS.exe
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
dpi() { "$root/tools/wine-run" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }
trap 'dpi 96' EXIT
for scale in 96 120 144 192; do
    dpi $scale
    WAVELARK_DPI=$scale "$root/tools/wine-run" "$1" --gtest_brief=1 --gtest_filter='MainDialog.*:Tray.*' 2>/dev/null ||
        { echo "FAIL: the dialog at $scale DPI" && exit 1; }
done
