// varilume-cli play: small MIDI files written by the test played with --dry-run against the
// frames they must give, one broken file for every way of being broken, the command line's
// mistakes, and the real program against a private OLA daemon (read back through OLA's own
// python client): the song in real time, its blackout, a missing daemon, and Ctrl+C.

#include "../preview/previewrules.h"
#include "clitestsupport.h"
#include "oladaemon.h"
#include "smfwriter.h"
#include "tempworkdir.h"
#include "trywait.h"

#include <QtTest>

#include <csignal>

using namespace vl;
using namespace vl::test;

namespace {

// A workbook with the rules given, first rows first.
QString workbookOf(const TempWorkDir &dir, const QList<Rule> &rules, const QString &name = QStringLiteral("t.xlsx"))
{
    RuleModel m;
    for (int i = 0; i < rules.size(); ++i)
        setRule(m, i, rules.at(i));
    const QString path = dir.file(name);
    return saveWorkbook(m, path) ? path : QString();
}

QStringList lines(const QByteArray &out)
{
    QStringList l = QString::fromUtf8(out).split(QLatin1Char('\n'));
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    return l;
}

}  // namespace

class TestCliPlay : public QObject {
    Q_OBJECT

private slots:
    // Songs and rules against the frames --dry-run prints: the changed channels by their
    // table numbers, with the time from the start of the song.
    void dryRun_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<QByteArray>("song");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("frames");

        const Rule note60("1", "Note", "60", "ALL", "OFF", "OFF", "OFF", "OFF", "ON");
        const Rule cc7("513", "CC", "7", "3", "OFF", "OFF", "OFF", "OFF", "ON");
        const Rule fade("2", "Note", "62", "ALL", "OFF", "50", "OFF", "OFF", "ON");
        const Rule toggle("10", "Note", "64", "ALL", "OFF", "255", "OFF", "ON", "ON");
        const Rule onTwo("600", "AT", "65", "2", "OFF", "OFF", "OFF", "OFF", "ON");

        // clang-format off
        QTest::newRow("format 0, note on and off")
            << QList<Rule>{note60} << smfFile(0, 480, {SmfTrack().note(0, 1, 60, 100).note(480, 1, 60, 0)})
            << QStringList{} << QStringList{"0.023 universe 1: 1=100", "0.500 universe 1: 1=0"};

        // The tempo map in its own track: a quarter at 120, then 240 beats a minute.
        SmfTrack tempoMap;
        tempoMap.tempo(0, 500000).tempo(96, 250000);
        SmfTrack music;
        music.cc(96, 3, 7, 50).noteOff(96, 1, 60).note(0, 1, 60, 127).raw(96, QByteArray::fromHex("3C00"));
        QTest::newRow("format 1, tempo change, running status, coefficient 2")
            << QList<Rule>{note60, cc7} << smfFile(1, 96, {tempoMap, music}) << QStringList{"--coefficient", "2"}
            << QStringList{"0.500 universe 2: 513=100", "0.750 universe 1: 1=254", "1.000 universe 1: 1=0",
                           "1.160 universe 2: 513=0"};

        QTest::newRow("a fade outlives the song")
            << QList<Rule>{fade} << smfFile(0, 480, {SmfTrack().note(0, 1, 62, 100)}) << QStringList{}
            << QStringList{"0.050 universe 1: 2=50", "0.100 universe 1: 2=100", "0.210 universe 1: 2=0"};

        QTest::newRow("toggle: release keeps, second press turns off")
            << QList<Rule>{toggle}
            << smfFile(0, 1000, {SmfTrack().note(0, 16, 64, 60).note(200, 16, 64, 0).note(200, 16, 64, 60).note(200, 16, 64, 0)})
            << QStringList{} << QStringList{"0.050 universe 1: 10=60", "0.250 universe 1: 10=0"};

        QTest::newRow("own MIDI channel, after-touch, other universes, no blackout")
            << QList<Rule>{onTwo} << smfFile(0, 1000, {SmfTrack().at(0, 1, 65, 90).at(100, 2, 65, 40).at(100, 2, 65, 41)})
            << QStringList{"--universes", "7,3", "--no-blackout"}
            << QStringList{"0.050 universe 3: 600=40", "0.100 universe 3: 600=41"};

