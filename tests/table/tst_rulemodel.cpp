// The rule table model: note names, text forms and the whole-table operations.

#include "table/core/notenames.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"
#include "table/core/ruletext.h"

#include <QSignalSpy>
#include <QtTest>

using namespace vl;

namespace {

// A table of `rows` rows with "SN" set, like one read from the box.
void fillRows(RuleModel &m, int rows)
{
    m.setRowCount(rows);
    for (int r = 0; r < rows; ++r)
        m.setText(r, ColSn, QString::number(r + 1));
}

void setRule(RuleModel &m, int row, const QStringList &cells)
{
    for (int c = 0; c < cells.size(); ++c)
        if (!cells[c].isNull())
            m.setText(row, ColDmx + c, cells[c]);
}

}  // namespace

class TestRuleModel : public QObject {
    Q_OBJECT

private slots:
    void noteNames_data()
    {
        QTest::addColumn<int>("cnum");
        QTest::addColumn<int>("note");
        QTest::addColumn<QString>("name");
        // clang-format off
        QTest::newRow("C3 naming, note 0") << 1 << 0 << "C-2";
        QTest::newRow("C3 naming, note 60") << 1 << 60 << "C3";
        QTest::newRow("C3 naming, note 127") << 1 << 127 << "G8";
        QTest::newRow("C4 naming, note 0") << 2 << 0 << "C-1";
        QTest::newRow("C4 naming, note 60") << 2 << 60 << "C4";
        QTest::newRow("C4 naming, note 127") << 2 << 127 << "G9";
        QTest::newRow("C5 naming, note 0") << 3 << 0 << "C0";
        QTest::newRow("C5 naming, note 60") << 3 << 60 << "C5";
        QTest::newRow("C5 naming, note 127") << 3 << 127 << "G10";
        QTest::newRow("sharp with negative octave") << 2 << 1 << "C#-1";
        QTest::newRow("A#6 under C4") << 2 << 94 << "A#6";
        QTest::newRow("below range") << 2 << -1 << "";
        QTest::newRow("above range") << 2 << 128 << "";
        QTest::newRow("unknown naming") << 4 << 60 << "";
        // clang-format on
    }
    void noteNames()
    {
        QFETCH(int, cnum);
        QFETCH(int, note);
        QFETCH(QString, name);
        QCOMPARE(NoteNames::name(note, cnum), name);
        if (!name.isEmpty())
            QCOMPARE(NoteNames::number(name, cnum), note);
    }

