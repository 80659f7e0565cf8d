#!/usr/bin/python3
"""Times python3-openpyxl reading and writing the same rule workbook the editor writes.

  openpyxl_timing.py WORKBOOK [RUNS]

Reading loads the workbook and takes every cell's value; writing builds the same cells and
the nine data validations and saves. Prints the median of each in milliseconds."""
import statistics
import sys
import tempfile
import time

import openpyxl
from openpyxl.worksheet.datavalidation import DataValidation


def read(path):
    wb = openpyxl.load_workbook(path)
    ws = wb.worksheets[0]
    return [[c.value for c in row] for row in ws.iter_rows()]


def write(rows, path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "MainTable"
    for row in rows:
        ws.append(row)
    last = len(rows)
    specs = [("whole", "B", "1", "1024"), ("list", "C", '"Note,AT,CC"', None), ("whole", "D", "0", "127"),
             ("list", "E", '"ALL,' + ",".join(str(i) for i in range(1, 17)) + '"', None),
             ("list", "G", '"OFF,' + ",".join(str(i) for i in range(1, 51)) + '"', None),
             ("list", "H", '"OFF,' + ",".join(str(i) for i in range(1, 51)) + '"', None),
             ("list", "I", '"ON,OFF"', None), ("list", "J", '"ON,OFF"', None),
             ("custom", "F", 'OR(AND(ISNUMBER(F2), F2>=1, F2<=255), UPPER(F2)="OFF")', None)]
    for kind, col, f1, f2 in specs:
        dv = DataValidation(type=kind, operator="between" if kind == "whole" else None, formula1=f1, formula2=f2,
                            allow_blank=kind != "custom", showInputMessage=True, showErrorMessage=True,
                            prompt="p", error="e")
        dv.add("%s2:%s%d" % (col, col, last))
        ws.add_data_validation(dv)
    wb.save(path)


def main():
    path = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    reads, writes = [], []
    rows = None
    for _ in range(runs):
        t = time.perf_counter()
        rows = read(path)
        reads.append((time.perf_counter() - t) * 1000)
    out = tempfile.NamedTemporaryFile(suffix=".xlsx", delete=False).name
    for _ in range(runs):
        t = time.perf_counter()
        write(rows, out)
        writes.append((time.perf_counter() - t) * 1000)
    print("openpyxl read  %.1f ms" % statistics.median(reads))
    print("openpyxl write %.1f ms" % statistics.median(writes))


if __name__ == "__main__":
    main()
