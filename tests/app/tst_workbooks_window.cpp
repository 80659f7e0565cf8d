// The editor window's workbook commands from the File menu: a full table saved and opened
// again with its remarks and aliases, and the refusals that leave the table alone.

#include "app/ui/mainwindow.h"
#include "app/ui/widget.h"
#include "resources/resources.h"
#include "scripteddialogs.h"
#include "table/ui/aliaseditdialog.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "tempworkdir.h"
#include "windowtest.h"

#include <QAction>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace vl;
using vl::test::ScriptedDialogs;
using vl::test::TempWorkDir;

namespace {

// A table of `rows` rules (a full one unless told), with remarks on the first and the last.
void fillTable(Widget &w, int rows = kRuleRows)
{
    RuleModel *m = w.ruleModel();
    m->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        m->setText(r, ColSn, QString::number(r + 1));
        const QStringList cells = {
            QString::number(r % 1024 + 1), "Note", "60 / C3", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"};
        for (int c = 0; c < cells.size(); ++c)
            m->setText(r, ColDmx + c, cells[c]);
    }
    w.applyRemarkLines(QStringLiteral("alias0=Front\nalias%1=Last\n").arg(rows - 1).toUtf8());
}

}  // namespace

class TestWorkbooksWindow : public vl::test::WindowTest {
    Q_OBJECT

public:
    TestWorkbooksWindow() { useManualClock(); }

private:
    QTemporaryDir shared;

    // A full table as the window saves it, made once for all the tests that only open it.
    QString savedFullTable()
    {
        const QString path = shared.filePath("full.xlsx");
        if (!QFile::exists(path)) {
            Widget w;
            fillTable(w);
            dialogs->files << path;
            w.save_As_file();
            dialogs->clear();
        }
        return QFile::exists(path) ? path : QString();
    }

private slots:

    void saveAndOpenThroughTheMenu()
    {
        {
            Widget w;
            fillTable(w);  // only a full table is saved
            dialogs->files << dir->file("show");
            w.menuBarWindow()->action2->trigger();  // "Save File" asks like "Save File As..."
            QCOMPARE(dialogs->lastMessage().text, QString("Excel file saved successfully!"));
            QVERIFY(QFile::exists(dir->file("show.xlsx")));
        }

        // A second editor with an alias for channel 5 opens the workbook.
        QFile aliases("Aliases.txt");
        QVERIFY(aliases.open(QIODevice::WriteOnly));
        aliases.write("\r\n\r\n\r\n\r\nSpot\r\n");
        aliases.close();
        Widget w;
        dialogs->clear();
        dialogs->files << dir->file("show.xlsx");
        w.menuBarWindow()->action1->trigger();
        QCOMPARE(dialogs->lastMessage().title, QString("Success"));
        QCOMPARE(dialogs->lastMessage().text, QString("Excel file loaded successfully!"));
        RuleModel *m = w.ruleModel();
        QCOMPARE(m->rowCount(), kRuleRows);
        QCOMPARE(m->text(0, ColCtl), QString("60"));  // the workbook keeps the number
        QCOMPARE(w.remarkModel()->text(0, 0), QString("Front"));
        QCOMPARE(w.remarkModel()->text(3071, 0), QString("Last"));
        QCOMPARE(m->text(4, ColDmx), QString("5"));
        // 100 ms later the tick names the note again, the aliases are written again and the
        // DMX cells carry them.
        clock->advance(100);
        QCOMPARE(m->text(0, ColCtl), QString("60 / C3"));
        QCOMPARE(m->text(4, ColDmx), QString("5-Spot"));
        QVERIFY(aliases.open(QIODevice::ReadOnly));
        QCOMPARE(aliases.readAll(), QByteArray("\n\n\n\nSpot\n"));  // the same list, written again
    }

