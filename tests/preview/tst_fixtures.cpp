// The fixture registry, the details table and the fixture dialog's rules.

#include "preview/core/fixturedetailsmodel.h"
#include "preview/core/fixturedialogmodel.h"
#include "preview/core/fixtureregistry.h"
#include "previewrules.h"

#include <QSignalSpy>
#include <QtTest>

using namespace vl;
using namespace vl::test;

namespace {

LightFixture makeFixture(const QString &name, const QList<FixtureChannel> &channels, int red = -1, int green = -1,
                         int blue = -1, int brightness = -1)
{
    LightFixture f;
    f.fixtureName = name;
    f.selectedChannels = channels;
    f.redChannel = red;
    f.greenChannel = green;
    f.blueChannel = blue;
    f.brightnessChannel = brightness;
    return f;
}

QStringList sorted(QSet<QString> set)
{
    QStringList l = set.values();
    l.sort();
    return l;
}

// Rows as the window offers them: {SN, DMX, remark}.
QList<QStringList> channelRows(std::initializer_list<int> sns)
{
    QList<QStringList> rows;
    for (const int sn : sns)
        rows.append({QString::number(sn), QString::number(sn + 100), QStringLiteral("ch%1").arg(sn)});
    return rows;
}

int availableRowOfSn(const FixtureDialogModel &d, int sn)
{
    for (int i = 0; i < d.available().size(); ++i)
        if (FixtureDialogModel::entrySn(d.available().at(i), -1) == sn)
            return i;
    return -1;
}

QList<int> sns(const QStringList &entries)
{
    QList<int> out;
    for (const QString &e : entries)
        out << FixtureDialogModel::entrySn(e, -1);
    return out;
}

}  // namespace

class TestFixtures : public QObject {
    Q_OBJECT

private slots:
    // ---- registry ----

    void registryEntries()
    {
        GlobalData g;
        const LightFixture none = g.fixture("nope");
        QVERIFY(none.fixtureName.isEmpty() && none.selectedChannels.isEmpty());
        QCOMPARE(none.redChannel, -1);
        QCOMPARE(none.greenChannel, -1);
        QCOMPARE(none.blueChannel, -1);
        QCOMPARE(none.brightnessChannel, -1);

        QSignalSpy changed(&g, &GlobalData::fixturesChanged);
        g.addFixture(makeFixture("b", {{1, 5, "", 0}}));
        g.addFixture(makeFixture("B", {}));
        g.addFixture(makeFixture("a", {}));
        QCOMPARE(g.fixtureNames(), QStringList({"B", "a", "b"}));  // code-unit order
        g.addFixture(makeFixture("b", {{2, 6, "", 0}}));           // replaces
        QCOMPARE(g.fixture("b").selectedChannels.first().dmxCH, 6);
        g.setFixtureChannels("zz", {{3, 7, "", 0}});  // unknown: nothing
        QVERIFY(!g.hasFixture("zz"));
        g.removeFixture("B");
        QCOMPARE(g.fixtureNames(), QStringList({"a", "b"}));
        QCOMPARE(changed.count(), 5);

        g.addUsedSN("");
        g.addUsedSN("3");
        QCOMPARE(g.permanentlyUsedSNs().size(), 1);
        g.setSnFixture("", "a");
        g.setSnFixture("3", "a");
        QCOMPARE(g.fixtureOfSn("3"), QString("a"));
        QCOMPARE(g.fixtureOfSn("4"), QString());
        QCOMPARE(g.snToFixture().size(), 1);
    }