        QTest::newRow("no rule: nothing") << QList<Rule>{note60} << smfFile(0, 96, {SmfTrack().note(0, 1, 61, 100)})
                                          << QStringList{} << QStringList{};
        // clang-format on
    }

    void dryRun()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(QByteArray, song);
        QFETCH(QStringList, options);
        QFETCH(QStringList, frames);
        TempWorkDir dir;
        const QString workbook = workbookOf(dir, rules);
        QVERIFY(!workbook.isEmpty());
        QVERIFY(writeFileBytes(dir.file("song.mid"), song));
        const CliResult r = runInProcess(QStringList{"play", workbook, "--midi", dir.file("song.mid"), "--dry-run"}
                                         + options);
        QCOMPARE(QString::fromUtf8(r.err), QString());
        QCOMPARE(r.status, 0);
        QCOMPARE(lines(r.out), frames);
    }

    // A broken file is refused whole, with the byte where it stops making sense, before
    // anything plays.
    void brokenSongs_data()
    {
        QTest::addColumn<QByteArray>("song");
        QTest::addColumn<QString>("message");

        const QByteArray good = smfFile(0, 96, {SmfTrack().note(0, 1, 60, 100).note(96, 1, 60, 0)});
        const QByteArray h = smfHeader(0, 1, 96);
        const auto track = [&](const QByteArray &body) {
            return h + QByteArray("MTrk") + be32(quint32(body.size())) + body;
        };
        // clang-format off
        QTest::newRow("not a MIDI file") << QByteArray("<html>") << "byte 0: not a Standard MIDI File";
        QTest::newRow("empty") << QByteArray() << "byte 0: not a Standard MIDI File";
        QTest::newRow("header cut") << good.left(9) << "byte 9: the file ends after 9 bytes";
        QTest::newRow("format 2") << smfHeader(2, 1, 96) + good.mid(14) << "byte 8: format 2";
        QTest::newRow("track cut short") << good.left(good.size() - 1) << "byte 18: the chunk declares 12 bytes";
        QTest::newRow("track missing") << smfHeader(1, 2, 96) + good.mid(14) << "byte 34: the file ends after 1 of its 2 tracks";
        QTest::newRow("running status from nothing") << track(QByteArray::fromHex("00FF0100003C64")) << "byte 27: data byte 0x3C";
        QTest::newRow("status byte as data") << track(QByteArray::fromHex("00903C64609080")) << "byte 28: byte 0x80";
        QTest::newRow("delta of five bytes") << track(QByteArray::fromHex("00903C64FFFFFFFF00")) << "byte 26: a delta time runs over";
        QTest::newRow("after end of track") << track(QByteArray::fromHex("00903C6400FF2F0000803C00")) << "byte 30: track 1 goes on";
        QTest::newRow("tempo of nothing") << track(QByteArray::fromHex("00FF510100")) << "byte 23: a tempo change of 1 bytes";
        QTest::newRow("song of centuries") << track(QByteArray::fromHex("00FF5103FFFFFFFFFFFF7F903C64")) << "byte 33: the song would run for more than 24 hours";
        // clang-format on
    }

    void brokenSongs()
    {
        QFETCH(QByteArray, song);
        QFETCH(QString, message);
        TempWorkDir dir;
        const QString workbook = workbookOf(dir, {Rule("1", "Note", "60", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")});
        QVERIFY(writeFileBytes(dir.file("song.mid"), song));
        const CliResult r = runInProcess({"play", workbook, "--midi", dir.file("song.mid"), "--dry-run"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine(), r.err.constData());
        const QString err = QString::fromUtf8(r.err);
        QVERIFY2(err.startsWith("varilume-cli play: " + dir.file("song.mid") + ": " + message), qPrintable(err));
        QVERIFY2(err.trimmed().endsWith("nothing was played"), qPrintable(err));
        QVERIFY(r.out.isEmpty());
    }

    void commandLineMistakes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("no song") << QStringList{"W"} << 2 << "--midi is missing";
        QTest::newRow("no workbook") << QStringList{"--midi", "S"} << 2 << "the workbook is missing";
        QTest::newRow("two workbooks") << QStringList{"W", "X", "--midi", "S"} << 2 << "unexpected argument \"X\"";
        QTest::newRow("coefficient") << QStringList{"W", "--midi", "S", "--coefficient", "7"} << 2 << "--coefficient takes one of 1, 2, 2.01, 3, 4, 5, not \"7\"";
        QTest::newRow("same universes") << QStringList{"W", "--midi", "S", "--universes", "4,4"} << 2 << "--universes takes two different universes";
        QTest::newRow("one universe") << QStringList{"W", "--midi", "S", "--universes", "4"} << 2 << "--universes takes";
        QTest::newRow("port") << QStringList{"W", "--midi", "S", "--ola-port", "70000"} << 2 << "--ola-port takes a port";
        QTest::newRow("unknown option") << QStringList{"W", "--midi", "S", "--loud"} << 2 << "Unknown option 'loud'";
        QTest::newRow("song missing") << QStringList{"W", "--midi", "/nonexistent/s.mid"} << 1 << "cannot read /nonexistent/s.mid";
        QTest::newRow("song a folder") << QStringList{"W", "--midi", "/"} << 1 << "cannot read /";
        // clang-format on
    }

    void commandLineMistakes()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        const CliResult r = runInProcess(QStringList{"play"} + args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.oneErrorLine(), r.err.constData());
        QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
    }

    void helpAndWorkbookProblems()
    {
        CliResult r = runInProcess({"play", "--help"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains("--dry-run"));
        QVERIFY(r.out.contains("olad -f"));
        r = runInProcess({"--help"});
        QVERIFY(r.out.contains("  play "));

        TempWorkDir dir;
        QVERIFY(writeFileBytes(dir.file("song.mid"), smfFile(0, 96, {SmfTrack().note(0, 1, 60, 1)})));
        QVERIFY(writeFileBytes(dir.file("not.xlsx"), "not a workbook"));
        r = runInProcess({"play", dir.file("not.xlsx"), "--midi", dir.file("song.mid"), "--dry-run"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.oneErrorLine() && r.err.startsWith("varilume-cli play: " + dir.file("not.xlsx").toUtf8() + ": "),
                 r.err.constData());
    }

    // The real program against a private daemon: the song's levels arrive as it plays,
    // it takes the song's time, and the rig is blacked out at the end.
    void playsToOla()
    {
        const QString missing = OlaDaemon::unavailable();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        OlaDaemon olad;
        QString why;
        QVERIFY2(olad.start(&why), qPrintable(why));
        OlaMonitor monitor;
        QVERIFY2(monitor.start(olad.port(), {1, 2}, &why), qPrintable(why));

        TempWorkDir dir;
        const QString workbook = workbookOf(dir, {Rule("1", "Note", "60", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"),
                                                  Rule("1000", "CC", "1", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")});
        // Note 60 for 0.8 s, controller 1 from 0.4 s on.
        QVERIFY(writeFileBytes(dir.file("song.mid"),
                         smfFile(0, 480, {SmfTrack().note(0, 1, 60, 100).cc(384, 1, 1, 64).note(384, 1, 60, 0)})));
        const CliResult r = runProgram(
            CLI_PROGRAM, {"play", workbook, "--midi", dir.file("song.mid"), "--ola-port", QString::number(olad.port())},
            dir.path());
        QCOMPARE(QString::fromUtf8(r.err), QString());
        QCOMPARE(r.status, 0);
        QVERIFY2(r.ms >= 800, qPrintable(QString::number(r.ms)));

        bool noteSeen = false;
        bool bothSeen = false;
        VL_TRY_VERIFY(monitor.framesOf(2).size() >= 2 && monitor.lastLevels(1).isEmpty()
                      && monitor.lastLevels(2).isEmpty());
        for (const OlaMonitor::Frame &f : monitor.frames()) {
            noteSeen = noteSeen || (f.universe == 1 && f.levels == QMap<int, int>{{1, 100}});
            bothSeen = bothSeen || (f.universe == 2 && f.levels == QMap<int, int>{{488, 64}});
        }
        QVERIFY(noteSeen);
        QVERIFY(bothSeen);
    }

    void noDaemon()
    {
        TempWorkDir dir;
        const QString workbook = workbookOf(dir, {Rule("1", "Note", "60", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")});
        QVERIFY(writeFileBytes(dir.file("song.mid"), smfFile(0, 96, {SmfTrack().note(0, 1, 60, 1)})));
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(probe.serverPort());
        probe.close();
        const CliResult r = runInProcess({"play", workbook, "--midi", dir.file("song.mid"), "--ola-port", port});
        QCOMPARE(r.status, 1);
        QCOMPARE(
            QString::fromUtf8(r.err),
            QStringLiteral("varilume-cli play: no OLA daemon answers on port %1: start it with \"olad -f\" (its web "
                           "page: http://localhost:9090)\n")
                .arg(port));
    }

    // Ctrl+C in the middle of a song: the rig is blacked out, then the program ends as the
    // signal ends it, saying so.
    void interruptedSongBlacksOut()
    {
        const QString missing = OlaDaemon::unavailable();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        OlaDaemon olad;
        QString why;
        QVERIFY2(olad.start(&why), qPrintable(why));
        OlaMonitor monitor;
        QVERIFY2(monitor.start(olad.port(), {1, 2}, &why), qPrintable(why));
        TempWorkDir dir;
        const QString workbook = workbookOf(dir, {Rule("5", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")});
        QVERIFY(writeFileBytes(dir.file("song.mid"), smfFile(0, 1, {SmfTrack().cc(0, 1, 7, 100).cc(60, 1, 7, 0)})));

        QProcess p;
        p.start(CLI_PROGRAM,
                {"play", workbook, "--midi", dir.file("song.mid"), "--ola-port", QString::number(olad.port())});
        QVERIFY(p.waitForStarted());
        VL_TRY_COMPARE(monitor.lastLevels(1), (QMap<int, int>{{5, 100}}));
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(p.readAllStandardError(), QByteArray("varilume-cli play: interrupted\n"));
        VL_TRY_VERIFY(monitor.lastLevels(1).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliPlay)
#include "tst_cli_play.moc"
