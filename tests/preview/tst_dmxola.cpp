// The DMX output against a real OLA daemon that the test starts itself (private
// configuration, only the Dummy plugin, no web server), read back through OLA's own
// python client: key presses give their levels on universes 1 and 2, frames are paced
// under a fader sweep and keep coming when idle, the output blacks out on exit, and a
// daemon stopped and restarted under a running output is reported, then fed again.

#include "common/core/scheduler.h"
#include "oladaemon.h"
#include "preview/core/dmxoutput.h"
#include "preview/core/fixtureregistry.h"
#include "preview/core/midisender.h"
#include "preview/core/previewengine.h"
#include "preview/core/rulesnapshots.h"
#include "preview/ola/oladmxclient.h"
#include "previewrules.h"
#include "trywait.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace vl;
using namespace vl::test;

namespace {

using Levels = QMap<int, int>;

// A MIDI output that is always connected and sends nowhere: the keys play as with a port.
class SilentSender final : public MidiSender {
public:
    bool midiConnected() const override { return true; }
    void sendMidi(MidiEventKind, int, int, int) override {}
};

// The engine on a rule table, its levels going to olad through OLA's client; coefficient 2.
struct Rig {
    Rig(quint16 port, const QList<Rule> &table) : client(port)
    {
        for (int i = 0; i < table.size(); ++i)
            setRule(rules, i, table.at(i));
        snapshots.setRuleModel(&rules);
        snapshots.rebuild();
        engine.setRuleModel(&rules);
        engine.setSnapshots(&snapshots);
        engine.setMidiSender(&sender);
        engine.setPreviewCoefficient(2.0);
        output = std::make_unique<DmxOutput>(client, systemScheduler());
        QObject::connect(&engine, &PreviewEngine::levelApplied, output.get(), &DmxOutput::setLevel);
    }

    RuleModel rules;
    RuleSnapshots snapshots;
    GlobalData registry;
    SilentSender sender;
    PreviewEngine engine{registry, systemScheduler()};
    OlaDmxClient client;
    std::unique_ptr<DmxOutput> output;
};

}  // namespace

Q_DECLARE_METATYPE(Levels)

class TestDmxOla : public QObject {
    Q_OBJECT

    OlaDaemon m_olad;

    void startMonitor(OlaMonitor &monitor)
    {
        QString why;
        QVERIFY2(monitor.start(m_olad.port(), {1, 2}, &why), qPrintable(why));
    }

private slots:
    void initTestCase()
    {
        const QString missing = OlaDaemon::unavailable();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QString why;
        QVERIFY2(m_olad.start(&why), qPrintable(why));
    }

    // Keys pressed on a table of rules: the levels OLA holds on universes 1 and 2, as its
    // own client reads them (channels of the second universe counted from 1).
    void keyPressesReachBothUniverses_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<QList<int>>("notes");  // pressed in order, velocity 100, on the Note keyboard
        QTest::addColumn<Levels>("universe1");
        QTest::addColumn<Levels>("universe2");

