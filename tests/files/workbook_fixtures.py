#!/usr/bin/python3
"""Workbooks for the editor's workbook tests, written and read by openpyxl.

  workbook_fixtures.py make DIR KIND...  writes DIR/KIND.xlsx for every kind named
  workbook_fixtures.py dump PATH         prints what openpyxl reads from a workbook, as JSON
"""
import json
import re
import shutil
import sys
import tempfile
import zipfile

import openpyxl

HEADER = ["SN", "DMX", "Sta", "Ctl", "CH", "Fix", "Fade In", "Fade Out", "Toggle", "Enable", "Remark"]


def rules_workbook(rows, remarks=None, numbers=True):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "MainTable"
    ws.append(HEADER)
    for i in range(rows):
        dmx = i + 1 if numbers else str(i + 1)
        ctl = 7 if numbers else "7"
        row = [i + 1 if numbers else str(i + 1), dmx, "CC", ctl, "ALL", "OFF", 5 if numbers else "5",
               "OFF", "OFF", "ON"]
        if remarks and i in remarks:
            row.append(remarks[i])
        ws.append(row)
    return wb


def rewrite_package(path, change):
    """Applies change(name, bytes) -> (name, bytes) or None to every part of a package."""
    tmp = tempfile.mktemp(suffix=".xlsx")
    with zipfile.ZipFile(path) as src, zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as dst:
        for item in src.infolist():
            result = change(item.filename, src.read(item.filename))
            if result is not None:
                dst.writestr(result[0], result[1])
    shutil.move(tmp, path)


def share_strings(path, runs_for=None):
    """Moves every plain inline string of the first sheet into a shared-strings part, as
    spreadsheet programs store text. A text named in runs_for is stored as rich-text runs
    with a phonetic hint."""
    strings = []

    def index(text):
        if text not in strings:
            strings.append(text)
        return strings.index(text)

    def change(name, data):
        text = data.decode("utf-8")
        if name == "xl/worksheets/sheet1.xml":
            text = re.sub(r'<c r="([A-Z]+\d+)"( s="\d+")? t="inlineStr"><is><t>([^<]*)</t></is></c>',
                          lambda m: '<c r="%s" t="s"><v>%d</v></c>' % (m.group(1), index(m.group(3))), text)
        elif name == "xl/_rels/workbook.xml.rels":
            text = text.replace("</Relationships>",
                                '<Relationship Id="rIdStrings" Target="sharedStrings.xml" Type="http://schemas.'
                                'openxmlformats.org/officeDocument/2006/relationships/sharedStrings"/></Relationships>')
        elif name == "[Content_Types].xml":
            text = text.replace("</Types>",
                                '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxml'
                                'formats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')
        return name, text.encode("utf-8")
    rewrite_package(path, change)

    items = []
    for s in strings:
        if runs_for and s == runs_for:
            items.append('<si><r><t>%s</t></r><r><rPr><b/></rPr><t>%s</t></r><rPh sb="0" eb="1"><t>x</t></rPh></si>'
                         % (s[:1], s[1:]))
        else:
            items.append('<si><t xml:space="preserve">%s</t></si>' % s)
    part = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?><sst xmlns="http://schemas.openxmlformats.org/'
            'spreadsheetml/2006/main" count="%d" uniqueCount="%d">%s</sst>' % (len(strings), len(strings),
                                                                                 "".join(items)))
    with zipfile.ZipFile(path, "a") as z:
        z.writestr("xl/sharedStrings.xml", part)


def with_header(titles, rows):
    """A workbook with the given header titles and rows (lists of values)."""
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "MainTable"
    ws.append(titles)
    for row in rows:
        ws.append(row)
    return wb


def rule(i):
    """The ten texts of rule i, as the editor writes them."""
    return [i + 1, i % 1024 + 1, "CC", i % 128, "ALL", "OFF", 5, "OFF", "OFF", "ON"]


