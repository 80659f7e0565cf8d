#include "viewops.h"

#include "table/core/aliases.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruletext.h"

#include <algorithm>

namespace vl {

namespace {

constexpr int kLastController = 127;

// Returns from a text's number to the series: past the range it starts again at 0.
int nextController(int n) { return (n < 0 || n >= kLastController) ? 0 : n + 1; }

bool otherColumnsEmpty(const RuleModel &rules, int row, int column)
{
    for (int c = ColDmx; c <= ColEnable; ++c)
        if (c != column && !rules.isEmptyCell(row, c))
            return false;
    return true;
}

QString derivedText(const RuleModel &rules, int row, int column, int cnum, const QStringList &aliases)
{
    const QString above = rules.text(row - 1, column);
    switch (column) {
    case ColDmx: return nextDmxText(above, aliases);
    case ColCtl: return nextControllerText(above, rules.text(row - 1, ColSta), cnum);
    default: return above.isNull() ? QStringLiteral("") : above;
    }
}

// Visits the cells a paste of `buffer` at (row, column) writes, row by row, left to right:
// "SN", the cells the buffer skips (null texts) and cells outside the table are left out.
// `visit(row, column, text)` returns false to stop.
template <typename Visit>
void forEachPastedCell(const TextTableModel &model, const CopyBuffer &buffer, int row, int column, Visit visit)
{
    if (row < 0 || column < 0)
        return;
    for (int i = 0; i < buffer.size() && row + i < model.rowCount(); ++i) {
        const QStringList &texts = buffer.at(i);
        for (int k = 0; k < texts.size(); ++k) {
            const int c = column + k;
            if (c == ColSn || texts.at(k).isNull())
                continue;
            if (c >= model.columnCount())
                break;
            if (!visit(row + i, c, texts.at(k)))
                return;
        }
    }
}

}  // namespace

QString nextDmxText(const QString &above, const QStringList &aliases)
{
    const int m = firstNumberIn(above, -1);
    if (m < 0)
        return QString();
    const int next = m >= kDmxChannels ? 1 : m + 1;
    return dmxChannelText(next, aliases);
}

QString nextControllerText(const QString &above, const QString &statusAbove, int cnum)
{
    if (statusAbove == QLatin1String("CC"))
        return QString::number(nextController(controllerNumber(above)));
    const QStringList parts = above.split(noteSeparator());
    const int m = parts.size() == 2 ? parts.first().toInt() : 0;
    return noteText(nextController(m), cnum);
}

bool putText(TextTableModel &model, int row, int column, const QString &text)
{
    return text.isEmpty() ? model.clearCell(row, column) : model.setText(row, column, text);
}

int fillDownSeries(RuleModel &rules, int fromRow, int toRow, int column, int cnum, const QStringList &aliases)
{
    if (fromRow < 0 || column < ColDmx || column > ColEnable)
        return 0;
    toRow = std::min(toRow, rules.rowCount() - 1);
    int written = 0;
    for (int r = fromRow + 1; r <= toRow; ++r) {
        const bool wholeRow = otherColumnsEmpty(rules, r, column);
        const int firstCol = wholeRow ? int(ColDmx) : column;
        const int lastCol = wholeRow ? int(ColEnable) : column;
        for (int c = firstCol; c <= lastCol; ++c) {
            const QString text = derivedText(rules, r, c, cnum, aliases);
            if (!text.isNull())  // a DMX text without a number has no successor
                written += putText(rules, r, c, text);
        }
    }
    return written;
}

void insertEmptyRow(RuleModel &rules, TextTableModel *remarks, int row)
{
    if (row < 0 || row > rules.rowCount())
        return;
    // The box's table keeps its 3072 rows: the last one falls off. A longer table (opened
    // from a workbook) grows instead, so no row past the 3072nd is lost without a word.
    const auto insertKeeping = [row](TextTableModel &model) {
        const int keep = model.rowCount() > kRuleRows ? model.rowCount() + 1 : kRuleRows;
        model.insertRow(row);
        if (model.rowCount() > keep)
            model.removeRows(keep, model.rowCount() - keep);
    };
    insertKeeping(rules);
    if (remarks && row <= remarks->rowCount())
        insertKeeping(*remarks);
    rules.setText(kRuleRows - 1, ColSn, QString::number(kRuleRows));
}

void emptyRows(RuleModel &rules, TextTableModel *remarks, int first, int last)
{
    first = std::max(first, 0);
    last = std::min(last, rules.rowCount() - 1);
    for (int r = first; r <= last; ++r) {
        for (int c = ColDmx; c <= ColEnable; ++c)
            rules.clearCell(r, c);
        if (remarks)
            remarks->clearCell(r, 0);
    }
}

void deleteRowsMoveUp(RuleModel &rules, TextTableModel *remarks, int first, int last)
{
    const int n = rules.rowCount();
    first = std::max(first, 0);
    last = std::min(last, n - 1);
    if (first > last)
        return;
    const int count = last - first + 1;
    emptyRows(rules, remarks, first, last);
    for (int src = last + 1; src < n; ++src) {
        for (int c = ColSn; c <= ColEnable; ++c)
            putText(rules, src - count, c, rules.text(src, c));
        if (remarks)
            putText(*remarks, src - count, 0, remarks->text(src, 0));
    }
    emptyRows(rules, remarks, n - count, n - 1);
}

void renumberSn(RuleModel &rules)
{
    const int rows = rules.rowCount();
    for (int r = 0; r < rows; ++r)
        rules.setText(r, ColSn, QString::number(r + 1));
}

CopyBuffer copyCells(const TextTableModel &model, QModelIndexList indexes)
{
    CopyBuffer buffer;
    if (indexes.isEmpty())
        return buffer;
    std::sort(indexes.begin(), indexes.end(), [](const QModelIndex &a, const QModelIndex &b) {
        return a.row() != b.row() ? a.row() < b.row() : a.column() < b.column();
    });
    int left = indexes.first().column();
    for (const QModelIndex &i : indexes)
        left = std::min(left, i.column());
    int row = -1;
    for (const QModelIndex &i : indexes) {
        if (i.row() != row) {
            buffer.append(QStringList());
            row = i.row();
        }
        QStringList &texts = buffer.last();
        while (texts.size() < i.column() - left)
            texts.append(QString());  // a gap in a selection that is no rectangle
        const QString text = model.text(i.row(), i.column());
        texts.append(text.isNull() ? QStringLiteral("") : text);
    }
    return buffer;
}

int pasteCells(TextTableModel &model, const CopyBuffer &buffer, int row, int column)
{
    int written = 0;
    forEachPastedCell(model, buffer, row, column, [&](int r, int c, const QString &text) {
        written += putText(model, r, c, text);
        return true;
    });
    return written;
}

QString copyBufferText(const CopyBuffer &buffer)
{
    QStringList lines;
    for (const QStringList &texts : buffer)
        lines.append(texts.join(QLatin1Char('\t')));
    return lines.join(QLatin1Char('\n'));
}

CopyBuffer parseCopiedText(const QString &text)
{
    CopyBuffer buffer;
    if (text.isEmpty())
        return buffer;
    QStringList row;
    QString cell = QStringLiteral("");  // never null: an empty cell is pasted as empty
    const int n = text.size();
    int i = 0;
    bool cellStarted = false;
    while (i < n) {
        const QChar ch = text.at(i);
        if (!cellStarted && ch == QLatin1Char('"')) {
            // A quoted cell: up to the quote that is not doubled.
            ++i;
            while (i < n) {
                if (text.at(i) == QLatin1Char('"')) {
                    if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                        cell += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                cell += text.at(i++);
            }
            cellStarted = true;
            continue;
        }
        if (ch == QLatin1Char('\t')) {
            row << cell;
            cell = QStringLiteral("");
            cellStarted = false;
        } else if (ch == QLatin1Char('\n') || ch == QLatin1Char('\r')) {
            if (ch == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            row << cell;
            buffer << row;
            row.clear();
            cell = QStringLiteral("");
            cellStarted = false;
        } else {
            cell += ch;
            cellStarted = true;
        }
        ++i;
    }
    if (cellStarted || !row.isEmpty())
        buffer << (row << cell);
    return buffer;
}

QString firstPasteProblem(const TextTableModel &model, const CopyBuffer &buffer, int row, int column,
                          const CellProblem &problem)
{
    QString message;
    if (problem)
        forEachPastedCell(model, buffer, row, column, [&](int r, int c, const QString &text) {
            message = problem(r, c, text);
            return message.isEmpty();
        });
    return message;
}

}  // namespace vl
