#!/usr/bin/env bash
# A workbook of a million rows that hold only their SN (made by python3-openpyxl in its
# write_only mode, about 7.5 MB), given to `varilume-cli image` three times: wall time,
# CPU time and peak memory of the whole process. The import stops after its 16 384 rules
# and says so. Needs bash scripts/build-release.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$PWD/build-release/src/cli/varilume-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work/million.xlsx" <<'PY'
import sys, openpyxl
wb = openpyxl.Workbook(write_only=True)
ws = wb.create_sheet("Sheet1")
ws.append(["SN", "DMX", "Sta", "Ctl", "CH", "Fix", "Fade In", "Fade Out", "Toggle", "Enable", "Remark"])
for i in range(1, 1000001):
    ws.append([i])
wb.save(sys.argv[1])
PY
echo "workbook: $(stat -c %s "$work/million.xlsx") bytes"
for _ in 1 2 3; do
  /usr/bin/time -f '%e s wall, %U s user + %S s system, %M KB peak' "$cli" image "$work/million.xlsx" -o "$work/m.bin"
done
