#!/usr/bin/python3
"""python3-openpyxl doing the editor's workbook work in its fastest modes, for comparison.

  openpyxl_timing.py serve           answers commands on standard input, one a line, each
                                     with the milliseconds it took, wall and CPU:
      read PATH                      load_workbook(read_only=True) and take every cell's value
      write PATH                     a write_only workbook of the rows last read, with the
                                     nine data validations the editor adds, saved
  openpyxl_timing.py image XLSX BIN  what `varilume-cli image` does: read the workbook's
                                     first sheet, encode its first 3072 rows as the box's
                                     24 844-byte table image, write it
  openpyxl_timing.py decode BIN XLSX what `varilume-cli decode` does: read an image, turn its
                                     records into cell texts, write the workbook
  openpyxl_timing.py commands PAIRS CLI XLSX BIN
                                     runs `CLI image XLSX` against `image` above and `CLI
                                     decode BIN` against `decode` above, alternately, PAIRS
                                     times, and prints medians of wall and CPU time and of
                                     the ratios within each pair
"""
import os
import resource
import statistics
import subprocess
import tempfile
import struct
import sys
import time

import openpyxl
from openpyxl.worksheet.datavalidation import DataValidation

RULES = 3072
HEADER = ["SN", "DMX", "Sta", "Ctl", "CH", "Fix", "Fade In", "Fade Out", "Toggle", "Enable", "Remark"]
NOTES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]


def read(path):
    wb = openpyxl.load_workbook(path, read_only=True)
    rows = [[c.value for c in row] for row in wb.worksheets[0].iter_rows()]
    wb.close()
    return rows


def validations(last):
    fades = '"OFF,' + ",".join(str(i) for i in range(1, 51)) + '"'
    specs = [("whole", "B", "1", "1024", True, "Enter 1~1024", "DMX must be 1~1024"),
             ("list", "C", '"Note,AT,CC"', None, True, "Select Sta", "Sta must be Note/AT/CC"),
             ("whole", "D", "0", "127", True, "Enter 0~127", "Ctl must be 0~127"),
             ("list", "E", '"ALL,' + ",".join(str(i) for i in range(1, 17)) + '"', None, True, "Select CH",
              "CH must be ALL or 1~16"),
             ("list", "G", fades, None, True, "Select Fade In", "Invalid Fade In"),
             ("list", "H", fades, None, True, "Select Fade Out", "Invalid Fade Out"),
             ("list", "I", '"ON,OFF"', None, True, "Select Toggle", "Toggle must be ON/OFF"),
             ("list", "J", '"ON,OFF"', None, True, "Select Enable", "Enable must be ON/OFF"),
             ("custom", "F", 'OR(AND(ISNUMBER(F2), F2>=1, F2<=255), UPPER(F2)="OFF")', None, False,
              "Enter 1~255 (or OFF)", "Fix must be 1~255 (OFF allowed if typed)")]
    out = []
    for kind, col, f1, f2, blank, prompt, error in specs:
        dv = DataValidation(type=kind, operator="between" if kind == "whole" else None, formula1=f1, formula2=f2,
                            allow_blank=blank, showInputMessage=True, showErrorMessage=True, prompt=prompt,
                            error=error)
        dv.add("%s2:%s%d" % (col, col, last))
        out.append(dv)
    return out


def write(rows, path):
    wb = openpyxl.Workbook(write_only=True)
    ws = wb.create_sheet("MainTable")
    for dv in validations(len(rows)):
        ws.data_validations.append(dv)
    for row in rows:
        ws.append(row)
    wb.save(path)


def text(value):
    if value is None:
        return ""
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value).strip()


def number(value, default=0):
    digits = ""
    for ch in value:
        if not ch.isdigit():
            break
        digits += ch
    return int(digits) if digits else default


