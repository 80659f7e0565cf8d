// The DMX output with a recording stand-in for the lighting daemon, on a manual clock:
// the frames a table of events gives, pacing at 44 frames a second, the frame of every idle
// second, blackout on exit, a daemon that is absent or goes away, universes that change,
// and the stored preferences.

#include "common/core/scheduler.h"
#include "preview/core/dmxoutput.h"
#include "preview/core/fixtureregistry.h"
#include "preview/core/previewengine.h"
#include "preview/core/rulesnapshots.h"
#include "previewrules.h"
#include "recordingdmxclient.h"
#include "tempworkdir.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace vl;
using namespace vl::test;

namespace {

// The engine on a rule table, feeding a DMX output on a recording client; coefficient 2.
struct Rig {
    explicit Rig(const QList<Rule> &table = {})
    {
        for (int i = 0; i < table.size(); ++i)
            setRule(rules, i, table.at(i));
        snapshots.setRuleModel(&rules);
        snapshots.rebuild();
        engine.setRuleModel(&rules);
        engine.setSnapshots(&snapshots);
        engine.setPreviewCoefficient(2.0);
        QObject::connect(&engine, &PreviewEngine::levelApplied, &output, &DmxOutput::setLevel);
    }

    RuleModel rules;
    RuleSnapshots snapshots;
    GlobalData registry;
    ManualScheduler clock;
    PreviewEngine engine{registry, clock};
    RecordingDmxClient client{clock};
    DmxOutput output{client, clock};
};

// Frames per universe in every whole second of [fromMs, toMs).
QList<int> framesPerSecond(const QList<RecordingDmxClient::Frame> &frames, qint64 fromMs, qint64 toMs)
{
    QList<int> counts;
    for (qint64 s = fromMs; s + 1000 <= toMs; s += 1000) {
        int n = 0;
        for (const auto &f : frames)
            n += f.ms >= s && f.ms < s + 1000;
        counts << n;
    }
    return counts;
}

}  // namespace

class TestDmxOutput : public QObject {
    Q_OBJECT

private slots:
    // What goes out for a few events, frame by frame ("ms uN: dmx=level ..."), until one
    // second and a half after the output was turned on at 0 ms. Events are "wait MS",
    // "note N V", "cc N V" (MIDI channel 1).
    void framesForEvents_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("frames");

