// The drop-down editors of the rule view: their items, where they open, what a pick does
// to an empty row and to the controller, and how rule and remark cells are painted.

#define QTEST_QPA_MOUSE_HANDLING
#include "viewfixture.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QtTest>

using namespace vl;
using vl::test::ViewFixture;

namespace {

QWidget *openEditor(ViewFixture &f, int row, int column)
{
    const QModelIndex index = f.rules.index(row, column);
    f.view->setCurrentIndex(index);
    f.view->edit(index);
    return f.view->indexWidget(index);
}

// Picks an item the way a user does: the drop-down list opens, the item is chosen in it
// with the arrow keys and taken with Return.
void pick(QComboBox *combo, const QString &text)
{
    QPointer<QComboBox> guard(combo);
    const int row = combo->findText(text);
    QVERIFY2(row >= 0, qPrintable(text));
    combo->showPopup();
    QAbstractItemView *list = combo->view();
    QTRY_VERIFY(list->isVisible());
    list->setCurrentIndex(list->model()->index(0, 0));
    for (int i = 0; i < row; ++i)
        QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
    QVERIFY(guard);
    QCOMPARE(combo->currentText(), text);
}

// Closes the open editor with Return, which commits it.
void commit(QWidget *editor)
{
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
}

QColor pixel(QWidget *w, QPoint at) { return w->grab().toImage().pixelColor(at); }

}  // namespace

