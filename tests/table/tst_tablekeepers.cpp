// What the editor window drives without widgets on the rule table: the controller pass on
// its tick, the DMX channel aliases with their file and labels, rows inserted as read from
// the box, and how all of them keep their own changes out of the edit history.

#include "common/core/scheduler.h"
#include "filebytes.h"
#include "table/core/aliases.h"
#include "table/core/aliaskeeper.h"
#include "table/core/aliasstore.h"
#include "table/core/controllerpass.h"
#include "table/core/editsteps.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"
#include "tempworkdir.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace vl;
using namespace vl::test;

namespace {

// Records the steps and the program's own changes.
class RecordingSteps : public EditSteps {
public:
    QStringList calls;
    bool open = false;
    int automatic = 0;

    void beginStep(const QString &name) override
    {
        calls << "begin " + name;
        open = true;
    }
    void endStep() override
    {
        calls << "end";
        open = false;
    }
    bool stepOpen() const override { return open; }
    void markClean() override { calls << "clean"; }

protected:
    void beginAutomatic() override
    {
        calls << "automatic";
        ++automatic;
    }
    void endAutomatic() override { --automatic; }
};

}  // namespace

class TestTableKeepers : public QObject {
    Q_OBJECT

    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<ManualScheduler> clock;

private slots:
    void init()
    {
        dir = std::make_unique<TempWorkDir>();
        clock = std::make_unique<ManualScheduler>();
        installScheduler(clock.get());
    }
    void cleanup()
    {
        installScheduler(nullptr);
        clock.reset();
        dir.reset();
    }

    // The pass looks only at rows changed since the last one, writes nothing on a settled
    // table, and looks at every row again under a new naming.
    void controllerPass()
    {
        RuleModel rules;
        rules.setRowCount(3);
        rules.setText(0, ColSta, "Note");
        rules.setText(0, ColCtl, "60");
        rules.setText(1, ColSta, "CC");
        rules.setText(1, ColCtl, "7 / G-1");
        RecordingSteps steps;
        ControllerPass pass(rules);
        pass.setSteps(&steps);
        QCOMPARE(pass.naming(), 2);

        pass.run();  // the first pass looks at every row
        QCOMPARE(rules.text(0, ColCtl), QString("60 / C4"));
        QCOMPARE(rules.text(1, ColCtl), QString("7"));
        QCOMPARE(steps.calls, QStringList({"automatic"}));  // no step of its own
        QCOMPARE(steps.automatic, 0);

        QSignalSpy written(&rules, &QAbstractItemModel::dataChanged);
        pass.run();
        pass.runOverAll();
        QCOMPARE(written.count(), 0);

        // A row changed behind the pass's back is looked at on the next tick.
        rules.setText(2, ColSta, "AT");
        rules.setText(2, ColCtl, "61");
        written.clear();
        pass.run();
        QCOMPARE(rules.text(2, ColCtl), QString("61 / C#4"));
        QCOMPARE(written.count(), 1);

        // A new naming: plain numbers get the new names at the next pass, named ones when
        // the notes are renamed.
        rules.setText(2, ColCtl, "62");
        pass.run();
        pass.setNaming(3);
        rules.setText(2, ColCtl, "62");
        pass.run();
        QCOMPARE(rules.text(2, ColCtl), QString("62 / D5"));
        QCOMPARE(rules.text(0, ColCtl), QString("60 / C4"));
        pass.renameNotes();
        QCOMPARE(rules.text(0, ColCtl), QString("60 / C5"));
        QCOMPARE(rules.text(1, ColCtl), QString("7"));
        QCOMPARE(steps.automatic, 0);
        QVERIFY(steps.calls.filter("begin").isEmpty());
    }

