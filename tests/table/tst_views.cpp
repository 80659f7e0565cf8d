// The rule view and the remark view driven with the mouse and the keyboard: drag fill,
// row commands of the "SN" column, copy and paste, Delete, focus and scrolling.

#define QTEST_QPA_MOUSE_HANDLING  // mouse moves reach the views as real events
#include "viewfixture.h"

#include "scripteddialogs.h"

#include "table/core/aliasstore.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

using namespace vl;
using vl::test::sampleRemark;
using vl::test::sampleRule;
using vl::test::ViewFixture;

namespace {

const QStringList kEmptyRule = QStringList({"", "", "", "", "", "", "", "", ""});

void drag(QWidget *viewport, QPoint from, QPoint to)
{
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport, (from + to) / 2);
    QTest::mouseMove(viewport, to);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
}

QMenu *openRowMenu(ViewFixture &f, int row, int column = ColSn)
{
    QTest::mouseClick(f.view->viewport(), Qt::RightButton, {}, f.cell(row, column));
    return f.view->contextMenu();
}

void chooseEntry(QMenu *menu, const QString &text)
{
    QAction *entry = nullptr;
    for (QAction *a : menu->actions())
        if (a->text() == text)
            entry = a;
    QVERIFY2(entry, qPrintable(text));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(entry).center());
    QCoreApplication::processEvents();  // the renumbering follows the menu
}

// Row contents of a full sample table after rows have moved: row `row` holds sample `from`.
void expectSample(const ViewFixture &f, int row, int from)
{
    QCOMPARE(f.rule(row), sampleRule(from));
    QCOMPARE(f.remarks.text(row, 0), sampleRemark(from));
}

void expectEmpty(const ViewFixture &f, int row)
{
    QVERIFY2(f.rules.isRuleRowEmpty(row), qPrintable(QString::number(row)));
    QVERIFY(f.remarks.isEmptyCell(row, 0));
}

}  // namespace

