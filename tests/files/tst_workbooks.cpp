// Rule-table workbooks: our own reader and writer, checked against openpyxl in both
// directions, the Open and Save commands with their messages and refusals, and the
// smallest inputs that once crashed the reader, exhausted memory or lost rules.

#include "files/ui/workbookcommands.h"
#include "files/core/workbookio.h"
#include "files/core/xlsxdocument.h"
#include "scripteddialogs.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace vl;
using vl::test::ScriptedDialogs;

namespace {

// Every workbook the tests open that openpyxl or a hand edit makes; written once.
const QStringList kFixtures = {"numbers",
                               "remarks",
                               "inline",
                               "other-sheet-first",
                               "no-header",
                               "one-column",
                               "empty-row2",
                               "no-sheets",
                               "broken-xml",
                               "deep",
                               "huge",
                               "no-refs",
                               "comment-in-rows",
                               "not-zip",
                               "zip-without-workbook",
                               "gap-after-4",
                               "5000-remarks",
                               "missing-in-order",
                               "missing-shuffled",
                               "all-shuffled",
                               "no-remark-column",
                               "extra-in-order",
                               "extra-shuffled",
                               "remark-not-last",
                               "twice",
                               "no-sn",
                               "right-of-remark",
                               "wide-header",
                               "deep-v",
                               "deep-inline",
                               "deep-shared",
                               "stray-rph",
                               "past-the-limit"};

QByteArray python(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral(WORKBOOK_FIXTURES)} + args);
    if (!p.waitForFinished(180000) || p.exitCode() != 0) {
        qWarning() << "python failed:" << args.mid(0, 3) << p.readAllStandardError();
        return {};
    }
    return p.readAllStandardOutput();
}

// A table of full length with a little of everything the editor writes, in every row or,
// for tests about something else than the rows, in the first `filledRows`.
void fillFullTable(RuleModel &rules, RemarkModel &remarks, int filledRows = kRuleRows)
{
    rules.setRowCount(kRuleRows);
    const QStringList statuses = {"Note", "AT", "CC"};
    for (int r = 0; r < filledRows; ++r) {
        rules.setText(r, ColSn, QString::number(r + 1));
        if (r % 5 == 4)
            continue;  // an empty rule now and then
        const QString status = statuses[r % 3];
        const int n = r % 128;
        const QStringList cells = {r % 7 ? QString::number(r % 1024 + 1) : QString("%1-Spot").arg(r % 1024 + 1),
                                   status,
                                   status == "CC" ? QString::number(n) : QString("%1 / C%2").arg(n).arg(n / 12 - 1),
                                   r % 17 ? QString::number(r % 16 + 1) : "ALL",
                                   r % 2 ? "OFF" : QString::number(r % 255 + 1),
                                   QString::number(r % 50 + 1),
                                   "OFF",
                                   r % 3 ? "ON" : "OFF",
                                   "ON"};
        for (int c = 0; c < cells.size(); ++c)
            rules.setText(r, ColDmx + c, cells[c]);
        if (r % 11 == 0)
            remarks.setText(r, 0, QString::fromUtf8("Bühne %1 – 舞台").arg(r));
    }
}

QStringList ruleTexts(const RuleModel &rules, int row)
{
    QStringList texts;
    for (int c = 0; c < kRuleColumns; ++c)
        texts << rules.text(row, c);
    return texts;
}

QByteArray wrapRows(const QByteArray &rows)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
           "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><dimension ref=\"A1\"/><sheetData>"
           + rows + "</sheetData><pageMargins left=\"0.7\"/></worksheet>";
}

// The cells of a read sheet as "A1=text|B1=2".
QString cellsText(const xlsx::SheetRead &read)
{
    QStringList out;
    for (const xlsx::SheetCell &c : read.cells)
        out << xlsx::columnName(c.column) + QString::number(c.row) + "=" + workbookCellText(c.value);
    return out.join('|');
}

// One pass and two halves, cut at every row the sheet has, give the same result.
void checkHalvesAgree(const QByteArray &xml, const xlsx::ReadLimits &limits, bool halvesExpected)
{
    const xlsx::SheetRead one = xlsx::readSheetXml(xml, {}, limits, xlsx::SheetPass::OnePass);
    QVERIFY(!one.readInHalves);
    QList<int> cuts = {-1};
    for (int at = xml.indexOf("<row"); at >= 0; at = xml.indexOf("<row", at + 1))
        cuts << at;
    bool anyHalves = false;
    for (const int at : cuts) {
        const xlsx::SheetRead two = xlsx::readSheetXml(xml, {}, limits, xlsx::SheetPass::Halves, at);
        QCOMPARE(two.ok, one.ok);
        QCOMPARE(cellsText(two), cellsText(one));
        QVERIFY(two.cells == one.cells);
        QCOMPARE(two.stoppedAtRowLimit, one.stoppedAtRowLimit);
        if (!one.ok)
            QCOMPARE(two.error, one.error);
        anyHalves = anyHalves || two.readInHalves;
    }
    if (halvesExpected)
        QVERIFY2(anyHalves, "the halves were never used");
}

// What a piece of code writes on standard error.
class StderrCapture {
public:
    StderrCapture()
    {
        m_file.open();
        fflush(stderr);
        m_saved = dup(2);
        dup2(m_file.handle(), 2);
    }
    QByteArray finish()
    {
        fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

}  // namespace

class TestWorkbooks : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QString fixture(const QString &kind) { return dir.filePath(kind + ".xlsx"); }

