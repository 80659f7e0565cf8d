// The preview engine: targets, the DMX lookup, fades, toggles, hold mode, the log and
// the "Connection Failed" decision, with fades stepped on a manual clock.

#include "common/core/scheduler.h"
#include "preview/core/fixturedetailsmodel.h"
#include "preview/core/fixtureregistry.h"
#include "preview/core/midimessagelog.h"
#include "preview/core/midisender.h"
#include "preview/core/previewengine.h"
#include "preview/core/rulesnapshots.h"
#include "previewrules.h"

#include <QSignalSpy>
#include <QtTest>

using namespace vl;
using namespace vl::test;

namespace {

class RecordingSender final : public MidiSender {
public:
    bool connected = true;
    QStringList sent;  // "Note 1 60 100", "AT 1 60 20", "CC 1 7 100"

    bool midiConnected() const override { return connected; }
    void sendMidi(MidiEventKind kind, int channel, int number, int value) override
    {
        const char *name = kind == MidiEventKind::Note ? "Note" : kind == MidiEventKind::PolyAftertouch ? "AT" : "CC";
        sent << QStringLiteral("%1 %2 %3 %4").arg(QLatin1String(name)).arg(channel).arg(number).arg(value);
    }
};

// The engine with its inputs: a rule table, a fixture "F" with one channel on each DMX
// channel listed, the clicked fixture "F", coefficient 2.0, MIDI channel 1.
struct Rig {
    explicit Rig(std::initializer_list<Rule> table, QList<int> dmxChannels = {1})
    {
        setRules(rules, table);
        snapshots.setRuleModel(&rules);
        snapshots.rebuild();
        LightFixture f;
        f.fixtureName = "F";
        int sn = 100;
        for (const int dmx : dmxChannels)
            f.selectedChannels.append({sn++, dmx, QString(), 0});
        registry.addFixture(f);
        engine.setRuleModel(&rules);
        engine.setSnapshots(&snapshots);
        engine.setDetailsModel(&details);
        engine.setMidiSender(&sender);
        engine.setMessageLog(&log);
        engine.setPreviewCoefficient(2.0);
        engine.setMidiChannel(1);
        engine.setCurrentFixture("F");
    }

    int level(int dmx = 1) const { return registry.firstChannelValue(dmx); }
    // Levels at DMX `dmx` after each of `ticks` steps of 50 ms.
    QList<int> run(int ticks, int dmx = 1)
    {
        QList<int> levels;
        for (int i = 0; i < ticks; ++i) {
            clock.advance(PreviewEngine::kFadeIntervalMs);
            levels << level(dmx);
        }
        return levels;
    }
    QStringList logRows() const
    {
        QStringList rows;
        for (const MidiLogRow &r : log.rows())
            rows << QStringLiteral("%1 %2 %3 %4 %5").arg(r.sn).arg(r.event).arg(r.channel).arg(r.number, r.value);
        return rows;
    }

    RuleModel rules;
    RuleSnapshots snapshots;
    GlobalData registry;
    FixtureDetailsModel details;
    MidiMessageLog log;
    RecordingSender sender;
    ManualScheduler clock;
    PreviewEngine engine{registry, clock};
};

void drive(PreviewEngine &e, EventKind kind, int number, int value)
{
    switch (kind) {
    case EventKind::Note: e.driveNote(number, value); break;
    case EventKind::Aftertouch: e.driveAftertouch(number, value); break;
    case EventKind::Control: e.driveController(number, value); break;
    }
}

}  // namespace

Q_DECLARE_METATYPE(vl::EventKind)
Q_DECLARE_METATYPE(vl::PreviewEngine::KeyResult)