class TestViews : public QObject {
    Q_OBJECT

private slots:
    void dragFill_data()
    {
        QTest::addColumn<QStringList>("pressed");  // rule of row 2
        QTest::addColumn<QStringList>("next");     // rule of row 3 before the drag
        QTest::addColumn<int>("pressColumn");
        QTest::addColumn<int>("releaseRow");
        QTest::addColumn<int>("releaseColumn");
        QTest::addColumn<QStringList>("aliases");
        QTest::addColumn<QList<QStringList>>("expected");  // rules of rows 3, 4, …

        const QStringList rule = {"10", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"};
        // clang-format off
        QTest::newRow("DMX series over three empty rows")
            << rule << QStringList() << int(ColDmx) << 5 << int(ColDmx) << QStringList()
            << QList<QStringList>{{"11", "CC", "8", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"},
                                  {"12", "CC", "9", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"},
                                  {"13", "CC", "10", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"},
                                  kEmptyRule};
        QTest::newRow("controller 127 continues with 0")
            << QStringList({"5", "CC", "127", "3", "OFF", "OFF", "OFF", "OFF", "ON"}) << QStringList()
            << int(ColCtl) << 4 << int(ColCtl) << QStringList()
            << QList<QStringList>{{"6", "CC", "0", "3", "OFF", "OFF", "OFF", "OFF", "ON"},
                                  {"7", "CC", "1", "3", "OFF", "OFF", "OFF", "OFF", "ON"}};
        QTest::newRow("DMX 1024 continues with 1, notes keep their names")
            << QStringList({"1024", "Note", "60 / C4", "ALL", "OFF", "2", "3", "ON", "OFF"}) << QStringList()
            << int(ColDmx) << 3 << int(ColDmx) << QStringList()
            << QList<QStringList>{{"1", "Note", "61 / C#4", "ALL", "OFF", "2", "3", "ON", "OFF"}, kEmptyRule};
        QTest::newRow("note 127 continues with note 0")
            << QStringList({"9", "AT", "127 / G9", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"}) << QStringList()
            << int(ColCtl) << 3 << int(ColCtl) << QStringList()
            << QList<QStringList>{{"10", "AT", "0 / C-1", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"}};
        QTest::newRow("a row holding data gets the dragged column only")
            << rule << QStringList({QString(), "Note", QString(), "5"}) << int(ColDmx) << 3 << int(ColDmx)
            << QStringList() << QList<QStringList>{{"11", "Note", "", "5", "", "", "", "", ""}, kEmptyRule};
        QTest::newRow("aliases are carried along")
            << QStringList({"10-Par", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"}) << QStringList()
            << int(ColDmx) << 4 << int(ColDmx) << QStringList({"", "", "", "", "", "", "", "", "", "Par", "Spot"})
            << QList<QStringList>{{"11-Spot", "CC", "8", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"},
                                  {"12", "CC", "9", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"}};
        QTest::newRow("a fixed column is repeated")
            << rule << QStringList() << int(ColFix) << 3 << int(ColFix) << QStringList()
            << QList<QStringList>{{"11", "CC", "8", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"}, kEmptyRule};
        QTest::newRow("released above the pressed row")
            << rule << QStringList() << int(ColDmx) << 0 << int(ColDmx) << QStringList()
            << QList<QStringList>{kEmptyRule};
        QTest::newRow("released too far to the right")
            << rule << QStringList() << int(ColDmx) << 5 << int(ColFix) << QStringList()
            << QList<QStringList>{kEmptyRule, kEmptyRule, kEmptyRule};
        QTest::newRow("dragged in the SN column")
            << rule << QStringList() << int(ColSn) << 5 << int(ColSn) << QStringList()
            << QList<QStringList>{kEmptyRule, kEmptyRule, kEmptyRule};
        QTest::newRow("pressed on an empty cell")
            << QStringList({"10", "CC", "7"}) << QStringList() << int(ColCh) << 5 << int(ColCh) << QStringList()
            << QList<QStringList>{kEmptyRule, kEmptyRule, kEmptyRule};
        // clang-format on
    }
    void dragFill()
    {
        QFETCH(QStringList, pressed);
        QFETCH(QStringList, next);
        QFETCH(int, pressColumn);
        QFETCH(int, releaseRow);
        QFETCH(int, releaseColumn);
        QFETCH(QStringList, aliases);
        QFETCH(QList<QStringList>, expected);

        ViewFixture f(12);
        AliasStore aliasSource;
        aliasSource.setAliases(aliases);
        f.view->setAliasSource(&aliasSource);
        f.setRule(2, pressed);
        f.setRule(3, next);

        drag(f.view->viewport(), f.cell(2, pressColumn), f.cell(releaseRow, releaseColumn));
        QCOMPARE(f.view->viewport()->cursor().shape(), Qt::ArrowCursor);
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(f.rule(3 + i), expected[i]);
        QCOMPARE(f.rule(2).mid(0, pressed.size()), pressed);
    }

    void dragShowsResizeCursor()
    {
        ViewFixture f(12);
        QWidget *viewport = f.view->viewport();
        QTest::mousePress(viewport, Qt::LeftButton, {}, f.cell(2, ColDmx));
        QTest::mouseMove(viewport, f.cell(4, ColDmx));
        QCOMPARE(viewport->cursor().shape(), Qt::SizeFDiagCursor);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, f.cell(4, ColDmx));
        QCOMPARE(viewport->cursor().shape(), Qt::ArrowCursor);
    }

    // A table of the box's 3072 rows keeps them, its last rows falling off; a longer one
    // (from a workbook) grows and loses nothing.
    void insertRowsAbove_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("rowsAfter");
        QTest::newRow("3072 rows") << kRuleRows << kRuleRows;
        QTest::newRow("3076 rows") << kRuleRows + 4 << kRuleRows + 7;
    }
    void insertRowsAbove()
    {
        QFETCH(int, rows);
        QFETCH(int, rowsAfter);
        ViewFixture f(rows, ViewFixture::Full);
        QSignalSpy inserted(f.view, &MyTableView::send_startrow);
        drag(f.view->viewport(), f.cell(5, ColSn), f.cell(7, ColSn));  // selects rows 5 … 7
        chooseEntry(openRowMenu(f, 6), "Insert rows above");

        QCOMPARE(f.rules.rowCount(), rowsAfter);
        QCOMPARE(f.remarks.rowCount(), rowsAfter);
        for (int r = 0; r < 5; ++r)
            expectSample(f, r, r);
        for (int r = 5; r <= 7; ++r)
            expectEmpty(f, r);
        for (int r = 8; r < rowsAfter; ++r)
            expectSample(f, r, r - 3);  // of 3072 rows, samples 3069 … 3071 are gone
        for (int r = 0; r < rowsAfter; ++r)
            QCOMPARE(f.rules.text(r, ColSn), QString::number(r + 1));
        // One signal per inserted row, so that followers move by three rows.
        QCOMPARE(inserted.count(), 3);
        QCOMPARE(inserted.at(0).at(0).toInt(), 5);
        QCOMPARE(inserted.at(2).at(0).toInt(), 7);
        QVERIFY(!f.view->contextMenu());
    }

    void deleteAndMoveUp()
    {
        ViewFixture f(kRuleRows, ViewFixture::Full);
        QSignalSpy deleted(f.view, &MyTableView::send_start_ad_strow);
        drag(f.view->viewport(), f.cell(5, ColSn), f.cell(6, ColSn));
        chooseEntry(openRowMenu(f, 5), "Delete the current rows and move the next row up");

        QCOMPARE(f.rules.rowCount(), kRuleRows);
        for (int r = 0; r < 5; ++r)
            expectSample(f, r, r);
        for (int r = 5; r < kRuleRows - 2; ++r)
            expectSample(f, r, r + 2);
        expectEmpty(f, kRuleRows - 2);
        expectEmpty(f, kRuleRows - 1);
        for (int r = 0; r < kRuleRows; ++r)
            QCOMPARE(f.rules.text(r, ColSn), QString::number(r + 1));
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(deleted.first(), QVariantList({5, 6}));
    }

    void deleteSelectedRows_data()
    {
        QTest::addColumn<int>("clicked");
        QTest::addColumn<int>("ctrlClicked");
        // clang-format off
        QTest::newRow("rows 2 and 10") << 2 << 10;
        QTest::newRow("row 10, then row 2") << 10 << 2;
        // clang-format on
    }
    void deleteSelectedRows()
    {
        QFETCH(int, clicked);
        QFETCH(int, ctrlClicked);
        ViewFixture f(40);
        f.fillFull();
        QSignalSpy inserted(f.view, &MyTableView::send_startrow);
        QSignalSpy deleted(f.view, &MyTableView::send_start_ad_strow);
        QTest::mouseClick(f.view->viewport(), Qt::LeftButton, {}, f.cell(clicked, ColSn));
        QTest::mouseClick(f.view->viewport(), Qt::LeftButton, Qt::ControlModifier, f.cell(ctrlClicked, ColSn));
        chooseEntry(openRowMenu(f, 10), "Delete selected rows");

        // Exactly the two chosen rows: rows 3 … 9 between them keep their rules.
        for (int r = 0; r < 40; ++r) {
            if (r == 2 || r == 10)
                expectEmpty(f, r);
            else
                expectSample(f, r, r);
            QCOMPARE(f.rules.text(r, ColSn), QString::number(r + 1));
        }
        QCOMPARE(inserted.count() + deleted.count(), 0);
    }

    void rowMenuOnlyOnSnColumn()
    {
        ViewFixture f(10);
        QVERIFY(!openRowMenu(f, 3, ColSta));
        QMenu *menu = openRowMenu(f, 3);
        QVERIFY(menu);
        QStringList entries;
        for (QAction *a : menu->actions())
            entries << a->text();
        QCOMPARE(entries, QStringList({"Insert rows above", "Delete the current rows and move the next row up",
                                       "Delete selected rows"}));
        // Closed without a choice, the menu still renumbers the rows.
        f.rules.setText(4, ColSn, "x");
        menu->close();
        QTRY_VERIFY(!f.view->contextMenu());
        QCOMPARE(f.rules.text(4, ColSn), QString("5"));
    }

    void copyAndPaste_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QList<QStringList>>("expected");  // rules of rows row, row + 1 after pasting
        // clang-format off
        QTest::newRow("current cell in column 0")
            << 5 << 0 << QList<QStringList>{{"20", "CC", "", "", "", "", "", "", ""}, {"21", "AT", "", "", "", "", "", "", ""}};
        QTest::newRow("current cell in column 8: the third column falls outside")
            << 5 << 8 << QList<QStringList>{{"", "", "", "", "", "", "", "1", "20"}, {"", "", "", "", "", "", "", "2", "21"}};
        QTest::newRow("current cell on the last row") << 9 << 1 << QList<QStringList>{{"1", "20", "CC", "", "", "", "", "", ""}};
        // clang-format on
    }
    void copyAndPaste()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QList<QStringList>, expected);
        ViewFixture f(10);
        f.setRule(0, {"20", "CC", "7"});
        f.setRule(1, {"21", "AT", "8 / G#-1"});

        // Nothing copied yet: pasting changes nothing.
        QGuiApplication::clipboard()->clear();
        f.view->setCurrentIndex(f.rules.index(row, column));
        QTest::keySequence(f.view, QKeySequence::Paste);
        QVERIFY(f.rules.isRuleRowEmpty(row));

        // The 2 × 3 block of SN, DMX and Sta of rows 0 and 1.
        f.view->selectionModel()->select(QItemSelection(f.rules.index(0, ColSn), f.rules.index(1, ColSta)),
                                         QItemSelectionModel::ClearAndSelect);
        QTest::keySequence(f.view, QKeySequence::Copy);
        QCOMPARE(f.view->copyBuffer(), QList<QStringList>({{"1", "20", "CC"}, {"2", "21", "AT"}}));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("1\t20\tCC\n2\t21\tAT"));

        f.view->setCurrentIndex(f.rules.index(row, column));
        QTest::keySequence(f.view, QKeySequence::Paste);
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(f.rule(row + i), expected[i]);
        QCOMPARE(f.rules.text(row, ColSn), QString::number(row + 1));
        QCOMPARE(f.rules.rowCount(), 10);
    }

    void parseCopiedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<QStringList>>("expected");
        // clang-format off
        QTest::newRow("rows by line, cells by tab") << "1\tCC\n2\tAT" << QList<QStringList>{{"1", "CC"}, {"2", "AT"}};
        QTest::newRow("CR LF and a last line break") << "1\tCC\r\n2\tAT\r\n"
                                                     << QList<QStringList>{{"1", "CC"}, {"2", "AT"}};
        QTest::newRow("empty cells stay in place") << "\t5\t\n" << QList<QStringList>{{"", "5", ""}};
        QTest::newRow("quoted cell with tab, line break and quote")
            << "\"a\tb\nc \"\"d\"\"\"\tx" << QList<QStringList>{{"a\tb\nc \"d\"", "x"}};
        QTest::newRow("quote inside a cell is a character") << "5\"\t6" << QList<QStringList>{{"5\"", "6"}};
        QTest::newRow("unterminated quote runs to the end") << "\"abc\tdef" << QList<QStringList>{{"abc\tdef"}};
        QTest::newRow("nothing") << "" << QList<QStringList>{};
        // clang-format on
    }
    void parseCopiedText()
    {
        QFETCH(QString, text);
        QFETCH(QList<QStringList>, expected);
        const CopyBuffer parsed = vl::parseCopiedText(text);
        QCOMPARE(parsed, expected);
        for (const QStringList &row : parsed)
            for (const QString &cell : row)
                QVERIFY(!cell.isNull());  // an empty cell is pasted, not skipped
    }

    // Text another program put on the clipboard is pasted from the current cell; the
    // first cell the check refuses is named, and then nothing is pasted.
    void pasteFromAnotherProgram_data()
    {
        QTest::addColumn<QString>("copied");
        QTest::addColumn<int>("column");
        QTest::addColumn<QList<QStringList>>("expected");  // rules of rows 3 and 4 afterwards
        QTest::addColumn<QString>("message");
        const QStringList untouched = {"5", "CC", "7", "", "", "", "", "", ""};
        // clang-format off
        QTest::newRow("two rows from a spreadsheet")
            << "12\tNote\t60\n13\tAT\t61\n" << int(ColDmx)
            << QList<QStringList>{{"12", "Note", "60", "", "", "", "", "", ""},
                                  {"13", "AT", "61", "", "", "", "", "", ""}}
            << QString();
        QTest::newRow("an empty cell empties its target")
            << "\t\t9" << int(ColDmx) << QList<QStringList>{{"", "", "9", "", "", "", "", "", ""}, untouched}
            << QString();
        QTest::newRow("a bad cell pastes nothing")
            << "12\tNote\n13\tbad" << int(ColDmx) << QList<QStringList>{untouched, untouched}
            << "Row 5, column 2: \"bad\"\n\nNothing was pasted.";
        QTest::newRow("cells past the last column are dropped unchecked")
            << "ON\tbad" << int(ColEnable)
            << QList<QStringList>{{"5", "CC", "7", "", "", "", "", "", "ON"}, untouched} << QString();
        // clang-format on
    }
    void pasteFromAnotherProgram()
    {
        QFETCH(QString, copied);
        QFETCH(int, column);
        QFETCH(QList<QStringList>, expected);
        QFETCH(QString, message);
        vl::test::ScriptedDialogs dialogs;
        ViewFixture f(10);
        f.setRule(3, {"5", "CC", "7"});
        f.setRule(4, {"5", "CC", "7"});
        f.view->setPasteCheck([](int row, int c, const QString &text) {
            return text == QLatin1String("bad")
                       ? QStringLiteral("Row %1, column %2: \"%3\"").arg(row + 1).arg(c).arg(text)
                       : QString();
        });
        QGuiApplication::clipboard()->setText(copied);
        f.view->setCurrentIndex(f.rules.index(3, column));
        QTest::keySequence(f.view, QKeySequence::Paste);
        QCOMPARE(f.rule(3), expected[0]);
        QCOMPARE(f.rule(4), expected[1]);
        QCOMPARE(dialogs.messageTexts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(f.rules.text(3, ColSn), QString("4"));
    }

    // The view's own copy pastes as copied, unselected cells skipped, while the clipboard
    // still holds its text.
    void ownCopyWinsWhileClipboardHoldsIt()
    {
        ViewFixture f(10);
        f.setRule(0, {"20", "CC", "7"});
        f.setRule(5, {"1", "AT", "9"});
        f.view->selectionModel()->select(f.rules.index(0, ColDmx), QItemSelectionModel::ClearAndSelect);
        f.view->selectionModel()->select(f.rules.index(0, ColCtl), QItemSelectionModel::Select);
        QTest::keySequence(f.view, QKeySequence::Copy);
        f.view->setCurrentIndex(f.rules.index(5, ColDmx));
        QTest::keySequence(f.view, QKeySequence::Paste);
        QCOMPARE(f.rule(5), QStringList({"20", "AT", "7", "", "", "", "", "", ""}));
    }

    void copyOfAnUnevenSelectionKeepsColumns()
    {
        ViewFixture f(10);
        f.setRule(0, {"20", "CC", "7"});
        f.setRule(1, {"21", "AT", "8 / G#-1"});
        f.view->selectionModel()->select(f.rules.index(0, ColDmx), QItemSelectionModel::Select);
        f.view->selectionModel()->select(f.rules.index(1, ColCtl), QItemSelectionModel::Select);
        QTest::keySequence(f.view, QKeySequence::Copy);
        f.view->setCurrentIndex(f.rules.index(4, ColDmx));
        QTest::keySequence(f.view, QKeySequence::Paste);
        QCOMPARE(f.rule(4), QStringList({"20", "", "", "", "", "", "", "", ""}));
        QCOMPARE(f.rule(5), QStringList({"", "", "8 / G#-1", "", "", "", "", "", ""}));
    }

    void deleteKeepsSn()
    {
        ViewFixture f(4);
        f.fillFull();
        f.rules.item(0, ColSn)->setEditable(false);  // as a read from the box leaves it
        f.view->selectionModel()->select(QItemSelection(f.rules.index(0, ColSn), f.rules.index(1, ColEnable)),
                                         QItemSelectionModel::ClearAndSelect);
        QTest::keyClick(f.view, Qt::Key_Delete);
        // "SN" is the row's number, whether the row came from the box or not.
        QCOMPARE(f.rules.text(0, ColSn), QString("1"));
        QCOMPARE(f.rules.text(1, ColSn), QString("2"));
        QVERIFY(f.rules.isRuleRowEmpty(0));
        QVERIFY(f.rules.isRuleRowEmpty(1));
        QCOMPARE(f.rule(2), sampleRule(2));
        QCOMPARE(f.remarks.text(0, 0), sampleRemark(0));  // remarks are not the rule view's
    }

    void returnInSnEditorKeepsTheTypedText()
    {
        ViewFixture f(4);
        QSignalSpy changed(&f.rules, &QAbstractItemModel::dataChanged);
        const QModelIndex sn = f.rules.index(1, ColSn);
        f.view->edit(sn);
        auto *editor = qobject_cast<QLineEdit *>(f.view->indexWidget(sn));
        QVERIFY(editor);
        QCOMPARE(editor->text(), QString("2"));
        editor->clear();
        QTest::keyClicks(editor, "42");
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(f.rules.text(1, ColSn), QString("42"));
        QCOMPARE(changed.count(), 2);  // emptied, then written
    }

    void remarkViewDragFillAndDelete()
    {
        ViewFixture f(10);
        f.remarks.setText(1, 0, "Front wash");
        QWidget *viewport = f.remarkView->viewport();
        QTest::mousePress(viewport, Qt::LeftButton, {}, f.remarkCell(1));
        QTest::mouseMove(viewport, f.remarkCell(4));
        QCOMPARE(viewport->cursor().shape(), Qt::SizeAllCursor);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, f.remarkCell(4));
        QCOMPARE(viewport->cursor().shape(), Qt::ArrowCursor);
        for (int r = 1; r <= 4; ++r)
            QCOMPARE(f.remarks.text(r, 0), QString("Front wash"));
        QVERIFY(f.remarks.isEmptyCell(5, 0));

        // Dragging upwards copies nothing.
        f.remarks.setText(8, 0, "Haze");
        drag(viewport, f.remarkCell(8), f.remarkCell(6));
        QVERIFY(f.remarks.isEmptyCell(7, 0));

        f.remarkView->selectionModel()->select(QItemSelection(f.remarks.index(2, 0), f.remarks.index(3, 0)),
                                               QItemSelectionModel::ClearAndSelect);
        QTest::keyClick(f.remarkView, Qt::Key_Delete);
        QVERIFY(f.remarks.isEmptyCell(2, 0));
        QVERIFY(f.remarks.isEmptyCell(3, 0));
        QCOMPARE(f.remarks.text(4, 0), QString("Front wash"));
    }

    void onlyOneViewShowsASelection()
    {
        ViewFixture f(10);
        QTest::mouseClick(f.view->viewport(), Qt::LeftButton, {}, f.cell(2, ColDmx));
        QVERIFY(f.view->hasFocus());
        QCOMPARE(f.view->selectionModel()->selectedIndexes().size(), 1);

        QTest::mouseClick(f.remarkView->viewport(), Qt::LeftButton, {}, f.remarkCell(4));
        QVERIFY(f.remarkView->hasFocus());
        QVERIFY(f.view->selectionModel()->selectedIndexes().isEmpty());
        QVERIFY(!f.view->currentIndex().isValid());
        QCOMPARE(f.remarkView->currentIndex().row(), 4);

        QTest::mouseClick(f.view->viewport(), Qt::LeftButton, {}, f.cell(3, ColSta));
        QVERIFY(f.view->hasFocus());
        QVERIFY(f.remarkView->selectionModel()->selectedIndexes().isEmpty());
        QVERIFY(!f.remarkView->currentIndex().isValid());
    }

    void scrollBarsFollowEachOther()
    {
        ViewFixture f(200);
        QScrollBar *rules = f.view->verticalScrollBar();
        QScrollBar *remarks = f.remarkView->verticalScrollBar();
        QCOMPARE(f.view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        remarks->setValue(40);
        QCOMPARE(rules->value(), 40);
        rules->setValue(12);
        QCOMPARE(remarks->value(), 12);
    }
};

QTEST_MAIN(TestViews)
#include "tst_views.moc"
