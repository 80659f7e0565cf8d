// Fixture projects (the JSON file, reading it as untrusted input, saving it whole) and
// the fixtures following edits of the rule table.

#include "preview/core/fixturedetailsmodel.h"
#include "preview/core/fixtureproject.h"
#include "preview/core/fixturestage.h"
#include "preview/core/previewcore.h"
#include "previewrules.h"
#include "tempworkdir.h"

#include "common/core/scheduler.h"

#include <QFile>
#include <QtTest>

#include <sys/stat.h>

using namespace vl;
using namespace vl::test;

namespace {

LightFixture fixture(const QString &name, const QList<FixtureChannel> &channels, int red = -1, int green = -1,
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

QStringList sorted(const QSet<QString> &set)
{
    QStringList l = set.values();
    l.sort();
    return l;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

}  // namespace

class TestFixtureProject : public QObject {
    Q_OBJECT

private slots:
    // The document as it is written: name order, keys in code-unit order, four spaces.
    void documentForm()
    {
        GlobalData g;
        g.addFixture(fixture("B", {{5, 1, "Red", 77}}, 1, -1, -1, 3));
        g.addFixture(fixture("A", {}));
        const QByteArray saveAs = projectJson(g, {{"B", "pix/b.png"}, {"A", ""}}, false);
        QCOMPARE(saveAs, QByteArray(R"([
    {
        "channelBindings": {
        },
        "colorMapping": {
        },
        "fixtureName": "A",
        "selectedChannels": [
        ]
    },
    {
        "Pixmap": "pix/b.png",
        "channelBindings": {
            "Brightness": 3,
            "Red": 1
        },
        "colorMapping": {
            "Brightness": 3,
            "Red": 1
        },
        "fixtureName": "B",
        "selectedChannels": [
            {
                "dmxCH": 1,
                "remark": "Red",
                "sn": "5"
            }
        ]
    }
]
)"));
        // Save Project names the item's picture in every channel, an empty one too; a
        // fixture without stage item gets no picture key at all.
        g.addFixture(fixture("A", {{6, 2, "", 0}}));
        g.addFixture(fixture("C", {{7, 3, "", 0}}));
        const QByteArray save = projectJson(g, {{"A", ""}, {"B", "pix/b.png"}}, true);
        const ProjectRead read = parseProject(save);
        QVERIFY(read.ok);
        QCOMPARE(save.count("\"Pixmap\": \"\""), 1);
        QCOMPARE(save.count("\"Pixmap\": \"pix/b.png\""), 2);
        QCOMPARE(save.count("\"Pixmap\""), 3);
    }

    void roundTrip()
    {
        GlobalData g;
        g.addFixture(fixture("Wash", {{1, 101, "left", 200}, {2, 513, "", 9}}));  // roles all -1
        g.addFixture(fixture("Par", {{3, 7, "Front, warm: yes", 0}}, 7, 8, 9, 10));
        const ProjectRead read = parseProject(projectJson(g, {{"Par", "pix/par.png"}}, true));
        QVERIFY(read.ok);
        QCOMPARE(read.message, QString("成功加载 2 个灯具配置。"));
        QCOMPARE(read.fixtures.size(), 2);
        QCOMPARE(read.fixtures.at(0).name, QString("Par"));
        QCOMPARE(read.fixtures.at(0).pixmap, QString("pix/par.png"));
        QCOMPARE(read.fixtures.at(1).pixmap, QString());

        GlobalData loaded;
        loaded.addFixture(fixture("Old", {}));
        loaded.addUsedSN("99");
        loaded.setSnFixture("99", "Old");
        FixtureStage stage(loaded);
        stage.addRecord({"Old", {}, {}});
        applyProject(read.fixtures, stage);
        // Levels are not saved: everything starts dark.
        QCOMPARE(loaded.fixture("Wash"), fixture("Wash", {{1, 101, "left", 0}, {2, 513, "", 0}}));
        QCOMPARE(loaded.fixture("Par"), fixture("Par", {{3, 7, "Front, warm: yes", 0}}, 7, 8, 9, 10));
        QCOMPARE(loaded.fixtureNames(), QStringList({"Par", "Wash"}));
        QCOMPARE(sorted(loaded.permanentlyUsedSNs()), QStringList({"1", "2", "3"}));
        QCOMPARE(loaded.fixtureOfSn("2"), QString("Wash"));
        QCOMPARE(loaded.fixtureOfSn("99"), QString());
        QCOMPARE(stage.records().size(), 2);
        QCOMPARE(stage.records().at(0).bindings,
                 (QMap<QString, int>{{"Blue", 9}, {"Brightness", 10}, {"Green", 8}, {"Red", 7}}));
        QCOMPARE(stage.records().at(1).channels, QList<SelectedChannel>({{"1", 101, "left"}, {"2", 513, ""}}));
    }

    // What a file may hold that we did not write: other types read as empty or 0, an SN
    // that is a number is no SN, an SN two fixtures claim keeps its first fixture, a
    // repeated name keeps its last definition.
    void lenientReading()
    {
        const QByteArray file = R"([
            {"fixtureName": "A", "channelBindings": {"Red": 4, "Green": "x", "Blue": 2.5},
             "colorMapping": {"Red": 9},
             "selectedChannels": [{"sn": 3, "dmxCH": 4, "remark": "r"}, {"sn": "7", "dmxCH": "5"}, 12,
                                  {"sn": "8", "dmxCH": 1e300, "remark": 5, "Pixmap": "ignored"}]},
            {"fixtureName": 17, "selectedChannels": {"sn": "1"}, "Pixmap": ["x"]},
            {"fixtureName": "B", "selectedChannels": [{"sn": "7", "dmxCH": 6}]},
            {"fixtureName": "B", "selectedChannels": [{"sn": "9", "dmxCH": 7}]},
            {}
        ])";
        const ProjectRead read = parseProject(file);
        QVERIFY(read.ok);
        QCOMPARE(read.fixtures.size(), 5);
        const ProjectFixture &a = read.fixtures.at(0);
        QCOMPARE(a.bindings, (QMap<QString, int>{{"Red", 4}, {"Green", 0}, {"Blue", 0}}));
        QCOMPARE(a.channels, QList<SelectedChannel>({{"", 4, "r"}, {"7", 0, ""}, {"", 0, ""}, {"8", 0, ""}}));
        QCOMPARE(read.fixtures.at(1).name, QString());
        QVERIFY(read.fixtures.at(1).channels.isEmpty());
        QCOMPARE(read.fixtures.at(1).pixmap, QString());

        GlobalData g;
        FixtureStage stage(g);
        applyProject(read.fixtures, stage);
        QCOMPARE(g.fixture("A").selectedChannels.first().sn, 0);  // "sn" as a number: no SN
        QCOMPARE(g.fixture("A").redChannel, 4);
        QCOMPARE(g.fixture("A").greenChannel, 0);
        QCOMPARE(g.fixture("A").brightnessChannel, -1);
        QCOMPARE(sorted(g.permanentlyUsedSNs()), QStringList({"7", "8", "9"}));
        QCOMPARE(g.fixtureOfSn("7"), QString("A"));               // B's claim on SN 7 does not take it
        QCOMPARE(g.fixture("B").selectedChannels.first().sn, 9);  // the last B wins
        QCOMPARE(stage.records().size(), 5);                      // one stage item per element
        QCOMPARE(g.fixtureNames(), QStringList({"", "A", "B"}));
    }

