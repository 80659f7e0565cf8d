// varilume-cli without a box: image and decode, the workbooks and image files they
// refuse, and the command line's own mistakes. Every command runs in-process through
// the same run() the program calls.

#include "clitestsupport.h"
#include "common/core/scheduler.h"
#include "device/core/tableimage.h"
#include "simboxonpty.h"

#include <QTemporaryDir>

using namespace vl;
using namespace vl::test;

namespace {

// A workbook of `rows` rows that hold no rule but one, in row `row` (from 0), whose
// column `column` holds `text`; a negative row leaves all of them empty.
bool workbookWithOneRule(const QString &path, int rows, int row = -1, int column = 0, const QString &text = QString())
{
    RuleModel m;
    m.setRowCount(rows);
    for (int r = 0; r < rows; ++r)
        m.setText(r, ColSn, QString::number(r + 1));
    if (row >= 0) {
        putCompleteRule(m, row);
        m.setText(row, column, text);
    }
    return saveWorkbook(m, path);
}

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString file(const QString &name) const { return dir.filePath(name); }

private slots:
    void imageAndDecodeRoundTrip()
    {
        RuleModel sample;
        fillSampleTable(sample);
        QVERIFY(saveWorkbook(sample, file("show.xlsx")));

        const CliResult image = runInProcess({"image", file("show.xlsx"), "-o", file("show.bin")});
        QCOMPARE(image.status, 0);
        QVERIFY2(image.err.isEmpty(), image.err);
        const QByteArray bytes = readFileBytes(file("show.bin"));
        QCOMPARE(bytes.size(), 24844);
        QCOMPARE(bytes, encodeTableImage(sample));
        // The same bytes on standard output.
        QCOMPARE(runInProcess({"image", file("show.xlsx"), "-o", "-"}).out, bytes);

        // Back to a workbook: the rows the editor's Save wrote in the first place.
        const CliResult decode = runInProcess({"decode", file("show.bin"), "-o", file("back.xlsx")});
        QCOMPARE(decode.status, 0);
        QVERIFY2(decode.err.isEmpty(), decode.err);
        const WorkbookImport back = readRuleWorkbook(file("back.xlsx"));
        QCOMPARE(back.status, WorkbookImport::Loaded);
        QCOMPARE(back.headers, ruleColumnLabels());
        QCOMPARE(QList<QStringList>(back.rows), workbookTexts(sample));
        QVERIFY(back.remarkLines.isEmpty());

        // As text: the table the editor shows, under the naming asked for.
        const CliResult text = runInProcess({"decode", file("show.bin"), "-o", "-"});
        QCOMPARE(text.status, 0);
        QList<QByteArray> lines = text.out.split('\n');
        QCOMPARE(lines.size(), kRuleRows + 2);  // titles, rows, nothing after the last line end
        QCOMPARE(lines.first(), ruleColumnLabels().join('\t').toUtf8());
        QVERIFY(lines.last().isEmpty());
        const QList<QStringList> sampleTexts = tableTexts(sample);
        for (int r = 0; r < kRuleRows; ++r) {
            const QStringList expected = sample.isRuleRowEmpty(r) ? QStringList{QString::number(r + 1)}
                                                                  : sampleTexts[r];
            QCOMPARE(QString::fromUtf8(lines[r + 1]).split('\t', Qt::SkipEmptyParts), expected);
        }
        QCOMPARE(runInProcess({"decode", file("show.bin"), "-o", file("show.tsv")}).status, 0);
        QCOMPARE(readFileBytes(file("show.tsv")), text.out);
        const CliResult c5 = runInProcess({"decode", file("show.bin"), "--naming", "C5", "-o", "-"});
        QVERIFY(c5.out.contains("\n1\t1\tNote\t0 / C0\t"));
    }