        const Rule note60("5", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "OFF", "ON");
        const Rule fixed62("600", "Note", "62 / D4", "ALL", "77", "OFF", "OFF", "OFF", "ON");
        const Rule fade64("1", "Note", "64 / E4", "1", "OFF", "40", "OFF", "OFF", "ON");
        const Rule top65("1024", "Note", "65 / F4", "ALL", "255", "OFF", "OFF", "OFF", "ON");
        const Rule last512("512", "Note", "67 / G4", "ALL", "OFF", "OFF", "OFF", "OFF", "ON");
        QTest::newRow("one key a universe")
            << QList<Rule>{note60, fixed62} << QList<int>{60, 62} << Levels{{5, 200}} << Levels{{88, 77}};
        QTest::newRow("a fade arrives") << QList<Rule>{fade64} << QList<int>{64} << Levels{{1, 200}} << Levels{};
        QTest::newRow("the last channel of each port")
            << QList<Rule>{top65, last512} << QList<int>{65, 67} << Levels{{512, 200}} << Levels{{512, 255}};
    }

    void keyPressesReachBothUniverses()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(QList<int>, notes);
        QFETCH(Levels, universe1);
        QFETCH(Levels, universe2);
        OlaMonitor monitor;
        startMonitor(monitor);
        Rig rig(m_olad.port(), rules);
        rig.output->setEnabled(true);
        QCOMPARE(rig.output->state(), DmxOutput::State::Sending);
        for (const int note : notes)
            QCOMPARE(rig.engine.keyPressed(PreviewKeyboard::Note, note, 100, true), PreviewEngine::KeyResult::Played);
        VL_TRY_COMPARE(monitor.lastLevels(1), universe1);
        VL_TRY_COMPARE(monitor.lastLevels(2), universe2);
        rig.output.reset();
    }

    // A fader swept for two seconds: at most 44 frames a second per universe reach OLA
    // (counted by its own client), the sweep's last level arrives, and then, idle, a frame
    // at least every second.
    void framePacing()
    {
        OlaMonitor monitor;
        startMonitor(monitor);
        Rig rig(m_olad.port(), {Rule("1", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"),
                                Rule("513", "CC", "8", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")});
        rig.output->setEnabled(true);
        VL_TRY_VERIFY(monitor.hasFrames(1) && monitor.hasFrames(2));
        monitor.clear();

        QElapsedTimer sweep;
        sweep.start();
        int value = 0;
        QTimer mouse;
        QObject::connect(&mouse, &QTimer::timeout, [&] {
            value = int(sweep.elapsed() / 8) % 128;
            rig.engine.faderMoved(7, value);
            rig.engine.faderMoved(8, 127 - value);
        });
        mouse.start(1);
        QTest::qWait(2000);
        mouse.stop();
        const double seconds = sweep.elapsed() / 1000.0;
        const int last = value;
        VL_TRY_COMPARE(monitor.lastLevels(1).value(1), 2 * last);
        VL_TRY_COMPARE(monitor.lastLevels(2).value(1), 2 * (127 - last));
        for (const unsigned universe : {1u, 2u}) {
            const int frames = monitor.framesOf(universe).size();
            QVERIFY2(frames <= DmxOutput::kMaxFramesPerSecond * seconds + 2,
                     qPrintable(QStringLiteral("%1 frames in %2 s").arg(frames).arg(seconds)));
            QVERIFY2(frames >= 10 * seconds, qPrintable(QStringLiteral("%1 frames in %2 s").arg(frames).arg(seconds)));
        }

        monitor.clear();
        QTest::qWait(3300);
        for (const unsigned universe : {1u, 2u}) {
            const QList<OlaMonitor::Frame> idle = monitor.framesOf(universe);
            QVERIFY2(idle.size() >= 3, qPrintable(QString::number(idle.size())));
            for (int i = 1; i < idle.size(); ++i)
                QVERIFY2(idle.at(i).ms - idle.at(i - 1).ms <= 1500, qPrintable(QString::number(idle.at(i).ms)));
            QCOMPARE(idle.last().levels.value(1), universe == 1 ? 2 * last : 2 * (127 - last));
        }
    }

    // Turning the output off and the program's end both leave a frame of zeros on both
    // universes; without "blackout on exit" the last levels stay.
    void blackoutOnExit_data()
    {
        QTest::addColumn<bool>("blackout");
        QTest::addColumn<bool>("byDestruction");
        QTest::newRow("turned off") << true << false;
        QTest::newRow("program ends") << true << true;
        QTest::newRow("no blackout") << false << true;
    }

    void blackoutOnExit()
    {
        QFETCH(bool, blackout);
        QFETCH(bool, byDestruction);
        OlaMonitor monitor;
        startMonitor(monitor);
        Rig rig(m_olad.port(), {});
        DmxOutputSettings s;
        s.blackoutOnExit = blackout;
        QVERIFY(rig.output->setSettings(s));
        rig.output->setLevel(3, 33);
        rig.output->setLevel(1000, 44);
        rig.output->setEnabled(true);
        VL_TRY_COMPARE(monitor.lastLevels(1), Levels({{3, 33}}));
        VL_TRY_COMPARE(monitor.lastLevels(2), Levels({{488, 44}}));
        monitor.clear();
        if (byDestruction)
            rig.output.reset();
        else
            rig.output->setEnabled(false);
        if (blackout) {
            VL_TRY_VERIFY(monitor.hasFrames(1) && monitor.hasFrames(2));
            QCOMPARE(monitor.lastLevels(1), Levels());
            QCOMPARE(monitor.lastLevels(2), Levels());
        } else {
            QTest::qWait(1500);
            QVERIFY(monitor.frames().isEmpty());
        }
    }

    // The daemon stopped under a running output: the output says so and keeps trying; the
    // daemon started again gets the levels, those changed meanwhile included.
    void daemonStoppedAndRestarted()
    {
        Rig rig(m_olad.port(), {});
        rig.output->setLevel(1, 10);
        rig.output->setEnabled(true);
        QCOMPARE(rig.output->state(), DmxOutput::State::Sending);

        m_olad.stop();
        rig.output->setLevel(2, 20);
        VL_TRY_COMPARE_WITH_TIMEOUT(rig.output->state(), DmxOutput::State::NoDaemon, 3000);
        QVERIFY2(rig.output->statusText().startsWith("The OLA daemon went away: start it with \"olad -f\""),
                 qPrintable(rig.output->statusText()));
        rig.output->setLevel(513, 30);

        QString why;
        QVERIFY2(m_olad.start(&why), qPrintable(why));
        OlaMonitor monitor;
        startMonitor(monitor);
        VL_TRY_COMPARE_WITH_TIMEOUT(rig.output->state(), DmxOutput::State::Sending, DmxOutput::kRetryMs + 2000);
        VL_TRY_COMPARE(monitor.lastLevels(1), Levels({{1, 10}, {2, 20}}));
        VL_TRY_COMPARE(monitor.lastLevels(2), Levels({{1, 30}}));
    }

    // Where no daemon listens, connecting fails at once: the window never waits.
    void noDaemonFailsAtOnce()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        OlaDmxClient client(port);
        QElapsedTimer took;
        took.start();
        QVERIFY(!client.connectToDaemon());
        QVERIFY(!client.isConnected());
        QVERIFY(!client.sendFrame(1, DmxFrame{}));
        QVERIFY2(took.elapsed() < 500, qPrintable(QString::number(took.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestDmxOla)
#include "tst_dmxola.moc"