        const Rule note60("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "OFF", "ON");
        const Rule cc7("600", "CC", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON");
        const Rule fadeIn("3", "Note", "62 / D4", "ALL", "OFF", "60", "OFF", "OFF", "ON");
        const Rule fixed("1024", "Note", "64 / E4", "ALL", "255", "OFF", "OFF", "OFF", "ON");
        const Rule disabledChannel("5", "Note", "65 / F4", "2", "OFF", "OFF", "OFF", "OFF", "ON");

        // clang-format off
        QTest::newRow("nothing played: the frame of each idle second")
            << QList<Rule>{note60} << QStringList{}
            << QStringList{"0 u1:", "0 u2:", "1000 u1:", "1000 u2:"};
        QTest::newRow("key press and release")
            << QList<Rule>{note60} << QStringList{"wait 100", "note 60 100", "wait 100", "note 60 0"}
            << QStringList{"0 u1:", "0 u2:", "100 u1: 1=200", "200 u1:", "1000 u2:", "1200 u1:"};
        QTest::newRow("second port, table numbers, 23 ms after the last frame")
            << QList<Rule>{cc7} << QStringList{"wait 10", "cc 7 64"}
            << QStringList{"0 u1:", "0 u2:", "23 u2: 600=128", "1000 u1:", "1023 u2: 600=128"};
        QTest::newRow("fade in, one frame a step")
            << QList<Rule>{fadeIn} << QStringList{"note 62 100"}
            << QStringList{"0 u1:", "0 u2:", "50 u1: 3=60", "100 u1: 3=120", "150 u1: 3=180", "200 u1: 3=200",
                           "1000 u2:", "1200 u1: 3=200"};
        QTest::newRow("changes closer than 23 ms: one frame for them")
            << QList<Rule>{note60, cc7} << QStringList{"wait 30", "note 60 10", "wait 5", "note 60 20", "wait 5", "note 60 30", "cc 7 1"}
            << QStringList{"0 u1:", "0 u2:", "30 u1: 1=20", "40 u2: 600=2", "53 u1: 1=60", "1040 u2: 600=2",
                           "1053 u1: 1=60"};
        QTest::newRow("both ports at once, fixed value")
            << QList<Rule>{note60, fixed} << QStringList{"wait 500", "note 60 1", "note 64 1"}
            << QStringList{"0 u1:", "0 u2:", "500 u1: 1=2", "500 u2: 1024=255", "1500 u1: 1=2", "1500 u2: 1024=255"};
        QTest::newRow("a rule of another MIDI channel: nothing")
            << QList<Rule>{disabledChannel} << QStringList{"note 65 100"}
            << QStringList{"0 u1:", "0 u2:", "1000 u1:", "1000 u2:"};
        // clang-format on
    }

    void framesForEvents()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(QStringList, events);
        QFETCH(QStringList, frames);
        Rig rig(rules);
        rig.output.setEnabled(true);
        for (const QString &event : events) {
            const QStringList w = event.split(QLatin1Char(' '));
            if (w.at(0) == QLatin1String("wait"))
                rig.clock.advance(w.at(1).toInt());
            else if (w.at(0) == QLatin1String("note"))
                rig.engine.driveNote(w.at(1).toInt(), w.at(2).toInt());
            else
                rig.engine.driveController(w.at(1).toInt(), w.at(2).toInt());
        }
        rig.clock.advance(int(1500 - rig.clock.nowMs()));
        QCOMPARE(rig.client.rendered(), frames);
    }