    void layout()
    {
        QCOMPARE(projectItemPosition(0), QPointF(50, 50));
        QCOMPARE(projectItemPosition(1), QPointF(120, 50));
        QCOMPARE(projectItemPosition(2), QPointF(190, 50));
    }

    // Content that is no fixture list is refused with one message.
    void refusedContent_data()
    {
        QTest::addColumn<QByteArray>("content");
        // clang-format off
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not JSON") << QByteArray("fixtures: none");
        QTest::newRow("cut short") << QByteArray(R"([{"fixtureName": "A", "selectedChannels": [)");
        QTest::newRow("an object") << QByteArray(R"({"fixtureName": "A"})");
        QTest::newRow("array of numbers") << QByteArray("[1, 2, 3]");
        QTest::newRow("an object, then a string") << QByteArray(R"([{}, "B"])");
        QTest::newRow("nested deeply") << QByteArray(200000, '[') + QByteArray(200000, ']');
        QTest::newRow("nested deeply inside a fixture")
            << QByteArray(R"([{"fixtureName": )") + QByteArray(100000, '[') + QByteArray(100000, ']') + "}]";
        QByteArray many = "[";
        for (int i = 0; i <= kMaxProjectFixtures; ++i)
            many += i ? ",{}" : "{}";
        QTest::newRow("too many fixtures") << many + "]";
        QTest::newRow("bad UTF-8") << QByteArray("[{\"fixtureName\": \"\xff\xfe\"}]");
        // clang-format on
    }
    void refusedContent()
    {
        QFETCH(QByteArray, content);
        const ProjectRead read = parseProject(content);
        QVERIFY(!read.ok);
        QCOMPARE(read.message, QString("JSON 格式不正确。"));
        QVERIFY(read.fixtures.isEmpty());
    }

