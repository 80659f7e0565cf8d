// Editing in the editor window as a user edits: every action undone and redone as one
// step, the unsaved-changes mark and question, a new table, the keyboard, and pasting what
// another program copied.

#include "app/ui/mainwindow.h"
#include "app/ui/widget.h"
#include "filebytes.h"
#include "recordingpreview.h"
#include "ruletables.h"
#include "scripteddialogs.h"
#include "windowtest.h"

#include "files/core/workbookio.h"
#include "files/core/xlsxdocument.h"
#include "table/core/aliases.h"
#include "table/core/aliaskeeper.h"
#include "table/core/aliasstore.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/aliaseditdialog.h"
#include "table/ui/edithistory.h"
#include "table/ui/tableviews.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QUndoStack>
#include <QtTest>

using namespace vl;

namespace {

// Everything an undo must give back.
struct EditorState {
    QList<QStringList> rules;
    QStringList remarks;
    QStringList aliases;
    bool operator==(const EditorState &o) const
    {
        return rules == o.rules && remarks == o.remarks && aliases == o.aliases;
    }
};

EditorState stateOf(Widget &w)
{
    EditorState s;
    s.rules = vl::test::tableTexts(*w.ruleModel());
    for (int r = 0; r < w.remarkModel()->rowCount(); ++r)
        s.remarks << w.remarkModel()->text(r, 0);
    s.aliases = w.aliasStore()->aliases();
    return s;
}

// Where two states differ first, for a readable failure.
QString firstDifference(const EditorState &a, const EditorState &b)
{
    if (a.rules.size() != b.rules.size())
        return QStringLiteral("rule rows %1 / %2").arg(a.rules.size()).arg(b.rules.size());
    for (int r = 0; r < a.rules.size(); ++r)
        if (a.rules[r] != b.rules[r])
            return QStringLiteral("rule row %1: %2 / %3").arg(r).arg(a.rules[r].join('|'), b.rules[r].join('|'));
    if (a.remarks != b.remarks)
        return QStringLiteral("remarks");
    if (a.aliases != b.aliases)
        return QStringLiteral("aliases");
    return QString();
}

#define COMPARE_STATE(actual, expected) QVERIFY2((actual) == (expected), qPrintable(firstDifference(actual, expected)))

// The calls that tell the preview of rows inserted or deleted.
QStringList rowShifts(vl::test::RecordingPreview &preview)
{
    QStringList shifts;
    for (const QString &call : qAsConst(preview.calls))
        if (call.startsWith("ruleRow"))
            shifts << call;
    preview.calls.clear();
    return shifts;
}

QString aliasFileText() { return QString::fromUtf8(vl::test::readFileBytes(aliasFilePath())); }

// A full sample table with remarks and two aliases, taken as saved.
void fillSample(Widget &w)
{
    vl::test::fillSampleTable(*w.ruleModel());
    w.applyRemarkLines("alias0=Front\nalias7=Back\nalias3071=Last\n");
    QStringList aliases = AliasStore::emptyList();
    aliases[0] = "Spot";
    aliases[9] = "Wash";
    w.aliasStore()->setAliases(aliases);
    w.aliasKeeper()->save();
    w.aliasKeeper()->relabelCells();
    w.editHistory()->markClean();
}

void select(MyTableView *view, int top, int left, int bottom, int right)
{
    QAbstractItemModel *m = view->model();
    view->selectionModel()->select(QItemSelection(m->index(top, left), m->index(bottom, right)),
                                   QItemSelectionModel::ClearAndSelect);
}

// A workbook of 100 rules other than the sample's, written as the editor writes them.
QString otherWorkbook()
{
    RuleModel rules;
    vl::test::fillRuleTable(rules, vl::test::sampleRuleRows(100, 2));
    RemarkModel remarks;
    remarks.setText(1, 0, QStringLiteral("from the file"));
    xlsx::Document doc;
    fillRuleWorkbook(doc, rules, remarks);
    const QString path = QFileInfo(QStringLiteral("other.xlsx")).absoluteFilePath();
    return doc.saveAs(path) ? path : QString();
}

}  // namespace