class TestDelegates : public QObject {
    Q_OBJECT

private slots:
    void editorPerColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("count");  // 0: a line editor
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("last");
        // clang-format off
        QTest::newRow("SN") << int(ColSn) << 0 << "" << "" << "";
        QTest::newRow("DMX") << int(ColDmx) << 1024 << "1" << "2" << "1024";
        QTest::newRow("Sta") << int(ColSta) << 3 << "Note" << "AT" << "CC";
        QTest::newRow("Ctl") << int(ColCtl) << 128 << "0" << "1" << "127";
        QTest::newRow("CH") << int(ColCh) << 17 << "ALL" << "1" << "16";
        QTest::newRow("Fix") << int(ColFix) << 256 << "OFF" << "1" << "255";
        QTest::newRow("Fade In") << int(ColFadeIn) << 51 << "OFF" << "1" << "50";
        QTest::newRow("Fade Out") << int(ColFadeOut) << 51 << "OFF" << "1" << "50";
        QTest::newRow("Toggle") << int(ColToggle) << 2 << "ON" << "OFF" << "OFF";
        QTest::newRow("Enable") << int(ColEnable) << 2 << "ON" << "OFF" << "OFF";
        // clang-format on
    }
    void editorPerColumn()
    {
        QFETCH(int, column);
        QFETCH(int, count);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, last);
        ViewFixture f(6);
        QWidget *editor = openEditor(f, 4, column);
        QVERIFY(editor);
        QCOMPARE(editor->parentWidget(), f.view->viewport());
        QCOMPARE(editorIndex(editor), f.rules.index(4, column));
        if (count == 0) {
            QVERIFY(qobject_cast<QLineEdit *>(editor));
            return;
        }
        auto *combo = qobject_cast<QComboBox *>(editor);
        QVERIFY(combo);
        QVERIFY(!combo->isEditable());
        QCOMPARE(combo->count(), count);
        QCOMPARE(combo->itemText(0), first);
        QCOMPARE(combo->itemText(1), second);
        QCOMPARE(combo->itemText(count - 1), last);
        QVERIFY(!combo->itemData(1).isValid() || combo->itemData(1).toString() == second);
        QCOMPARE(combo->currentIndex(), 0);  // an empty cell opens on the first item
    }

    void editorOpensOnTheCellsItem_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("item");
        // clang-format off
        QTest::newRow("named note on a plain controller list") << int(ColCtl) << "60 / C4" << 60;
        QTest::newRow("plain controller") << int(ColCtl) << "7" << 7;
        QTest::newRow("DMX channel with alias") << int(ColDmx) << "5-Spot" << 4;
        QTest::newRow("DMX channel") << int(ColDmx) << "1024" << 1023;
        QTest::newRow("status") << int(ColSta) << "AT" << 1;
        QTest::newRow("channel ALL") << int(ColCh) << "ALL" << 0;
        QTest::newRow("channel 16") << int(ColCh) << "16" << 16;
        QTest::newRow("fixed value OFF") << int(ColFix) << "OFF" << 0;
        QTest::newRow("fixed value 255") << int(ColFix) << "255" << 255;
        QTest::newRow("toggle OFF") << int(ColToggle) << "OFF" << 1;
        QTest::newRow("text matching nothing") << int(ColFadeIn) << "banana" << 0;
        // clang-format on
    }
    void editorOpensOnTheCellsItem()
    {
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(int, item);
        ViewFixture f(3);
        f.rules.setText(1, column, text);
        auto *combo = qobject_cast<QComboBox *>(openEditor(f, 1, column));
        QVERIFY(combo);
        QCOMPARE(combo->currentIndex(), item);
    }

    void firstPickOfCcInAnEmptyFirstRow()
    {
        ViewFixture f(3);
        auto *combo = qobject_cast<QComboBox *>(openEditor(f, 0, ColSta));
        QVERIFY(combo);
        pick(combo, "CC");
        QCOMPARE(f.delegate->lastStatusText(), QString("CC"));
        QCOMPARE(f.rule(0), QStringList({"1", "", "0", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"}));
        commit(combo);
        QCOMPARE(f.rule(0), QStringList({"1", "CC", "0", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"}));
        QVERIFY(f.rules.isRuleRowEmpty(1));
    }

    void defaultControllerFollowsNaming()
    {
        ViewFixture f(3);
        f.delegate->setCnum(3);
        auto *combo = qobject_cast<QComboBox *>(openEditor(f, 0, ColCh));
        pick(combo, "5");
        QCOMPARE(f.rules.text(0, ColSta), QString("Note"));
        QCOMPARE(f.rules.text(0, ColCtl), QString("0 / C0"));
    }

    void pickBelowAFullRuleCopiesIt()
    {
        ViewFixture f(3);
        const QStringList above = {"12", "AT", "61 / C#4", "3", "200", "4", "5", "ON", "OFF"};
        f.setRule(0, above);
        f.remarks.setText(0, 0, "Smoke");
        auto *combo = qobject_cast<QComboBox *>(openEditor(f, 1, ColDmx));
        pick(combo, "13");
        commit(combo);
        QStringList expected = above;
        expected[0] = "13";
        QCOMPARE(f.rule(1), expected);
        QVERIFY(f.remarks.isEmptyCell(1, 0));
    }

    void pickInARowWithDataOverwritesNothing()
    {
        ViewFixture f(3);
        f.setRule(0, {"12", "AT", "61 / C#4", "3", "200", "4", "5", "ON", "OFF"});
        f.rules.setText(1, ColCh, "5");
        auto *combo = qobject_cast<QComboBox *>(openEditor(f, 1, ColFix));
        pick(combo, "OFF");
        commit(combo);
        QCOMPARE(f.rule(1), QStringList({"", "", "", "5", "OFF", "", "", "", ""}));
    }

    void statusChangeConvertsController_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("controller");
        QTest::addColumn<QStringList>("picks");
        QTest::addColumn<QStringList>("controllers");  // after opening, then after each pick
        // clang-format off
        QTest::newRow("Note to CC and back to AT")
            << "Note" << "60 / C4" << QStringList({"CC", "AT"}) << QStringList({"60 / C4", "60", "60 / C4"});
        QTest::newRow("CC to Note names the number") << "CC" << "7" << QStringList({"Note"})
                                                     << QStringList({"7", "7 / G-1"});
        QTest::newRow("opening on a CC row drops a name") << "CC" << "60 / C4" << QStringList()
                                                          << QStringList({"60"});
        QTest::newRow("opening on a Note row converts nothing") << "Note" << "60" << QStringList()
                                                                << QStringList({"60"});
        QTest::newRow("an empty controller stays empty") << "Note" << "" << QStringList({"CC", "AT"})
                                                         << QStringList({"", "", ""});
        QTest::newRow("a number without a note name is no controller")
            << "Note" << "300 / X" << QStringList({"CC"}) << QStringList({"300 / X", ""});
        // clang-format on
    }
    void statusChangeConvertsController()
    {
        QFETCH(QString, status);
        QFETCH(QString, controller);
        QFETCH(QStringList, picks);
        QFETCH(QStringList, controllers);
        ViewFixture f(3);
        f.setRule(1, {"1", status, controller});
        auto *combo = qobject_cast<QComboBox *>(openEditor(f, 1, ColSta));
        QVERIFY(combo);
        QCOMPARE(f.rules.text(1, ColCtl), controllers.first());
        for (int i = 0; i < picks.size(); ++i) {
            pick(combo, picks[i]);
            QCOMPARE(f.rules.text(1, ColCtl), controllers[i + 1]);
        }
    }

    void openControllerEditorFollowsStatus()
    {
        ViewFixture f(3);
        f.setRule(1, {"1", "Note", "60 / C4"});
        auto *combo = qobject_cast<QComboBox *>(openEditor(f, 1, ColCtl));
        QVERIFY(combo);
        QCOMPARE(combo->currentIndex(), 60);
        QVERIFY(f.delegate->relabelControllerEditors() > 0);
        QCOMPARE(combo->itemText(0), QString("0 / C-1"));
        QCOMPARE(combo->currentText(), QString("60 / C4"));
        QCOMPARE(f.delegate->relabelControllerEditors(), 0);  // nothing left to change

        f.rules.setText(1, ColSta, "CC");
        f.delegate->relabelControllerEditors();
        QCOMPARE(combo->currentText(), QString("60"));
        QCOMPARE(combo->itemText(127), QString("127"));
        commit(combo);
        QCOMPARE(f.rules.text(1, ColCtl), QString("60"));
        QVERIFY(f.delegate->openComboEditors(ColCtl).isEmpty());
    }

    void cellsAlternateAndSelectionShows()
    {
        ViewFixture f(4);
        f.setRule(0, {"1", "CC", "7"});
        f.remarks.setText(1, 0, "Haze");
        const QRect r0 = f.view->visualRect(f.rules.index(0, ColFix));
        const QRect r1 = f.view->visualRect(f.rules.index(1, ColFix));
        QCOMPARE(pixel(f.view->viewport(), r0.topLeft() + QPoint(3, 3)), QColor(181, 181, 181));
        QCOMPARE(pixel(f.view->viewport(), r1.topLeft() + QPoint(3, 3)), QColor(79, 79, 79));

        // The text is drawn in white over the fill.
        const QImage cell = f.view->viewport()->grab(f.view->visualRect(f.rules.index(0, ColSta))).toImage();
        bool white = false;
        for (int y = 0; y < cell.height() && !white; ++y)
            for (int x = 0; x < cell.width() && !white; ++x)
                white = cell.pixelColor(x, y) == Qt::white;
        QVERIFY(white);

        f.view->selectionModel()->select(f.rules.index(1, ColFix), QItemSelectionModel::ClearAndSelect);
        QVERIFY(pixel(f.view->viewport(), r1.topLeft() + QPoint(3, 3)) != QColor(79, 79, 79));

        const QRect m0 = f.remarkView->visualRect(f.remarks.index(0, 0));
        const QRect m1 = f.remarkView->visualRect(f.remarks.index(1, 0));
        QCOMPARE(pixel(f.remarkView->viewport(), m0.topLeft() + QPoint(2, 2)), QColor(181, 181, 181));
        QCOMPARE(pixel(f.remarkView->viewport(), m1.topLeft() + QPoint(2, 2)), QColor(79, 79, 79));
        f.remarkView->selectionModel()->select(f.remarks.index(1, 0), QItemSelectionModel::ClearAndSelect);
        const QColor selected = pixel(f.remarkView->viewport(), m1.topLeft() + QPoint(2, 2));
        QVERIFY2(selected.green() > selected.red() && selected.red() > selected.blue(),
                 qPrintable(selected.name()));  // yellow-green
    }
};

QTEST_MAIN(TestDelegates)
#include "tst_delegates.moc"