def encode(rows):
    records = bytearray()
    for row in rows[:RULES]:
        cells = [text(v) for v in row[:10]] + [""] * (10 - len(row[:10]))
        if not all(cells[1:9]):
            records += bytes(8)
            continue
        status = {"Note": 9, "AT": 10, "CC": 11}.get(cells[2], 0)
        channel = number(cells[4]) - 1 if cells[4] != "ALL" else 0
        dmx = number(cells[1], 1)
        flags = (1 << 10 if cells[9] == "ON" else 0) | (1 << 11 if cells[4] == "ALL" else 0) | (1 << 12) | \
                (1 << 13 if cells[8] == "ON" else 0) | ((dmx - 1) & 0x7FF)
        fix, fade_out, fade_in = (0 if v == "OFF" else number(v) for v in (cells[5], cells[7], cells[6]))
        records += struct.pack("<BBHBBBB", (status << 4) | (channel & 15), number(cells[3]) & 255, flags, fix & 255,
                               fade_out & 255, fade_in & 255, 0)
    records += bytes(RULES * 8 - len(records))
    header = (b"download request\0" + struct.pack("<H", sum(records) & 0xFFFF)).ljust(256, b"\0")
    return header + bytes(records) + b"end of data\0"


def decode(image):
    rows = [HEADER]
    records = image[256:256 + RULES * 8]
    for r in range(RULES):
        b = records[r * 8:r * 8 + 8]
        flags = b[2] | (b[3] << 8)
        if not flags & (1 << 12):
            rows.append([r + 1])
            continue
        status = {9: "Note", 10: "AT", 11: "CC"}.get(b[0] >> 4, " ")
        n = b[1]
        ctl = n if status == "CC" else "%d / %s%d" % (n, NOTES[n % 12], n // 12 - 2)
        rows.append([r + 1, (flags & 0x7FF) + 1, status, ctl, "ALL" if flags & (1 << 11) else (b[0] & 15) + 1,
                     b[4] or "OFF", b[6] or "OFF", b[5] or "OFF", "ON" if flags & (1 << 13) else "OFF",
                     "ON" if flags & (1 << 10) else "OFF"])
    return rows


def serve():
    rows = None
    for line in sys.stdin:
        command, _, path = line.strip().partition(" ")
        start, cpu = time.perf_counter(), time.process_time()
        if command == "read":
            rows = read(path)
        elif command == "write":
            write(rows, path)
        else:
            raise SystemExit("unknown command " + command)
        print("%.3f %.3f" % ((time.perf_counter() - start) * 1000, (time.process_time() - cpu) * 1000), flush=True)


def timed(command):
    """Wall and CPU (user + system) milliseconds of a whole process."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    wall = (time.perf_counter() - start) * 1000
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000
    return wall, cpu


def commands(pairs, cli, workbook, image):
    out = tempfile.mkdtemp()
    me = [sys.executable, os.path.abspath(__file__)]
    jobs = {"image": ([cli, "image", workbook, "-o", out + "/a.bin"], me + ["image", workbook, out + "/b.bin"]),
            "decode": ([cli, "decode", image, "-o", out + "/a.xlsx"], me + ["decode", image, out + "/b.xlsx"])}
    for name, (ours, theirs) in jobs.items():
        times = [(timed(ours), timed(theirs)) for _ in range(pairs)]
        for i, kind in ((0, "wall"), (1, "CPU")):
            mine = [t[0][i] for t in times]
            other = [t[1][i] for t in times]
            ratios = [t[1][i] / t[0][i] for t in times]
            print("%-6s %-4s varilume-cli %6.1f ms  python+openpyxl %6.1f ms  ratio median %4.1fx (min %4.1fx, "
                  "max %4.1fx)" % (name, kind, statistics.median(mine), statistics.median(other),
                                   statistics.median(ratios), min(ratios), max(ratios)))


def main():
    if sys.argv[1] == "serve":
        serve()
    elif sys.argv[1] == "image":
        with open(sys.argv[3], "wb") as f:
            f.write(encode(read(sys.argv[2])[1:]))
    elif sys.argv[1] == "decode":
        with open(sys.argv[2], "rb") as f:
            write(decode(f.read()), sys.argv[3])
    elif sys.argv[1] == "commands":
        commands(int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5])


if __name__ == "__main__":
    main()