    // A fader swept as fast as a mouse can: never more than 44 frames a second per
    // universe, every frame at least 23 ms after the one before, and the last level of the
    // sweep always arrives.
    void pacingUnderASweep()
    {
        Rig rig({Rule("1", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"),
                 Rule("513", "CC", "8", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")});
        rig.output.setEnabled(true);
        for (int ms = 0; ms < 3000; ++ms) {
            rig.engine.driveController(7, (ms / 3) % 128);
            rig.engine.driveController(8, 127 - (ms / 7) % 128);
            rig.clock.advance(1);
        }
        rig.clock.advance(100);
        for (const unsigned universe : {1u, 2u}) {
            const QList<RecordingDmxClient::Frame> frames = rig.client.framesOf(universe);
            for (const int n : framesPerSecond(frames, 0, 3000))
                QVERIFY2(n <= DmxOutput::kMaxFramesPerSecond && n >= 40, qPrintable(QString::number(n)));
            for (int i = 1; i < frames.size(); ++i)
                QVERIFY(frames.at(i).ms - frames.at(i - 1).ms >= DmxOutput::kFrameIntervalMs);
        }
        QCOMPARE(int(rig.client.framesOf(1).last().levels[0]), 2 * ((2999 / 3) % 128));
        QCOMPARE(int(rig.client.framesOf(2).last().levels[0]), 2 * (127 - (2999 / 7) % 128));
        QCOMPARE(rig.output.level(1), 2 * ((2999 / 3) % 128));
    }

    // Idle: one frame a second per universe, carrying the levels.
    void idleFramesCarryTheLevels()
    {
        Rig rig({Rule("7", "CC", "1", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")});
        rig.engine.driveController(1, 100);
        rig.output.setEnabled(true);
        rig.clock.advance(10000);
        const auto frames = rig.client.framesOf(1);
        QCOMPARE(frames.size(), 11);
        for (const auto &f : frames)
            QCOMPARE(int(f.levels[6]), 200);
        QCOMPARE(framesPerSecond(rig.client.framesOf(2), 0, 10000), QVector<int>(10, 1).toList());
    }

    // Turning off sends one frame of zeros to each universe when "blackout on exit" is set,
    // nothing otherwise; the levels are kept and go out again when it is turned on.
    void blackoutOnExit_data()
    {
        QTest::addColumn<bool>("blackout");
        QTest::addColumn<bool>("byDestruction");
        QTest::newRow("turned off") << true << false;
        QTest::newRow("turned off, no blackout") << false << false;
        QTest::newRow("program ends") << true << true;
        QTest::newRow("program ends, no blackout") << false << true;
    }

    void blackoutOnExit()
    {
        QFETCH(bool, blackout);
        QFETCH(bool, byDestruction);
        ManualScheduler clock;
        RecordingDmxClient client(clock);
        auto output = std::make_unique<DmxOutput>(client, clock);
        DmxOutputSettings s;
        s.blackoutOnExit = blackout;
        QVERIFY(output->setSettings(s));
        output->setEnabled(true);
        output->setLevel(1, 255);
        output->setLevel(1024, 9);
        clock.advance(5);
        client.frames.clear();
        if (byDestruction)
            output.reset();
        else
            output->setEnabled(false);
        QCOMPARE(client.rendered(), blackout ? QStringList({"5 u1:", "5 u2:"}) : QStringList());
        QVERIFY(!client.isConnected());
        clock.advance(5000);
        QCOMPARE(client.frames.size(), blackout ? 2 : 0);
        if (byDestruction)
            return;
        output->setEnabled(true);
        QCOMPARE(client.rendered().mid(client.frames.size() - 2), QStringList({"5005 u1: 1=255", "5005 u2: 1024=9"}));
    }

    // No daemon: the output says so with the command that starts one and its web page,
    // tries again every 3 s without waiting in between, and sends the whole picture at
    // once when one answers.
    void daemonAbsentThenStarted()
    {
        ManualScheduler clock;
        RecordingDmxClient client(clock);
        client.daemonRunning = false;
        DmxOutput output(client, clock);
        QSignalSpy states(&output, &DmxOutput::stateChanged);
        output.setLevel(3, 30);
        output.setEnabled(true);
        QCOMPARE(output.state(), DmxOutput::State::NoDaemon);
        QCOMPARE(output.statusText(), QStringLiteral("No OLA daemon is running: start it with \"olad -f\" (its web "
                                                     "page: http://localhost:9090); trying again every 3 s"));
        clock.advance(8999);
        QCOMPARE(client.connectAttempts, 3);
        output.setLevel(4, 40);
        client.daemonRunning = true;
        clock.advance(1);
        QCOMPARE(client.connectAttempts, 4);
        QCOMPARE(output.state(), DmxOutput::State::Sending);
        QCOMPARE(client.rendered(), QStringList({"9000 u1: 3=30 4=40", "9000 u2:"}));
        QCOMPARE(states.count(), 2);
        QVERIFY(output.statusText().startsWith("Sending to OLA universe 1 (DMX 1-512) and universe 2"));
    }

    // The daemon goes away mid-show: the next frame fails, the output says so and tries
    // again; meanwhile the levels go on changing, and the daemon's return gets them all.
    void daemonGoesAwayAndComesBack()
    {
        Rig rig({Rule("1", "CC", "1", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")});
        rig.output.setEnabled(true);
        rig.engine.driveController(1, 10);
        rig.client.daemonRunning = false;
        rig.clock.advance(30);
        rig.engine.driveController(1, 20);
        QCOMPARE(rig.output.state(), DmxOutput::State::NoDaemon);
        QVERIFY(rig.output.statusText().startsWith("The OLA daemon went away: start it with \"olad -f\""));
        rig.clock.advance(2000);
        rig.engine.driveController(1, 30);
        QCOMPARE(rig.client.connectAttempts, 1);
        rig.client.daemonRunning = true;
        rig.clock.advance(1000);
        QCOMPARE(rig.output.state(), DmxOutput::State::Sending);
        QCOMPARE(rig.client.rendered().mid(2), QStringList({"3023 u1: 1=60", "3023 u2:"}));
        QCOMPARE(rig.client.connectAttempts, 2);
    }

    // New universes while sending: the old ones are blacked out (when set) and the new
    // ones get the levels at once; a universe kept is not blacked out.
    void universesChangeWhileSending()
    {
        ManualScheduler clock;
        RecordingDmxClient client(clock);
        DmxOutput output(client, clock);
        output.setEnabled(true);
        output.setLevel(1, 1);
        output.setLevel(513, 2);
        clock.advance(100);
        client.frames.clear();
        DmxOutputSettings s;
        s.firstUniverse = 7;
        s.secondUniverse = 1;
        QVERIFY(output.setSettings(s));
        QCOMPARE(client.rendered(1), QStringList({"100 u2:", "100 u7: 1=1", "100 u1: 513=2"}));
        s.secondUniverse = 7;
        QVERIFY(!output.setSettings(s));
        QCOMPARE(output.settings().secondUniverse, 1u);
    }

    void levelsOutsideTheTwoPortsAreIgnored()
    {
        ManualScheduler clock;
        RecordingDmxClient client(clock);
        DmxOutput output(client, clock);
        output.setEnabled(true);
        client.frames.clear();
        output.setLevel(0, 5);
        output.setLevel(1025, 5);
        output.setLevel(-1, 5);
        QVERIFY(client.frames.isEmpty());
        output.setLevel(512, 300);
        output.setLevel(2, -4);
        clock.advance(30);
        QCOMPARE(client.rendered(), QStringList({"23 u1: 512=255"}));
        QCOMPARE(output.level(1025), 0);
    }

    // The preferences in "./config.ini": defaults without a file, what was saved, and the
    // defaults again for what is garbled.
    void storedSettings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<int>>("expected");  // first, second, blackout
        QTest::newRow("no file") << QByteArray() << QList<int>{1, 2, 1};
        QTest::newRow("saved") << QByteArray("[DmxOutput]\nfirstUniverse=5\nsecondUniverse=0\nblackoutOnExit=false\n")
                               << QList<int>{5, 0, 0};
        QTest::newRow("equal universes") << QByteArray("[DmxOutput]\nfirstUniverse=3\nsecondUniverse=3\n")
                                         << QList<int>{1, 2, 1};
        QTest::newRow("out of range") << QByteArray("[DmxOutput]\nfirstUniverse=70000\nsecondUniverse=-1\n")
                                      << QList<int>{1, 2, 1};
        QTest::newRow("garbled") << QByteArray("[DmxOutput]\nfirstUniverse=x\nblackoutOnExit=maybe\n")
                                 << QList<int>{1, 2, 1};
        QTest::newRow("other groups untouched")
            << QByteArray("[General]\nautoUpdates=false\n[DmxOutput]\nfirstUniverse=9\nsecondUniverse=10\n")
            << QList<int>{9, 10, 1};
    }

    void storedSettings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QList<int>, expected);
        TempWorkDir dir;
        if (!file.isEmpty()) {
            QFile f(dir.file("config.ini"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(file);
        }
        const DmxOutputSettings s = DmxOutputSettings::load();
        QCOMPARE(QList<int>({int(s.firstUniverse), int(s.secondUniverse), int(s.blackoutOnExit)}), expected);
        DmxOutputSettings changed;
        changed.firstUniverse = 11;
        changed.secondUniverse = 12;
        changed.blackoutOnExit = false;
        changed.save();
        QCOMPARE(DmxOutputSettings::load(), changed);
        if (file.contains("autoUpdates")) {
            QFile f(dir.file("config.ini"));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY(f.readAll().contains("autoUpdates=false"));
        }
    }
};

QTEST_GUILESS_MAIN(TestDmxOutput)
#include "tst_dmxoutput.moc"