class TestPreviewEngine : public QObject {
    Q_OBJECT

private slots:
    // Where a single event lands with Fade In and Fade Out "OFF": at once.
    void targetLevels_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<EventKind>("kind");
        QTest::addColumn<double>("coefficient");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("level");
        const auto note = [](QString fix) {
            return Rule("1", "Note", "60 / C4", "ALL", fix, "OFF", "OFF", "OFF", "ON");
        };
        // clang-format off
        QTest::newRow("2.0 × 100") << QList<Rule>{note("OFF")} << EventKind::Note << 2.0 << 100 << 200;
        QTest::newRow("2.01 × 127 is 255.27") << QList<Rule>{note("OFF")} << EventKind::Note << 2.01 << 127 << 255;
        QTest::newRow("clamped to 255") << QList<Rule>{note("OFF")} << EventKind::Note << 2.0 << 200 << 255;
        QTest::newRow("no coefficient yet") << QList<Rule>{note("OFF")} << EventKind::Note << 0.0 << 100 << 0;
        QTest::newRow("value 0 is dark, fixed or not") << QList<Rule>{note("100")} << EventKind::Note << 2.0 << 0 << 0;
        QTest::newRow("fixed value") << QList<Rule>{note("100")} << EventKind::Note << 2.0 << 5 << 100;
        const QList<Rule> twoFixed = {Rule("1", "Note", "60 / C4", "ALL", "100", "OFF", "OFF", "OFF", "ON"),
                                      Rule("1", "AT", "60 / C4", "ALL", "100", "OFF", "OFF", "OFF", "ON"),
                                      Rule("1", "CC", "60", "ALL", "100", "OFF", "OFF", "OFF", "ON"),
                                      Rule("1", "Note", "60 / C4", "ALL", "180", "OFF", "OFF", "OFF", "ON"),
                                      Rule("1", "AT", "60 / C4", "ALL", "180", "OFF", "OFF", "OFF", "ON"),
                                      Rule("1", "CC", "60", "ALL", "180", "OFF", "OFF", "OFF", "ON")};
        QTest::newRow("two fixed: Note takes the last") << twoFixed << EventKind::Note << 2.0 << 10 << 180;
        QTest::newRow("two fixed: AT takes the last") << twoFixed << EventKind::Aftertouch << 2.0 << 10 << 180;
        QTest::newRow("two fixed: CC takes the first") << twoFixed << EventKind::Control << 2.0 << 10 << 100;
        QTest::newRow("fixed of another channel left out")
            << QList<Rule>{note("OFF"), Rule("", "Note", "60 / C4", "2", "50", "", "", "", "ON")} << EventKind::Note
            << 2.0 << 100 << 200;
        // An empty Fix means "OFF", not 0.
        QTest::newRow("empty Fix") << QList<Rule>{note("")} << EventKind::Note << 2.0 << 100 << 200;
        QTest::newRow("Fix that is no number") << QList<Rule>{note("lots")} << EventKind::Note << 2.0 << 100 << 200;
        // Only whole numbers match: the rules of notes 6 and 600 take no part for note 60.
        QTest::newRow("whole numbers only")
            << QList<Rule>{note("OFF"), Rule("", "Note", "6 / F#-1", "ALL", "50", "", "", "", "ON"),
                           Rule("", "Note", "600", "ALL", "70", "", "", "", "ON"),
                           Rule("", "note", "60 / C4", "ALL", "90", "", "", "", "ON")}
            << EventKind::Note << 2.0 << 100 << 200;
        // clang-format on
    }
    void targetLevels()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(EventKind, kind);
        QFETCH(double, coefficient);
        QFETCH(int, value);
        QFETCH(int, level);
        Rig rig({});
        for (int i = 0; i < rules.size(); ++i)
            setRule(rig.rules, i, rules.at(i));
        rig.snapshots.rebuild();
        rig.engine.setPreviewCoefficient(coefficient);
        drive(rig.engine, kind, 60, value);
        QCOMPARE(rig.level(), level);
        QCOMPARE(rig.run(2), QList<int>({level, level}));  // the fade timer agrees and stops
        QVERIFY(!rig.engine.isFading(kind, 60));
        QCOMPARE(rig.engine.currentLevel(kind, 60), level);
    }

    void matchRulesWholeNumberAndStatus()
    {
        Rig rig({Rule("1", "Note", "1 / C#-1"), Rule("2", "Note", "10 / A#-1"), Rule("3", "Note", "100 / E7"),
                 Rule("4", "CC", "1"), Rule("5", "NoteX", "1"), Rule("6", "Note", "1"), Rule("7", "Note")});
        const QList<QStringList> rows = rig.engine.matchRules("Note", "1");
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).size(), 10);
        QCOMPARE(rows.at(0).at(ColDmx), QString("1"));
        QCOMPARE(rows.at(1).at(ColDmx), QString("6"));
        QCOMPARE(rows.at(1).at(ColFix), QString());
        QVERIFY(rig.engine.matchRules("Note", "x").isEmpty());
    }

    // Fade In 10 and Fade Out "OFF": the light rises by 10 every 50 ms, and drops at once on
    // the release.
    void fadeInThenDrop()
    {
        Rig rig({Rule("1", "Note", "60 / C4", "ALL", "OFF", "10", "OFF", "OFF", "ON")});
        QCOMPARE(rig.engine.keyPressed(PreviewKeyboard::Note, 60, 25, true), PreviewEngine::KeyResult::Played);
        QCOMPARE(rig.level(), 0);  // nothing before the first step
        QCOMPARE(rig.run(6), QList<int>({10, 20, 30, 40, 50, 50}));
        QVERIFY(!rig.engine.isFading(EventKind::Note, 60));
        QCOMPARE(rig.engine.keyReleased(PreviewKeyboard::Note, 60, true), PreviewEngine::KeyResult::Played);
        QCOMPARE(rig.run(2), QList<int>({0, 0}));
        QCOMPARE(rig.sender.sent, QStringList({"Note 1 60 25", "Note 1 60 0"}));
        QCOMPARE(rig.logRows(), QStringList({"1 Note On 1 60 25", "2 Note Off 1 60 0"}));
    }

    // Fade In 5 takes a light from 0 to 255 in 51 steps; a second press during the fade
    // replaces its timer, and the fade goes on from where it is.
    void fadeStepsAndRestart()
    {
        Rig rig({Rule("1", "CC", "7", "ALL", "255", "5", "3", "", "ON")});
        rig.engine.driveController(7, 1);
        QList<int> levels = rig.run(51);
        QCOMPARE(levels.at(0), 5);
        QCOMPARE(levels.at(49), 250);
        QCOMPARE(levels.at(50), 255);
        QVERIFY(!rig.engine.isFading(EventKind::Control, 7));
        rig.engine.driveController(7, 0);
        QCOMPARE(rig.run(2), QList<int>({252, 249}));
        rig.engine.driveController(7, 0);  // again: one timer, not two
        QCOMPARE(rig.clock.activeTimerCount(), 1);
        QCOMPARE(rig.run(1), QList<int>({246}));
    }

    // Empty Fade In and Fade Out mean "OFF", as does a step of 0 (it could never arrive).
    void emptyFadesAreOff_data()
    {
        QTest::addColumn<QString>("fadeIn");
        QTest::addColumn<QString>("fadeOut");
        // clang-format off
        QTest::newRow("both empty") << ""
                                    << "";
        QTest::newRow("empty in, OFF out") << ""
                                           << "OFF";
        QTest::newRow("OFF in, empty out") << "OFF"
                                           << "";
        QTest::newRow("steps of 0") << "0"
                                    << "0";
        // clang-format on
    }
    void emptyFadesAreOff()
    {
        QFETCH(QString, fadeIn);
        QFETCH(QString, fadeOut);
        Rig rig({Rule("1", "Note", "60 / C4", "ALL", "OFF", fadeIn, fadeOut, "", "ON")});
        rig.engine.keyPressed(PreviewKeyboard::Note, 60, 100, true);
        QCOMPARE(rig.run(1), QList<int>({200}));
        QVERIFY(!rig.engine.isFading(EventKind::Note, 60));
        rig.engine.keyReleased(PreviewKeyboard::Note, 60, true);
        QCOMPARE(rig.run(1), QList<int>({0}));
        QCOMPARE(rig.clock.activeTimerCount(), 0);
    }

    // A toggling rule: every press alternates between fading up and fading down; releases
    // send and change nothing.
    void togglesAlternate_data()
    {
        QTest::addColumn<EventKind>("kind");
        // clang-format off
        QTest::newRow("Note") << EventKind::Note;
        QTest::newRow("AT") << EventKind::Aftertouch;
        QTest::newRow("CC") << EventKind::Control;
        // clang-format on
    }
    void togglesAlternate()
    {
        QFETCH(EventKind, kind);
        const QString status = kind == EventKind::Note ? "Note" : kind == EventKind::Aftertouch ? "AT" : "CC";
        const QString ctl = kind == EventKind::Control ? "60" : "60 / C4";
        Rig rig({Rule("1", status, ctl, "ALL", "100", "50", "50", "ON", "ON")});
        for (int press = 0; press < 4; ++press) {
            if (kind == EventKind::Control) {
                rig.engine.faderMoved(60, 127);
            } else {
                const PreviewKeyboard k = kind == EventKind::Note ? PreviewKeyboard::Note : PreviewKeyboard::Aftertouch;
                rig.engine.keyPressed(k, 60, 127, true);
                rig.engine.keyReleased(k, 60, true);
            }
            const bool on = press % 2 == 0;
            QCOMPARE(rig.run(3), on ? QList<int>({50, 100, 100}) : QList<int>({50, 0, 0}));
            QCOMPARE(rig.engine.toggleState(kind, 60), !on);
        }
        // A toggling release sends nothing.
        QCOMPARE(rig.sender.sent.size(), 4);
    }

    // A note whose first rise is immediate (Fade In "OFF") needs one more press to go dark;
    // after-touch does not.
    void immediateFirstRiseOfANote_data()
    {
        QTest::addColumn<EventKind>("kind");
        QTest::addColumn<QList<int>>("levels");
        // clang-format off
        QTest::newRow("Note") << EventKind::Note << QList<int>{200, 200, 0, 200};
        QTest::newRow("AT") << EventKind::Aftertouch << QList<int>{200, 0, 200, 0};
        // clang-format on
    }
    void immediateFirstRiseOfANote()
    {
        QFETCH(EventKind, kind);
        QFETCH(QList<int>, levels);
        Rig rig({Rule("1", kind == EventKind::Note ? "Note" : "AT", "60 / C4", "ALL", "OFF", "OFF", "50", "ON", "ON")});
        QList<int> seen;
        for (int press = 0; press < 4; ++press) {
            drive(rig.engine, kind, 60, 100);
            seen << rig.run(5).last();
        }
        QCOMPARE(seen, levels);
    }

    // The rule an event drives is the one that matched it: same status, same number, the
    // channel, enabled. Its Toggle decides, and an empty Toggle toggles neither on press
    // nor on release.
    void theRuleThatMatched_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<QList<int>>("dmxOn");   // levels at DMX 1 and 9 after the press
        QTest::addColumn<QList<int>>("dmxOff");  // … and after the release
        QTest::addColumn<int>("sent");
        // clang-format off
        QTest::newRow("a CC rule above does not take the note")
            << QList<Rule>{Rule("9", "CC", "60", "ALL", "OFF", "OFF", "OFF", "ON", "ON"),
                           Rule("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")}
            << QList<int>{200, 0} << QList<int>{0, 0} << 2;
        QTest::newRow("a disabled rule above is skipped")
            << QList<Rule>{Rule("9", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "ON", "OFF"),
                           Rule("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")}
            << QList<int>{200, 0} << QList<int>{0, 0} << 2;
        QTest::newRow("empty Toggle goes dark on release")
            << QList<Rule>{Rule("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "", "ON")} << QList<int>{200, 0}
            << QList<int>{0, 0} << 2;
        QTest::newRow("Toggle ON stays lit")
            << QList<Rule>{Rule("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "ON", "ON")} << QList<int>{200, 0}
            << QList<int>{200, 0} << 1;
        QTest::newRow("only disabled rules: no channel lights")
            << QList<Rule>{Rule("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "OFF", "OFF")} << QList<int>{0, 0}
            << QList<int>{0, 0} << 2;
        // clang-format on
    }
    void theRuleThatMatched()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(QList<int>, dmxOn);
        QFETCH(QList<int>, dmxOff);
        QFETCH(int, sent);
        Rig rig({}, {1, 9});
        for (int i = 0; i < rules.size(); ++i)
            setRule(rig.rules, i, rules.at(i));
        rig.snapshots.rebuild();
        rig.engine.keyPressed(PreviewKeyboard::Note, 60, 100, true);
        rig.run(1);
        QCOMPARE(QList<int>({rig.level(1), rig.level(9)}), dmxOn);
        rig.engine.keyReleased(PreviewKeyboard::Note, 60, true);
        rig.run(1);
        QCOMPARE(QList<int>({rig.level(1), rig.level(9)}), dmxOff);
        QCOMPARE(rig.sender.sent.size() + rig.log.rowCount(), sent * 2);
    }

    // A show just opened lights the rig before any fixture is clicked; the clicked fixture
    // only records the levels in its bindings.
    void lightsBeforeAFixtureWasClicked()
    {
        Rig rig({Rule("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "OFF", "ON")});
        rig.engine.clearCurrentFixture();
        QSignalSpy bindings(&rig.engine, &PreviewEngine::fixtureBindingChanged);
        QCOMPARE(rig.engine.keyPressed(PreviewKeyboard::Note, 60, 100, true), PreviewEngine::KeyResult::Played);
        QCOMPARE(rig.sender.sent, QStringList({"Note 1 60 100"}));
        QCOMPARE(rig.logRows(), QStringList({"1 Note On 1 60 100"}));
        QCOMPARE(rig.level(), 200);
        rig.run(1);
        QCOMPARE(rig.engine.currentLevel(EventKind::Note, 60), 200);
        QCOMPARE(bindings.count(), 0);
    }

    // Messages from a file play on their own channel, send and log nothing, and a release
    // of a toggling key leaves the light as the keyboard's release does.
    void playsOutsideMessages_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<QList<QList<int>>>("messages");  // kind, channel, number, value
        QTest::addColumn<QList<int>>("levels");           // DMX 1 and 2 after the last

        const Rule onOne("1", "Note", "60 / C4", "1", "OFF", "OFF", "OFF", "OFF", "ON");
        const Rule onTwo("2", "Note", "60 / C4", "2", "OFF", "OFF", "OFF", "OFF", "ON");
        const Rule toggle("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "ON", "ON");
        const Rule cc("2", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON");
        const int note = int(EventKind::Note);
        const int control = int(EventKind::Control);
        // clang-format off
        QTest::newRow("own channel") << QList<Rule>{onOne, onTwo} << QList<QList<int>>{{note, 2, 60, 100}}
                                     << QList<int>{0, 200};
        QTest::newRow("release") << QList<Rule>{onOne} << QList<QList<int>>{{note, 1, 60, 100}, {note, 1, 60, 0}}
                                 << QList<int>{0, 0};
        QTest::newRow("toggle release keeps") << QList<Rule>{toggle}
                                              << QList<QList<int>>{{note, 5, 60, 100}, {note, 5, 60, 0}}
                                              << QList<int>{200, 0};
        QTest::newRow("toggle second press") << QList<Rule>{toggle}
                                             << QList<QList<int>>{{note, 5, 60, 100}, {note, 5, 60, 0}, {note, 5, 60, 90}}
                                             << QList<int>{0, 0};
        QTest::newRow("controller") << QList<Rule>{cc} << QList<QList<int>>{{control, 16, 7, 50}} << QList<int>{0, 100};
        QTest::newRow("out of range ignored") << QList<Rule>{cc}
                                              << QList<QList<int>>{{control, 17, 7, 50}, {control, 1, 7, 128}, {control, 0, 7, 1}}
                                              << QList<int>{0, 0};
        // clang-format on
    }

    void playsOutsideMessages()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(QList<QList<int>>, messages);
        QFETCH(QList<int>, levels);
        Rig rig({}, {1, 2});
        for (int i = 0; i < rules.size(); ++i)
            setRule(rig.rules, i, rules.at(i));
        rig.snapshots.rebuild();
        for (const QList<int> &m : messages) {
            rig.engine.playMessage(EventKind(m.at(0)), m.at(1), m.at(2), m.at(3));
            rig.run(1);
        }
        QCOMPARE(QList<int>({rig.level(1), rig.level(2)}), levels);
        QCOMPARE(rig.engine.midiChannel(), 1);
        QVERIFY(rig.sender.sent.isEmpty());
        QCOMPARE(rig.log.rowCount(), 0);
    }

    // A level lands on every fixture channel of its DMX channel and on the details rows
    // showing that channel: "remark" and level, or the level alone. Rows of the second
    // port ("512+n") keep their text, though the channel is painted.
    void levelsReachRegistryAndDetails()
    {
        Rig rig({Rule("600", "CC", "7", "ALL", "OFF", "OFF", "OFF", "", "ON"),
                 Rule("5", "CC", "8", "ALL", "OFF", "OFF", "OFF", "", "ON"),
                 Rule("6", "CC", "9", "ALL", "OFF", "OFF", "OFF", "", "ON")},
                {600, 5, 6});
        LightFixture other;
        other.fixtureName = "E";
        other.selectedChannels = {{1, 5, "Red ", 0}};
        rig.registry.addFixture(other);
        rig.details.setChannels(rig.registry.fixture("F").selectedChannels);
        QSignalSpy applied(&rig.engine, &PreviewEngine::levelApplied);
        QSignalSpy binding(&rig.engine, &PreviewEngine::fixtureBindingChanged);

        rig.engine.driveController(7, 100);
        QCOMPARE(rig.level(600), 200);
        QCOMPARE(applied.first(), QVariantList({600, 200}));
        QCOMPARE(binding.first(), QVariantList({"F", 600, 200}));
        QCOMPARE(rig.details.cellText(0, FixtureDetailsModel::DmxColumn), QString("512+88"));
        QCOMPARE(rig.details.cellText(0, FixtureDetailsModel::ValueColumn), QString("0"));

        rig.engine.driveController(8, 10);
        QCOMPARE(rig.registry.channelValue("E", 5), 20);
        QCOMPARE(rig.details.cellText(1, FixtureDetailsModel::ValueColumn), QString("Red :20"));
        rig.engine.driveController(9, 30);
        QCOMPARE(rig.details.cellText(2, FixtureDetailsModel::ValueColumn), QString("60"));

        // The current fixture gone from the registry: levels still land, no binding.
        rig.registry.removeFixture("F");
        binding.clear();
        rig.engine.applyDmxValue(5, 300);
        QCOMPARE(rig.registry.channelValue("E", 5), 255);
        QCOMPARE(binding.count(), 0);
    }

    // A number's level starts at what its DMX channel holds and is its own afterwards.
    void levelsStartFromTheRegistry()
    {
        Rig rig({Rule("1", "Note", "60 / C4", "ALL", "OFF", "10", "10", "", "ON"),
                 Rule("1", "AT", "60 / C4", "ALL", "OFF", "10", "10", "", "ON")});
        rig.registry.setChannelValue(1, 150);
        rig.engine.driveNote(60, 100);
        QCOMPARE(rig.run(1), QList<int>({160}));
        rig.engine.driveAftertouch(60, 100);  // its own level, taken from the channel now
        QCOMPARE(rig.engine.currentLevel(EventKind::Aftertouch, 60), 160);
    }

    // The "Connection Failed" warning: a normal press of a mapped key, a release of any
    // key; in hold mode nothing is said.
    void connectionFailed_data()
    {
        QTest::addColumn<bool>("hold");
        QTest::addColumn<bool>("press");
        QTest::addColumn<bool>("mapped");
        QTest::addColumn<PreviewEngine::KeyResult>("result");
        using R = PreviewEngine::KeyResult;
        // clang-format off
        QTest::newRow("press, mapped") << false << true << true << R::ConnectionFailed;
        QTest::newRow("press, unmapped") << false << true << false << R::Ignored;
        QTest::newRow("release, mapped") << false << false << true << R::ConnectionFailed;
        QTest::newRow("release, unmapped") << false << false << false << R::ConnectionFailed;
        QTest::newRow("hold press") << true << true << true << R::Ignored;
        QTest::newRow("hold release") << true << false << true << R::Ignored;
        // clang-format on
    }
    void connectionFailed()
    {
        QFETCH(bool, hold);
        QFETCH(bool, press);
        QFETCH(bool, mapped);
        QFETCH(PreviewEngine::KeyResult, result);
        Rig rig({Rule("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "", "ON")});
        rig.sender.connected = false;
        rig.engine.setHold(PreviewKeyboard::Aftertouch, hold);
        const PreviewEngine::KeyResult r = press ? rig.engine.keyPressed(PreviewKeyboard::Note, 60, 100, mapped)
                                                 : rig.engine.keyReleased(PreviewKeyboard::Note, 60, mapped);
        QCOMPARE(r, result);
        QVERIFY(rig.sender.sent.isEmpty());
        QCOMPARE(rig.log.rowCount(), 0);
        QCOMPARE(rig.level(), 0);
    }

    // Hold: a click latches a key (its velocity, 127 for 0), the next click lets it go;
    // the other keyboard plays as usual and its release sends 0 whatever the rule's Toggle.
    void holdMode()
    {
        Rig rig({Rule("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "", "ON"),
                 Rule("2", "AT", "61 / C#4", "ALL", "OFF", "OFF", "OFF", "ON", "ON")},
                {1, 2});
        rig.engine.setHold(PreviewKeyboard::Note, true);
        QVERIFY(rig.engine.hold(PreviewKeyboard::Note));
        rig.engine.keyPressed(PreviewKeyboard::Note, 60, 0, true);
        QVERIFY(rig.engine.isHeld(PreviewKeyboard::Note, 60));
        rig.run(1);
        QCOMPARE(rig.level(1), 254);
        rig.engine.keyReleased(PreviewKeyboard::Note, 60, true);  // the second click
        QVERIFY(!rig.engine.isHeld(PreviewKeyboard::Note, 60));
        rig.run(1);
        QCOMPARE(rig.level(1), 0);
        rig.engine.keyPressed(PreviewKeyboard::Aftertouch, 61, 20, true);
        rig.engine.keyReleased(PreviewKeyboard::Aftertouch, 61, true);
        QCOMPARE(rig.sender.sent, QStringList({"Note 1 60 127", "Note 1 60 0", "AT 1 61 20", "AT 1 61 0"}));
        QCOMPARE(rig.logRows(),
                 QStringList({"1 Note On 1 60 127", "2 Note Off 1 60 0", "3 AT 1 61 20", "4 AT 1 61 0"}));
        // The After Touch keyboard holds on its own Hold, apart from the Note keyboard.
        rig.engine.setHold(PreviewKeyboard::Aftertouch, true);
        rig.engine.keyPressed(PreviewKeyboard::Aftertouch, 61, 0, true);
        QVERIFY(rig.engine.isHeld(PreviewKeyboard::Aftertouch, 61));
        QVERIFY(!rig.engine.isHeld(PreviewKeyboard::Note, 61));
        rig.engine.keyReleased(PreviewKeyboard::Aftertouch, 61, true);
        QVERIFY(!rig.engine.isHeld(PreviewKeyboard::Aftertouch, 61));
        QCOMPARE(rig.sender.sent.mid(4), QStringList({"AT 1 61 127", "AT 1 61 0"}));
        QCOMPARE(rig.logRows().mid(4), QStringList({"5 AT 1 61 127", "6 AT 1 61 0"}));
        rig.engine.setHold(PreviewKeyboard::Aftertouch, false);
        rig.engine.keyPressed(PreviewKeyboard::Note, 60, 90, true);
        QVERIFY(rig.engine.isHeld(PreviewKeyboard::Note, 60));
        rig.engine.setHold(PreviewKeyboard::Note, false);  // turning Hold off forgets held notes
        QVERIFY(!rig.engine.isHeld(PreviewKeyboard::Note, 60));
    }

    void faderLogsAndSends()
    {
        Rig rig({Rule("1", "CC", "7", "2", "OFF", "OFF", "OFF", "", "ON")});
        rig.engine.setMidiChannel(2);
        rig.sender.connected = false;  // the output panel warns; the engine plays on
        rig.engine.faderMoved(7, 64);
        QCOMPARE(rig.sender.sent, QStringList({"CC 2 7 64"}));
        QCOMPARE(rig.logRows(), QStringList({"1 CC 2 7 64"}));
        QCOMPARE(rig.level(), 128);
    }

    void logNumbering()
    {
        MidiMessageLog log;
        log.logMidiMessage("CC", 1, "7", "1");
        log.logMidiMessage("CC", 1, "7", "2");
        log.logMidiMessage("AT", 16, "60", "3");
        QCOMPARE(log.rowCount(), 3);
        QCOMPARE(log.index(2, MidiMessageLog::SnColumn).data().toString(), QString("3"));
        QCOMPARE(log.index(2, MidiMessageLog::ChannelColumn).data().toString(), QString("16"));
        QCOMPARE(log.headerData(3, Qt::Horizontal).toString(), QString("No."));
        QCOMPARE(log.index(0, 4).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
        log.clear();
        log.logMidiMessage("CC", 1, "7", "4");
        QCOMPARE(log.rows().first().sn, 1);
    }
};

QTEST_GUILESS_MAIN(TestPreviewEngine)
#include "tst_previewengine.moc"
