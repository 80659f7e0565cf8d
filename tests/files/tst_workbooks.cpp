// Rule-table workbooks: our own reader and writer, checked against openpyxl in both
// directions, and the Open and Save commands with their refusals.

#include "files/workbookcommands.h"
#include "files/workbookio.h"
#include "files/xlsxdocument.h"
#include "scripteddialogs.h"
#include "table/rulecolumns.h"
#include "table/rulemodel.h"
#include "table/ruleops.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace vl;
using vl::test::ScriptedDialogs;

namespace {

QByteArray python(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral(WORKBOOK_FIXTURES)} + args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        qWarning() << "python failed:" << args << p.readAllStandardError();
        return {};
    }
    return p.readAllStandardOutput();
}

// A full table with a little of everything the editor writes.
void fillFullTable(RuleModel &rules, RemarkModel &remarks)
{
    rules.setRowCount(kRuleRows);
    const QStringList statuses = {"Note", "AT", "CC"};
    for (int r = 0; r < kRuleRows; ++r) {
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

}  // namespace

class TestWorkbooks : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QString fixture(const QString &kind)
    {
        const QString path = dir.filePath(kind + ".xlsx");
        if (!QFile::exists(path))
            python({"make", kind, path});
        return path;
    }

private slots:
    void roundTripOfFullTable()
    {
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        xlsx::Document doc;
        fillRuleWorkbook(doc, rules, remarks);
        const QString path = dir.filePath("full.xlsx");
        QVERIFY2(doc.saveAs(path), qPrintable(doc.errorString()));

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
        RemarkModel back;
        QVERIFY(applyRemarkLines(back, in.remarkLines));
        for (int r = 0; r < kRuleRows; ++r)
            QCOMPARE(back.text(r, 0), remarks.text(r, 0));
    }

    // What an independent reader finds in our workbook.
    void openpyxlReadsOurWorkbook()
    {
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        remarks.setText(1, 0, "  padded  ");
        xlsx::Document doc;
        fillRuleWorkbook(doc, rules, remarks);
        const QString path = dir.filePath("ours.xlsx");
        QVERIFY(doc.saveAs(path));

        const QJsonObject out = QJsonDocument::fromJson(python({"dump", path})).object();
        QCOMPARE(out["sheets"].toArray(), QJsonArray({"MainTable"}));
        QJsonArray header;
        for (const QString &l : ruleColumnLabels())
            header << l;
        header << "Remark";
        QCOMPARE(out["header"].toArray(), header);
        QCOMPARE(out["max_row"].toInt(), kRuleRows + 1);
        const QJsonObject cells = out["cells"].toObject();
        QCOMPARE(cells["A2"].toString(), QString("1"));
        QCOMPARE(cells["B2"].toString(), QString("1-Spot"));
        QCOMPARE(cells["C2"].toString(), QString("Note"));
        QCOMPARE(cells["D2"].toString(), QString("0"));  // "0 / C-1" written as its number
        QCOMPARE(cells["E2"].toString(), QString("ALL"));
        QCOMPARE(cells["K2"].toString(), QString::fromUtf8("Bühne 0 – 舞台"));
        QCOMPARE(cells["K3"].toString(), QString("  padded  "));  // remarks keep their spaces
        QCOMPARE(cells["D3"].toString(), QString("1"));
        QCOMPARE(cells["A3073"].toString(), QString("3072"));
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

    // A large sheet is read in two halves at once; the cells must be exactly those one pass
    // reads, whatever the sheet holds.
    void halvesReadLikeOnePass_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("our full table") << "ours";
        QTest::newRow("shared strings") << "remarks";
        QTest::newRow("inline strings") << "inline";
        QTest::newRow("numbers") << "numbers";
        QTest::newRow("rows and cells without references") << "no-refs";
        QTest::newRow("a comment among the rows") << "comment-in-rows";
    }
    void halvesReadLikeOnePass()
    {
        QFETCH(QString, kind);
        QString path = dir.filePath("ours.xlsx");
        if (kind == "ours") {
            RuleModel rules;
            RemarkModel remarks;
            fillFullTable(rules, remarks);
            xlsx::Document doc;
            fillRuleWorkbook(doc, rules, remarks);
            QVERIFY(doc.saveAs(path));
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
                QCOMPARE(b.read(r, c), va);
                filled += va.isValid();
            }
        }
        QVERIFY(filled > 0);
        if (kind == "comment-in-rows")
            QCOMPARE(a.read(20, 1).toString(), QString("19"));  // the commented-out row is no row
    }

    void refusedWorkbooks_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("status");
        QTest::newRow("no sheets") << "no-sheets" << int(WorkbookImport::NoSheets);
        QTest::newRow("no header") << "no-header" << int(WorkbookImport::NoHeader);
        QTest::newRow("one header column") << "one-column" << int(WorkbookImport::OneColumn);
        QTest::newRow("not a zip") << "not-zip" << int(WorkbookImport::Unreadable);
        QTest::newRow("zip without workbook") << "zip-without-workbook" << int(WorkbookImport::Unreadable);
        QTest::newRow("broken XML") << "broken-xml" << int(WorkbookImport::Unreadable);
        QTest::newRow("nested too deeply") << "deep" << int(WorkbookImport::Unreadable);
        QTest::newRow("too many cells") << "huge" << int(WorkbookImport::Unreadable);
    }
    void refusedWorkbooks()
    {
        QFETCH(QString, kind);
        QFETCH(int, status);
        xlsx::ReadLimits limits;
        limits.maxCells = 20000;  // the fixture holds 50 000 cells; a rule workbook about 34 000
        limits.maxPartBytes = 4 * 1024 * 1024;
        const WorkbookImport in = readRuleWorkbook(fixture(kind), limits);
        QCOMPARE(int(in.status), status);
        if (status == WorkbookImport::Unreadable)
            QVERIFY(!in.detail.isEmpty());
    }

    // A workbook the editor refuses leaves the table and the remarks exactly as they were.
    void openCommandRefusesBeforeTouchingTheTable_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("no sheets") << "no-sheets" << "Excel file has no worksheets!";
        QTest::newRow("no header") << "no-header" << "Main sheet has no header columns!";
        QTest::newRow("one column") << "one-column" << "Need at least 2 columns (last column is remark/alias).";
        QTest::newRow("not a zip") << "not-zip" << "The Excel file could not be read: ";
        QTest::newRow("broken XML") << "broken-xml" << "The Excel file could not be read: ";
    }
    void openCommandRefusesBeforeTouchingTheTable()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        dialogs.files << fixture(kind);
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

    void openCommandLoads()
    {
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        dialogs.files << fixture("remarks");
        QByteArray lines;
        bool after = false;
        WorkbookHooks hooks;
        hooks.applyRemarkLines = [&](const QByteArray &l) { lines = l; };
        hooks.afterImport = [&] { after = true; };
        openRuleWorkbook(nullptr, rules, hooks);
        QCOMPARE(rules.rowCount(), 4);
        QCOMPARE(rules.columnCount(), 10);
        QCOMPARE(rules.headerData(ColEnable, Qt::Horizontal).toString(), QString("Enable"));
        QCOMPARE(rules.text(3, ColSn), QString("4"));
        QVERIFY(rules.item(3, ColSn)->isEditable());
        QCOMPARE(lines, QByteArray("alias0=Front wash\r\nalias1=a=b\r\nalias3=Back\r\n"));
        QVERIFY(after);
        QCOMPARE(dialogs.lastMessage().title, QString("Success"));
        QCOMPARE(dialogs.lastMessage().text, QString("Excel file loaded successfully!"));

        // Cancelling the file dialog changes nothing.
        dialogs.clear();
        openRuleWorkbook(nullptr, rules, hooks);
        QCOMPARE(dialogs.asked.size(), 1);
        QCOMPARE(rules.rowCount(), 4);
    }

    void saveCommandNames_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("written");
        QTest::newRow("no extension") << "show" << "show.xlsx";
        QTest::newRow("other extension") << "show.xls" << "show.xls.xlsx";
        QTest::newRow("upper case") << "SHOW.XLSX" << "SHOW.XLSX";
        QTest::newRow("mixed case") << "Show.XlSx" << "Show.XlSx";
    }
    void saveCommandNames()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, written);
        QTemporaryDir out;
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        dialogs.files << out.filePath(chosen);
        WorkbookHooks hooks;
        hooks.checkImage = [] { return 2; };
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);
        QCOMPARE(dialogs.asked[0].file.caption, QString("Save Excel File"));
        QCOMPARE(dialogs.asked[0].file.directory, QString("untitled.xlsx"));
        QCOMPARE(dialogs.lastMessage().text, QString("Excel file saved successfully!"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{written});
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
    }

    // A failed save leaves no partial workbook and keeps the file that was there; the
    // message tells an existing file from a new one.
    void failedSaves()
    {
        QTemporaryDir out;
        ScriptedDialogs dialogs;
        RuleModel rules;
        RemarkModel remarks;
        fillFullTable(rules, remarks);
        WorkbookHooks hooks;
        hooks.checkImage = [] { return 2; };

        dialogs.files << out.filePath("missing/show.xlsx");
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);
        QCOMPARE(dialogs.lastMessage().title, QString("Save Excel Failed"));
        QVERIFY(dialogs.lastMessage().text.startsWith("Failed to create the Excel file."));

        // An existing workbook, and a remark too long for any spreadsheet cell.
        const QString existing = out.filePath("show.xlsx");
        {
            xlsx::Document doc;
            fillRuleWorkbook(doc, rules, remarks);
            QVERIFY(doc.saveAs(existing));
        }
        QFile before(existing);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray original = before.readAll();
        before.close();
        remarks.setText(5, 0, QString(40000, 'x'));
        dialogs.files << existing;
        saveRuleWorkbookAs(nullptr, &rules, &remarks, hooks);
        QCOMPARE(dialogs.lastMessage().title, QString("Save Excel Failed"));
        QVERIFY(dialogs.lastMessage().text.startsWith("Failed to overwrite the existing Excel file."));
        QVERIFY(before.open(QIODevice::ReadOnly));
        QCOMPARE(before.readAll(), original);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"show.xlsx"});
    }
};

QTEST_MAIN(TestWorkbooks)
#include "tst_workbooks.moc"