    // What Set refuses, image refuses too, naming the first bad cell; nothing is written.
    void imageRefuses_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("fixed value out of range")
            << 5 << int(ColFix) << "300" << kRuleRows
            << "Row 6, column \"Fixed Value\": \"300\" is not a valid value. No image was written.";
        QTest::newRow("controller beyond 127") << 0 << int(ColCtl) << "128" << kRuleRows
                                               << "Row 1, column \"Controller\": \"128\"";
        QTest::newRow("unknown status") << 3071 << int(ColSta) << "PB" << kRuleRows
                                        << "Row 3072, column \"Status\": \"PB\"";
        QTest::newRow("DMX 0") << 1 << int(ColDmx) << "0" << kRuleRows << "Row 2, column \"DMX Channels\"";
        QTest::newRow("a line break in a cell stays on one line")
            << 2 << int(ColToggle) << "O\nN" << kRuleRows << "Row 3, column \"Toggle\": \"O\\nN\"";
        QTest::newRow("one row short") << -1 << 0 << QString() << kRuleRows - 1
                                       << "The table has 3071 rows; the device holds 3072 rules";
        QTest::newRow("no rows") << -1 << 0 << QString() << 0 << "The table has 0 rows";
        // clang-format on
    }
    void imageRefuses()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(int, rows);
        QFETCH(QString, message);
        QVERIFY(workbookWithOneRule(file("bad.xlsx"), rows, row, column, text));
        QFile::remove(file("bad.bin"));
        const CliResult r = runInProcess({"image", file("bad.xlsx"), "-o", file("bad.bin")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err);
        QVERIFY(r.err.startsWith("varilume-cli image: " + file("bad.xlsx").toUtf8() + ": "));
        QVERIFY(!QFile::exists(file("bad.bin")));
    }

    // Files that are no rule workbook get the editor's own refusals.
    void unusableWorkbooks_data()
    {
        QTest::addColumn<QByteArray>("content");  // empty: a workbook with one header cell
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("not a workbook") << QByteArray("PK\x03\x04 not really") << "The Excel file could not be read";
        QTest::newRow("one header column") << QByteArray() << "Need at least 2 columns (last column is remark/alias).";
        // clang-format on
    }
    void unusableWorkbooks()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        if (content.isEmpty()) {
            xlsx::Document doc;
            doc.write(1, 1, "SN");
            QVERIFY(doc.saveAs(file("odd.xlsx")));
        } else {
            QVERIFY(writeFileBytes(file("odd.xlsx"), content));
        }
        const CliResult r = runInProcess({"image", file("odd.xlsx"), "-o", file("odd.bin")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err);
        QVERIFY(!QFile::exists(file("odd.bin")));
    }

    // Rules below row 3072 cannot go to the box: the image holds the first 3072 rows, as
    // Set sends them, and a warning says what was left out.
    void rowsBeyondTheBoxAreLeftOutWithAWarning()
    {
        RuleModel m;
        fillSampleTable(m);
        const QByteArray expected = encodeTableImage(m);
        m.setRowCount(kRuleRows + 2);
        m.setText(kRuleRows, ColSn, "3073");  // an empty rule: only a row without "SN" ends the workbook
        for (int c = 0; c < kRuleColumns; ++c)
            m.setText(kRuleRows + 1, c, m.text(0, c));
        QVERIFY(saveWorkbook(m, file("long.xlsx")));
        const CliResult r = runInProcess({"image", file("long.xlsx"), "-o", file("long.bin")});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err, QString("varilume-cli image: warning: %1: 1 rule after row 3072 cannot be sent (the device "
                                "holds 3072 rules); it is in row 3074. Rules 1 to 3072 were taken.\n")
                            .arg(file("long.xlsx")));
        QCOMPARE(readFileBytes(file("long.bin")), expected);
    }

    // Rows the import stops short of are named, as the editor's success box names them,
    // and the image is built from what was loaded.
    void rowsNotLoadedAreNamed()
    {
        RuleModel m;
        fillSampleTable(m);
        RemarkModel remarks;
        xlsx::Document doc;
        fillRuleWorkbook(doc, m, remarks);
        doc.write(kRuleRows + 3, 1, QString::number(kRuleRows + 2));  // after a row without SN
        doc.write(kRuleRows + 3, 2, "5");
        QVERIFY(doc.saveAs(file("gap.xlsx")));
        const CliResult r = runInProcess({"image", file("gap.xlsx"), "-o", file("gap.bin")});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err, QString("varilume-cli image: warning: %1: 1 row from sheet row 3074 on was not loaded: the SN "
                                "cell of sheet row 3074 is empty, and loading stops at the first row without an SN.\n")
                            .arg(file("gap.xlsx")));
        QCOMPARE(readFileBytes(file("gap.bin")), encodeTableImage(m));
    }

    void decodeRefuses_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");  // empty: decoded
        RuleModel m;
        fillSampleTable(m);
        const QByteArray good = encodeTableImage(m);
        QByteArray badSum = good;
        badSum[17] = char(badSum[17] ^ 0x01);
        QByteArray noEnd = good;
        noEnd[24840] = 'X';
        // clang-format off
        QTest::newRow("empty file") << QByteArray() << QStringList() << "it has 0 bytes, an image has 24844";
        QTest::newRow("one byte short") << good.chopped(1) << QStringList() << "it has 24843 bytes";
        QTest::newRow("one byte too many") << good + '\0' << QStringList()
                                           << "it is longer than an image's 24844 bytes";
        QTest::newRow("no start marker") << "x" + good.mid(1) << QStringList()
                                         << "does not begin with \"download request\"";
        QTest::newRow("no end marker") << noEnd << QStringList() << "\"end of data\" is missing";
        QTest::newRow("wrong checksum") << badSum << QStringList() << "does not match its records";
        QTest::newRow("wrong checksum, ignored") << badSum << QStringList{"--ignore-checksum"} << QString();
        // clang-format on
    }
    void decodeRefuses()
    {
        QFETCH(QByteArray, image);
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        QVERIFY(writeFileBytes(file("in.bin"), image));
        QFile::remove(file("out.xlsx"));
        const CliResult r = runInProcess(QStringList{"decode", file("in.bin"), "-o", file("out.xlsx")} + options);
        if (message.isEmpty()) {
            QCOMPARE(r.status, 0);
            QVERIFY(QFile::exists(file("out.xlsx")));
            return;
        }
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err);
        QVERIFY(!QFile::exists(file("out.xlsx")));
    }

    // A box that never answers ends the command after the time limit, with nothing
    // written. The box runs in this process: when it has taken the request it will not
    // answer, the clock moves on by the time limit instead of the test waiting it out.
    void silentBox_data()
    {
        QTest::addColumn<QString>("silent");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("waitingFor");
        // clang-format off
        QTest::newRow("greeting") << "hello"
                                  << "read"
                                  << "the answer to \"hello\"";
        QTest::newRow("settings reply") << "setting request"
                                        << "settings"
                                        << "the settings reply";
        QTest::newRow("table") << "upload request"
                               << "read"
                               << "the table";
        QTest::newRow("download success") << "download request"
                                          << "write"
                                          << "\"download success\"";
        QTest::newRow("setting end") << "settingdata"
                                     << "settings"
                                     << "\"setting end\"";
        // clang-format on
    }
    void silentBox()
    {
        QFETCH(QString, silent);
        QFETCH(QString, command);
        QFETCH(QString, waitingFor);
        QVERIFY(workbookWithOneRule(file("one.xlsx"), kRuleRows, 0, ColEnable, "ON"));
        QFile::remove(file("out.xlsx"));
        BoxOptions options;
        options.silent = QStringList{silent};
        SimBoxOnPty box(options);
        box.start();
        ManualScheduler clock;
        struct Installed {
            explicit Installed(Scheduler *s) { installScheduler(s); }
            ~Installed() { installScheduler(nullptr); }
        } installed(&clock);
        int silences = 0;
        box.onSilence = [&] {
            ++silences;
            clock.advance(500);
        };

        QStringList args = {command, "--port", box.port(), "--timeout", "0.5"};
        if (command == "read")
            args << "-o" << file("out.xlsx");
        else if (command == "write")
            args << file("one.xlsx");
        else if (silent == "settingdata")
            args << "--sleep"
                 << "20";
        const CliResult r = runInProcess(args);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err);
        QVERIFY2(r.err.contains(QString("no answer from the box on %1 within 0.5 s (waiting for %2)")
                                    .arg(box.port(), waitingFor)
                                    .toUtf8()),
                 r.err);
        QCOMPARE(silences, 1);
        QCOMPARE(clock.nowMs(), 500);
        QVERIFY(!QFile::exists(file("out.xlsx")));
    }

    // The time limit is the box's silence, not the whole conversation: a box that sends
    // its table slowly, in pieces closer together than the limit, is read however long the
    // table takes. (Each piece comes 0.4 s after the last, with a limit of 0.5 s.)
    void slowBoxIsWaitedFor()
    {
        RuleModel sample;
        fillSampleTable(sample);
        QFile::remove(file("slow.tsv"));
        BoxOptions options;
        options.chunkSize = 2048;
        SimBoxOnPty box(options);
        box.start();
        box.box().setRecords(encodeTableImage(sample).mid(kImageHeaderSize, kRecordAreaSize));
        ManualScheduler clock;
        struct Installed {
            explicit Installed(Scheduler *s) { installScheduler(s); }
            ~Installed() { installScheduler(nullptr); }
        } installed(&clock);
        // The box waits until the tool has heard its last piece (the tool's time limit
        // starts again then: 500 ms to go), then 400 ms pass.
        box.beforePiece = [&] {
            QTRY_COMPARE(clock.msUntilNext(), qint64(500));
            clock.advance(400);
        };

        const CliResult r = runInProcess({"read", "--port", box.port(), "--timeout", "0.5", "-o", file("slow.tsv")});
        QVERIFY2(r.status == 0, r.err);
        QVERIFY(clock.nowMs() >= 13 * 400);
        QVERIFY(readFileBytes(file("slow.tsv")).contains("\n1\t1\tNote\t0 / C-2\tALL\t1\t1\t1\tON\tOFF\n"));
    }

    // Mistakes in the command line are found before any box or file is touched.
    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("nothing") << QStringList() << "no command given";
        QTest::newRow("unknown command") << QStringList{"reed"} << "unknown command \"reed\"";
        QTest::newRow("unknown option") << QStringList{"ports", "--fast"} << "Unknown option 'fast'";
        QTest::newRow("read without a port") << QStringList{"read", "-o", "x.xlsx"} << "--port is missing";
        QTest::newRow("read without output") << QStringList{"read", "--port", "/dev/null"} << "-o is missing";
        QTest::newRow("write without a workbook") << QStringList{"write", "--port", "/dev/null"}
                                                  << "the workbook is missing";
        QTest::newRow("two workbooks") << QStringList{"image", "a.xlsx", "b.xlsx", "-o", "x.bin"}
                                       << "unexpected argument \"b.xlsx\"";
        QTest::newRow("timeout zero") << QStringList{"settings", "-p", "/dev/null", "--timeout", "0"}
                                      << "--timeout takes seconds";
        QTest::newRow("timeout not a number") << QStringList{"settings", "-p", "/dev/null", "-t", "soon"}
                                              << "--timeout takes seconds";
        QTest::newRow("break time off the list") << QStringList{"settings", "-p", "/dev/null", "--break-time", "110"}
                                                 << "--break-time takes one of 100, 120, ... 1000, not \"110\"";
        QTest::newRow("coefficient off the list")
            << QStringList{"settings", "-p", "/dev/null", "--coefficient", "2.5"}
            << "--coefficient takes one of 1, 2, 2.01, 3, 4, 5";
        QTest::newRow("sleep in codes") << QStringList{"settings", "-p", "/dev/null", "--sleep", "3"}
                                        << "--sleep takes one of 10, 20, 30, 40, 50, 60";
        QTest::newRow("factory reset without --yes") << QStringList{"factory-reset", "-p", "/dev/null"}
                                                     << "add --yes";
        QTest::newRow("naming") << QStringList{"decode", "x.bin", "-o", "-", "--naming", "C6"}
                                << "--naming takes C3, C4 or C5";
        // clang-format on
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const CliResult r = runInProcess(args);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.oneErrorLine(), r.err);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err);
        QVERIFY(r.err.contains("--help"));
        QVERIFY(r.out.isEmpty());
    }

    void help_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("usage");
        // clang-format off
        QTest::newRow("tool") << QStringList{"--help"} << "Usage: varilume-cli <command>";
        for (const char *command : {"ports", "read", "write", "settings", "factory-reset", "image", "decode"})
            QTest::newRow(command) << QStringList{command, "--help"}
                                   << QString("Usage: varilume-cli %1").arg(command);
        // clang-format on
    }
    void help()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, usage);
        const CliResult r = runInProcess(args);
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.isEmpty());
        QVERIFY2(r.out.startsWith(usage.toUtf8()), r.out);
    }

    void outputThatCannotBeWritten()
    {
        QVERIFY(workbookWithOneRule(file("show.xlsx"), kRuleRows));
        CliResult r = runInProcess({"image", file("show.xlsx"), "-o", file("no/such/dir/x.bin")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("does not exist"), r.err);
        r = runInProcess({"image", file("missing.xlsx"), "-o", file("x.bin")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err);
        r = runInProcess({"decode", file("missing.bin"), "-o", file("x.xlsx")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("cannot read"), r.err);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