    // A workbook of more rules than the box holds keeps every remark beside its rule, and
    // a save keeps the remarks past the box's 3072 rules.
    void remarksStayBesideTheirRules()
    {
        {
            Widget w;
            RuleModel *m = w.ruleModel();
            m->setRowCount(5000);
            for (int r = 0; r < 5000; ++r) {
                m->setText(r, ColSn, QString::number(r + 1));
                m->setText(r, ColDmx, QString::number(r % 1024 + 1));
            }
            w.applyRemarkLines("alias0=Front\nalias3100=Middle\nalias4999=Last\n");
            QCOMPARE(w.remarkModel()->rowCount(), 5000);
            dialogs->files << dir->file("long.xlsx");
            w.save_As_file();
            QCOMPARE(dialogs->lastMessage().text, QString("Excel file saved successfully!"));
        }
        Widget w;
        dialogs->clear();
        dialogs->files << dir->file("long.xlsx");
        w.open_midi_file();
        QVERIFY2(dialogs->lastMessage().text.startsWith("Excel file loaded successfully!\n\nThe table now has 5000 "
                                                        "rows, and rows 3073 to 5000 hold 1928 rules;"),
                 qPrintable(dialogs->lastMessage().text));
        QCOMPARE(w.ruleModel()->rowCount(), 5000);
        QCOMPARE(w.remarkModel()->rowCount(), 5000);
        QCOMPARE(w.remarkModel()->text(0, 0), QString("Front"));
        QCOMPARE(w.remarkModel()->text(3100, 0), QString("Middle"));
        QCOMPARE(w.remarkModel()->text(4999, 0), QString("Last"));

        // A shorter workbook brings the remarks back to one per rule of the box.
        fillTable(w);
        dialogs->files << dir->file("short.xlsx");
        w.save_As_file();
        dialogs->files << dir->file("short.xlsx");
        w.open_midi_file();
        QCOMPARE(w.ruleModel()->rowCount(), kRuleRows);
        QCOMPARE(w.remarkModel()->rowCount(), kRuleRows);
        QCOMPARE(w.remarkModel()->text(3071, 0), QString("Last"));
    }

    void refusedWorkbookKeepsTheTable()
    {
        Widget w;
        fillTable(w, 3);
        QFile notWorkbook(dir->file("notes.xlsx"));
        QVERIFY(notWorkbook.open(QIODevice::WriteOnly));
        notWorkbook.write("just text");
        notWorkbook.close();
        dialogs->files << notWorkbook.fileName();
        w.open_midi_file();
        QCOMPARE(dialogs->lastMessage().title, QString("Error"));
        QCOMPARE(w.ruleModel()->rowCount(), 3);
        QCOMPARE(w.ruleModel()->text(2, ColCtl), QString("60 / C3"));
        QCOMPARE(w.remarkModel()->text(0, 0), QString("Front"));
        QCOMPARE(w.remarkModel()->text(2, 0), QString("Last"));
    }

    // A workbook named on the command line is opened as "Open File" opens it: the same
    // messages, the same table.
    void commandLineOpensAsOpenFileDoes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("workbook") << "show.xlsx" << "Excel file loaded successfully!";
        QTest::newRow("not a workbook") << "notes.xlsx" << QString();
        QTest::newRow("missing") << "missing.xlsx" << QString();
        // clang-format on
    }

    void commandLineOpensAsOpenFileDoes()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        const QString saved = savedFullTable();
        QVERIFY(!saved.isEmpty());
        QVERIFY(QFile::copy(saved, dir->file("show.xlsx")));
        QFile notWorkbook(dir->file("notes.xlsx"));
        QVERIFY(notWorkbook.open(QIODevice::WriteOnly));
        notWorkbook.write("just text");
        notWorkbook.close();

        QList<QStringList> messages;
        QList<QStringList> firstRows;
        for (const bool fromCommandLine : {false, true}) {
            Widget w;
            dialogs->clear();
            if (fromCommandLine) {
                w.openWorkbookFile(name);  // relative to the working directory
            } else {
                dialogs->files << dir->file(name);
                w.open_midi_file();
            }
            messages << dialogs->messageTexts();
            QStringList row;
            for (int c = 0; c < w.ruleModel()->columnCount() && w.ruleModel()->rowCount() > 0; ++c)
                row << w.ruleModel()->text(0, c);
            firstRows << QStringList{QString::number(w.ruleModel()->rowCount())} + row;
        }
        QCOMPARE(messages[1], messages[0]);
        QCOMPARE(firstRows[1], firstRows[0]);
        QCOMPARE(messages[1].size(), 1);
        if (!message.isEmpty())
            QCOMPARE(messages[1].first(), message);
        else
            QCOMPARE(dialogs->lastMessage().title, QString("Error"));
    }

    void saveOfAShortTableIsRefused()
    {
        Widget w;
        w.ruleModel()->setRowCount(10);
        w.save_As_file();
        QCOMPARE(dialogs->asked.size(), 1);  // no file dialog
        const MessageRequest m = dialogs->lastMessage();
        QCOMPARE(m.title, QString("Warning"));
        QCOMPARE(m.kind, MessageKind::Information);
        QCOMPARE(m.parent, nullptr);
        QCOMPARE(m.text, QString("The table has no data. Please fill in the data before saving."));
    }
};

QTEST_MAIN(TestWorkbooksWindow)
#include "tst_workbooks_window.moc"