    void textForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("controller");
        // clang-format off
        QTest::newRow("plain") << "7" << 7 << 7;
        QTest::newRow("alias") << "5-Spot" << 5 << 0;
        QTest::newRow("note") << "60 / C4" << 60 << 60;
        QTest::newRow("no digits") << "ALL" << 0 << 0;
        QTest::newRow("digits later") << "Spot 12" << 12 << 0;
        QTest::newRow("too long for an int") << "99999999999999" << 0 << 0;
        QTest::newRow("empty") << "" << 0 << 0;
        // clang-format on
    }
    void textForms()
    {
        QFETCH(QString, text);
        QFETCH(int, channel);
        QFETCH(int, controller);
        QCOMPARE(firstNumberIn(text), channel);
        QCOMPARE(controllerNumber(text), controller);
    }

    void emptyCellsAndRows()
    {
        RuleModel m;
        QCOMPARE(m.columnCount(), kRuleColumns);
        QCOMPARE(m.headerData(ColFadeOut, Qt::Horizontal).toString(), QString("Fade Out"));
        fillRows(m, 2);
        QVERIFY(m.isRuleRowEmpty(0));  // "SN" alone is no rule
        m.setText(0, ColToggle, "");
        QVERIFY(m.isRuleRowEmpty(0));  // an empty string counts as empty
        m.setText(0, ColToggle, "ON");
        QVERIFY(!m.isRuleRowEmpty(0));
        QVERIFY(m.clearCell(0, ColToggle));
        QVERIFY(!m.item(0, ColToggle)->data(Qt::EditRole).isValid());
        QVERIFY(!m.clearCell(0, ColToggle));  // already empty: nothing written
        QVERIFY(!m.setText(5, ColDmx, "1"));  // outside the table
        QCOMPARE(m.rowCount(), 2);
    }

    // The 100 ms pass, one row per case, under "C4" naming.
    void normalize_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        // clang-format off
        QTest::newRow("CC loses the name") << "CC" << "60 / C4" << "60";
        QTest::newRow("CC long number is emptied") << "CC" << "12345" << "";
        QTest::newRow("CC plain number stays") << "CC" << "7" << "7";
        QTest::newRow("Note gains the name") << "Note" << "60" << "60 / C4";
        QTest::newRow("AT gains the name") << "AT" << "0" << "0 / C-1";
        QTest::newRow("Note long number stays") << "Note" << "12345" << "12345";
        QTest::newRow("Note out of range gets no name") << "Note" << "200" << "200 / ";
        QTest::newRow("Note text reads as 0") << "Note" << "ab" << "ab / C-1";
        QTest::newRow("empty status is never touched") << "" << "60" << "60";
        QTest::newRow("empty status keeps a name") << "" << "60 / C4" << "60 / C4";
        QTest::newRow("empty controller stays") << "Note" << "" << "";
        // clang-format on
    }
    void normalize()
    {
        QFETCH(QString, status);
        QFETCH(QString, before);
        QFETCH(QString, after);
        RuleModel m;
        fillRows(m, 1);
        m.setText(0, ColSta, status);
        m.setText(0, ColCtl, before);
        normalizeControllerTexts(m, 2);
        QCOMPARE(m.text(0, ColCtl), after);
    }

    void normalizeLeavesSettledTableAlone()
    {
        RuleModel m;
        fillRows(m, kRuleRows);
        for (int r = 0; r < kRuleRows; ++r)
            setRule(m, r, {"1", r % 2 ? "CC" : "Note", r % 2 ? "7" : "60 / C4", "ALL"});
        QCOMPARE(normalizeControllerTexts(m, 2), 0);
        QSignalSpy changes(&m, &QAbstractItemModel::dataChanged);
        QCOMPARE(normalizeControllerTexts(m, 2), 0);
        QCOMPARE(changes.count(), 0);
    }

    void renamingRewritesOnlyNamedCells()
    {
        RuleModel m;
        fillRows(m, 4);
        setRule(m, 0, {"1", "Note", "60 / C3"});
        setRule(m, 1, {"2", "CC", "7"});
        setRule(m, 2, {"3", "AT", "127 / G8"});
        setRule(m, 3, {"4", "Note", "300 / "});
        QSignalSpy changes(&m, &QAbstractItemModel::dataChanged);
        QCOMPARE(renameNoteTexts(m, 2), 2);  // "300 / " already reads the same
        QCOMPARE(m.text(0, ColCtl), QString("60 / C4"));
        QCOMPARE(m.text(1, ColCtl), QString("7"));
        QCOMPARE(m.text(2, ColCtl), QString("127 / G9"));
        QCOMPARE(m.text(3, ColCtl), QString("300 / "));
        QCOMPARE(changes.count(), 2);
    }

    void clearingKeepsRowsAndNumbers()
    {
        RuleModel m;
        RemarkModel remarks;
        fillRows(m, kRuleRows);
        for (int r = 0; r < kRuleRows; r += 7) {
            setRule(m, r, {"1", "CC", "7", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"});
            remarks.setText(r, 0, "front");
        }
        clearAllRules(m, remarks);
        QCOMPARE(m.rowCount(), kRuleRows);
        for (int r = 0; r < kRuleRows; ++r) {
            QCOMPARE(m.text(r, ColSn), QString::number(r + 1));
            QVERIFY(m.isRuleRowEmpty(r));
            QVERIFY(remarks.isEmptyCell(r, 0));
        }
    }

    void remarkLines()
    {
        RemarkModel remarks;
        remarks.setText(7, 0, "old");
        QVERIFY(applyRemarkLines(remarks, "alias5=Front\r\nalias5=Back\r\nnoise\r\nalias6=a=b\r\n"));
        QCOMPARE(remarks.rowCount(), kRuleRows);
        QCOMPARE(remarks.text(5, 0), QString("Back"));
        QCOMPARE(remarks.text(6, 0), QString());  // two "=" make the line unusable
        QCOMPARE(remarks.text(7, 0), QString());
    }

    void remarkLinesWithoutKeysChangeNothing()
    {
        RemarkModel remarks;
        remarks.setText(3, 0, "keep");
        QSignalSpy changes(&remarks, &QAbstractItemModel::dataChanged);
        QVERIFY(!applyRemarkLines(remarks, "Alias5=x\nremark=y\n\xff\xfe"));
        QCOMPARE(remarks.text(3, 0), QString("keep"));
        QCOMPARE(changes.count(), 0);
    }

    void remarkLinesRecreateMissingRows()
    {
        RemarkModel remarks;
        remarks.setRowCount(0);  // after a disconnect
        QVERIFY(applyRemarkLines(remarks, "alias3071=last\n"));
        QCOMPARE(remarks.rowCount(), kRuleRows);
        QCOMPARE(remarks.text(3071, 0), QString("last"));
    }
};

QTEST_GUILESS_MAIN(TestRuleModel)
#include "tst_rulemodel.moc"