    void fixtureColor_data()
    {
        QTest::addColumn<int>("red");
        QTest::addColumn<int>("green");
        QTest::addColumn<int>("blue");
        QTest::addColumn<int>("brightness");
        QTest::addColumn<QColor>("color");
        // clang-format off
        QTest::newRow("brightness 0 is black") << 255 << 255 << 255 << 0 << QColor(0, 0, 0);
        QTest::newRow("full brightness") << 255 << 128 << 0 << 255 << QColor(255, 128, 0);
        QTest::newRow("half brightness") << 255 << 100 << 10 << 128 << QColor(128, 50, 5);
        // clang-format on
    }
    void fixtureColor()
    {
        QFETCH(int, red);
        QFETCH(int, green);
        QFETCH(int, blue);
        QFETCH(int, brightness);
        QFETCH(QColor, color);
        GlobalData g;
        g.addFixture(makeFixture("f", {{1, 1, "", red}, {2, 2, "", green}, {3, 3, "", blue}, {4, 4, "", brightness}}, 1,
                                 2, 3, 4));
        QCOMPARE(g.fixtureColor("f"), color);
        QCOMPARE(g.fixtureColor("f").alpha(), 255);
    }

    void fixtureColorWithoutRoles()
    {
        GlobalData g;
        // No brightness role: black, whatever the colours.
        g.addFixture(makeFixture("noBrightness", {{1, 1, "", 255}}, 1));
        QCOMPARE(g.fixtureColor("noBrightness"), QColor(0, 0, 0));
        // A role on a DMX channel the fixture does not have counts as 0.
        g.addFixture(makeFixture("foreign", {{1, 1, "", 255}, {4, 4, "", 255}}, 1, 9, -1, 4));
        QCOMPARE(g.fixtureColor("foreign"), QColor(255, 0, 0));
        // Levels beyond 255 (never written by the engine) are held to the colour range.
        g.addFixture(makeFixture("over", {{1, 1, "", 600}, {4, 4, "", 255}}, 1, -1, -1, 4));
        QCOMPARE(g.fixtureColor("over").red(), 255);
        QCOMPARE(g.fixtureColor("unknown"), QColor(0, 0, 0));
    }

    void channelValuesOnEveryFixture()
    {
        GlobalData g;
        g.addFixture(makeFixture("a", {{1, 5, "front", 0}, {2, 6, "", 0}}));
        g.addFixture(makeFixture("b", {{3, 7, "", 0}, {4, 5, "back", 0}, {5, 5, "", 0}}));
        QSignalSpy values(&g, &GlobalData::channelValueChanged);
        g.setChannelValue(5, 200);
        QCOMPARE(values.count(), 1);
        QCOMPARE(values.at(0).at(0).toInt(), 5);
        for (const LightFixture &f : g.fixtureMap())
            for (const FixtureChannel &c : f.selectedChannels)
                QCOMPARE(c.value, c.dmxCH == 5 ? 200 : 0);
        QCOMPARE(g.firstChannelValue(5), 200);
        QCOMPARE(g.firstChannelValue(6), 0);
        QCOMPARE(g.firstChannelValue(99), 0);
        QCOMPARE(g.channelValue("b", 5), 200);
        QCOMPARE(g.channelValue("x", 5), 0);
        QCOMPARE(g.channelRemark("b", 5), QString("back"));
        QCOMPARE(g.channelRemark("a", 6), QString());
        g.setChannelValue(5, 200);  // nothing changes: no repaint asked
        QCOMPARE(values.count(), 1);
    }