    QString saveTable(const RuleModel &rules, const RemarkModel &remarks, const QString &name)
    {
        xlsx::Document doc;
        fillRuleWorkbook(doc, rules, remarks);
        const QString path = dir.filePath(name);
        if (!doc.saveAs(path))
            qWarning() << doc.errorString();
        return path;
    }

private slots:
    void initTestCase()
    {
        python(QStringList{"make", dir.path()} + kFixtures);
        for (const QString &kind : kFixtures)
            QVERIFY2(QFile::exists(fixture(kind)), qPrintable(kind));
    }

    void roundTripOfFullTable()
    {
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        const QString path = saveTable(rules, remarks, "full.xlsx");

        const WorkbookImport in = readRuleWorkbook(path);
        QCOMPARE(in.status, WorkbookImport::Loaded);
        QCOMPARE(in.headers, ruleColumnLabels());
        QCOMPARE(in.rows.size(), kRuleRows);
        for (int r = 0; r < kRuleRows; ++r) {
            for (int c = 0; c < kRuleColumns; ++c) {
                QString expected = rules.text(r, c);
                if (c == ColCtl)
                    expected = expected.section('/', 0, 0).trimmed();
                QCOMPARE(in.rows[r][c], expected);
            }
        }
        QVERIFY(workbookImportNotes(in).isEmpty());
        RemarkModel back;
        QVERIFY(applyRemarkLines(back, in.remarkLines));
        for (int r = 0; r < kRuleRows; ++r)
            QCOMPARE(back.text(r, 0), remarks.text(r, 0));
        RuleModel loaded;
        applyWorkbookRows(loaded, in);
        for (int c = 0; c < kRuleColumns; ++c)
            QCOMPARE(loaded.headerData(c, Qt::Horizontal).toString(), ruleColumnLabels().at(c));
    }

    // Rows whose SN cell was emptied still open again: loading stops at the first empty SN,
    // so the writer gives every row its number.
    void everyRowOpensAgain()
    {
        RuleModel rules;
        RemarkModel remarks;
        rules.setRowCount(4);
        for (int r = 0; r < 4; ++r)
            rules.setText(r, ColDmx, QString::number(r + 10));
        rules.setText(0, ColSn, "1");
        rules.setText(3, ColSn, " ");
        const WorkbookImport in = readRuleWorkbook(saveTable(rules, remarks, "no-sn-cells.xlsx"));
        QCOMPARE(in.rows.size(), 4);
        QCOMPARE(in.rows[1][ColSn], QString("2"));
        QCOMPARE(in.rows[3][ColSn], QString("4"));
        QCOMPARE(in.rows[3][ColDmx], QString("13"));
    }

