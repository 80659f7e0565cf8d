// The preview's copies of the rule table and the decisions made from them: faders, key
// marks, the labels of the C keys and the rule an event lands on.

#include "preview/core/rulesnapshots.h"
#include "previewrules.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

using namespace vl;
using namespace vl::test;

namespace {

// The rule walk of the fader strip and of isRuleEnabled, written as plainly as possible:
// every fader walks the copied CC rows and every question walks the whole table.
bool naiveIsRuleEnabled(const RuleModel &m, const QString &sta, const QString &ctl)
{
    for (int r = 0; r < m.rowCount(); ++r) {
        if (m.isEmptyCell(r, ColSta) || m.isEmptyCell(r, ColCtl) || m.isEmptyCell(r, ColCh))
            continue;
        if (m.text(r, ColSta) == sta && m.text(r, ColCtl) == ctl && m.text(r, ColEnable) == "ON")
            return true;
    }
    return false;
}

FaderStates naiveFaders(const RuleModel &m, const RuleSnapshots &s, int channel)
{
    FaderStates states{};
    for (int fader = 0; fader < kMidiNumbers; ++fader) {
        for (const RuleSnapshot &row : s.ccRuleRows()) {
            if (row.value(ColSta) != "CC" || row.value(ColCtl).toInt() != fader)
                continue;
            states[size_t(fader)] = {true, false};
            if (row.value(ColCh).toInt() == channel || row.value(ColCh) == "ALL")
                states[size_t(fader)].enabled = naiveIsRuleEnabled(m, row.value(ColSta), row.value(ColCtl));
        }
    }
    return states;
}

QList<int> visibleFaders(const FaderStates &states)
{
    QList<int> out;
    for (int i = 0; i < kMidiNumbers; ++i)
        if (states[size_t(i)].visible)
            out << i;
    return out;
}

QList<int> markedKeys(const KeyMarks &marks)
{
    QList<int> out;
    for (int i = 0; i < kMidiNumbers; ++i)
        if (marks[size_t(i)])
            out << i;
    return out;
}

// A table of `rows` rules whose cells come from small pools, so that rules collide on
// status, controller and channel in every combination, odd texts included.
void randomTable(RuleModel &m, int rows, quint32 seed)
{
    QRandomGenerator rng(seed);
    const QStringList sta = {"", "CC", "Note", "AT", "cc", "note"};
    const QStringList ctl = {"", "7", "8", "60", "60 / C4", "007", "x", "127", "1 / C#-1"};
    const QStringList ch = {"", "ALL", "1", "2", "16", "x"};
    const QStringList en = {"", "ON", "OFF"};
    const QStringList dmx = {"", "5", "5-Spot", "Spot"};
    const auto pick = [&](const QStringList &l) { return l.at(int(rng.bounded(quint32(l.size())))); };
    for (int r = 0; r < rows; ++r)
        setRule(m, r, {pick(dmx), pick(sta), pick(ctl), pick(ch), "", "", "", "", pick(en)});
}

}  // namespace

class TestRuleSnapshots : public QObject {
    Q_OBJECT

private slots:
    void snapshotsCopyNonEmptyRows()
    {
        RuleModel m;
        setRules(m, {{"5", "Note", "60 / C4", "ALL", "100", "OFF", "OFF", "ON", "ON"},
                     {},                                       // SN alone: still copied
                     {"", "", "", "", "OFF", "", "", "", ""},  // only a Fix: SN only
                     {"7", "", "", "", "", "", "", "", ""}});
        m.clearCell(1, ColSn);  // a row with nothing at all in 0 … 4 and 9
        RuleSnapshots s;
        s.setRuleModel(&m);
        QVERIFY(s.ruleRows().isEmpty());  // nothing before the first rebuild
        QSignalSpy rebuilt(&s, &RuleSnapshots::rebuilt);
        s.rebuild();
        QCOMPARE(rebuilt.count(), 1);
        QCOMPARE(s.ruleRows().size(), 3);
        QCOMPARE(s.ruleRows().at(0).value(ColCtl), QString("60 / C4"));
        QCOMPARE(s.ruleRows().at(0).value(ColFix), QString());  // Fix is not copied
        QCOMPARE(s.ruleRows().at(1).row, 2);
        QCOMPARE(s.ruleRows().at(2).value(ColDmx), QString("7"));
        // The CC copy holds the rows with Status, Controller, Channel or Enable only.
        QCOMPARE(s.ccRuleRows().size(), 1);
        QCOMPARE(s.ccRuleRows().at(0).value(ColSn), QString());
        QCOMPARE(s.ccRuleRows().at(0).value(ColEnable), QString("ON"));
    }