    // Around a read from the box the list is emptied at once but the file only once the
    // table has arrived; a failed read gives the list back and the file was never touched.
    void aliasesAroundARead()
    {
        QVERIFY(writeFileBytes(aliasFilePath(), "\n\n\n\nSpot\n"));
        RuleModel rules;
        rules.setRowCount(2);
        rules.setText(0, ColDmx, "5");
        rules.setText(1, ColDmx, "4-Old");
        RecordingSteps steps;
        AliasKeeper keeper(rules);
        keeper.setSteps(&steps);
        QSignalSpy problems(&keeper, &AliasKeeper::problem);
        QVERIFY(!keeper.labelTimer()->isActive());

        QVERIFY(keeper.load());
        QCOMPARE(keeper.store()->alias(5), QString("Spot"));
        QVERIFY(keeper.labelTimer()->isActive());
        QCOMPARE(keeper.labelTimer()->interval(), 100);
        keeper.relabelCells();
        QCOMPARE(rules.text(0, ColDmx), QString("5-Spot"));
        QCOMPARE(rules.text(1, ColDmx), QString("4"));
        QCOMPARE(steps.calls, QStringList({"automatic"}));

        const QStringList loaded = keeper.store()->aliases();
        keeper.beginRead();
        QVERIFY(!keeper.labelTimer()->isActive());
        QCOMPARE(keeper.store()->aliases(), AliasStore::emptyList());
        QCOMPARE(readFileBytes(aliasFilePath()), QByteArray("\n\n\n\nSpot\n"));
        keeper.restore(loaded);
        QCOMPARE(keeper.store()->alias(5), QString("Spot"));
        QVERIFY(keeper.labelTimer()->isActive());
        QCOMPARE(readFileBytes(aliasFilePath()), QByteArray("\n\n\n\nSpot\n"));

        keeper.beginRead();
        keeper.finishRead();
        QCOMPARE(readFileBytes(aliasFilePath()), QByteArray(kDmxChannels, '\n'));
        QVERIFY(keeper.labelTimer()->isActive());
        QCOMPARE(rules.text(0, ColDmx), QString("5"));

        // A workbook import keeps the list: it is written again and shown on the new rows
        // at the label timer's next tick.
        keeper.store()->setAliases(loaded);
        QVERIFY(QFile::remove(aliasFilePath()));
        keeper.keepAfterImport();
        QVERIFY(!QFileInfo::exists(aliasFilePath()));
        clock->advance(100);
        QCOMPARE(readFileBytes(aliasFilePath()), QByteArray("\n\n\n\nSpot\n"));
        QCOMPARE(rules.text(0, ColDmx), QString("5-Spot"));
        QCOMPARE(problems.count(), 0);
    }

    // What stands under the file's name decides what the keeper can do; it says so, and the
    // list it has stays.
    void aliasFileProblems()
    {
        RuleModel rules;
        AliasKeeper keeper(rules);
        QSignalSpy problems(&keeper, &AliasKeeper::problem);
        QVERIFY(QDir().mkdir(aliasFilePath()));
        QVERIFY(!keeper.load());
        QVERIFY(!keeper.save());
        QCOMPARE(problems.count(), 2);
        QCOMPARE(problems.at(0).at(0).toString(), QString("Cannot open file for reading."));
        QCOMPARE(problems.at(1).at(0).toString(), QString("Cannot open file for writing."));
        QVERIFY(!keeper.labelTimer()->isActive());
        QCOMPARE(keeper.store()->aliases(), AliasStore::emptyList());
    }

    // Rows read from the box go in whole, also past the end of a shorter table, with a fixed
    // "SN"; rows given back keep what they had.
    void rowsInsertedAsRead()
    {
        RuleModel rules;
        QSignalSpy inserted(&rules, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&rules, &QAbstractItemModel::dataChanged);
        insertUploadedRow(rules, 5, {"6"});
        insertUploadedRow(rules, 0, {"1", "1", "CC", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON"});
        insertUploadedRow(rules, 1, {});
        rules.insertRuleRow(2, {"3", "", "Note"}, false);
        QCOMPARE(rules.rowCount(), 3);
        QCOMPARE(inserted.count(), 3);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(rules.text(1, ColSn), QString("6"));
        QVERIFY(rules.isRuleRowEmpty(1));
        QCOMPARE(rules.text(0, ColEnable), QString("ON"));
        QVERIFY(rules.isSnLocked(0));
        QVERIFY(rules.isSnLocked(1));
        QVERIFY(!rules.isSnLocked(2));
        QVERIFY(rules.isEmptyCell(2, ColDmx));
        QCOMPARE(rules.text(2, ColSta), QString("Note"));
        QCOMPARE(rules.headerData(ColEnable, Qt::Horizontal).toString(), QString("Enable"));
    }

    // A step guard inside an open step adds to it; without a history nothing happens.
    void stepGuards()
    {
        RecordingSteps steps;
        {
            const EditSteps::Step outer(&steps, "Read");
            const EditSteps::Step inner(&steps, "Edit");
            const EditSteps::Automatic automatic(&steps);
        }
        QCOMPARE(steps.calls, QStringList({"begin Read", "automatic", "end"}));
        QCOMPARE(steps.automatic, 0);
        const EditSteps::Step none(nullptr, "Read");
        const EditSteps::Automatic nothing(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestTableKeepers)
#include "tst_tablekeepers.moc"