    // Rule rows deleted or inserted: channels, used SNs and SN bindings follow their rows.
    void snsFollowRuleRows()
    {
        GlobalData g;
        g.addFixture(makeFixture("a", {{3, 1, "", 0}, {6, 2, "", 0}}));
        g.addFixture(makeFixture("b", {{4, 3, "", 0}, {8, 4, "", 0}, {0, 5, "", 0}}));
        for (const QString sn : {"3", "4", "6", "8", "x"}) {
            g.addUsedSN(sn);
            g.setSnFixture(sn, sn == "3" || sn == "6" ? "a" : "b");
        }
        // Rule rows 2 … 3 (SNs 3 and 4) deleted.
        g.removeRuleRows(3, 4);
        QCOMPARE(g.fixture("a").selectedChannels, QList<FixtureChannel>({{4, 2, "", 0}}));
        QCOMPARE(g.fixture("b").selectedChannels, QList<FixtureChannel>({{6, 4, "", 0}, {0, 5, "", 0}}));
        QCOMPARE(sorted(g.permanentlyUsedSNs()), QStringList({"4", "6", "x"}));
        QCOMPARE(g.fixtureOfSn("4"), QString("a"));
        QCOMPARE(g.fixtureOfSn("6"), QString("b"));
        QCOMPARE(g.fixtureOfSn("3"), QString());

        // A row inserted at SN 5: SN 4 stays, SN 6 becomes 7.
        g.insertRuleRow(5);
        QCOMPARE(g.fixture("a").selectedChannels.first().sn, 4);
        QCOMPARE(g.fixture("b").selectedChannels.first().sn, 7);
        QCOMPARE(sorted(g.permanentlyUsedSNs()), QStringList({"4", "7", "x"}));
        QCOMPARE(g.fixtureOfSn("7"), QString("b"));

        g.shiftUsedSNs(5, 2, false);
        QCOMPARE(sorted(g.permanentlyUsedSNs()), QStringList({"4", "5", "x"}));
        g.shiftUsedSNs(1, 10, true);
        QCOMPARE(sorted(g.permanentlyUsedSNs()), QStringList({"14", "15", "x"}));
    }

    // ---- details table ----

