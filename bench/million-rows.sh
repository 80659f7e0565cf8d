#!/usr/bin/env bash
# A workbook of a million rows that hold only their SN (made by python3-openpyxl in its
# write_only mode, about 7.5 MB), given to `varilume-cli image` three times beside one of
# 3072 such rows: wall time, CPU time and peak memory of the whole process. The import stops after its 16 384 rules
# and says so. Needs bash scripts/build-release.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$PWD/build-release/src/cli/varilume-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The baseline, taking turns with it: the same kind of workbook with the box's 3072 rows.
for rows in 1000000 3072; do
  /usr/bin/python3 - "$work/$rows.xlsx" "$rows" <<'PY'
import sys, openpyxl
wb = openpyxl.Workbook(write_only=True)
ws = wb.create_sheet("Sheet1")
ws.append(["SN", "DMX", "Sta", "Ctl", "CH", "Fix", "Fade In", "Fade Out", "Toggle", "Enable", "Remark"])
for i in range(1, int(sys.argv[2]) + 1):
    ws.append([i])
wb.save(sys.argv[1])
PY
  echo "workbook of $rows rows: $(stat -c %s "$work/$rows.xlsx") bytes"
done
for _ in 1 2 3; do
  for rows in 1000000 3072; do
    /usr/bin/time -f "$rows rows: %e s wall, %U s user + %S s system, %M KB peak" \
      "$cli" image "$work/$rows.xlsx" -o "$work/m.bin" 2>&1 | grep -v warning
  done
done
