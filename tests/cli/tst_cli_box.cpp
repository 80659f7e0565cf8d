// The real varilume-cli program against the simulated box on a pseudo-terminal, run
// without a display: reading, writing and the settings round trips, and every way the
// conversation can fail (a silent box, a box that vanishes, ports that cannot be used).

#include "clitestsupport.h"
#include "device/core/tableimage.h"

#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace vl;
using namespace vl::test;

namespace {

const QString kBox = "Nemora KVR-9000";
constexpr uid_t kNobody = 65534;

QByteArray nameOf(const QString &path) { return QFile::encodeName(path); }

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(nameOf(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// The hidden temporary files a whole write leaves behind when it goes wrong.
QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({".*"}, QDir::Files | QDir::Hidden | QDir::System);
}

struct UmaskFor {
    explicit UmaskFor(mode_t mask) : old(::umask(mask)) {}
    ~UmaskFor() { ::umask(old); }
    mode_t old;
};

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

    // The program as another user (nobody) when the test runs as root, where root's rights
    // would hide what a user meets; as the test's user otherwise.
    CliResult cliAsUser(const QStringList &args)
    {
        if (::geteuid() != 0)
            return cli(args);
        return runProgram("setpriv",
                          QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", QStringLiteral(CLI_PROGRAM)}
                              + args,
                          announceDir());
    }
    // A folder the user of cliAsUser() owns, with the sample workbook in it.
    QString userFolder()
    {
        const QString folder = file("user");
        QDir().mkpath(folder);
        if (::geteuid() == 0)
            ::chown(nameOf(folder).constData(), kNobody, kNobody);
        ::chmod(nameOf(dir.path()).constData(), 0755);
        if (!QFileInfo::exists(folder + "/show.xlsx")) {
            QFile::copy(sampleWorkbook(), folder + "/show.xlsx");
            ::chmod(nameOf(folder + "/show.xlsx").constData(), 0644);
        }
        return folder;
    }

    // Starts the program for a test that stops it.
    void startProgram(QProcess &p, const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("VARILUME_SIMBOX_DIR", announceDir());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CLI_PROGRAM), args);
        QVERIFY(p.waitForStarted(10000));
    }

    // The sample table, its workbook as the editor saves it, and its image (what a box
    // starts from), made once: building them is most of the test's own work. Tests only
    // read them.
    std::unique_ptr<RuleModel> m_sample;
    const RuleModel &sample()
    {
        if (!m_sample) {
            m_sample = std::make_unique<RuleModel>();
            fillSampleTable(*m_sample);
        }
        return *m_sample;
    }
    QString sampleWorkbook()
    {
        const QString path = file("sample.xlsx");
        return QFileInfo::exists(path) || saveWorkbook(sample(), path) ? path : QString();
    }
    QString sampleImage()
    {
        const QString path = file("sample.bin");
        return QFileInfo::exists(path) || writeFileBytes(path, encodeTableImage(sample())) ? path : QString();
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
        // clang-format off
        QTest::newRow("by description") << QStringList() << false;
        QTest::newRow("by path, challenge required") << QStringList{"--cipher-required"} << true;
        QTest::newRow("junk before messages, odd cuts")
            << QStringList{"--garbage", "--split-at", "5,300,24835", "--chunk-size", "1000", "--pause", "1"} << false;
        // clang-format on
    }
    void readRoundTrip()
    {
        QFETCH(QStringList, boxArgs);
        QFETCH(bool, byPath);
        const QString start = sampleImage();
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
        QCOMPARE(QList<QStringList>(in.rows), workbookTexts(sample()));

        const CliResult text = cli({"read", "--port", port, "-o", "-"});
        QCOMPARE(text.status, 0);
        QCOMPARE(text.out.count('\n'), kRuleRows + 1);
        QVERIFY(text.out.contains("\n1\t1\tNote\t0 / C-2\tALL\t1\t1\t1\tON\tOFF\n"));
    }

    void writeRoundTrip()
    {
        BoxProcess box;
        QVERIFY(startBox(box, {"--save-table", file("saved.bin")}));

        const CliResult r = cli({"write", "--port", kBox, sampleWorkbook()});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.isEmpty(), r.err);
        QCOMPARE(readFileBytes(file("saved.bin")), encodeTableImage(sample()));
        // What the box now holds reads back as the workbook.
        QVERIFY(cli({"read", "-p", box.port, "-o", file("back.xlsx")}).status == 0);
        QCOMPARE(QList<QStringList>(readRuleWorkbook(file("back.xlsx")).rows), workbookTexts(sample()));

        // A workbook Set would refuse never reaches the box.
        RuleModel refused;
        fillSampleTable(refused);
        refused.setText(10, ColFadeIn, "51");
        QVERIFY(saveWorkbook(refused, file("bad.xlsx")));
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
        const QString start = sampleImage();
        BoxProcess box;
        QVERIFY(startBox(box, {"--table", start, "--settings", "1000,510,2,6", "--save-table", file("saved.bin")}));
        const CliResult r = cli({"factory-reset", "--port", kBox, "--yes"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.isEmpty(), r.err);
        QCOMPARE(readFileBytes(file("saved.bin")), buildTableImage(QByteArray(kRecordAreaSize, '\0')));
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
        // clang-format off
        QTest::newRow("table") << "upload request"
                               << "read"
                               << "the table";
        // clang-format on
    }
    void silentBox()
    {
        QFETCH(QString, silent);
        QFETCH(QString, command);
        QFETCH(QString, waitingFor);
        BoxProcess box;
        QVERIFY(startBox(box, {"--silent", silent}));
        QFile::remove(file("out.xlsx"));

        QStringList args = {command, "--port", box.port, "--timeout", "0.5"};
        if (command == "read")
            args << "-o" << file("out.xlsx");
        else if (command == "write")
            args << sampleWorkbook();
        else if (silent == "settingdata")
            args << "--sleep"
                 << "20";
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
        QVERIFY(writeFileBytes(file("old.xlsx"), "the last good backup"));
        const CliResult r = cli({"read", "--port", kBox, "-o", file("old.xlsx")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err);
        QVERIFY2(r.err.contains("went away"), r.err);
        QVERIFY2(r.ms < 8000, QByteArray::number(r.ms));
        QCOMPARE(readFileBytes(file("old.xlsx")), QByteArray("the last good backup"));
        QCOMPARE(QDir(dir.path()).entryList({".old.xlsx*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    // A box that sends slowly but without long pauses is waited for: the time limit is
    // the box's silence. (Pieces 0.5 s apart, a limit of 2 s, 6 s for the whole table.)
    void slowBoxIsWaitedFor()
    {
        const QString start = sampleImage();
        BoxProcess box;
        // Seven pieces 200 ms apart: the upload takes twice the timeout and more.
        QVERIFY(startBox(box, {"--table", start, "--chunk-size", "4096", "--pause", "200"}));
        const CliResult r = cli({"read", "--port", kBox, "--timeout", "0.6", "-o", file("slow.xlsx")});
        QVERIFY2(r.status == 0, r.err);
        QVERIFY2(r.ms > 1000, QByteArray::number(r.ms));
        QCOMPARE(QList<QStringList>(readRuleWorkbook(file("slow.xlsx")).rows), workbookTexts(sample()));
    }

    // A table whose checksum does not match its records was damaged on its way: not
    // saved, unless asked for, and then with a warning.
    void damagedTable_data()
    {
        QTest::addColumn<bool>("ignore");
        // clang-format off
        QTest::newRow("refused") << false;
        QTest::newRow("--ignore-checksum") << true;
        // clang-format on
    }
    void damagedTable()
    {
        QFETCH(bool, ignore);
        const QString start = sampleImage();
        const quint16 sum = recordChecksum(encodeTableImage(sample()).mid(kImageHeaderSize, kRecordAreaSize));
        const QString damage = QString("the table read from the box is damaged: its checksum is 0x%1 but its records "
                                       "add up to 0x%2")
                                   .arg(sum ^ 0x01, 4, 16, QChar('0'))
                                   .arg(sum, 4, 16, QChar('0'));
        BoxProcess box;
        QVERIFY(startBox(box, {"--table", start, "--bad-checksum"}));
        QFile::remove(file("damaged.xlsx"));
        QStringList args = {"read", "--port", kBox, "-o", file("damaged.xlsx")};
        if (ignore)
            args << "--ignore-checksum";
        const CliResult r = cli(args);
        QVERIFY2(r.oneErrorLine(), r.err);
        if (ignore) {
            QCOMPARE(r.status, 0);
            QCOMPARE(QString::fromUtf8(r.err),
                     QString("varilume-cli read: warning: %1; it is saved as it came\n").arg(damage));
            QCOMPARE(QList<QStringList>(readRuleWorkbook(file("damaged.xlsx")).rows), workbookTexts(sample()));
        } else {
            QCOMPARE(r.status, 1);
            QCOMPARE(QString::fromUtf8(r.err),
                     QString("varilume-cli read: %1; nothing was written (--ignore-checksum saves it all the same)\n")
                         .arg(damage));
            QVERIFY(!QFile::exists(file("damaged.xlsx")));
        }
    }

    // A box that acknowledged a setting has applied it: when it goes away afterwards,
    // the line says so, and a factory reset it acknowledged is done.
    void boxGoesAwayAfterApplying_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line");
        // clang-format off
        QTest::newRow("settings")
            << QStringList{"settings", "--sleep", "20", "--coefficient", "5"} << 1
            << "varilume-cli settings: the box on %1 went away, after it had applied --coefficient "
               "5\n";
        QTest::newRow("factory reset") << QStringList{"factory-reset", "--yes"} << 0
                                       << "varilume-cli factory-reset: warning: the box applied the factory reset; "
                                          "afterwards: the box on %1 went away\n";
        // clang-format on
    }
    void boxGoesAwayAfterApplying()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, line);
        BoxProcess box;
        // The box goes in the middle of the table it sends after the first setting.
        QVERIFY(startBox(box, {"--settings", "1000,510,2,6", "--vanish-after", "100", "-v"}));
        const CliResult r = cli(args + QStringList{"--port", box.port});
        QCOMPARE(QString::fromUtf8(r.err), line.arg(box.port));
        QCOMPARE(r.status, status);
        QVERIFY(box.process().waitForFinished(5000));
        QVERIFY2(box.log().contains(status ? "setting 3 = 5" : "factory reset"), qPrintable(box.log()));
    }

    // Output paths: a character device or a FIFO named by the user gets the bytes and
    // stays what it is; workbooks, images and text alike.
    void outputIntoSpecialFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("command");
        // clang-format off
        QTest::newRow("workbook into a FIFO") << "fifo"
                                              << "decode-xlsx";
        QTest::newRow("text into a FIFO") << "fifo"
                                          << "decode-tsv";
        QTest::newRow("image into a FIFO") << "fifo"
                                           << "image";
        QTest::newRow("workbook into a device") << "device"
                                                << "decode-xlsx";
        QTest::newRow("image into a device") << "device"
                                             << "image";
        // clang-format on
    }
    void outputIntoSpecialFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, command);
        QString target = file(command == "decode-tsv" ? "special.tsv" : "special");
        QFile::remove(target);
        // What a reader of the FIFO gets, copied into a file as it comes.
        QProcess reader;
        const QString copy = file("copy");
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(nameOf(target).constData(), 0600), 0);
            reader.start("sh", {"-c", "exec cat \"$0\" > \"$1\"", target, copy});
            QVERIFY(reader.waitForStarted(10000));
        } else if (::geteuid() != 0) {
            target = "/dev/null";  // a user cannot replace it
        } else if (::mknod(nameOf(target).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
            // Root could replace the system's /dev/null if the program got it wrong.
            QSKIP("no device can be made here");
        }
        const QStringList args = command == "image" ? QStringList{"image", sampleWorkbook(), "-o", target}
                                                    : QStringList{"decode", sampleImage(), "-o", target};
        const CliResult r = cli(args);
        QVERIFY2(r.status == 0, r.err);
        QVERIFY(r.err.isEmpty());
        QVERIFY(S_ISFIFO(modeOf(target)) == (kind == "fifo"));
        QVERIFY(S_ISCHR(modeOf(target)) == (kind == "device"));
        QCOMPARE(leftovers(dir.path()), QStringList());
        if (kind != "fifo")
            return;
        QVERIFY(reader.waitForFinished(10000));
        const QByteArray got = readFileBytes(copy);
        if (command == "image")
            QCOMPARE(got, encodeTableImage(sample()));
        else if (command == "decode-tsv")
            QVERIFY(got.startsWith("SN\tDMX\t"));
        else
            QVERIFY(got.startsWith("PK\x03\x04"));
    }

    // /dev/null as a user: the program writes into it and succeeds.
    void outputIntoDevNullAsAUser()
    {
        const QString folder = userFolder();
        const CliResult r = cliAsUser({"image", folder + "/show.xlsx", "-o", "/dev/null"});
        QVERIFY2(r.status == 0, r.err);
        QVERIFY(S_ISCHR(modeOf("/dev/null")));
    }

    // A read-only file is not replaced, and the line says it is read-only.
    void readOnlyOutputIsKept()
    {
        const QString folder = userFolder();
        const QString target = folder + "/kept.bin";
        QVERIFY(writeFileBytes(target, "the last good image"));
        ::chmod(nameOf(target).constData(), 0444);
        if (::geteuid() == 0)
            QCOMPARE(::chown(nameOf(target).constData(), kNobody, kNobody), 0);
        const CliResult r = cliAsUser({"image", folder + "/show.xlsx", "-o", target});
        QCOMPARE(r.status, 1);
        QCOMPARE(QString::fromUtf8(r.err),
                 QString("varilume-cli image: cannot write %1: the file is read-only\n").arg(target));
        QCOMPARE(readFileBytes(target), QByteArray("the last good image"));
    }

    // Links are written through for every kind of output; the link stays a link. New
    // files get what the umask allows, replaced ones keep their mode.
    void outputLinksAndModes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("link");
        QTest::addColumn<int>("existing");  // the target's mode before, -1: no target yet
        QTest::addColumn<int>("expected");
        // clang-format off
        QTest::newRow("workbook through a link") << "out.xlsx" << true << 0644 << 0644;
        QTest::newRow("text through a link") << "out.tsv" << true << 0644 << 0644;
        QTest::newRow("new workbook under umask 077") << "new.xlsx" << false << -1 << 0600;
        QTest::newRow("new text under umask 077") << "new.tsv" << false << -1 << 0600;
        QTest::newRow("workbook keeps 0640") << "kept.xlsx" << false << 0640 << 0640;
        // clang-format on
    }
    void outputLinksAndModes()
    {
        QFETCH(QString, name);
        QFETCH(bool, link);
        QFETCH(int, existing);
        QFETCH(int, expected);
        const QString target = file("target-" + name);
        QFile::remove(target);
        if (existing >= 0) {
            QVERIFY(writeFileBytes(target, "old"));
            QCOMPARE(::chmod(nameOf(target).constData(), mode_t(existing)), 0);
        }
        QString output = target;
        if (link) {
            output = file("link-" + name);
            QFile::remove(output);
            QVERIFY(QFile::link(QFileInfo(target).fileName(), output));
        }
        CliResult r;
        {
            const UmaskFor masked{077};
            r = cli({"decode", sampleImage(), "-o", output});
        }
        QVERIFY2(r.status == 0, r.err);
        if (link)
            QVERIFY(S_ISLNK(modeOf(output)));
        QCOMPARE(int(modeOf(target) & 07777), expected);
        const QByteArray written = readFileBytes(target);
        QVERIFY(name.endsWith(".tsv") ? written.startsWith("SN\t") : written.startsWith("PK"));
    }

    // Full and read-only file systems, for real: a small tmpfs in a mount namespace of
    // our own. The line names the reason; the file that was there stays, nothing is left
    // beside it.
    void fileSystemsThatRefuse_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("reason");
        // clang-format off
        QTest::newRow("full") << ""
                              << "no space left on the device";
        QTest::newRow("read-only") << "mount -o remount,ro \"$1\" &&"
                                   << "the file system is read-only";
        // clang-format on
    }
    void fileSystemsThatRefuse()
    {
        QFETCH(QString, setup);
        QFETCH(QString, reason);
        if (QStandardPaths::findExecutable("unshare").isEmpty() || QProcess::execute("unshare", {"-rm", "true"}) != 0)
            QSKIP("no mount namespace can be made here");
        const QString mount = file("small");
        QDir().mkpath(mount);
        // 16 KiB: the 24 844-byte image does not fit.
        const QString script = QString(R"(mount -t tmpfs -o size=16k tmpfs "$1" && echo old > "$1/x.bin" && %1
"$2" image "$3" -o "$1/x.bin"; status=$?; cat "$1/x.bin"; ls -A "$1"; exit $status)")
                                   .arg(setup);
        const CliResult r = runProgram(
            "unshare", {"-rm", "sh", "-c", script, "sh", mount, CLI_PROGRAM, sampleWorkbook()}, announceDir());
        QCOMPARE(r.status, 1);
        QCOMPARE(QString::fromUtf8(r.err),
                 QString("varilume-cli image: cannot write %1/x.bin: %2\n").arg(mount, reason));
        QCOMPARE(r.out, QByteArray("old\nx.bin\n"));  // the old file, and nothing beside it
    }

    // Inputs that are no regular file are refused at once, by what they are; a FIFO never
    // blocks.
    void inputsThatAreNoFiles_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("decode a FIFO") << "decode"
                                       << "fifo"
                                       << "cannot read %1: it is a FIFO (named pipe), not a regular file";
        QTest::newRow("decode a folder") << "decode"
                                         << "folder"
                                         << "cannot read %1: it is a folder";
        QTest::newRow("decode /dev/zero") << "decode"
                                          << "/dev/zero"
                                          << "cannot read %1: it is a character device, not a regular file";
        QTest::newRow("image of a FIFO") << "image"
                                         << "fifo"
                                         << "%1: ";
        QTest::newRow("write a FIFO") << "write"
                                      << "fifo"
                                      << "%1: ";
        // clang-format on
    }
    void inputsThatAreNoFiles()
    {
        QFETCH(QString, command);
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QString input = file("input-" + command);
        QFile::remove(input);
        QDir(input).removeRecursively();
        if (kind == "fifo")
            QCOMPARE(::mkfifo(nameOf(input).constData(), 0600), 0);
        else if (kind == "folder")
            QVERIFY(QDir().mkpath(input));
        else
            input = kind;
        QStringList args = {command, input};
        if (command == "write")
            args << "--port"
                 << "/dev/null";
        else
            args << "-o" << file("never.out");
        const CliResult r = cli(args);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err);
        QVERIFY2(r.err.startsWith(QString("varilume-cli %1: ").arg(command).toUtf8() + message.arg(input).toUtf8()),
                 r.err);
        QVERIFY2(!r.err.contains("does not exist"), r.err);
        QVERIFY(!QFileInfo::exists(file("never.out")));
    }

    // Ctrl+C, SIGTERM and SIGHUP end the program at once wherever it is: waiting for the
    // box, in the middle of a slow table, blocked on a FIFO nobody reads. Nothing is
    // written, nothing is left behind, and the program ends as the signal ends it.
    void signalsEndItAtOnce_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("sig");
        // clang-format off
        QTest::newRow("waiting for the box, Ctrl+C") << "silent box" << SIGINT;
        QTest::newRow("in the middle of a table, SIGTERM") << "slow box" << SIGTERM;
        QTest::newRow("output FIFO nobody reads, SIGTERM") << "fifo" << SIGTERM;
        QTest::newRow("output FIFO nobody reads, SIGHUP") << "fifo" << SIGHUP;
        // clang-format on
    }
    void signalsEndItAtOnce()
    {
        QFETCH(QString, where);
        QFETCH(int, sig);
        QTemporaryDir out;
        BoxProcess box;
        QProcess p;
        QString command = "read";
        if (where == "fifo") {
            command = "image";
            QCOMPARE(::mkfifo(nameOf(out.filePath("fifo")).constData(), 0600), 0);
            startProgram(p, {"image", sampleWorkbook(), "-o", out.filePath("fifo")});
            // Once it waits for a reader of the FIFO.
            QTRY_COMPARE_WITH_TIMEOUT(readFileBytes(QString("/proc/%1/wchan").arg(p.processId())),
                                      QByteArray("wait_for_partner"), 20000);
        } else {
            QVERIFY(startBox(box, where == "silent box" ? QStringList{"--silent", "upload request", "-v"}
                                                        : QStringList{"--demo", "--pause", "100", "-v"}));
            startProgram(p, {"read", "--port", box.port, "--timeout", "60", "-o", out.filePath("out.xlsx")});
            // Once the box has been asked for its table (and, when slow, has begun to send it).
            const QString seen = where == "silent box" ? "<- upload request" : "-> table image";
            QTRY_VERIFY2_WITH_TIMEOUT(box.log().contains(seen), qPrintable(box.log()), 20000);
        }
        QElapsedTimer t;
        t.start();
        QCOMPARE(::kill(pid_t(p.processId()), sig), 0);
        QVERIFY(p.waitForFinished(10000));
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);  // ended by the signal
        QCOMPARE(p.readAllStandardError(), QString("varilume-cli %1: interrupted\n").arg(command).toUtf8());
        QStringList left = QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        left.removeAll("fifo");
        QCOMPARE(left, QStringList());
    }

    void portsThatCannotBeUsed_data()
    {
        QTest::addColumn<QString>("port");  // "BOX": the box's path
        QTest::addColumn<QStringList>("boxArgs");
        QTest::addColumn<bool>("holdPort");
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("no such device") << "/dev/no-such-varilume-port" << QStringList() << false
                                        << "no such port: \"/dev/no-such-varilume-port\"";
        QTest::newRow("no such box") << "Nemora KVR-9001" << QStringList() << false << "no such port";
        QTest::newRow("busy") << "BOX" << QStringList() << true << "the port is busy";
        QTest::newRow("box without a model") << "BOX" << QStringList{"--close-door"} << false
                                             << "Failed to connect because no product model was specified";
        // clang-format on
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