def patch_sheet(path, change):
    rewrite_package(path, lambda n, d: (n, change(d) if n == "xl/worksheets/sheet1.xml" else d))


def nested(n):
    return b"<x>" * n + b"y" + b"</x>" * n


def make(kind, path):
    if kind == "gap-after-4":
        # Four rules, an empty row, then rows that are not loaded.
        wb = rules_workbook(4, remarks={0: "first"})
        ws = wb.active
        ws.append([])
        ws.append(rule(6) + ["after the gap"])
        ws.append([None, 9, "CC", 1])
        ws.append([None] * 10 + ["only a remark"])
        wb.save(path)
    elif kind == "5000-remarks":
        wb = openpyxl.Workbook(write_only=True)
        ws = wb.create_sheet("MainTable")
        ws.append(HEADER)
        for i in range(5000):
            ws.append(rule(i) + ["Remark %d" % i])
        wb.save(path)
    elif kind == "missing-in-order":
        with_header(["SN", "DMX", "Sta", "Ctl", "CH", "Remark"],
                    [[1, 5, "CC", 7, "ALL", "front"], [2, 6, "Note", 60, 3]]).save(path)
    elif kind == "missing-shuffled":
        with_header(["Enable", "ctl", "SN", "dmx", "STA", "Remark"],
                    [["ON", 7, 1, 5, "CC", "front"], ["OFF", 60, 2, 6, "Note"]]).save(path)
    elif kind == "all-shuffled":
        with_header(["fade out", "Toggle", "SN", "fix", "Enable", "CH", "DMX", "Fade In", "Ctl", "sta", "REMARK"],
                    [["OFF", "ON", 1, 200, "ON", 16, 5, 3, 7, "CC", "front"]]).save(path)
    elif kind == "no-remark-column":
        with_header(HEADER[:10], [rule(0), rule(1)]).save(path)
    elif kind == "extra-in-order":
        with_header(HEADER[:10] + ["Notes", "Remark"], [rule(0) + ["n", "r"]]).save(path)
    elif kind == "extra-shuffled":
        with_header(["DMX", "SN", "Owner", "Sta", "Remark"], [[5, 1, "me", "CC", "r"]]).save(path)
    elif kind == "remark-not-last":
        with_header(["SN", "DMX", "Remark", "Sta"], [[1, 5, "r", "CC"]]).save(path)
    elif kind == "twice":
        with_header(["SN", "DMX", "dmx", "Remark"], [[1, 5, 6, "r"]]).save(path)
    elif kind == "no-sn":
        with_header(["DMX", "Sta", "Remark"], [[5, "CC", "r"]]).save(path)
    elif kind == "right-of-remark":
        # Fifty untitled columns of data right of the remark, which the editor ignores.
        wb = openpyxl.Workbook(write_only=True)
        ws = wb.create_sheet("MainTable")
        ws.append(HEADER)
        for i in range(20):
            ws.append(rule(i) + ["Remark %d" % i] + ["extra %d" % c for c in range(50)])
        wb.save(path)
    elif kind == "wide-header":
        # A small file whose header is as wide as a sheet can be.
        wb = openpyxl.Workbook(write_only=True)
        ws = wb.create_sheet("MainTable")
        ws.append(HEADER + ["Extra %d" % c for c in range(12, 16385)])
        for i in range(3072):
            ws.append([i + 1])
        wb.save(path)
    elif kind in ("deep-v", "deep-inline"):
        # Tens of thousands of elements nested in one cell's value.
        rules_workbook(1, numbers=False).save(path)
        if kind == "deep-v":
            patch_sheet(path, lambda d: d.replace(b'<c r="A2" t="inlineStr"><is><t>1</t></is></c>',
                                                  b'<c r="A2"><v>' + nested(200000) + b"</v></c>"))
        else:
            patch_sheet(path, lambda d: d.replace(b"<t>1</t>", b"<t>" + nested(200000) + b"</t>"))
    elif kind == "deep-shared":
        rules_workbook(1, numbers=False).save(path)
        share_strings(path)
        rewrite_package(path, lambda n, d: (n, d.replace(b"<t xml:space=\"preserve\">CC</t>",
                                                         b"<t>" + nested(200000) + b"</t>")
                                            if n == "xl/sharedStrings.xml" else d))
    elif kind == "stray-rph":
        # A pronunciation hint outside any inline string, before the rows' other texts.
        rules_workbook(3, numbers=False).save(path)
        patch_sheet(path, lambda d: d.replace(b'<c r="A2" t="inlineStr"><is>', b'<c r="A2" t="inlineStr"><rPh/><is>'))
    elif kind == "past-the-limit":
        # More rows than the editor takes, each with its SN only, written straight as XML.
        rules_workbook(1).save(path)
        rows = b"".join(b'<row r="%d"><c r="A%d"><v>%d</v></c></row>' % (r, r, r - 1) for r in range(3, 16390))
        patch_sheet(path, lambda d: d.replace(b"</sheetData>", rows + b"</sheetData>"))
    elif kind == "numbers":
        # Numbers stored as numbers, a decimal among them.
        wb = rules_workbook(3, numbers=True)
        wb.active["G3"] = 2.01
        wb.active["B4"] = 5.0
        wb.save(path)
    elif kind == "remarks":
        # Shared strings for the texts; a remark holding "=" and a row without remark.
        wb = rules_workbook(4, remarks={0: "  Front wash  ", 1: "a=b", 3: "Back"}, numbers=False)
        wb.save(path)
        share_strings(path, runs_for="ALL")
    elif kind == "no-remarks":
        rules_workbook(2, numbers=False).save(path)
    elif kind == "inline":
        # Inline strings as openpyxl writes them; row 2's status made of two rich-text runs.
        rules_workbook(2, numbers=False).save(path)

        def change(name, data):
            text = data.decode("utf-8")
            if name == "xl/worksheets/sheet1.xml":
                text = text.replace('<c r="C2" t="inlineStr"><is><t>CC</t></is></c>',
                                    '<c r="C2" t="inlineStr"><is><r><t>C</t></r><r><rPr><b/></rPr><t>C</t></r>'
                                    '</is></c>')
            return name, text.encode("utf-8")
        rewrite_package(path, change)
    elif kind == "other-sheet-first":
        # Two sheets; the first in the workbook's order lives in a part not named sheet1.xml,
        # and it is not called MainTable.
        wb = rules_workbook(2, numbers=False)
        wb.active.title = "Show A"
        other = wb.create_sheet("Notes")
        other["A1"] = "not the rules"
        wb.save(path)

        def change(name, data):
            renames = {"xl/worksheets/sheet1.xml": "xl/worksheets/rules.xml",
                       "xl/worksheets/sheet2.xml": "xl/worksheets/sheet1.xml"}
            text = data
            if name in ("xl/_rels/workbook.xml.rels", "[Content_Types].xml"):
                t = data.decode("utf-8")
                t = t.replace("worksheets/sheet1.xml", "worksheets/TMP.xml")
                t = t.replace("worksheets/sheet2.xml", "worksheets/sheet1.xml")
                t = t.replace("worksheets/TMP.xml", "worksheets/rules.xml")
                text = t.encode("utf-8")
            return renames.get(name, name), text
        rewrite_package(path, change)
    elif kind == "no-header":
        wb = openpyxl.Workbook()
        wb.active["A2"] = "1"
        wb.save(path)
    elif kind == "one-column":
        wb = openpyxl.Workbook()
        wb.active["A1"] = "SN"
        wb.active["A2"] = "1"
        wb.save(path)
    elif kind == "empty-row2":
        wb = rules_workbook(0)
        wb.active["B2"] = "5"
        wb.active["A3"] = "2"
        wb.save(path)
    elif kind == "no-sheets":
        rules_workbook(1).save(path)

        def change(name, data):
            if name == "xl/workbook.xml":
                return name, re.sub(rb"<sheets>.*</sheets>", b"<sheets/>", data, flags=re.S)
            return name, data
        rewrite_package(path, change)
    elif kind == "broken-xml":
        rules_workbook(1).save(path)
        rewrite_package(path, lambda n, d: (n, d[: len(d) // 2] if n == "xl/worksheets/sheet1.xml" else d))
    elif kind == "deep":
        rules_workbook(1).save(path)
        deep = b"<x>" * 100000 + b"</x>" * 100000
        rewrite_package(path, lambda n, d: (n, d.replace(b"<sheetData>", b"<sheetData>" + deep)
                                            if n == "xl/worksheets/sheet1.xml" else d))
    elif kind == "huge":
        # Many cells that unpack from a small file; tests read it with small limits.
        rules_workbook(1).save(path)
        cells = b"<row>" + b"<c><v>1</v></c>" * 10 + b"</row>"
        rewrite_package(path, lambda n, d: (n, d.replace(b"</sheetData>", cells * 5000 + b"</sheetData>")
                                            if n == "xl/worksheets/sheet1.xml" else d))
    elif kind == "no-refs":
        # Rows and cells that give no reference: their places follow from the ones before.
        rules_workbook(40, numbers=False).save(path)

        def change(name, data):
            if name == "xl/worksheets/sheet1.xml":
                data = re.sub(rb'<c r="[A-Z]+[0-9]+"', b"<c", data)
                data = re.sub(rb'<row r="([2-9][0-9])"', b"<row", data)
            return name, data
        rewrite_package(path, change)
    elif kind == "comment-in-rows":
        # A comment among the rows that looks like a row.
        rules_workbook(40, numbers=False).save(path)
        fake = b'<!-- <row r="20"><c r="A20" t="inlineStr"><is><t>fake</t></is></c></row> -->'
        rewrite_package(path, lambda n, d: (n, d.replace(b'<row r="21"', fake + b'<row r="21"')
                                            if n == "xl/worksheets/sheet1.xml" else d))
    elif kind == "not-zip":
        with open(path, "wb") as f:
            f.write(b"SN;DMX;Sta\n1;2;CC\n")
    elif kind == "zip-without-workbook":
        with zipfile.ZipFile(path, "w") as z:
            z.writestr("hello.txt", "no workbook here")
    else:
        raise SystemExit("unknown kind " + kind)


def dump(path):
    wb = openpyxl.load_workbook(path)
    ws = wb.worksheets[0]
    out = {
        "sheets": wb.sheetnames,
        "header": [c.value for c in ws[1]],
        "max_row": ws.max_row,
        "cells": {ref: ws[ref].value for ref in ["A2", "B2", "C2", "D2", "E2", "F2", "G2", "J2", "K2", "D3", "K3",
                                                 "A3073", "J3071", "K3073", "K4"]},
        "validations": [],
    }
    for dv in ws.data_validations.dataValidation:
        out["validations"].append({
            "type": dv.type, "operator": dv.operator, "formula1": dv.formula1, "formula2": dv.formula2,
            "allow_blank": bool(dv.allow_blank), "showInputMessage": bool(dv.showInputMessage),
            "promptTitle": dv.promptTitle, "prompt": dv.prompt, "showErrorMessage": bool(dv.showErrorMessage),
            "errorTitle": dv.errorTitle, "error": dv.error, "errorStyle": dv.errorStyle, "sqref": str(dv.sqref),
        })
    print(json.dumps(out, ensure_ascii=False))


if __name__ == "__main__":
    if sys.argv[1] == "make":
        for kind in sys.argv[3:]:
            make(kind, "%s/%s.xlsx" % (sys.argv[2], kind))
    elif sys.argv[1] == "dump":
        dump(sys.argv[2])