class TestEditing : public vl::test::WindowTest {
    Q_OBJECT

public:
    TestEditing() { useManualClock(); }

private:
    QList<vl::test::Asked> fileDialogs() const
    {
        QList<vl::test::Asked> list;
        for (const auto &a : dialogs->asked)
            if (a.kind == vl::test::Asked::File)
                list << a;
        return list;
    }

    // Does what a user does for `action`.
    void perform(Widget &w, const QString &action)
    {
        MyTableView *view = w.tableView();
        MainWindow *menu = w.menuBarWindow();
        if (action == "cell edit") {
            // What a cell editor commits.
            w.ruleModel()->setData(w.ruleModel()->index(5, ColFix), "77");
        } else if (action == "remark edit") {
            w.remarkModel()->setData(w.remarkModel()->index(8, 0), "new remark");
        } else if (action == "paste") {
            select(view, 0, ColDmx, 1, ColCtl);
            view->copySelection();
            view->setCurrentIndex(w.ruleModel()->index(20, ColDmx));
            view->pasteCopyBuffer();
        } else if (action == "delete key") {
            select(view, 10, ColSn, 30, ColEnable);
            view->setFocus();
            QTest::keyClick(view, Qt::Key_Delete);
        } else if (action == "drag fill, 3072 rows") {
            view->fillDownSeries(0, kRuleRows - 1, ColDmx);
        } else if (action == "insert rows") {
            select(view, 3, ColSn, 4, ColSn);
            view->insertRowsAbove();
            view->renumberSn();
        } else if (action == "delete rows, move up") {
            select(view, 3, ColSn, 6, ColSn);
            view->deleteRowsMoveUp();
            view->renumberSn();
        } else if (action == "delete selected rows") {
            select(view, 2, ColSn, 2, ColSn);
            view->selectionModel()->select(w.ruleModel()->index(10, ColSn), QItemSelectionModel::Select);
            view->deleteSelectedRows();
            view->renumberSn();
        } else if (action == "clear") {
            dialogs->buttons << QMessageBox::Ok;
            w.on_clearButton_clicked();
        } else if (action == "alias dialog OK") {
            dialogs->onDialog = [](QDialog *d) {
                auto *dialog = static_cast<AliasEditDialog *>(d);
                QStringList aliases = dialog->getAliases();
                aliases[0] = "Renamed";
                aliases[4] = "Strobe";
                dialog->setAliases(aliases);
                dialog->onOkClicked();
                return int(QDialog::Accepted);
            };
            menu->actionDmx_Rname->trigger();
        } else if (action == "open file") {
            dialogs->files << otherWorkbook();
            menu->action1->trigger();
        } else if (action == "new table") {
            dialogs->buttons << QMessageBox::Discard;  // the sample counts as saved; asked only if not
            menu->actionNew->trigger();
        } else {
            QFAIL(qPrintable("unknown action " + action));
        }
        // Queued work (Clear, the change notifications) and the ticks that follow an edit.
        QCoreApplication::processEvents();
        clock->advance(200);
        QCoreApplication::processEvents();
    }

private slots:
    // Each action is done, undone and redone. The rows an action inserts or deletes are
    // deleted or inserted again in the preview by an undo, so its fixtures keep their rules.
    void eachActionIsOneStep_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("undoText");
        QTest::addColumn<QStringList>("undoneRows");
        const QStringList none;
        // clang-format off
        QTest::newRow("cell edit") << "cell edit" << "&Undo Edit" << none;
        QTest::newRow("remark edit") << "remark edit" << "&Undo Edit" << none;
        QTest::newRow("paste") << "paste" << "&Undo Paste" << none;
        QTest::newRow("Delete") << "delete key" << "&Undo Delete" << none;
        QTest::newRow("drag fill") << "drag fill, 3072 rows" << "&Undo Fill Down" << none;
        QTest::newRow("insert rows") << "insert rows" << "&Undo Insert Rows"
                                     << QStringList{"ruleRowsDeleted 3 4"};
        QTest::newRow("delete rows and move up") << "delete rows, move up" << "&Undo Delete Rows"
                                                 << QStringList{"ruleRowInserted 4", "ruleRowInserted 5",
                                                                "ruleRowInserted 6", "ruleRowInserted 7"};
        QTest::newRow("delete selected rows") << "delete selected rows" << "&Undo Delete Selected Rows" << none;
        QTest::newRow("Clear") << "clear" << "&Undo Clear" << none;
        QTest::newRow("alias dialog") << "alias dialog OK" << "&Undo Edit Aliases" << none;
        QTest::newRow("Open File") << "open file" << "&Undo Open File" << none;
        QTest::newRow("New Table") << "new table" << "&Undo New Table" << none;
        // clang-format on
    }
    void eachActionIsOneStep()
    {
        QFETCH(QString, action);
        QFETCH(QString, undoText);
        QFETCH(QStringList, undoneRows);
        vl::test::RecordingPreview preview;
        Widget w(&preview);
        w.show();
        fillSample(w);
        clock->advance(200);  // the controller pass settles the sample
        const EditorState before = stateOf(w);
        const QString aliasFileBefore = aliasFileText();
        QUndoStack *stack = w.editHistory()->stack();
        const int steps = stack->count();
        QVERIFY(!w.menuBarWindow()->actionUndo->isEnabled() || stack->index() == steps);

        rowShifts(preview);
        perform(w, action);
        const QStringList doneRows = rowShifts(preview);
        const EditorState after = stateOf(w);
        QVERIFY2(!(after == before), "the action changed nothing");
        QCOMPARE(stack->count(), steps + 1);
        QCOMPARE(w.menuBarWindow()->actionUndo->text(), undoText);
        QVERIFY(w.menuBarWindow()->actionUndo->isEnabled());
        QVERIFY(!w.menuBarWindow()->actionRedo->isEnabled());
        const QString aliasFileAfter = aliasFileText();

        w.menuBarWindow()->actionUndo->trigger();
        clock->advance(200);
        QCoreApplication::processEvents();
        COMPARE_STATE(stateOf(w), before);
        QCOMPARE(aliasFileText(), aliasFileBefore);
        QCOMPARE(rowShifts(preview), undoneRows);
        QCOMPARE(w.menuBarWindow()->actionRedo->text(), QString(undoText).replace("&Undo", "&Redo"));
        QCOMPARE(stack->count(), steps + 1);  // the pass after the undo is no step

        w.menuBarWindow()->actionRedo->trigger();
        clock->advance(200);
        QCoreApplication::processEvents();
        COMPARE_STATE(stateOf(w), after);
        QCOMPARE(aliasFileText(), aliasFileAfter);
        QCOMPARE(rowShifts(preview), doneRows);
        QCOMPARE(stack->count(), steps + 1);
    }

    // The title shows "*" while the table differs from what was saved, and the controller
    // pass's own rewrites are no change of the user's.
    void titleMarksUnsavedChanges()
    {
        Widget w;
        w.show();
        QCOMPARE(w.windowTitle(), QString("Varilume"));
        fillSample(w);
        QCOMPARE(w.windowTitle(), QString("Varilume"));

        w.ruleModel()->setData(w.ruleModel()->index(0, ColCtl), "64");  // the pass names the note
        QCoreApplication::processEvents();
        clock->advance(200);
        QCOMPARE(w.ruleModel()->text(0, ColCtl), QString("64 / E3"));
        QCOMPARE(w.windowTitle(), QString("Varilume*"));
        QCOMPARE(w.editHistory()->stack()->count(), 2);

        const QString path = QFileInfo("saved.xlsx").absoluteFilePath();
        dialogs->files << path;
        w.menuBarWindow()->action2->trigger();
        QCOMPARE(fileDialogs().last().file.directory, QString("untitled.xlsx"));
        QCOMPARE(w.windowTitle(), QString("Varilume"));
        QCOMPARE(w.workbookPath(), path);

        // Save File proposes the workbook it saved.
        w.ruleModel()->setData(w.ruleModel()->index(1, ColFix), "9");
        QCoreApplication::processEvents();
        QCOMPARE(w.windowTitle(), QString("Varilume*"));
        dialogs->files << path;
        w.menuBarWindow()->action2->trigger();
        QCOMPARE(fileDialogs().last().file.directory, path);
        QCOMPARE(w.windowTitle(), QString("Varilume"));

        // Undone past the save, the table differs again; redone, it is the saved one.
        w.editHistory()->undo();
        QCOMPARE(w.windowTitle(), QString("Varilume*"));
        w.editHistory()->redo();
        QCOMPARE(w.windowTitle(), QString("Varilume"));
    }

    void closeWithUnsavedChanges_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("saved");
        // clang-format off
        QTest::newRow("Save") << int(QMessageBox::Save) << true << true;
        QTest::newRow("Discard") << int(QMessageBox::Discard) << true << false;
        QTest::newRow("Cancel") << int(QMessageBox::Cancel) << false << false;
        QTest::newRow("box closed without a choice") << int(QMessageBox::NoButton) << false << false;
        // clang-format on
    }
    void closeWithUnsavedChanges()
    {
        QFETCH(int, answer);
        QFETCH(bool, closed);
        QFETCH(bool, saved);
        Widget w;
        w.show();
        fillSample(w);
        w.ruleModel()->setData(w.ruleModel()->index(2, ColFix), "5");
        dialogs->buttons << QMessageBox::StandardButton(answer);
        const QString path = QFileInfo("kept.xlsx").absoluteFilePath();
        dialogs->files << path;
        QCOMPARE(w.close(), closed);
        QCOMPARE(dialogs->messageTexts().first(),
                 QString("The rule table has changes that are not saved.\nDo you want to save them?"));
        QCOMPARE(dialogs->asked.first().message.buttons,
                 QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        QCOMPARE(QFile::exists(path), saved);
        QCOMPARE(w.isVisible(), !closed);
    }

    // Exit asks its own question only when nothing is unsaved; otherwise only the
    // unsaved-changes question. A clean window closes without a word.
    void exitAsksOnce()
    {
        {
            Widget w;
            w.show();
            QVERIFY(w.close());
            QVERIFY(dialogs->asked.isEmpty());
        }
        {
            Widget w;
            w.show();
            dialogs->buttons << QMessageBox::Ok;
            w.menuBarWindow()->action4->trigger();
            QCOMPARE(dialogs->messageTexts(), QStringList{"Exit software?"});
            QVERIFY(!w.isVisible());
        }
        dialogs->clear();
        {
            Widget w;
            w.show();
            fillSample(w);
            w.remarkModel()->setData(w.remarkModel()->index(0, 0), "changed");
            dialogs->buttons << QMessageBox::Discard;
            w.menuBarWindow()->action4->trigger();
            QCOMPARE(dialogs->messageTexts(),
                     QStringList{"The rule table has changes that are not saved.\nDo you want to save them?"});
            QVERIFY(!w.isVisible());
        }
    }

    // A new table works without a box or a workbook, and saves whole.
    void newTableSavesAndReopensWhole()
    {
        const QString path = QFileInfo("fresh.xlsx").absoluteFilePath();
        {
            Widget w;
            w.show();
            w.menuBarWindow()->actionNew->trigger();
            QVERIFY(dialogs->asked.isEmpty());  // nothing to lose yet
            QCOMPARE(w.ruleModel()->rowCount(), kRuleRows);
            QCOMPARE(w.ruleModel()->text(kRuleRows - 1, ColSn), QString::number(kRuleRows));
            QVERIFY(w.ruleModel()->isRuleRowEmpty(0));
            QCOMPARE(w.windowTitle(), QString("Varilume*"));
            w.tableView()->fillDownSeries(-1, -1, ColDmx);  // harmless
            w.ruleModel()->setData(w.ruleModel()->index(0, ColDmx), "3");
            w.tableView()->fillDownSeries(0, 9, ColDmx);
            QCOMPARE(w.ruleModel()->text(9, ColDmx), QString("12"));
            dialogs->files << path;
            w.menuBarWindow()->action2->trigger();
            QCOMPARE(dialogs->lastMessage().title, QString("Success"));
        }
        dialogs->clear();
        Widget w;
        dialogs->files << path;
        w.menuBarWindow()->action1->trigger();
        QCOMPARE(dialogs->lastMessage().text, QString("Excel file loaded successfully!"));
        QCOMPARE(w.ruleModel()->rowCount(), kRuleRows);
        QCOMPARE(w.ruleModel()->text(kRuleRows - 1, ColSn), QString::number(kRuleRows));
        QCOMPARE(w.ruleModel()->text(9, ColDmx), QString("12"));
        QCOMPARE(w.windowTitle(), QString("Varilume"));

        // With unsaved changes, New Table asks first; Cancel keeps the table.
        w.ruleModel()->setData(w.ruleModel()->index(0, ColDmx), "5");
        dialogs->buttons << QMessageBox::Cancel;
        w.menuBarWindow()->actionNew->trigger();
        QCOMPARE(w.ruleModel()->text(0, ColDmx), QString("5"));
        QCOMPARE(w.ruleModel()->text(9, ColDmx), QString("12"));
    }

    // The shortcuts reach the window's actions from the table.
    void keyboardUndoAndRedo()
    {
        Widget w;
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        fillSample(w);
        const EditorState before = stateOf(w);
        w.ruleModel()->setData(w.ruleModel()->index(4, ColFix), "33");
        QCoreApplication::processEvents();
        const EditorState after = stateOf(w);
        w.tableView()->setFocus();
        QTest::keyClick(w.tableView(), Qt::Key_Z, Qt::ControlModifier);
        COMPARE_STATE(stateOf(w), before);
        QTest::keyClick(w.tableView(), Qt::Key_Y, Qt::ControlModifier);
        COMPARE_STATE(stateOf(w), after);
        QTest::keyClick(w.tableView(), Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(w.tableView(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        COMPARE_STATE(stateOf(w), after);
    }

    // Text from a spreadsheet is checked as Set checks rules.
    void pasteFromASpreadsheet()
    {
        Widget w;
        w.show();
        fillSample(w);
        const EditorState before = stateOf(w);
        QGuiApplication::clipboard()->setText("7\tNote\t60\n8\tCC\t999\n");
        w.tableView()->setCurrentIndex(w.ruleModel()->index(4, ColDmx));
        w.tableView()->pasteCopyBuffer();
        QCOMPARE(dialogs->lastMessage().text,
                 QString("Row 6, column \"Controller\": \"999\" is not a valid value.\n\nNothing was pasted."));
        COMPARE_STATE(stateOf(w), before);

        QGuiApplication::clipboard()->setText("7\tNote\t60\n8\tCC\t99\n");
        w.tableView()->pasteCopyBuffer();
        QCOMPARE(w.ruleModel()->text(4, ColDmx), QString("7"));
        QCOMPARE(w.ruleModel()->text(5, ColCtl), QString("99"));
        clock->advance(200);
        QCOMPARE(w.ruleModel()->text(4, ColCtl), QString("60 / C3"));
        w.editHistory()->undo();
        COMPARE_STATE(stateOf(w), before);
    }
};

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