    void projectFiles()
    {
        TempWorkDir dir;
        // Nothing chosen, a missing file, a directory, a file too large.
        QCOMPARE(readProjectFile(QString()).message, QString("未选择文件。"));
        ProjectRead read = readProjectFile(dir.file("missing.json"));
        QVERIFY(!read.ok);
        QVERIFY(read.message.startsWith("无法打开文件："));
        QVERIFY(read.message.size() > QString("无法打开文件：").size());
        read = readProjectFile(dir.path());
        QVERIFY(!read.ok);
        QVERIFY(read.message.startsWith("无法打开文件："));
        QFile big(dir.file("big.json"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(kMaxProjectFileBytes + 1));
        big.close();
        read = readProjectFile(big.fileName());
        QVERIFY(!read.ok);
        QCOMPARE(read.message, QString("无法打开文件：The file is larger than 16 MB."));
        // A FIFO nobody writes to and an endless device are refused at once, by what they are.
        QCOMPARE(::mkfifo(QFile::encodeName(dir.file("pipe.json")).constData(), 0600), 0);
        QCOMPARE(readProjectFile(dir.file("pipe.json")).message,
                 QString("无法打开文件：It is a FIFO (named pipe), not a regular file."));
        QCOMPARE(readProjectFile("/dev/zero").message,
                 QString("无法打开文件：It is a character device, not a regular file."));
        QCOMPARE(readProjectFile(dir.path()).message, QString("无法打开文件：It is a folder."));

        // Saved whole; a second save replaces the file; an unwritable place says so.
        GlobalData g;
        g.addFixture(fixture("A", {{1, 2, "", 0}}));
        const QString path = dir.file("show.json");
        QVERIFY(writeAll(path, QByteArray(100000, 'x')));
        const QByteArray json = projectJson(g, {}, false);
        ProjectWrite written = writeProjectFile(path, json);
        QVERIFY(written.ok);
        QCOMPARE(written.title, QString("Save Successful"));
        QCOMPARE(written.message, QString("Successfully saved to file"));
        QCOMPARE(readAll(path), json);
        read = readProjectFile(path);
        QVERIFY(read.ok);
        QCOMPARE(read.fixtures.first().name, QString("A"));

        written = writeProjectFile(dir.file("no/such/dir/show.json"), json);
        QVERIFY(!written.ok);
        QCOMPARE(written.title, QString("Save Failed"));
        QCOMPARE(written.message, QString("无法打开文件进行写入"));
    }

    void session()
    {
        ProjectSession s;
        QCOMPARE(s.windowTitle(), QString("Untitled"));
        QCOMPARE(s.saveTarget(), QString());
        s.opened("/home/u/shows/club.night.json");
        QCOMPARE(s.windowTitle(), QString("club"));
        QCOMPARE(s.saveTarget(), QString("/home/u/shows/club.night.json"));
        // A new project has no file: the next save asks instead of overwriting club.night.
        s.newProject("Tour");
        QCOMPARE(s.windowTitle(), QString("Tour"));
        QCOMPARE(s.saveTarget(), QString());
        s.setSavePath("/tmp/tour.json");
        QCOMPARE(s.saveTarget(), QString("/tmp/tour.json"));
        QCOMPARE(s.windowTitle(), QString("Tour"));  // saving does not rename the window
        s.openCancelled();
        QCOMPARE(s.projectPath(), QString());
    }

    // The window's project commands on the core: a file that does not load changes
    // nothing (and is not taken as the project's file, so Save cannot overwrite it); New
    // Project leaves no file to save over.
    void projectCommands()
    {
        TempWorkDir dir;
        GlobalData g;
        ManualScheduler clock;
        PreviewCore core(g, clock);
        RuleModel rules;
        RemarkModel remarks;
        setRules(rules, {Rule("1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "", "ON")});
        core.setRuleModel(&rules);
        core.setRemarkModel(&remarks);
        g.addFixture(fixture("Keep", {{1, 1, "", 0}}));
        core.stage().addRecord({"Keep", {{"1", 1, ""}}, {}});
        QVERIFY(core.selectFixture("Keep"));
        QCOMPARE(core.details().displayedFixtureName(), QString("Keep"));
        const QString good = dir.file("good.json");
        QVERIFY(core.saveProject(good, {{"Keep", ""}}, false).ok);
        core.session().setSavePath(good);

        const QString notes = dir.file("notes.json");
        QVERIFY(writeAll(notes, "my notes, not fixtures"));
        const ProjectRead bad = core.openProject(notes);
        QVERIFY(!bad.ok);
        QCOMPARE(bad.message, QString("JSON 格式不正确。"));
        QCOMPARE(core.session().saveTarget(), good);
        QCOMPARE(core.session().windowTitle(), QString("Untitled"));
        QCOMPARE(g.fixtureNames(), QStringList({"Keep"}));
        QCOMPARE(core.stage().records().size(), 1);
        QVERIFY(core.engine().hasCurrentFixture());

        const ProjectRead read = core.openProject(good);
        QVERIFY(read.ok);
        QCOMPARE(read.message, QString("成功加载 1 个灯具配置。"));
        QCOMPARE(core.session().windowTitle(), QString("good"));
        QVERIFY(!core.engine().hasCurrentFixture());

        QVERIFY(!core.openProject(QString()).ok);  // cancelled: no project file
        QCOMPARE(core.session().saveTarget(), QString());

        QVERIFY(core.selectFixture("Keep"));
        QVERIFY(core.deleteFixture("Keep"));
        QVERIFY(!core.engine().hasCurrentFixture());
        QVERIFY(!core.showFixtureDetails("Keep"));

        core.newProject("Next");
        QCOMPARE(core.session().windowTitle(), QString("Next"));
        QCOMPARE(core.session().saveTarget(), QString());

        QCOMPARE(core.canAddFixture(), PreviewCore::AddCheck::Ok);
        QCOMPARE(core.offeredChannelRows(), QList<QStringList>({{"1", "1", ""}}));
        rules.removeRows(0, 1);
        QCOMPARE(core.canAddFixture(), PreviewCore::AddCheck::NoRows);
    }

    // ---- fixtures following the rule table ----

    // Rows 2 … 3 deleted: SNs 3 and 4 are released and their channels go; SN 6 becomes 4.
    void deletedRows()
    {
        GlobalData g;
        FixtureStage stage(g);
        RuleModel rules;
        setRules(rules, {Rule("1"), Rule("2"), Rule("3"), Rule("4"), Rule("5"), Rule("6")});
        stage.setRuleModel(&rules);
        g.addFixture(fixture("A", {{3, 3, "", 0}, {6, 6, "", 0}, {1, 1, "", 0}}));
        g.addFixture(fixture("B", {{4, 4, "", 0}}));
        stage.addRecord({"A", {{"3", 3, ""}, {"6", 6, ""}, {"1", 1, ""}}, {}});
        stage.addRecord({"B", {{"4", 4, ""}}, {}});
        for (const QString sn : {"1", "3", "4", "6"}) {
            g.addUsedSN(sn);
            g.setSnFixture(sn, sn == "4" ? "B" : "A");
        }
        rules.removeRows(2, 2);
        QVERIFY(!stage.ruleRowsDeleted(2, 3));
        QCOMPARE(g.fixture("A").selectedChannels, QList<FixtureChannel>({{4, 6, "", 0}, {1, 1, "", 0}}));
        QVERIFY(g.fixture("B").selectedChannels.isEmpty());
        QCOMPARE(sorted(g.permanentlyUsedSNs()), QStringList({"1", "4"}));
        QCOMPARE(stage.records().at(0).channels, QList<SelectedChannel>({{"4", 6, ""}, {"1", 1, ""}}));
        QVERIFY(stage.records().at(1).channels.isEmpty());

        // A table left without rows asks for the warning.
        rules.removeRows(0, rules.rowCount());
        QVERIFY(stage.ruleRowsDeleted(0, 3));
        QVERIFY(g.fixture("A").selectedChannels.isEmpty());
        QVERIFY(g.permanentlyUsedSNs().isEmpty());
    }

    void insertedRow()
    {
        GlobalData g;
        FixtureStage stage(g);
        g.addFixture(fixture("A", {{5, 1, "", 0}, {9, 2, "", 0}, {2, 3, "", 0}}));
        stage.addRecord({"A", {{"5", 1, ""}, {"9", 2, ""}, {"2", 3, ""}}, {}});
        for (const QString sn : {"2", "5", "9"})
            g.addUsedSN(sn);
        stage.ruleRowInserted(5);
        QCOMPARE(g.fixture("A").selectedChannels,
                 QList<FixtureChannel>({{6, 1, "", 0}, {10, 2, "", 0}, {2, 3, "", 0}}));
        QCOMPARE(stage.records().first().channels, QList<SelectedChannel>({{"6", 1, ""}, {"10", 2, ""}, {"2", 3, ""}}));
        QCOMPARE(sorted(g.permanentlyUsedSNs()), QStringList({"10", "2", "6"}));
    }

    // A DMX cell or a remark edited: the row's channels follow, in the registry, the
    // records and the details panel. A DMX text with an alias names its channel.
    void editedCells()
    {
        GlobalData g;
        FixtureDetailsModel details;
        FixtureStage stage(g);
        RuleModel rules;
        setRules(rules, {Rule("1"), Rule("2"), Rule("3")});
        stage.setRuleModel(&rules);
        stage.setDetailsModel(&details);
        g.addFixture(fixture("A", {{2, 2, "old", 0}, {3, 3, "", 0}}));
        stage.addRecord({"A", {{"2", 2, "old"}, {"3", 3, ""}}, {}});
        details.setChannels(g.fixture("A").selectedChannels);

        stage.ruleCellChanged(1, ColDmx, "600-Spot");
        QCOMPARE(g.fixture("A").selectedChannels.first().dmxCH, 600);
        QCOMPARE(stage.records().first().channels.first().dmxCH, 600);
        QCOMPARE(details.cellText(0, FixtureDetailsModel::DmxColumn), QString("600-Spot"));
        stage.ruleCellChanged(1, ColFix, "9");  // other columns change nothing here
        QCOMPARE(g.fixture("A").selectedChannels.first().dmxCH, 600);
        stage.ruleCellChanged(1, ColDmx, "Spot");
        QCOMPARE(g.fixture("A").selectedChannels.first().dmxCH, 0);

        stage.ruleRemarkChanged(2, "back");
        QCOMPARE(g.fixture("A").selectedChannels.at(1).remark, QString("back"));
        QCOMPARE(stage.records().first().channels.at(1).remark, QString("back"));
        QCOMPARE(details.cellText(1, FixtureDetailsModel::RemarkColumn), QString("back"));

        // The full refresh reads every channel's row as the table holds it now.
        rules.setText(1, ColDmx, "7-Wash");
        rules.setText(2, ColDmx, "513");
        stage.refreshFixtureDmxChannels();
        QCOMPARE(g.fixture("A").selectedChannels.at(0).dmxCH, 7);
        QCOMPARE(g.fixture("A").selectedChannels.at(1).dmxCH, 513);
        QCOMPARE(stage.records().first().channels.at(1).dmxCH, 513);
        rules.removeRows(1, 2);
        stage.refreshFixtureDmxChannels();  // rows gone: 0
        QCOMPARE(g.fixture("A").selectedChannels.at(0).dmxCH, 0);
    }

    void removedAndEditedFixtures()
    {
        GlobalData g;
        FixtureStage stage(g);
        g.addFixture(fixture("A", {{1, 1, "", 0}}));
        g.addFixture(fixture("B", {{2, 2, "", 0}}));
        stage.addRecord({"A", {{"1", 1, ""}}, {}});
        stage.addRecord({"B", {{"2", 2, ""}, {"", 3, ""}}, {}});
        for (const QString sn : {"1", "2"})
            g.addUsedSN(sn);
        stage.removeFixture("B");
        QCOMPARE(g.fixtureNames(), QStringList({"A"}));
        QCOMPARE(sorted(g.permanentlyUsedSNs()), QStringList({"1"}));
        QCOMPARE(stage.records().size(), 1);

        stage.applyEdit("A", fixture("Z", {{1, 5, "", 0}}, 5), {{"1", 5, ""}});
        QCOMPARE(g.fixtureNames(), QStringList({"Z"}));
        QCOMPARE(stage.records().first().name, QString("Z"));
        QCOMPARE(stage.records().first().channels.first().dmxCH, 5);

        stage.resetForNewProject();
        QVERIFY(g.fixtureMap().isEmpty());
        QVERIFY(g.permanentlyUsedSNs().isEmpty());
        QVERIFY(stage.records().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFixtureProject)
#include "tst_fixtureproject.moc"
