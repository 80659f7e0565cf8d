// The real varilume-cli program against the simulated box on a pseudo-terminal, run
// without a display: reading, writing and the settings round trips, and every way the
// conversation can fail (a silent box, a box that vanishes, ports that cannot be used).

#include "clitestsupport.h"
#include "device/tableimage.h"

#include <QSerialPort>
#include <QTemporaryDir>

using namespace vl;
using namespace vl::test;

namespace {

const QString kBox = "Nemora KVR-9000";

}  // namespace

class TestCliBox : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString file(const QString &name) const { return dir.filePath(name); }
    QString announceDir() const { return dir.filePath("boxes"); }

    CliResult cli(const QStringList &args) { return runProgram(QStringLiteral(CLI_PROGRAM), args, announceDir()); }
    // Unless a test is about the pace of the box's table upload (--pause), the box sends
    // it as fast as the line takes it; and it answers at once (--gap 0) unless it sends two
    // messages for one request (the door and a challenge), which the pause keeps apart.
    bool startBox(BoxProcess &box, QStringList args)
    {
        if (!args.contains("--pause"))
            args << QStringList{"--pause", "0"};
        if (!args.contains("--gap") && !args.contains("--cipher") && !args.contains("--cipher-required"))
            args << QStringList{"--gap", "0"};
        return box.start(QStringLiteral(SIMBOX_PROGRAM), args, announceDir());
    }

    // An image file of the sample table for a box to start from.
    QString sampleImage(RuleModel &sample)
    {
        fillSampleTable(sample);
        const QString path = file("start.bin");
        return writeAll(path, encodeTableImage(sample)) ? path : QString();
    }