    void faders_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QList<int>>("visible");
        QTest::addColumn<bool>("enabled7");
        // clang-format off
        QTest::newRow("CC 7 on ALL, enabled")
            << QList<Rule>{{"1", "CC", "7", "ALL", "", "", "", "", "ON"}} << 1 << QList<int>{7} << true;
        QTest::newRow("CC 7 on ALL, disabled")
            << QList<Rule>{{"1", "CC", "7", "ALL", "", "", "", "", "OFF"}} << 1 << QList<int>{7} << false;
        QTest::newRow("CC 7 on another channel")
            << QList<Rule>{{"1", "CC", "7", "1", "", "", "", "", "ON"}} << 2 << QList<int>{7} << false;
        QTest::newRow("the later row decides")
            << QList<Rule>{{"1", "CC", "7", "1", "", "", "", "", "ON"}, {"2", "CC", "7", "2", "", "", "", "", "ON"}}
            << 1 << QList<int>{7} << false;
        QTest::newRow("the later row enables")
            << QList<Rule>{{"1", "CC", "7", "2", "", "", "", "", "ON"}, {"2", "CC", "7", "1", "", "", "", "", "ON"}}
            << 1 << QList<int>{7} << true;
        // Enable is asked of the whole table, whatever the channel: a disabled rule on
        // this channel is enabled by an enabled twin on another one.
        QTest::newRow("enabled by a rule on another channel")
            << QList<Rule>{{"1", "CC", "7", "2", "", "", "", "", "ON"}, {"2", "CC", "7", "1", "", "", "", "", "OFF"}}
            << 1 << QList<int>{7} << true;
        QTest::newRow("Note rules show no fader")
            << QList<Rule>{{"1", "Note", "7 / G-1", "ALL", "", "", "", "", "ON"}} << 1 << QList<int>{} << false;
        QTest::newRow("controller out of range")
            << QList<Rule>{{"1", "CC", "128", "ALL", "", "", "", "", "ON"}} << 1 << QList<int>{} << false;
        // clang-format on
    }
    void faders()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(int, channel);
        QFETCH(QList<int>, visible);
        QFETCH(bool, enabled7);
        RuleModel m;
        for (int i = 0; i < rules.size(); ++i)
            setRule(m, i, rules.at(i));
        RuleSnapshots s;
        s.setRuleModel(&m);
        s.rebuild();
        const FaderStates states = s.faderStates(channel);
        QCOMPARE(visibleFaders(states), visible);
        QCOMPARE(states[7].enabled, enabled7);
    }

    // Whatever the table, the faders are what the plain walk over the table gives, also
    // after edits that came after the rebuild (isRuleEnabled reads the table as it is).
    void fadersMatchTheTableWalk()
    {
        RuleModel m;
        RuleSnapshots s;
        s.setRuleModel(&m);
        for (quint32 seed = 1; seed <= 12; ++seed) {
            randomTable(m, 300, seed);
            s.rebuild();
            for (int channel = 1; channel <= 2; ++channel)
                QVERIFY2(s.faderStates(channel) == naiveFaders(m, s, channel), qPrintable(QString::number(seed)));
            // Edits after the rebuild: the copies stay, the enable answers follow.
            for (int r = 0; r < m.rowCount(); r += 7)
                m.setText(r, ColEnable, m.text(r, ColEnable) == "ON" ? "OFF" : "ON");
            QVERIFY(s.faderStates(1) == naiveFaders(m, s, 1));
            m.removeRows(0, 3);
            QVERIFY(s.faderStates(1) == naiveFaders(m, s, 1));
        }
    }

    void isRuleEnabledReadsTheTable()
    {
        RuleModel m;
        RuleSnapshots s;
        QVERIFY(!s.isRuleEnabled("CC", "7", "1"));  // no table
        s.setRuleModel(&m);
        setRules(m, {{"1", "CC", "7", "1", "", "", "", "", "ON"}, {"2", "CC", "8", "", "", "", "", "", "ON"}});
        s.rebuild();
        QVERIFY(s.isRuleEnabled("CC", "7", "16"));  // the channel is not compared
        QVERIFY(!s.isRuleEnabled("CC", "8", "1"));  // a rule without Channel does not count
        QVERIFY(!s.isRuleEnabled("Note", "7", "1"));
        m.setText(0, ColEnable, "OFF");
        QVERIFY(!s.isRuleEnabled("CC", "7", "1"));
        m.setText(1, ColCh, "ALL");
        QVERIFY(s.isRuleEnabled("CC", "8", "1"));
    }

    void keyMarks_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QList<int>>("noteKeys");
        QTest::addColumn<QList<int>>("atKeys");
        // clang-format off
        QTest::newRow("Note 60 on ALL") << QList<Rule>{{"1", "Note", "60 / C4", "ALL", "", "", "", "", "ON"}} << 1
                                        << QList<int>{60} << QList<int>{};
        QTest::newRow("a later disabled row does not unmark")
            << QList<Rule>{{"1", "Note", "60 / C4", "ALL", "", "", "", "", "ON"},
                           {"2", "Note", "60 / C4", "ALL", "", "", "", "", "OFF"}}
            << 1 << QList<int>{60} << QList<int>{};
        QTest::newRow("AT marks the After Touch keyboard")
            << QList<Rule>{{"1", "AT", "61 / C#4", "3", "", "", "", "", "ON"}} << 3 << QList<int>{} << QList<int>{61};
        QTest::newRow("another channel") << QList<Rule>{{"1", "Note", "60 / C4", "2", "", "", "", "", "ON"}} << 1
                                         << QList<int>{} << QList<int>{};
        QTest::newRow("disabled") << QList<Rule>{{"1", "Note", "60 / C4", "ALL", "", "", "", "", "OFF"}} << 1
                                  << QList<int>{} << QList<int>{};
        QTest::newRow("status in any case, bare number")
            << QList<Rule>{{"", "NOTE", "5", "ALL", "", "", "", "", "ON"}} << 1 << QList<int>{5} << QList<int>{};
        QTest::newRow("no number, out of range") << QList<Rule>{{"1", "Note", "x / C4", "ALL", "", "", "", "", "ON"},
                                                                {"1", "Note", "128 / G#9", "ALL", "", "", "", "", "ON"}}
                                                 << 1 << QList<int>{} << QList<int>{};
        // clang-format on
    }
    void keyMarks()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(int, channel);
        QFETCH(QList<int>, noteKeys);
        QFETCH(QList<int>, atKeys);
        RuleModel m;
        for (int i = 0; i < rules.size(); ++i)
            setRule(m, i, rules.at(i));
        RuleSnapshots s;
        s.setRuleModel(&m);
        s.rebuild();
        QCOMPARE(markedKeys(s.noteKeyMarks(channel)), noteKeys);
        QCOMPARE(markedKeys(s.atKeyMarks(channel)), atKeys);
    }

    void pitchCLabelsOfEachNaming()
    {
        const QStringList c4 = pitchCLabels(2);
        QCOMPARE(c4.size(), kMidiNumbers);
        QCOMPARE(c4.at(0), QString("C-1"));
        QCOMPARE(c4.at(60), QString("C4"));
        QCOMPARE(c4.at(120), QString("C9"));
        QCOMPARE(c4.at(61), QString());
        QCOMPARE(c4.count(QString()), kMidiNumbers - 11);
        QCOMPARE(pitchCLabels(1).at(120), QString("C8"));
        QCOMPARE(pitchCLabels(3).at(120), QString("C10"));
        QVERIFY(pitchCLabels(4).isEmpty());
        QVERIFY(pitchCLabels(0).isEmpty());
    }

    // The rule an event lands on: same status, same whole number, the event's channel
    // or "ALL", enabled; the first such row.
    void dmxTarget_data()
    {
        QTest::addColumn<QList<Rule>>("rules");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("dmx");
        QTest::addColumn<int>("sn");
        // clang-format off
        QTest::newRow("a CC rule above does not take a note")
            << QList<Rule>{{"9", "CC", "60", "ALL", "", "", "", "", "ON"},
                           {"1", "Note", "60 / C4", "ALL", "", "", "", "", "ON"}}
            << "Note" << 60 << 1 << 2;
        QTest::newRow("disabled rule skipped") << QList<Rule>{{"9", "Note", "60 / C4", "ALL", "", "", "", "", "OFF"},
                                                              {"1", "Note", "60 / C4", "1", "", "", "", "", "ON"}}
                                               << "Note" << 60 << 1 << 2;
        QTest::newRow("whole number only") << QList<Rule>{{"9", "Note", "6 / F#-1", "ALL", "", "", "", "", "ON"},
                                                          {"3", "Note", "600", "ALL", "", "", "", "", "ON"}}
                                           << "Note" << 60 << -1 << 0;
        QTest::newRow("other channel") << QList<Rule>{{"9", "AT", "60 / C4", "2", "", "", "", "", "ON"}} << "AT" << 60
                                       << -1 << 0;
        QTest::newRow("alias after the number")
            << QList<Rule>{{"600-Spot", "CC", "7", "ALL", "", "", "", "", "ON"}} << "CC" << 7 << 600 << 1;
        QTest::newRow("DMX without a number")
            << QList<Rule>{{"", "CC", "7", "1", "", "", "", "", "ON"}} << "CC" << 7 << 0 << 1;
        // clang-format on
    }
    void dmxTarget()
    {
        QFETCH(QList<Rule>, rules);
        QFETCH(QString, status);
        QFETCH(int, number);
        QFETCH(int, dmx);
        QFETCH(int, sn);
        RuleModel m;
        for (int i = 0; i < rules.size(); ++i)
            setRule(m, i, rules.at(i));
        RuleSnapshots s;
        s.setRuleModel(&m);
        s.rebuild();
        const DmxTarget t = s.findDmxTarget(status, number, 1);
        QCOMPARE(t.found, dmx != -1);
        QCOMPARE(t.dmx, dmx);
        QCOMPARE(t.sn, sn);
    }

    void numberReaders_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("controllerOk");
        QTest::addColumn<int>("controller");
        QTest::addColumn<bool>("leadingOk");
        QTest::addColumn<int>("leading");
        // clang-format off
        QTest::newRow("note text") << "60 / C4" << true << 60 << true << 60;
        QTest::newRow("plain") << "7" << true << 7 << true << 7;
        QTest::newRow("alias") << "5-Spot" << false << 0 << true << 5;
        QTest::newRow("empty") << "" << false << 0 << false << 0;
        QTest::newRow("name first") << "Spot 5" << false << 0 << false << 0;
        QTest::newRow("too long") << "99999999999" << false << 0 << false << 0;
        QTest::newRow("space before separator") << "60  / C4" << false << 0 << true << 60;
        // clang-format on
    }
    void numberReaders()
    {
        QFETCH(QString, text);
        QFETCH(bool, controllerOk);
        QFETCH(int, controller);
        QFETCH(bool, leadingOk);
        QFETCH(int, leading);
        int v = -1;
        QCOMPARE(readControllerNumber(text, &v), controllerOk);
        if (controllerOk)
            QCOMPARE(v, controller);
        v = -1;
        QCOMPARE(readLeadingNumber(text, &v), leadingOk);
        if (leadingOk)
            QCOMPARE(v, leading);
    }
};

QTEST_GUILESS_MAIN(TestRuleSnapshots)
#include "tst_rulesnapshots.moc"