    void detailsRows()
    {
        FixtureDetailsModel m;
        QCOMPARE(m.displayedFixtureName(), QString("<name>"));
        QCOMPARE(m.columnCount(), 3);
        QCOMPARE(m.headerData(0, Qt::Horizontal).toString(), QString("Remark"));
        QCOMPARE(m.headerData(1, Qt::Horizontal).toString(), QString("DMX Channel"));
        QCOMPARE(m.headerData(2, Qt::Horizontal).toString(), QString("Value"));

        m.showFixtureName("Spot");
        QCOMPARE(m.labelText(), QString("Fixture Name: Spot"));
        QCOMPARE(m.displayedFixtureName(), QString("Spot"));
        m.setChannels({{7, 512, "left", 3}, {8, 513, "", 255}, {9, 1024, "x", 0}});
        QCOMPARE(m.rowCount(), 3);
        QCOMPARE(m.cellText(0, FixtureDetailsModel::DmxColumn), QString("512"));
        QCOMPARE(m.cellText(1, FixtureDetailsModel::DmxColumn), QString("512+1"));
        QCOMPARE(m.cellText(2, FixtureDetailsModel::DmxColumn), QString("512+512"));
        QCOMPARE(m.cellText(0, FixtureDetailsModel::RemarkColumn), QString("left"));
        QCOMPARE(m.cellText(1, FixtureDetailsModel::ValueColumn), QString("255"));
        QCOMPARE(m.index(1, 1).data(FixtureDetailsModel::kSnRole).toString(), QString("8"));
        QVERIFY(!m.index(1, 0).data(FixtureDetailsModel::kSnRole).isValid());
        QCOMPARE(m.index(0, 2).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
        QVERIFY(!(m.flags(m.index(0, 0)) & Qt::ItemIsEditable));
        QVERIFY(m.flags(m.index(0, 0)) & Qt::ItemIsSelectable);
        // Second-port rows never read as a DMX number.
        QCOMPARE(m.rowsShowingDmx(512), QVector<int>({0}));
        QVERIFY(m.rowsShowingDmx(513).isEmpty());
        QCOMPARE(m.rowsOfSn(9), QVector<int>({2}));

        m.setChannels({});
        QCOMPARE(m.rowCount(), 0);
        QCOMPARE(m.headerData(2, Qt::Horizontal).toString(), QString("Value"));

        m.showFixtureName("a: b");  // a name holding ": " reads back as its end
        QCOMPARE(m.displayedFixtureName(), QString("b"));
        m.clearDetails();
        QCOMPARE(m.labelText(), QString());
        QCOMPARE(m.displayedFixtureName(), QString());
    }

    // ---- the fixture dialog ----

    void textForms_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("entry");
        // clang-format off
        QTest::newRow("channel") << QStringList{"3", "12", "Red"} << "SN: 3, DMX CH: 12, Remark: Red";
        QTest::newRow("DMX no number") << QStringList{"3", "x", ""} << "SN: 3, DMX CH: 0, Remark: ";
        QTest::newRow("property") << QStringList{"Dimmer", "7"} << "Property: Dimmer, DMX CH: 7";
        QTest::newRow("other") << QStringList{"a", "b", "c", "d"} << "a, b, c, d";
        // clang-format on
    }
    void textForms()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, entry);
        QCOMPARE(FixtureDialogModel::offeredEntry(fields), entry);
    }

    void channelRowsFromTheTable()
    {
        RuleModel rules;
        RemarkModel remarks;
        setRules(rules, {{"5-Spot", "Note"}, {}, {"Wash"}, {"600"}});
        rules.setItem(1, ColDmx, nullptr);  // no DMX cell at all: not offered
        remarks.setText(0, 0, "front");
        const QList<QStringList> rows = FixtureDialogModel::channelRows(rules, remarks);
        QCOMPARE(rows, QList<QStringList>({{"1", "5", "front"}, {"3", "0", ""}, {"4", "600", ""}}));
    }

    void usedSnsAreNotOffered()
    {
        GlobalData g;
        g.addUsedSN("2");
        FixtureDialogModel d(g);
        d.resetWithChannelRows(channelRows({1, 2, 3}) + QList<QStringList>{{"", "9", "no SN"}});
        QCOMPARE(sns(d.available()), QList<int>({1, 3, -1}));
        g.releaseSN("2");
        d.resetWithChannelRows(channelRows({1, 2, 3}));
        QCOMPARE(sns(d.available()), QList<int>({1, 2, 3}));
    }

    void selectionKeepsSnOrder()
    {
        GlobalData g;
        FixtureDialogModel d(g);
        d.resetWithChannelRows(channelRows({1, 2, 3}));
        QSignalSpy selectedAt(&d, &FixtureDialogModel::entrySelected);
        QCOMPARE(d.moveToSelection(availableRowOfSn(d, 3)), 0);
        QCOMPARE(d.moveToSelection(availableRowOfSn(d, 1)), 0);
        QCOMPARE(d.moveToSelection(availableRowOfSn(d, 2)), 1);
        QCOMPARE(sns(d.selected()), QList<int>({1, 2, 3}));
        QVERIFY(d.available().isEmpty());
        QCOMPARE(selectedAt.count(), 3);
        QCOMPARE(d.moveToSelection(0), -1);  // nothing left to move
    }

    void removedEntriesWaitForRelease()
    {
        GlobalData g;
        FixtureDialogModel d(g);
        d.resetWithChannelRows(channelRows({1, 2, 3, 4}));
        for (const int sn : {1, 2, 3})
            d.moveToSelection(availableRowOfSn(d, sn));
        d.removeFromSelection(1);  // SN 2 back among 4: in SN order
        QCOMPARE(sns(d.available()), QList<int>({2, 4}));
        QCOMPARE(d.releasedSNs(), QList<int>({2}));
        d.moveToSelection(availableRowOfSn(d, 2));  // selected again: no release
        QVERIFY(d.releasedSNs().isEmpty());
        d.removeFromSelection(0);
        d.setFixtureName("A");
        g.addUsedSN("1");  // as if SN 1 had been bound before
        QCOMPARE(d.ok(), FixtureDialogModel::SaveResult::Stored);
        QCOMPARE(sorted(g.permanentlyUsedSNs()), QStringList({"2", "3"}));
        QVERIFY(d.releasedSNs().isEmpty());
        QCOMPARE(g.fixtureOfSn("3"), QString("A"));
    }

    void colourRolesNeverShareAnItem()
    {
        GlobalData g;
        FixtureDialogModel d(g);
        d.resetWithChannelRows(channelRows({1, 2, 3}));
        for (int i = 0; i < 3; ++i)
            d.moveToSelection(0);
        QCOMPARE(d.roleItems(ColorRole::Red), QStringList({"", "DMX CH: 101", "DMX CH: 102", "DMX CH: 103"}));
        d.setRoleIndex(ColorRole::Brightness, 2);
        QCOMPARE(d.roleText(ColorRole::Brightness), QString("DMX CH: 102"));
        for (const ColorRole r : {ColorRole::Red, ColorRole::Green, ColorRole::Blue})
            QCOMPARE(d.roleItems(r), QStringList({"", "DMX CH: 101", "DMX CH: 103"}));
        d.setColorChannels(101, 103, 102, 999);  // blue 102 is taken, brightness 999 unknown
        QCOMPARE(d.roleText(ColorRole::Red), QString("DMX CH: 101"));
        QCOMPARE(d.roleText(ColorRole::Green), QString("DMX CH: 103"));
        QCOMPARE(d.roleText(ColorRole::Blue), QString());
        QCOMPARE(d.roleText(ColorRole::Brightness), QString("DMX CH: 102"));
        QCOMPARE(d.roleItems(ColorRole::Blue), QStringList({""}));
        QCOMPARE(d.channelBindings(), (QMap<QString, int>{{"Red", 101}, {"Green", 103}, {"Brightness", 102}}));
        // Removing the brightness channel frees its role.
        d.removeFromSelection(1);
        QCOMPARE(d.roleText(ColorRole::Brightness), QString());
        QCOMPARE(d.roleItems(ColorRole::Brightness), QStringList({""}));
    }

    void emptySelectionHasNoRoles()
    {
        GlobalData g;
        FixtureDialogModel d(g);
        d.resetWithChannelRows(channelRows({1}));
        for (const ColorRole r : {ColorRole::Brightness, ColorRole::Red, ColorRole::Green, ColorRole::Blue}) {
            QVERIFY(d.roleItems(r).isEmpty());
            QCOMPARE(d.roleIndex(r), -1);
        }
        QVERIFY(d.channelBindings().isEmpty());
        d.setFixtureName("empty");
        QCOMPARE(d.ok(), FixtureDialogModel::SaveResult::Stored);
        const LightFixture f = g.fixture("empty");
        QVERIFY(f.selectedChannels.isEmpty());
        QCOMPARE(f.redChannel, -1);
        QCOMPARE(f.greenChannel, -1);
        QCOMPARE(f.blueChannel, -1);
        QCOMPARE(f.brightnessChannel, -1);
    }

    void okWithoutNameStoresNothing()
    {
        GlobalData g;
        FixtureDialogModel d(g);
        d.resetWithChannelRows(channelRows({1, 2}));
        d.moveToSelection(0);
        d.removeFromSelection(0);
        QCOMPARE(d.ok(), FixtureDialogModel::SaveResult::EmptyName);
        QVERIFY(g.fixtureMap().isEmpty());
        QVERIFY(g.permanentlyUsedSNs().isEmpty());
        QCOMPARE(d.releasedSNs(), QList<int>({1}));  // still pending until a successful Ok
    }

    void storedDefinition()
    {
        GlobalData g;
        FixtureDialogModel d(g);
        // Two offered rows share DMX 101 with the channel chosen; a remark holds ", ".
        d.resetWithChannelRows({{"1", "101", "Front, left: warm"}, {"2", "101", "twin"}, {"3", "102", ""}});
        d.moveToSelection(0);
        d.setRoleIndex(ColorRole::Red, 1);
        d.setFixtureName("Par");
        d.setDisplayNameChecked(true);
        QCOMPARE(d.selectedChannels(), QList<SelectedChannel>({{"1", 101, "Front, left: warm"}}));
        QCOMPARE(d.ok(), FixtureDialogModel::SaveResult::Stored);
        QCOMPARE(g.fixture("Par"), makeFixture("Par", {{1, 101, "Front, left: warm", 0}}, 101));
        QCOMPARE(sns(d.available()), QList<int>({3}));  // entries on DMX 101 are no longer offered
        QCOMPARE(g.fixtureOfSn("1"), QString("Par"));
        QVERIFY(g.isUsedSN("1"));
    }

    // Adding under a name that exists stores nothing: the existing fixture, its channels
    // and its SN bindings stay exactly as they were.
    void addingUnderATakenName()
    {
        GlobalData g;
        g.addFixture(makeFixture("Par", {{1, 101, "", 40}}, 101));
        g.addUsedSN("1");
        g.setSnFixture("1", "Par");
        FixtureDialogModel d(g);
        d.resetWithChannelRows(channelRows({1, 2, 3}));
        QCOMPARE(sns(d.available()), QList<int>({2, 3}));
        d.moveToSelection(0);
        d.setFixtureName("Par");
        QVERIFY(d.isNameTaken("Par"));
        QCOMPARE(d.ok(), FixtureDialogModel::SaveResult::NameTaken);
        QCOMPARE(g.fixture("Par"), makeFixture("Par", {{1, 101, "", 40}}, 101));
        QCOMPARE(sorted(g.permanentlyUsedSNs()), QStringList({"1"}));
        QCOMPARE(g.fixtureOfSn("2"), QString());
        QCOMPARE(sns(d.selected()), QList<int>({2}));  // the dialog keeps its lists for another name
        d.setFixtureName("Par 2");
        QCOMPARE(d.ok(), FixtureDialogModel::SaveResult::Stored);
        QCOMPARE(g.fixtureNames(), QStringList({"Par", "Par 2"}));
    }

    // The edit flow: the roles stored for the fixture are selected, its own name may be
    // kept, another fixture's name may not be taken, and Cancel keeps its SNs bound.
    void editFlow()
    {
        GlobalData g;
        g.addFixture(makeFixture("Wash", {{1, 101, "", 0}, {2, 102, "", 0}}, 102, -1, -1, 101));
        g.addFixture(makeFixture("Spot", {}));
        for (const QString sn : {"1", "2"})
            g.addUsedSN(sn);
        FixtureDialogModel d(g);
        d.setChannelRows(channelRows({1, 2, 3}));
        const QList<SelectedChannel> original = {{"1", 101, ""}, {"2", 102, ""}};
        d.setOriginalChannels(original);
        d.setFixtureName("Wash");
        d.setSelectedChannels(original);
        QCOMPARE(d.editedFixtureName(), QString("Wash"));
        QCOMPARE(d.roleText(ColorRole::Brightness), QString("DMX CH: 101"));
        QCOMPARE(d.roleText(ColorRole::Red), QString("DMX CH: 102"));
        QCOMPARE(d.roleText(ColorRole::Green), QString());

        d.removeFromSelection(1);
        QCOMPARE(d.releasedSNs(), QList<int>({2}));
        d.cancel();
        QVERIFY(d.releasedSNs().isEmpty());
        QVERIFY(d.selected().isEmpty());
        QCOMPARE(sns(d.available()), QList<int>({1, 2}));
        QVERIFY(d.roleItems(ColorRole::Red).isEmpty());

        // Again, this time renamed onto another fixture, then kept.
        d.setChannelRows(channelRows({3}));
        d.setOriginalChannels(original);
        d.setFixtureName("Wash");
        d.setSelectedChannels(original);
        d.setFixtureName("Spot");
        QCOMPARE(d.ok(), FixtureDialogModel::SaveResult::NameTaken);
        QCOMPARE(g.fixture("Spot").selectedChannels.size(), 0);
        d.setFixtureName("Wash");
        QCOMPARE(d.ok(), FixtureDialogModel::SaveResult::Stored);
        QCOMPARE(g.fixture("Wash").brightnessChannel, 101);
        QCOMPARE(g.fixture("Wash").selectedChannels.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestFixtures)
#include "tst_fixtures.moc"