private slots:
    void portsListsTheBox()
    {
        QCOMPARE(cli({"ports"}).out, QByteArray());
        BoxProcess box;
        QVERIFY(startBox(box, {}));
        const CliResult r = cli({"ports"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, (kBox + "\t" + box.port + "\n").toUtf8());
        // A bootloader is no box the editor lists.
        BoxProcess loader;
        QVERIFY(startBox(loader, {"--upgrade"}));
        QCOMPARE(cli({"ports"}).out, (kBox + "\t" + box.port + "\n").toUtf8());
    }

    // The box's table comes back whole however the box sends it, by description or path.
    void readRoundTrip_data()
    {
        QTest::addColumn<QStringList>("boxArgs");
        QTest::addColumn<bool>("byPath");
        QTest::newRow("by description") << QStringList() << false;
        QTest::newRow("by path, challenge required") << QStringList{"--cipher-required"} << true;
        QTest::newRow("junk before messages, odd cuts")
            << QStringList{"--garbage", "--split-at", "5,300,24835", "--chunk-size", "1000", "--pause", "1"} << false;
    }
    void readRoundTrip()
    {
        QFETCH(QStringList, boxArgs);
        QFETCH(bool, byPath);
        RuleModel sample;
        const QString start = sampleImage(sample);
        BoxProcess box;
        QVERIFY(startBox(box, QStringList{"--table", start} + boxArgs));
        const QString port = byPath ? box.port : kBox;

        const CliResult read = cli({"read", "--port", port, "-o", file("read.xlsx")});
        QCOMPARE(read.status, 0);
        QVERIFY2(read.err.isEmpty(), read.err);
        QVERIFY(read.out.isEmpty());
        const WorkbookImport in = readRuleWorkbook(file("read.xlsx"));
        QCOMPARE(in.status, WorkbookImport::Loaded);
        QCOMPARE(in.headers, ruleColumnLabels());
        QCOMPARE(QList<QStringList>(in.rows), workbookTexts(sample));

        const CliResult text = cli({"read", "--port", port, "-o", "-"});
        QCOMPARE(text.status, 0);
        QCOMPARE(text.out.count('\n'), kRuleRows + 1);
        QVERIFY(text.out.contains("\n1\t1\tNote\t0 / C-2\tALL\t1\t1\t1\tON\tOFF\n"));
    }

    void writeRoundTrip()
    {
        RuleModel sample;
        fillSampleTable(sample);
        QVERIFY(saveWorkbook(sample, file("show.xlsx")));
        BoxProcess box;
        QVERIFY(startBox(box, {"--save-table", file("saved.bin")}));

        const CliResult r = cli({"write", "--port", kBox, file("show.xlsx")});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.isEmpty(), r.err);
        QCOMPARE(readAll(file("saved.bin")), encodeTableImage(sample));
        // What the box now holds reads back as the workbook.
        QVERIFY(cli({"read", "-p", box.port, "-o", file("back.xlsx")}).status == 0);
        QCOMPARE(QList<QStringList>(readRuleWorkbook(file("back.xlsx")).rows), workbookTexts(sample));

        // A workbook Set would refuse never reaches the box.
        sample.setText(10, ColFadeIn, "51");
        QVERIFY(saveWorkbook(sample, file("bad.xlsx")));
        const CliResult bad = cli({"write", "--port", kBox, file("bad.xlsx")});
        QCOMPARE(bad.status, 1);
        QVERIFY2(bad.err.contains("Row 11, column \"Fade In\": \"51\" is not a valid value. Nothing was sent"),
                 bad.err);
        QVERIFY(bad.oneErrorLine());
    }

    void settingsRoundTrip()
    {
        BoxProcess box;
        QVERIFY(startBox(box, {"--settings", "1000,510,2,6"}));
        CliResult r = cli({"settings", "--port", kBox});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QByteArray("break-time: 1000 us\nmark-after-break: 510 us\ncoefficient: 2.01\nsleep: 60 s\n"));

        r = cli({"settings", "--port", kBox, "--break-time", "100", "--coefficient", "5", "--sleep", "10"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.isEmpty(), r.err);
        const QByteArray changed("break-time: 100 us\nmark-after-break: 510 us\ncoefficient: 5\nsleep: 10 s\n");
        QCOMPARE(r.out, changed);
        QCOMPARE(cli({"settings", "--port", box.port}).out, changed);
        r = cli({"settings", "--port", box.port, "--mark-after-break", "50"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains("mark-after-break: 50 us\n"));
    }

    void factoryReset()
    {
        RuleModel sample;
        const QString start = sampleImage(sample);
        BoxProcess box;
        QVERIFY(startBox(box, {"--table", start, "--settings", "1000,510,2,6", "--save-table", file("saved.bin")}));
        const CliResult r = cli({"factory-reset", "--port", kBox, "--yes"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.isEmpty(), r.err);
        QCOMPARE(readAll(file("saved.bin")), buildTableImage(QByteArray(kRecordAreaSize, '\0')));
        QCOMPARE(cli({"settings", "--port", kBox}).out,
                 QByteArray("break-time: 200 us\nmark-after-break: 50 us\ncoefficient: 1\nsleep: 30 s\n"));
    }

    // A box that never answers ends the command after the timeout, with nothing written.
    // The program waits on its real clock here; tst_cli goes through every step the box
    // can fall silent at on a clock it steps.
    void silentBox_data()
    {
        QTest::addColumn<QString>("silent");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("waitingFor");
        QTest::newRow("table") << "upload request"
                               << "read"
                               << "the table";
    }
    void silentBox()
    {
        QFETCH(QString, silent);
        QFETCH(QString, command);
        QFETCH(QString, waitingFor);
        RuleModel sample;
        fillSampleTable(sample);
        QVERIFY(saveWorkbook(sample, file("show.xlsx")));
        BoxProcess box;
        QVERIFY(startBox(box, {"--silent", silent}));
        QFile::remove(file("out.xlsx"));

        QStringList args = {command, "--port", box.port, "--timeout", "0.5"};
        if (command == "read")
            args << "-o" << file("out.xlsx");
        else if (command == "write")
            args << file("show.xlsx");
        else if (silent == "settingdata")
            args << "--sleep" << "20";
        const CliResult r = cli(args);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err);
        QVERIFY2(r.err.contains(QString("no answer from the box on %1 within 0.5 s (waiting for %2)")
                                    .arg(box.port, waitingFor)
                                    .toUtf8()),
                 r.err);
        QVERIFY2(r.ms >= 500 && r.ms < 8000, QByteArray::number(r.ms));
        QVERIFY(!QFile::exists(file("out.xlsx")));
    }

    // The box goes away half way through the table: an error, and the file that was
    // there is left as it was.
    void boxVanishesMidRead()
    {
        BoxProcess box;
        QVERIFY(startBox(box, {"--demo", "--vanish-after", "6000"}));
        QVERIFY(writeAll(file("old.xlsx"), "the last good backup"));
        const CliResult r = cli({"read", "--port", kBox, "-o", file("old.xlsx")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err);
        QVERIFY2(r.err.contains("went away"), r.err);
        QVERIFY2(r.ms < 8000, QByteArray::number(r.ms));
        QCOMPARE(readAll(file("old.xlsx")), QByteArray("the last good backup"));
        QCOMPARE(QDir(dir.path()).entryList({".old.xlsx*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    void portsThatCannotBeUsed_data()
    {
        QTest::addColumn<QString>("port");  // "BOX": the box's path
        QTest::addColumn<QStringList>("boxArgs");
        QTest::addColumn<bool>("holdPort");
        QTest::addColumn<QString>("message");
        QTest::newRow("no such device") << "/dev/no-such-varilume-port" << QStringList() << false
                                        << "no such port: \"/dev/no-such-varilume-port\"";
        QTest::newRow("no such box") << "Nemora KVR-9001" << QStringList() << false << "no such port";
        QTest::newRow("busy") << "BOX" << QStringList() << true << "the port is busy";
        QTest::newRow("box without a model") << "BOX" << QStringList{"--close-door"} << false
                                             << "Failed to connect because no product model was specified";
    }
    void portsThatCannotBeUsed()
    {
        QFETCH(QString, port);
        QFETCH(QStringList, boxArgs);
        QFETCH(bool, holdPort);
        QFETCH(QString, message);
        BoxProcess box;
        QVERIFY(startBox(box, boxArgs));
        QSerialPort other;
        if (holdPort) {
            other.setPortName(box.port);
            QVERIFY(other.open(QIODevice::ReadWrite));
        }
        const CliResult r = cli({"settings", "--port", port == "BOX" ? box.port : port, "--timeout", "5"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err);
        QVERIFY(r.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliBox)
#include "tst_cli_box.moc"
