// The preview's "DMX Output" controls over a recording stand-in for the daemon: the check
// box and the window's opening and closing start and stop the output (with the blackout),
// the status line with the daemon's link, the settings dialog and where it keeps its
// choices, and the panel in the preview window.

#include "common/core/scheduler.h"
#include "midi/core/midibackend.h"
#include "midi/core/qmidiout.h"
#include "preview/core/fixtureregistry.h"
#include "preview/core/previewengine.h"
#include "preview/core/rulesnapshots.h"
#include "preview/ui/dmxoutputpanel.h"
#include "preview/ui/lightform.h"
#include "previewrules.h"
#include "recordingdmxclient.h"
#include "tempworkdir.h"

#include <QCheckBox>
#include <QGraphicsView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

using namespace vl;
using namespace vl::test;

namespace {

// No MIDI ports at all: the rig lights without one.
class NoMidi final : public MidiBackend {
public:
    QStringList portNames() override { return {}; }
    bool open(int, QString *) override { return false; }
    void close() override {}
    bool send(const QByteArray &, QString *) override { return false; }
};

// A window holding the panel, the engine on a one-rule table behind it (CC 7 on DMX 1).
struct Rig {
    Rig()
    {
        setRules(rules, {Rule("1", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")});
        snapshots.setRuleModel(&rules);
        snapshots.rebuild();
        engine.setRuleModel(&rules);
        engine.setSnapshots(&snapshots);
        engine.setPreviewCoefficient(2.0);
        panel = new DmxOutputPanel(engine, &window, &client, clock);
    }

    TempWorkDir dir;  // the settings file is the test's own
    RuleModel rules;
    RuleSnapshots snapshots;
    GlobalData registry;
    ManualScheduler clock;
    PreviewEngine engine{registry, clock};
    RecordingDmxClient client{clock};
    QWidget window;
    DmxOutputPanel *panel;
};

}  // namespace

class TestDmxPanel : public QObject {
    Q_OBJECT

private slots:
    // Checked and the window open: frames go out, whatever the MIDI port and whether or not
    // a fixture was clicked. Unchecked: one frame of zeros a universe, then nothing.
    void checkBoxTurnsTheOutputOnAndOff()
    {
        Rig rig;
        rig.window.show();
        QCOMPARE(rig.panel->enableBox()->text(), QStringLiteral("DMX Output"));
        QVERIFY(!rig.panel->enableBox()->isChecked());
        QCOMPARE(rig.panel->output().state(), DmxOutput::State::Off);
        QVERIFY(rig.panel->statusLabel()->text().isEmpty());

        rig.panel->enableBox()->click();
        QCOMPARE(rig.panel->output().state(), DmxOutput::State::Sending);
        QCOMPARE(rig.panel->statusLabel()->text(),
                 QStringLiteral("Sending to OLA universe 1 (DMX 1-512) and universe 2 (DMX 513-1024)"));
        rig.clock.advance(100);
        rig.engine.faderMoved(7, 100);
        QCOMPARE(rig.client.rendered().last(), QStringLiteral("100 u1: 1=200"));

        rig.client.frames.clear();
        rig.panel->enableBox()->click();
        QCOMPARE(rig.client.rendered(), QStringList({"100 u1:", "100 u2:"}));
        QCOMPARE(rig.panel->output().state(), DmxOutput::State::Off);
        rig.clock.advance(5000);
        QCOMPARE(rig.client.frames.size(), 2);
    }

    // Without a daemon the line says so, with the command and the daemon's page as a link.
    void noDaemonLine()
    {
        Rig rig;
        rig.client.daemonRunning = false;
        rig.window.show();
        rig.panel->enableBox()->click();
        QCOMPARE(rig.panel->output().state(), DmxOutput::State::NoDaemon);
        const QString text = rig.panel->statusLabel()->text();
        QVERIFY2(text.startsWith("No OLA daemon is running: start it with &quot;olad -f&quot;"), qPrintable(text));
        QVERIFY2(text.contains("<a href=\"http://localhost:9090\""), qPrintable(text));
        QVERIFY(rig.panel->statusLabel()->openExternalLinks());
        rig.client.daemonRunning = true;
        rig.clock.advance(DmxOutput::kRetryMs);
        QVERIFY(rig.panel->statusLabel()->text().startsWith("Sending to OLA universe 1"));
    }

    // Closing the window stops the output with its blackout; showing it again resumes it
    // when the box is checked. The panel's end (the program quitting) blacks out too.
    void windowClosedAndShown()
    {
        Rig rig;
        rig.panel->enableBox()->setChecked(true);
        QCOMPARE(rig.panel->output().state(), DmxOutput::State::Off);  // the window is not open yet
        rig.window.show();
        QCOMPARE(rig.panel->output().state(), DmxOutput::State::Sending);
        rig.panel->output().setLevel(5, 50);
        rig.clock.advance(100);
        rig.client.frames.clear();
        rig.window.close();
        QTRY_COMPARE(rig.panel->output().state(), DmxOutput::State::Off);
        QCOMPARE(rig.client.rendered(), QStringList({"100 u1:", "100 u2:"}));
        rig.window.show();
        QCOMPARE(rig.panel->output().state(), DmxOutput::State::Sending);
        QCOMPARE(rig.client.rendered().mid(2), QStringList({"100 u1: 5=50", "100 u2:"}));
        rig.client.frames.clear();
        delete rig.panel;
        QCOMPARE(rig.client.rendered(), QStringList({"100 u1:", "100 u2:"}));
    }

    // The dialog shows the output's settings, refuses two equal universes and keeps what
    // it is given in "./config.ini", where a new panel finds it.
    void settingsDialog()
    {
        Rig rig;
        rig.window.show();
        rig.panel->enableBox()->click();
        rig.panel->settingsButton()->click();
        DmxOutputDialog *dialog = rig.panel->settingsDialog();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->firstUniverse()->value(), 1);
        QCOMPARE(dialog->secondUniverse()->value(), 2);
        QVERIFY(dialog->blackoutOnExit()->isChecked());
        dialog->secondUniverse()->setValue(1);
        QVERIFY(!dialog->okButton()->isEnabled());
        QVERIFY(dialog->problem()->isVisible());
        dialog->firstUniverse()->setValue(9);
        dialog->secondUniverse()->setValue(10);
        dialog->blackoutOnExit()->setChecked(false);
        QVERIFY(dialog->okButton()->isEnabled());
        rig.client.frames.clear();
        dialog->okButton()->click();
        QCOMPARE(rig.panel->output().settings().firstUniverse, 9u);
        QVERIFY(rig.panel->statusLabel()->text().contains("universe 9 (DMX 1-512) and universe 10"));
        // The old universes were blacked out under the old settings, the new ones fed.
        QCOMPARE(rig.client.rendered(10), QStringList({"0 u1:", "0 u2:", "0 u9:", "0 u10:"}));
        QFile config(rig.dir.file("config.ini"));
        QVERIFY(config.open(QIODevice::ReadOnly));
        const QByteArray saved = config.readAll();
        QVERIFY2(saved.contains("[DmxOutput]") && saved.contains("firstUniverse=9") && saved.contains("blackoutOnExit=false"),
                 saved.constData());

        ManualScheduler clock;
        RecordingDmxClient client(clock);
        QWidget other;
        DmxOutputPanel second(rig.engine, &other, &client, clock);
        QCOMPARE(second.output().settings(), dialog->settings());

        // Cancel changes nothing.
        rig.panel->settingsButton()->click();
        dialog->firstUniverse()->setValue(30);
        dialog->reject();
        QCOMPARE(rig.panel->output().settings().firstUniverse, 9u);
    }

    // The preview window holds the controls in its top row, off at the start.
    void inThePreviewWindow()
    {
        TempWorkDir dir;
        light_Form form(nullptr, new QMidiOut(std::make_unique<NoMidi>()));
        auto *panel = form.findChild<DmxOutputPanel *>();
        QVERIFY(panel);
        QVERIFY(!panel->enableBox()->isChecked());
        QCOMPARE(panel->output().state(), DmxOutput::State::Off);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(panel->output().state(), DmxOutput::State::Off);
        QVERIFY(panel->isVisible());
        QVERIFY(panel->mapTo(&form, QPoint(0, 0)).y() < form.findChild<QGraphicsView *>()->mapTo(&form, QPoint(0, 0)).y());
    }
};

QTEST_MAIN(TestDmxPanel)
#include "tst_dmxpanel.moc"
