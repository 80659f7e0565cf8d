// Single parts: the input is the XML of a worksheet part, optionally followed by a line
// "==== sharedStrings.xml ====" and the XML of the shared strings. Read in one pass and in
// two halves at once (cut where the input says), the sheet gives the same cells; then the
// sheet, as the first of an otherwise sound workbook with those shared strings (or a few
// fixed ones, one with a pronunciation hint), is opened as the editor opens it.

#include "workbookfuzz.h"

#include <minizip/zip.h>

using namespace vl;

namespace {

const char *const kWorkbook = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                              R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
                              R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
                              R"(<sheets><sheet name="MainTable" sheetId="1" r:id="rId1"/></sheets></workbook>)";

const char *const kWorkbookRels =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Target="worksheets/sheet1.xml" )"
    R"(Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet"/>)"
    R"(<Relationship Id="rId2" Target="sharedStrings.xml" )"
    R"(Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings"/>)"
    R"(</Relationships>)";

const char *const kSharedStrings =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="16" uniqueCount="16">)"
    R"(<si><t>SN</t></si><si><t>DMX</t></si><si><t>Sta</t></si><si><t>Ctl</t></si><si><t>CH</t></si>)"
    R"(<si><t>Fix</t></si><si><t>Fade In</t></si><si><t>Fade Out</t></si><si><t>Toggle</t></si>)"
    R"(<si><t>Enable</t></si><si><t>Remark</t></si><si><t>CC</t></si><si><t>ALL</t></si>)"
    R"(<si><t>OFF</t></si><si><t>ON</t></si>)"
    R"(<si><r><t>N</t></r><r><rPr><b/></rPr><t>ote</t></r><rPh sb="0" eb="1"><t>x</t></rPh></si>)"
    R"(</sst>)";

// The texts of kSharedStrings.
const QStringList kSharedTexts = {"SN",     "DMX",    "Sta",    "Ctl", "CH",  "Fix", "Fade In", "Fade Out",
                                  "Toggle", "Enable", "Remark", "CC",  "ALL", "OFF", "ON",      "Note"};

QByteArray described(const xlsx::SheetRead &read)
{
    QByteArray text = QByteArray::number(read.ok) + ' ' + read.error.toUtf8() + " stopped "
                      + QByteArray::number(read.stoppedAtRowLimit) + '\n';
    for (const xlsx::SheetCell &c : read.cells) {
        const QVariant &v = c.value;
        text += QByteArray::number(c.row) + ',' + QByteArray::number(c.column) + ' ' + v.typeName() + ' '
                + (v.userType() == QMetaType::Double ? QByteArray::number(v.toDouble(), 'g', 17)
                                                     : v.toString().toUtf8())
                + '\n';
    }
    return text;
}

bool addPart(zipFile zip, const char *name, const QByteArray &bytes)
{
    // Stored, not compressed: the sheet's bytes are what is being tried.
    return zipOpenNewFileInZip64(zip, name, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 0, 1) == ZIP_OK
           && zipWriteInFileInZip(zip, bytes.constData(), unsigned(bytes.size())) == ZIP_OK
           && zipCloseFileInZip(zip) == ZIP_OK;
}

const QByteArray kSharedStringsBreak = QByteArrayLiteral("\n==== sharedStrings.xml ====\n");

QString workbookWithSheet(const QByteArray &sheet, const QByteArray &sharedStrings)
{
    const QString path = fuzz::scratchDir() + QStringLiteral("/sheet.xlsx");
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    FUZZ_EXPECT(zip);
    const bool ok = addPart(zip, "xl/workbook.xml", kWorkbook)
                    && addPart(zip, "xl/_rels/workbook.xml.rels", kWorkbookRels)
                    && addPart(zip, "xl/sharedStrings.xml", sharedStrings)
                    && addPart(zip, "xl/worksheets/sheet1.xml", sheet);
    FUZZ_EXPECT(zipClose(zip, nullptr) == ZIP_OK && ok);
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytesOf(data, size);
    const int cut = input.indexOf(kSharedStringsBreak);
    const QByteArray sheet = cut < 0 ? input : input.left(cut);

    fuzz::Choices choose(input);
    const qint64 cutFrom = choose.between(-1, sheet.size());
    const xlsx::ReadLimits limits;
    const xlsx::SheetRead once = xlsx::readSheetXml(sheet, kSharedTexts, limits, xlsx::SheetPass::OnePass);
    const xlsx::SheetRead halves = xlsx::readSheetXml(sheet, kSharedTexts, limits, xlsx::SheetPass::Halves, cutFrom);
    FUZZ_EXPECT_SAME(described(halves), described(once));

    const QString path = cut < 0 ? workbookWithSheet(input, kSharedStrings)
                                 : workbookWithSheet(sheet, input.mid(cut + kSharedStringsBreak.size()));
    fuzz::openAsTheEditorDoes(path);
    return 0;
}