    // Texts that XML cannot hold as they are, or that are longer than a cell, open again
    // as the editor saved them (cut to a cell's length), and openpyxl opens the workbook.
    void savedTextsOpenAgain_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("back");
        QTest::addColumn<bool>("openpyxl");
        const QString pair = QString::fromUtf8("😀");
        // clang-format off
        QTest::newRow("U+FFFE and U+FFFF") << QString("a") + QChar(0xFFFE) + "b" + QChar(0xFFFF) << QString() << true;
        QTest::newRow("control characters") << QString("a\x01" "b\x1f" "c\x7f") << QString() << true;
        QTest::newRow("carriage returns") << QString("a\rb\r\nc\nd\te") << QString() << false;
        QTest::newRow("text that looks like an escape")
            << QString("_x0041_ _x005F_ _x00_ _X0041_") << QString() << false;
        QTest::newRow("lone surrogates") << QString("a") + QChar(0xD800) + "b" + QChar(0xDC00) << QString() << false;
        QTest::newRow("40 000 characters") << QString(40000, 'x') << QString(xlsx::kMaxCellText, 'x') << false;
        QTest::newRow("escapes past a cell's length")
            << QString(5000, QChar(1)) << QString(xlsx::kMaxCellText / 7, QChar(1)) << false;
        QTest::newRow("a surrogate pair at the cut")
            << QString(xlsx::kMaxCellText - 1, 'a') + pair << QString(xlsx::kMaxCellText - 1, 'a') << false;
        // clang-format on
    }
    void savedTextsOpenAgain()
    {
        QFETCH(QString, text);
        QFETCH(QString, back);
        QFETCH(bool, openpyxl);
        if (back.isNull())
            back = text;
        RuleModel rules;
        RemarkModel remarks;
        rules.setRowCount(1);
        rules.setText(0, ColDmx, text);  // an alias can hold anything "./Aliases.txt" held
        remarks.setText(0, 0, text + "!");
        xlsx::Document doc;
        fillRuleWorkbook(doc, rules, remarks);
        const QString path = dir.filePath("texts.xlsx");
        QVERIFY2(doc.saveAs(path), qPrintable(doc.errorString()));
        QCOMPARE(doc.cutTexts().size(), back.size() < text.size() ? 2 : 0);

        xlsx::Document in(path);
        QVERIFY2(in.isOpen(), qPrintable(in.errorString()));
        QVERIFY(in.selectSheet("MainTable"));
        QCOMPARE(in.read(2, 2).toString(), back);
        QCOMPARE(in.read(2, 11).toString(), back.size() < text.size() ? back : text + "!");
        if (openpyxl) {
            const QJsonObject out = QJsonDocument::fromJson(python({"dump", path})).object();
            QCOMPARE(out["sheets"].toArray(), QJsonArray({"MainTable"}));
        }
    }

    // What an independent reader finds in our workbook.
    void openpyxlReadsOurWorkbook()
    {
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        remarks.setText(1, 0, "  padded  ");
        remarks.setText(2, 0, "007");
        const QString path = saveTable(rules, remarks, "ours.xlsx");

        const QJsonObject out = QJsonDocument::fromJson(python({"dump", path})).object();
        QCOMPARE(out["sheets"].toArray(), QJsonArray({"MainTable"}));
        QJsonArray header;
        for (const QString &l : ruleColumnLabels())
            header << l;
        header << "Remark";
        QCOMPARE(out["header"].toArray(), header);
        QCOMPARE(out["max_row"].toInt(), kRuleRows + 1);
        const QJsonObject cells = out["cells"].toObject();
        // Plain whole numbers are numbers, so the sheet's own validations accept them.
        QCOMPARE(cells["A2"], QJsonValue(1));
        QCOMPARE(cells["B2"].toString(), QString("1-Spot"));
        QCOMPARE(cells["C2"].toString(), QString("Note"));
        QCOMPARE(cells["D2"], QJsonValue(0));  // "0 / C-1" written as its number
        QCOMPARE(cells["E2"].toString(), QString("ALL"));
        QCOMPARE(cells["F2"], QJsonValue(1));
        QCOMPARE(cells["G2"], QJsonValue(1));
        QCOMPARE(cells["K2"].toString(), QString::fromUtf8("Bühne 0 – 舞台"));
        QCOMPARE(cells["K3"].toString(), QString("  padded  "));  // remarks keep their spaces
        QCOMPARE(cells["K4"].toString(), QString("007"));         // and their leading zeros
        QCOMPARE(cells["D3"], QJsonValue(1));
        QCOMPARE(cells["A3073"], QJsonValue(3072));
        QVERIFY(cells["J3071"].isNull());  // an empty rule leaves its cells unwritten

        struct Expected {
            const char *type, *f1, *f2, *prompt, *error, *promptTitle, *errorTitle, *range;
            bool allowBlank;
        };
        const Expected expected[] = {
            {"whole", "1", "1024", "Enter 1~1024", "DMX must be 1~1024", "", "", "B2:B3073", true},
            {"list", "\"Note,AT,CC\"", "", "Select Sta", "Sta must be Note/AT/CC", "", "", "C2:C3073", true},
            {"whole", "0", "127", "Enter 0~127", "Ctl must be 0~127", "", "", "D2:D3073", true},
            {"list", "\"ALL,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16\"", "", "Select CH", "CH must be ALL or 1~16", "",
             "", "E2:E3073", true},
            {"list", nullptr, "", "Select Fade In", "Invalid Fade In", "", "", "G2:G3073", true},
            {"list", nullptr, "", "Select Fade Out", "Invalid Fade Out", "", "", "H2:H3073", true},
            {"list", "\"ON,OFF\"", "", "Select Toggle", "Toggle must be ON/OFF", "", "", "I2:I3073", true},
            {"list", "\"ON,OFF\"", "", "Select Enable", "Enable must be ON/OFF", "", "", "J2:J3073", true},
            {"custom", "OR(AND(ISNUMBER(F2), F2>=1, F2<=255), UPPER(F2)=\"OFF\")", "", "Enter 1~255 (or OFF)",
             "Fix must be 1~255 (OFF allowed if typed)", "Input Fix", "Invalid Fix Value", "F2:F3073", false},
        };
        QStringList fades = {"OFF"};
        for (int i = 1; i <= 50; ++i)
            fades << QString::number(i);
        const QString fadeList = "\"" + fades.join(',') + "\"";

        const QJsonArray validations = out["validations"].toArray();
        QCOMPARE(validations.size(), 9);
        for (int i = 0; i < 9; ++i) {
            const QJsonObject v = validations[i].toObject();
            const Expected &e = expected[i];
            QCOMPARE(v["type"].toString(), QString(e.type));
            // "between" is the file format's default operator and may be left out.
            QVERIFY(v["operator"].toString().isEmpty() || v["operator"].toString() == "between");
            QCOMPARE(v["formula1"].toString(), e.f1 ? QString(e.f1) : fadeList);
            QCOMPARE(v["formula2"].toString(), QString(e.f2));
            QCOMPARE(v["allow_blank"].toBool(), e.allowBlank);
            QVERIFY(v["showInputMessage"].toBool());
            QVERIFY(v["showErrorMessage"].toBool());
            QCOMPARE(v["prompt"].toString(), QString(e.prompt));
            QCOMPARE(v["error"].toString(), QString(e.error));
            QCOMPARE(v["promptTitle"].toString(), QString(e.promptTitle));
            QCOMPARE(v["errorTitle"].toString(), QString(e.errorTitle));
            QVERIFY(v["errorStyle"].isNull() || v["errorStyle"].toString() == "stop");  // stop is the default
            QCOMPARE(v["sqref"].toString(), QString(e.range));
        }
    }

    // Workbooks that openpyxl wrote, each read as the editor shows them.
    void openpyxlWorkbooks_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("row2");
        QTest::addColumn<QStringList>("lastRow");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QByteArray>("remarks");
        // clang-format off
        QTest::newRow("numbers as numbers")
            << "numbers" << QStringList{"1", "1", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"}
            << QStringList{"3", "5", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"} << 3 << QByteArray();
        QTest::newRow("shared strings and remarks")
            << "remarks" << QStringList{"1", "1", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"}
            << QStringList{"4", "4", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"} << 4
            << QByteArray("alias0=Front wash\r\nalias1=a=b\r\nalias3=Back\r\n");
        QTest::newRow("inline strings and runs")
            << "inline" << QStringList{"1", "1", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"}
            << QStringList{"2", "2", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"} << 2 << QByteArray();
        QTest::newRow("first sheet in another part")
            << "other-sheet-first" << QStringList{"1", "1", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"}
            << QStringList{"2", "2", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"} << 2 << QByteArray();
        QTest::newRow("column A empty in row 2") << "empty-row2" << QStringList() << QStringList() << 0 << QByteArray();
        // A stray pronunciation hint once emptied every later inline string of the sheet.
        QTest::newRow("a stray rPh")
            << "stray-rph" << QStringList{"1", "1", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"}
            << QStringList{"3", "3", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"} << 3 << QByteArray();
        // clang-format on
    }
    void openpyxlWorkbooks()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, row2);
        QFETCH(QStringList, lastRow);
        QFETCH(int, rows);
        QFETCH(QByteArray, remarks);
        const WorkbookImport in = readRuleWorkbook(fixture(kind));
        QCOMPARE(in.status, WorkbookImport::Loaded);
        QCOMPARE(in.headers, ruleColumnLabels());
        QCOMPARE(in.rows.size(), rows);
        if (rows) {
            QCOMPARE(in.rows.first(), row2);
            QCOMPARE(in.rows.last(), lastRow);
        }
        QCOMPARE(in.remarkLines, remarks);
    }

    void decimalsKeepTheirDigits()
    {
        xlsx::Document doc(fixture("numbers"));
        QVERIFY(doc.selectSheet(doc.sheetNames().first()));
        QCOMPARE(workbookCellText(doc.read(3, 7)), QString("2.01"));
        QCOMPARE(workbookCellText(doc.read(4, 2)), QString("5"));
        QVERIFY(!doc.read(2, 11).isValid());  // a cell the file leaves out
        QVERIFY(!doc.read(99999, 3).isValid());
    }

    // Open File through the dialog seam: the table, the remarks and the message, for
    // workbooks made by openpyxl and by hand.
    void openCommand_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("last");
        QTest::addColumn<int>("remarkLines");
        QTest::addColumn<QByteArray>("aRemark");
        QTest::addColumn<QString>("message");
        const QString ok = "Excel file loaded successfully!";
        const QStringList rule0 = {"1", "1", "CC", "0", "ALL", "OFF", "5", "OFF", "OFF", "ON"};
        // clang-format off
        QTest::newRow("a gap after row 4")
            << "gap-after-4" << 4 << QStringList{"1", "1", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"}
            << QStringList{"4", "4", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"} << 1
            << QByteArray("alias0=first\r\n")
            << ok + "\n\n3 rows from sheet row 6 on were not loaded: the SN cell of sheet row 6 is empty, and loading "
                    "stops at the first row without an SN.";
        QTest::newRow("5000 rules with remarks")
            << "5000-remarks" << 5000 << rule0
            << QStringList{"5000", "904", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"} << 5000
            << QByteArray("alias4999=Remark 4999\r\n")
            << ok + "\n\nThe table now has 5000 rows, and rows 3073 to 5000 hold 1928 rules; the device holds 3072 "
                    "rules, so Set sends rows 1 to 3072 only.";
        QTest::newRow("more rows than the editor takes")
            << "past-the-limit" << kMaxWorkbookRules
            << QStringList{"1", "1", "CC", "7", "ALL", "OFF", "5", "OFF", "OFF", "ON"}
            << QStringList{"16384", "", "", "", "", "", "", "", "", ""} << 0 << QByteArray()
            << ok + "\n\nThe sheet goes on after sheet row 16385, but the editor takes at most 16384 rules; the rows "
                    "after it were not loaded.";
        QTest::newRow("columns missing, in order")
            << "missing-in-order" << 2 << QStringList{"1", "5", "CC", "7", "ALL", "", "", "", "", ""}
            << QStringList{"2", "6", "Note", "60", "3", "", "", "", "", ""} << 1 << QByteArray("alias0=front\r\n") << ok;
        QTest::newRow("columns missing, shuffled")
            << "missing-shuffled" << 2 << QStringList{"1", "5", "CC", "7", "", "", "", "", "", "ON"}
            << QStringList{"2", "6", "Note", "60", "", "", "", "", "", "OFF"} << 1 << QByteArray("alias0=front\r\n")
            << ok;
        QTest::newRow("all columns shuffled, titles in any case")
            << "all-shuffled" << 1 << QStringList{"1", "5", "CC", "7", "16", "200", "3", "OFF", "ON", "ON"}
            << QStringList{"1", "5", "CC", "7", "16", "200", "3", "OFF", "ON", "ON"} << 1
            << QByteArray("alias0=front\r\n") << ok;
        QTest::newRow("no remark column") << "no-remark-column" << 2 << rule0
                                          << QStringList{"2", "2", "CC", "1", "ALL", "OFF", "5", "OFF", "OFF", "ON"}
                                          << 0 << QByteArray() << ok;
        QTest::newRow("fifty untitled columns right of the remark")
            << "right-of-remark" << 20 << rule0
            << QStringList{"20", "20", "CC", "19", "ALL", "OFF", "5", "OFF", "OFF", "ON"} << 20
            << QByteArray("alias19=Remark 19\r\n") << ok;
        // clang-format on
    }
    void openCommand()
    {
        QFETCH(QString, kind);
        QFETCH(int, rows);
        QFETCH(QStringList, first);
        QFETCH(QStringList, last);
        QFETCH(int, remarkLines);
        QFETCH(QByteArray, aRemark);
        QFETCH(QString, message);
        ScriptedDialogs dialogs;
        RuleModel rules;
        dialogs.files << fixture(kind);
        QByteArray lines;
        WorkbookHooks hooks;
        hooks.applyRemarkLines = [&](const QByteArray &l) { lines = l; };
        openRuleWorkbook(nullptr, rules, hooks);

        QCOMPARE(dialogs.lastMessage().title, QString("Success"));
        QCOMPARE(dialogs.lastMessage().text, message);
        QCOMPARE(rules.rowCount(), rows);
        QCOMPARE(rules.columnCount(), kRuleColumns);
        QCOMPARE(rules.headerData(ColFadeOut, Qt::Horizontal).toString(), QString("Fade Out"));
        QCOMPARE(ruleTexts(rules, 0), first);
        QCOMPARE(ruleTexts(rules, rows - 1), last);
        QCOMPARE(lines.count('\n'), remarkLines);
        QVERIFY(lines.contains(aRemark));
    }

    // A workbook the editor refuses leaves the table and the remarks exactly as they were.
    void openCommandRefusesBeforeTouchingTheTable_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("message");
        const QString header = "The first row of the sheet is not the editor's header: ";
        // clang-format off
        QTest::newRow("no sheets") << "no-sheets" << "Excel file has no worksheets!";
        QTest::newRow("no header") << "no-header" << "Main sheet has no header columns!";
        QTest::newRow("one column") << "one-column" << "Need at least 2 columns (last column is remark/alias).";
        QTest::newRow("not a zip") << "not-zip" << "The Excel file could not be read: ";
        QTest::newRow("broken XML") << "broken-xml" << "The Excel file could not be read: ";
        QTest::newRow("an extra column, in order")
            << "extra-in-order" << header + "\"Notes\" in column K is not one of its titles.";
        QTest::newRow("an extra column, shuffled")
            << "extra-shuffled" << header + "\"Owner\" in column C is not one of its titles.";
        QTest::newRow("remark not last")
            << "remark-not-last" << header + "\"Sta\" in column D comes after \"Remark\", which must be the last title.";
        QTest::newRow("a title twice") << "twice" << header + "\"dmx\" in column C is there twice (also in column B).";
        QTest::newRow("no SN") << "no-sn" << header + "it has no \"SN\" column, which tells where the rules end.";
        // 16 384 titles once made the import build a text for every title in every row.
        QTest::newRow("a header as wide as a sheet")
            << "wide-header"
            << header + "\"Extra 12\" in column L comes after \"Remark\", which must be the last title.";
        QTest::newRow("a folder") << "/tmp" << "The Excel file could not be read: it is a folder, not a file.";
        QTest::newRow("a device") << "/dev/zero" << "The Excel file could not be read: it is not a regular file.";
        QTest::newRow("a pipe") << "fifo" << "The Excel file could not be read: it is not a regular file.";
        QTest::newRow("missing") << "missing" << "The Excel file could not be read: the file does not exist.";
        // clang-format on
    }
    void openCommandRefusesBeforeTouchingTheTable()
    {
        QFETCH(QString, path);
        QFETCH(QString, message);
        if (path == "fifo") {
            path = dir.filePath("fifo.xlsx");
            QVERIFY(QFile::exists(path) || mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (!path.startsWith('/')) {
            path = fixture(path);
        }
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks, 12);
        dialogs.files << path;
        int remarkCalls = 0;
        WorkbookHooks hooks;
        hooks.applyRemarkLines = [&](const QByteArray &) { ++remarkCalls; };
        openRuleWorkbook(nullptr, rules, hooks);

        QCOMPARE(dialogs.asked.size(), 2);
        QCOMPARE(dialogs.asked[0].file.caption, QString("Open Excel File"));
        QCOMPARE(dialogs.asked[0].file.filter, QString("Excel Files (*.xlsx)"));
        QCOMPARE(dialogs.asked[0].file.directory, QString());
        QCOMPARE(dialogs.lastMessage().title, QString("Error"));
        QCOMPARE(dialogs.lastMessage().kind, MessageKind::Warning);
        QVERIFY2(dialogs.lastMessage().text.startsWith(message), qPrintable(dialogs.lastMessage().text));
        QCOMPARE(rules.rowCount(), kRuleRows);
        QCOMPARE(rules.text(0, ColDmx), QString("1-Spot"));
        QCOMPARE(remarkCalls, 0);
    }

    void refusedWorkbooks_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("why");
        // clang-format off
        QTest::newRow("no sheets") << "no-sheets" << int(WorkbookImport::NoSheets) << "";
        QTest::newRow("no header") << "no-header" << int(WorkbookImport::NoHeader) << "";
        QTest::newRow("one header column") << "one-column" << int(WorkbookImport::OneColumn) << "";
        QTest::newRow("not a zip") << "not-zip" << int(WorkbookImport::Unreadable) << "not a workbook";
        QTest::newRow("zip without workbook") << "zip-without-workbook" << int(WorkbookImport::Unreadable)
                                              << "no workbook";
        QTest::newRow("broken XML") << "broken-xml" << int(WorkbookImport::Unreadable) << "XML cannot be read";
        QTest::newRow("too many cells") << "huge" << int(WorkbookImport::Unreadable) << "too many cells";
        // Elements nested tens of thousands deep once overflowed the stack.
        QTest::newRow("nested among the rows") << "deep" << int(WorkbookImport::Unreadable) << "nested more than 64";
        QTest::newRow("nested in a value") << "deep-v" << int(WorkbookImport::Unreadable) << "nested more than 64";
        QTest::newRow("nested in an inline string") << "deep-inline" << int(WorkbookImport::Unreadable)
                                                    << "nested more than 64";
        QTest::newRow("nested in a shared string") << "deep-shared" << int(WorkbookImport::Unreadable)
                                                   << "nested more than 64";
        // clang-format on
    }
    void refusedWorkbooks()
    {
        QFETCH(QString, kind);
        QFETCH(int, status);
        QFETCH(QString, why);
        xlsx::ReadLimits limits;
        limits.maxCells = 20000;  // the fixture holds 50 000 cells; a rule workbook about 34 000
        limits.maxPartBytes = 4 * 1024 * 1024;
        const WorkbookImport in = readRuleWorkbook(fixture(kind), limits);
        QCOMPARE(int(in.status), status);
        QVERIFY2(in.detail.contains(why), qPrintable(in.detail));
    }

    // The smallest sheets that once crashed the reader, read past its limits or lost texts.
    void sheetXml_data()
    {
        QTest::addColumn<QByteArray>("rows");
        QTest::addColumn<QString>("cells");  // or, when the sheet is refused, "!" and part of the reason
        // clang-format off
        QTest::newRow("row INT_MAX, then a row without number")
            << QByteArray("<row r=\"2147483647\"><c><v>1</v></c></row><row><c><v>2</v></c></row>")
            << "!a row number is not one of 1 … 1048576";
        QTest::newRow("a row past the last") << QByteArray("<row r=\"1048577\"/>")
                                             << "!a row number is not one of 1 … 1048576";
        QTest::newRow("row 0") << QByteArray("<row r=\"0\"/>") << "!a row number is not one of 1 … 1048576";
        QTest::newRow("a row after the last")
            << QByteArray("<row r=\"1048576\"/><row><c><v>1</v></c></row>") << "!more than 1048576 rows";
        QTest::newRow("a column past XFD") << QByteArray("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>")
                                           << "!a cell reference is not one of A1 … XFD1048576";
        QTest::newRow("a cell after XFD") << QByteArray("<row r=\"1\"><c r=\"XFD1\"><v>1</v></c><c><v>2</v></c></row>")
                                          << "!a row has more than 16384 cells";
        QTest::newRow("a stray rPh")
            << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><rPh/><is><t>x</t></is></c>"
                          "<c r=\"B1\" t=\"inlineStr\"><is><t>y</t><rPh><t>hint</t></rPh></is></c></row>")
            << "A1=x|B1=y";
        QTest::newRow("nested in a value")
            << "<row r=\"1\"><c r=\"A1\"><v>" + QByteArray("<x>").repeated(100) + QByteArray("</x>").repeated(100) +
                   "</v></c></row>"
            << "!nested more than 64";
        QTest::newRow("escapes as spreadsheet programs write them")
            << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a_x0001_b_x005F_x0041_</t></is></c></row>")
            << "A1=a\x01" "b_x0041_";
        QTest::newRow("references and line ends")
            << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a&amp;b&#x41;&#13;c\r\nd</t></is></c></row>")
            << "A1=a&bA\rc\nd";
        QTest::newRow("an unknown entity")
            << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>&nbsp;</t></is></c></row>")
            << "!unknown entity";
        QTest::newRow("cells outside the sheet data are no cells")
            << QByteArray("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData><sheetData>"
                          "<row r=\"2\"><c r=\"A2\"><v>2</v></c></row></sheetData><extLst><row r=\"3\"><c r=\"A3\">"
                          "<v>3</v></c></row></extLst><sheetData>")
            << "A1=1|A2=2";
        // clang-format on
    }
    void sheetXml()
    {
        QFETCH(QByteArray, rows);
        QFETCH(QString, cells);
        const QByteArray xml = wrapRows(rows);
        const xlsx::SheetRead read = xlsx::readSheetXml(xml, {}, xlsx::ReadLimits(), xlsx::SheetPass::OnePass);
        if (cells.startsWith('!')) {
            QVERIFY(!read.ok);
            QVERIFY2(read.error.contains(cells.mid(1)), qPrintable(read.error));
        } else {
            QVERIFY2(read.ok, qPrintable(read.error));
            QCOMPARE(cellsText(read), cells);
        }
        checkHalvesAgree(xml, xlsx::ReadLimits(), false);
    }

    // A large sheet is read in two halves at once; the cells must be exactly those one pass
    // reads, whatever the sheet holds and wherever it is cut.
    void halvesReadLikeOnePass_data()
    {
        QTest::addColumn<QString>("kind");
        // clang-format off
        QTest::newRow("our full table") << "ours";
        QTest::newRow("shared strings") << "remarks";
        QTest::newRow("inline strings") << "inline";
        QTest::newRow("numbers") << "numbers";
        QTest::newRow("rows and cells without references") << "no-refs";
        QTest::newRow("a comment among the rows") << "comment-in-rows";
        QTest::newRow("a stray rPh") << "stray-rph";
        // clang-format on
    }
    void halvesReadLikeOnePass()
    {
        QFETCH(QString, kind);
        QString path = dir.filePath("ours.xlsx");
        if (kind == "ours") {
            RuleModel rules;
            RemarkModel remarks;
            fillFullTable(rules, remarks);
            path = saveTable(rules, remarks, "ours.xlsx");
        } else {
            path = fixture(kind);
        }
        xlsx::ReadLimits onePass, halves;
        onePass.parallelFromBytes = std::numeric_limits<int>::max();
        halves.parallelFromBytes = 0;
        xlsx::Document a(path, onePass), b(path, halves);
        QVERIFY(a.selectSheet(a.sheetNames().first()));
        QVERIFY(b.selectSheet(b.sheetNames().first()));
        int filled = 0;
        for (int r = 1; r <= kRuleRows + 2; ++r) {
            for (int c = 1; c <= 12; ++c) {
                const QVariant va = a.read(r, c);
                const QVariant vb = b.read(r, c);
                // (QCOMPARE would build both values' texts for each of the 37 000 cells.)
                if (vb != va)
                    QFAIL(qPrintable(QString("row %1, column %2: the halves read %3 (%4), one pass %5 (%6)")
                                         .arg(r)
                                         .arg(c)
                                         .arg(vb.toString(), QLatin1String(vb.typeName()), va.toString(),
                                              QLatin1String(va.typeName()))));
                filled += va.isValid();
            }
        }
        QVERIFY(filled > 0);
        if (kind == "comment-in-rows")
            QCOMPARE(a.read(20, 1).toString(), QString("19"));  // the commented-out row is no row
    }

    // Sheets made to tell the halves from one pass, cut at every row.
    void halvesOfAwkwardSheets_data()
    {
        QTest::addColumn<QByteArray>("rows");
        QTest::addColumn<int>("maxRows");
        QTest::addColumn<int>("maxCells");
        QTest::addColumn<bool>("halves");  // the halves can be used somewhere
        const QByteArray plain = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2\"><c r=\"A2\" t=\"inlineStr\">"
                                 "<is><t>b</t></is></c></row><row r=\"3\"/><row r=\"4\"><c r=\"B4\"><v>4</v></c></row>";
        // clang-format off
        QTest::newRow("plain rows") << plain << xlsx::kMaxRows << 1000 << true;
        QTest::newRow("cells without references in numbered rows")
            << QByteArray("<row r=\"1\"><c><v>1</v></c><c><v>2</v></c></row><row r=\"5\"><c><v>3</v></c></row>")
            << xlsx::kMaxRows << 1000 << true;
        QTest::newRow("rows without numbers")
            << QByteArray("<row><c r=\"A1\"><v>1</v></c></row><row><c><v>2</v></c></row><row><c><v>3</v></c></row>")
            << xlsx::kMaxRows << 1000 << false;
        QTest::newRow("a row inside a comment")
            << QByteArray("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><!-- <row r=\"2\"><c r=\"A2\"><v>2</v></c>"
                          "</row> --><row r=\"3\"><c r=\"A3\"><v>3</v></c></row>")
            << xlsx::kMaxRows << 1000 << true;
        QTest::newRow("a row inside a cell")
            << QByteArray("<row r=\"1\"><c r=\"A1\"><v>1<row r=\"7\"><c r=\"A7\"><v>7</v></c></row></v></c></row>"
                          "<row r=\"2\"><c r=\"A2\"><v>2</v></c></row>")
            << xlsx::kMaxRows << 1000 << true;
        QTest::newRow("a row inside CDATA")
            << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"str\"><v><![CDATA[<row r=\"9\">]]></v></c></row>"
                          "<row r=\"2\"><c r=\"A2\"><v>2</v></c></row>")
            << xlsx::kMaxRows << 1000 << true;
        QTest::newRow("the same place twice") << QByteArray("<row r=\"2\"><c r=\"A2\"><v>1</v></c></row>"
                                                            "<row r=\"1\"><c r=\"A2\"><v>2</v></c></row>")
                                              << xlsx::kMaxRows << 1000 << true;
        QTest::newRow("the row limit in the first half") << plain << 1 << 1000 << true;
        QTest::newRow("the row limit in the second half") << plain << 3 << 1000 << true;
        QTest::newRow("too many cells only together") << plain << xlsx::kMaxRows << 2 << false;
        QTest::newRow("broken after the cut")
            << QByteArray("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2\"><c r=\"A2\"><v>2</c></row>")
            << xlsx::kMaxRows << 1000 << false;
        // clang-format on
    }
    void halvesOfAwkwardSheets()
    {
        QFETCH(QByteArray, rows);
        QFETCH(int, maxRows);
        QFETCH(int, maxCells);
        QFETCH(bool, halves);
        xlsx::ReadLimits limits;
        limits.maxRows = maxRows;
        limits.maxCells = maxCells;
        checkHalvesAgree(wrapRows(rows), limits, halves);
    }

    void saveCommandNames_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("written");
        // clang-format off
        QTest::newRow("no extension") << "show" << "show.xlsx";
        QTest::newRow("other extension") << "show.xls" << "show.xls.xlsx";
        QTest::newRow("upper case") << "SHOW.XLSX" << "SHOW.XLSX";
        QTest::newRow("mixed case") << "Show.XlSx" << "Show.XlSx";
        // clang-format on
    }
    void saveCommandNames()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, written);
        QTemporaryDir out;
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks, 12);
        dialogs.files << out.filePath(chosen);
        WorkbookHooks hooks;
        hooks.checkImage = [] { return 2; };
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);
        QCOMPARE(dialogs.asked[0].file.caption, QString("Save Excel File"));
        QCOMPARE(dialogs.asked[0].file.directory, QString("untitled.xlsx"));
        QCOMPARE(dialogs.lastMessage().text, QString("Excel file saved successfully!"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{written});
    }

    // The file dialog asks about the name as typed; the workbook named by the appended
    // extension is asked about before it is replaced.
    void appendedNameOverAnExistingFile_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("replaced");
        // clang-format off
        QTest::newRow("typed without .xlsx, No") << "precious" << int(QMessageBox::No) << false;
        QTest::newRow("typed without .xlsx, box closed") << "precious" << int(QMessageBox::NoButton) << false;
        QTest::newRow("typed without .xlsx, Yes") << "precious" << int(QMessageBox::Yes) << true;
        QTest::newRow("typed with .xlsx: the file dialog asked") << "precious.xlsx" << -1 << true;
        // clang-format on
    }
    void appendedNameOverAnExistingFile()
    {
        QFETCH(QString, typed);
        QFETCH(int, answer);
        QFETCH(bool, replaced);
        QTemporaryDir out;
        const QString precious = out.filePath("precious.xlsx");
        QFile file(precious);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
        file.close();
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks, 12);
        dialogs.files << out.filePath(typed);
        if (answer >= 0)
            dialogs.buttons << QMessageBox::StandardButton(answer);
        WorkbookHooks hooks;
        hooks.checkImage = [] { return 2; };
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);

        if (answer >= 0) {
            QCOMPARE(dialogs.asked.size(), replaced ? 3 : 2);
            const MessageRequest &q = dialogs.asked[1].message;
            QCOMPARE(q.kind, MessageKind::Question);
            QCOMPARE(q.title, QString("Save Excel File"));
            QCOMPARE(q.text, QString("precious.xlsx already exists.\nDo you want to replace it?"));
            QCOMPARE(q.buttons, QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(q.defaultButton, QMessageBox::No);
        } else {
            QCOMPARE(dialogs.asked.size(), 2);
        }
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll() == "precious", !replaced);
        if (replaced)
            QCOMPARE(dialogs.lastMessage().text, QString("Excel file saved successfully!"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"precious.xlsx"});
    }

    void saveCommandRefusals()
    {
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        WorkbookHooks hooks;
        hooks.checkImage = [] { return 0; };  // a table the image check refused
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);
        QVERIFY(dialogs.asked.isEmpty());

        hooks.checkImage = [] { return 2; };
        dialogs.files << dir.filePath("nomodel.xlsx");
        saveRuleWorkbookAs(nullptr, &rules, nullptr, hooks);
        QCOMPARE(dialogs.lastMessage().text, QString("tableView_2 model is null"));
        QVERIFY(!QFile::exists(dir.filePath("nomodel.xlsx")));

        // A table longer than a workbook the editor opens.
        rules.setRowCount(kMaxWorkbookRules + 1);
        dialogs.files << dir.filePath("long.xlsx");
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);
        QCOMPARE(dialogs.lastMessage().title, QString("Error"));
        QCOMPARE(dialogs.lastMessage().text, QString("The table has 16385 rows; a workbook the editor opens holds at "
                                                     "most 16384."));
        QVERIFY(!QFile::exists(dir.filePath("long.xlsx")));
    }

    // A save that had to cut a text says which.
    void saveCommandNamesCutTexts()
    {
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        remarks.setText(5, 0, QString(40000, 'x'));
        dialogs.files << dir.filePath("cut.xlsx");
        WorkbookHooks hooks;
        hooks.checkImage = [] { return 2; };
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);
        QCOMPARE(dialogs.lastMessage().title, QString("Success"));
        QCOMPARE(dialogs.lastMessage().text,
                 QString("Excel file saved successfully!\n\nA workbook cell holds at most 32767 characters, so this "
                         "text was cut to that length: Remark of row 6 (40000 characters)."));
    }

    // A failed save leaves no partial workbook and keeps what was there; the message tells
    // an existing file from a new one and names the cause, and nothing else reaches
    // standard error.
    void failedSaves()
    {
        QTemporaryDir out;
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        WorkbookHooks hooks;
        hooks.checkImage = [] { return 2; };
        StderrCapture stderrText;

        dialogs.files << out.filePath("missing/show.xlsx");
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);
        QCOMPARE(dialogs.lastMessage().title, QString("Save Excel Failed"));
        QCOMPARE(dialogs.lastMessage().text,
                 "Failed to create the Excel file.\n\nThe folder \"" + out.filePath("missing") + "\" does not exist.");

        // Something that exists and cannot be replaced by a file.
        const QString existing = out.filePath("show.xlsx");
        QVERIFY(QDir(out.path()).mkdir("show.xlsx"));
        dialogs.files << existing;
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);
        QCOMPARE(dialogs.lastMessage().title, QString("Save Excel Failed"));
        QVERIFY2(dialogs.lastMessage().text.startsWith("Failed to overwrite the existing Excel file.\n\nMost likely"),
                 qPrintable(dialogs.lastMessage().text));
        QVERIFY(QFileInfo(existing).isDir());
        QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"show.xlsx"});
        QCOMPARE(stderrText.finish(), QByteArray());
    }

    // A full disk and a read-only file system are named as such. Needs a small file system
    // of its own, which only root can mount.
    void fullAndReadOnlyFileSystems_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("cause");
        // clang-format off
        QTest::newRow("full") << "size=64k" << "There is no space left on the disk.";
        QTest::newRow("read-only") << "size=64k,ro" << "The file system of its folder is read-only.";
        // clang-format on
    }
    void fullAndReadOnlyFileSystems()
    {
        QFETCH(QString, options);
        QFETCH(QString, cause);
        if (geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        QTemporaryDir mountPoint;
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", options, "tmpfs", mountPoint.path()}) != 0)
            QSKIP("no small file system could be mounted here");
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        WorkbookHooks hooks;
        hooks.checkImage = [] { return 2; };
        dialogs.files << mountPoint.filePath("show.xlsx");
        StderrCapture stderrText;
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);
        const QByteArray printed = stderrText.finish();
        const QStringList left =
            QDir(mountPoint.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QProcess::execute("umount", {mountPoint.path()});
        QCOMPARE(dialogs.lastMessage().title, QString("Save Excel Failed"));
        QVERIFY2(dialogs.lastMessage().text.startsWith("Failed to create the Excel file.\n\n" + cause),
                 qPrintable(dialogs.lastMessage().text));
        QCOMPARE(left, QStringList());
        QCOMPARE(printed, QByteArray());
    }
};

QTEST_MAIN(TestWorkbooks)
#include "tst_workbooks.moc"
