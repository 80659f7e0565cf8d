#pragma once

// Full rule tables for tests and benchmarks, from one generator: varied valid rules in the
// texts the editor shows after a Read under "C3" naming. Notes, after-touch and
// controllers, "ALL" and single channels, DMX 1 and 1024, fixed values and fades on and
// off, toggles, rules enabled and not; every fifth row holds no rule (its "SN" alone)
// unless asked otherwise.

#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QList>
#include <QStandardItem>
#include <QStringList>

namespace vl::test {

// Ten texts for each of `rows` rows (empty texts where a row holds no rule); every
// `emptyEvery`th row holds no rule (none with 0).
inline QList<QStringList> sampleRuleRows(int rows = kRuleRows, int emptyEvery = 5)
{
    static const QStringList statuses = {"Note", "AT", "CC"};
    static const QStringList names = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    QList<QStringList> table;
    table.reserve(rows);
    for (int r = 0; r < rows; ++r) {
        QStringList cells{QString::number(r + 1)};
        if (emptyEvery > 0 && r % emptyEvery == emptyEvery - 1) {
            while (cells.size() < kRuleColumns)
                cells << QString();
            table << cells;
            continue;
        }
        const QString status = statuses[r % 3];
        const int n = (r * 7) % 128;
        const QString ctl = status == "CC" ? QString::number(n)
                                           : QString("%1 / %2%3").arg(n).arg(names[n % 12]).arg(n / 12 - 2);
        cells << QString::number(r % 1024 + 1) << status << ctl << (r % 4 ? QString::number(r % 16 + 1) : "ALL")
              << (r % 7 ? "OFF" : QString::number(r % 255 + 1)) << (r % 3 ? "OFF" : QString::number(r % 50 + 1))
              << (r % 2 ? "OFF" : QString::number(r % 50 + 1)) << (r % 6 ? "OFF" : "ON") << (r % 11 ? "ON" : "OFF");
        table << cells;
    }
    return table;
}

// Replaces the rows of `m` by `rows`, a row at a time (as Read and Open File fill the
// table, with one insertion per row instead of one change per cell). Empty texts leave
// their cells without an item.
inline void fillRuleTable(RuleModel &m, const QList<QStringList> &rows)
{
    m.removeRows(0, m.rowCount());
    m.restoreLabels();
    for (const QStringList &texts : rows) {
        QList<QStandardItem *> items;
        for (const QString &text : texts)
            items << (text.isEmpty() ? nullptr : new QStandardItem(text));
        while (!items.isEmpty() && !items.last())
            items.removeLast();
        if (items.isEmpty())
            m.insertRow(m.rowCount());
        else
            m.insertRow(m.rowCount(), items);
    }
}

// One complete rule that the box takes (CC 7 on channel 1 to DMX 1), in row `row`.
inline void putCompleteRule(RuleModel &m, int row)
{
    const QStringList rule = {"1", "CC", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON"};
    for (int c = 0; c < rule.size(); ++c)
        m.setText(row, ColDmx + c, rule[c]);
}

// The sample table of kRuleRows rows.
inline void fillSampleTable(RuleModel &m) { fillRuleTable(m, sampleRuleRows()); }

// Every row's ten texts; cells without a text read as empty texts.
inline QList<QStringList> tableTexts(const RuleModel &m)
{
    QList<QStringList> rows;
    rows.reserve(m.rowCount());
    for (int r = 0; r < m.rowCount(); ++r) {
        QStringList texts;
        for (int c = 0; c < kRuleColumns; ++c)
            texts << m.text(r, c);
        rows << texts;
    }
    return rows;
}

}  // namespace vl::test
