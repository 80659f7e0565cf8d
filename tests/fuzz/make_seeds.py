#!/usr/bin/python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/.

  make_seeds.py [VARILUME_CLI]

Workbooks come from openpyxl (tests/files/workbook_fixtures.py) and, when the path of a
built varilume-cli is given, from the editor's own workbook writer. Everything else is
built here from the formats the box and the editor use. Run it again after a format
changes; the fuzzers' own corpora grow in build-fuzz/corpus/.
"""
import os
import re
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
FIXTURES = os.path.join(HERE, "..", "files", "workbook_fixtures.py")


def put(target, name, data):
    os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    with open(os.path.join(CORPUS, target, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))


def record(status, channel, ctl, dmx, fix=0, fade_in=0, fade_out=0, toggle=False, enable=True, all_channels=False):
    flags = (dmx - 1) & 0x3FF | 1 << 12
    flags |= (1 << 10 if enable else 0) | (1 << 11 if all_channels else 0) | (1 << 13 if toggle else 0)
    return bytes([status << 4 | (0 if all_channels else channel - 1), ctl, flags & 0xFF, flags >> 8,
                  fix, fade_out, fade_in, 0])


def sample_records():
    recs = [record(11, 1, 7, 1, fix=0, fade_in=5),
            record(9, 10, 60, 512, fix=255, toggle=True),
            record(10, 16, 127, 1024, fade_out=50, enable=False),
            record(11, 1, 111, 108, all_channels=True),  # bytes that spell "ok"
            bytes(8)]
    area = b"".join(recs)
    return area + bytes(3072 * 8 - len(area))


def image(records):
    header = bytearray(256)
    header[0:16] = b"download request"
    total = sum(records) & 0xFFFF
    header[17] = total & 0xFF
    header[18] = total >> 8
    return bytes(header) + records + b"end of data\x00"


def settings_reply(break_time=200, mab=50, coef=0, sleep=3, rules=5):
    be = lambda v: bytes([v >> 8, v & 0xFF])
    return b"setting request" + bytes(2) + be(rules) + be(break_time) + be(mab) + be(coef) + be(sleep)


def receive_and_image():
    img = image(sample_records())
    put("receive", "upload", img)
    put("receive", "handshake", b"open the door" + settings_reply() + b"cipher:" + bytes(range(16)) + b"ok")
    put("receive", "closed-door", b"close the door")
    put("receive", "upgrade", b"KVR-9000\r\n\xaa\xcc\x06V1.0.3\r\nERASE END")
    put("receive", "set-and-settings", b"download success" + b"setting end" + settings_reply(1000, 8, 5, 6))
    small = b"download request".ljust(256, b"\x00") + record(11, 1, 7, 1) + b"end of data\x00"
    put("receive", "small-uploads", b"download success" + small + small[:100] + small)

    put("tableimage", "image", img)
    put("tableimage", "records", sample_records()[:40])
    put("tableimage", "odd-records", bytes([0xF5, 200, 0xFF, 0xFF, 1, 2, 3, 4, 0x90, 130, 0x00, 0x10, 0, 0, 0, 9]))
    return img


def workbooks(cli, img):
    with tempfile.TemporaryDirectory() as tmp:
        for kind in ["numbers", "remarks", "no-remarks", "inline", "other-sheet-first", "no-refs",
                     "comment-in-rows", "one-column", "zip-without-workbook"]:
            path = os.path.join(tmp, kind + ".xlsx")
            subprocess.run(["/usr/bin/python3", FIXTURES, "make", kind, path], check=True)
            with open(path, "rb") as f:
                put("workbook", "openpyxl-" + kind, f.read())
            with zipfile.ZipFile(path) as z:
                names = z.namelist()
                sheet = "xl/worksheets/sheet1.xml"
                if sheet in names and kind in ("numbers", "inline", "no-refs", "comment-in-rows"):
                    put("sheet", "openpyxl-" + kind, z.read(sheet))
                if kind == "comment-in-rows":
                    # The same 40 rows without the comment: a sheet read in two halves.
                    put("sheet", "openpyxl-40-rows", re.sub(rb"<!--.*?-->", b"", z.read(sheet)))
                if kind == "remarks":
                    put("sheet", "openpyxl-remarks-shared", z.read(sheet) + b"\n==== sharedStrings.xml ====\n" +
                        z.read("xl/sharedStrings.xml"))
        if cli:
            bin_path = os.path.join(tmp, "table.bin")
            with open(bin_path, "wb") as f:
                f.write(img)
            book = os.path.join(tmp, "editor.xlsx")
            subprocess.run([cli, "decode", bin_path, "-o", book], check=True)
            with open(book, "rb") as f:
                put("workbook", "editor-table", f.read())
            with zipfile.ZipFile(book) as z:
                sheet = z.read("xl/worksheets/sheet1.xml")
            # The editor's sheet up to its sixth row: header, rules, and the validations after the rows.
            cut = sheet.index(b'<row r="7"')
            end = sheet.index(b"</sheetData>")
            put("sheet", "editor-rows", sheet[:cut] + sheet[end:])

    head = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>' \
           '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
    tail = "</sheetData></worksheet>"
    put("sheet", "shared-refs", head + '<row r="1">' + "".join('<c r="%s1" t="s"><v>%d</v></c>' % (c, i)
                                                              for i, c in enumerate("ABCDEFGHIJK")) + '</row>'
        '<row r="2"><c r="A2"><v>1</v></c><c r="B2"><v>5</v></c><c r="C2" t="s"><v>11</v></c><c r="D2"><v>7</v>'
        '</c><c r="E2" t="s"><v>12</v></c><c r="F2" t="s"><v>13</v></c><c r="G2" t="str"><v>5</v></c>'
        '<c r="H2" t="s"><v>13</v></c><c r="I2" t="s"><v>13</v></c><c r="J2" t="b"><v>1</v></c>'
        '<c r="K2" t="inlineStr"><is><t>remark</t><rPh sb="0" eb="1"><t>r</t></rPh></is></c></row>' + tail)
    put("sheet", "no-refs-rows", head + "<row><c><v>1</v></c><c t=\"inlineStr\"><is><t>x</t></is></c></row>"
        "<row><c><v>2</v></c></row>" + "".join('<row r="%d"><c r="A%d"><v>%d</v></c></row>' % (r, r, r)
                                               for r in range(3, 12)) + tail)


def aliases():
    put("aliases", "editor-written", "\n".join(["", "", "", "", "Spot left", "Smoke"] + [""] * 1018) + "\n")
    put("aliases", "crlf-and-cr", b"Wash\r\nBeam\rStrobe\r\n\r\nlast without end")
    put("aliases", "bom-utf8", "\ufeffFront\nR\u00fcckseite\n\u706f\u5149\nemoji \U0001F4A1\n".encode("utf-8"))
    put("aliases", "invalid-utf8", b"ok\n\xff\xfe bad\n\xe2\x82\n\xf0\x9f\x92\n")
    put("aliases", "long-line", ("\u00e9" * 300) + "\n" + "x" * 1100 + "\n")


def config():
    put("config", "written", "[General]\nautoUpdates=false\nselectedActionIndex=2\n")
    put("config", "empty", "")
    put("config", "spaces-and-crlf", "[General]\r\nautoUpdates = 0\r\nselectedActionIndex = 7\r\n")
    put("config", "variant", '[General]\nautoUpdates=@Variant(\\0\\0\\0\\x1\\x1)\nselectedActionIndex="1"\n')
    put("config", "other-group", "[Other]\nautoUpdates=false\n[General]\nselectedActionIndex=-1\nx=\\u00e9\n")


def project():
    import json
    fixtures = [
        {"Pixmap": "./pix/par.png", "channelBindings": {"Blue": 3, "Green": 2, "Red": 1},
         "colorMapping": {"Blue": 3, "Green": 2, "Red": 1}, "fixtureName": "Par left",
         "selectedChannels": [{"Pixmap": "./pix/par.png", "dmxCH": 1, "remark": "red", "sn": "1"},
                              {"dmxCH": 2, "remark": "green", "sn": "2"}, {"dmxCH": 3, "remark": "", "sn": "3"}]},
        {"channelBindings": {"Brightness": 10}, "colorMapping": {"Brightness": 10}, "fixtureName": "Smoke",
         "selectedChannels": [{"dmxCH": 10, "remark": "\u706f", "sn": "12"}]},
    ]
    put("project", "saved", json.dumps(fixtures, indent=4, sort_keys=True))
    put("project", "empty", "[]")
    put("project", "wrong-types", '[{"fixtureName": 5, "channelBindings": [1], "selectedChannels": '
                                  '[{"sn": 7, "dmxCH": "x"}, 3]}, {"fixtureName": "Smoke"}, '
                                  '{"fixtureName": "Smoke", "selectedChannels": [{"sn": "12", "dmxCH": 1e9}]}]')
    put("project", "not-an-array", '{"fixtureName": "x"}')


def smf():
    def number(v):
        out = [v & 0x7F]
        v >>= 7
        while v:
            out.insert(0, 0x80 | (v & 0x7F))
            v >>= 7
        return bytes(out)

    def chunk(kind, body):
        return kind + len(body).to_bytes(4, "big") + body

    def track(*events):
        return chunk(b"MTrk", b"".join(number(d) + e for d, e in events) + b"\x00\xff\x2f\x00")

    def header(fmt, tracks, division):
        return chunk(b"MThd", fmt.to_bytes(2, "big") + tracks.to_bytes(2, "big") + division.to_bytes(2, "big"))

    notes = track((0, b"\x90\x3c\x64"), (480, b"\x3c\x00"), (0, b"\xb0\x07\x7f"), (10, b"\xa1\x40\x20"),
                  (0, b"\xc0\x05"), (0, b"\xf0\x03\x7e\x7f\xf7"), (0, b"\xff\x01\x02hi"))
    put("smf", "format0", header(0, 1, 480) + notes)
    tempo = track((0, b"\xff\x51\x03\x07\xa1\x20"), (960, b"\xff\x51\x03\x0f\x42\x40"))
    put("smf", "format1-tempo-map", header(1, 2, 480) + tempo + notes)
    put("smf", "smpte", header(0, 1, 0xE728) + notes)
    put("smf", "alien-chunk", header(1, 2, 96) + notes + chunk(b"XFIH", b"abc") + notes)
    put("smf", "truncated", (header(0, 1, 480) + notes)[:-5])


if __name__ == "__main__":
    img = receive_and_image()
    workbooks(sys.argv[1] if len(sys.argv) > 1 else None, img)
    aliases()
    config()
    project()
    smf()
