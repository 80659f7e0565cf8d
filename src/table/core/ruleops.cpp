#include "ruleops.h"

#include "notenames.h"
#include "rulecolumns.h"
#include "rulemodel.h"
#include "ruletext.h"

#include <QHash>

#include <climits>

namespace vl {

int normalizeControllerTexts(RuleModel &rules, int cnum) { return normalizeControllerTexts(rules, cnum, 0, INT_MAX); }

int normalizeControllerTexts(RuleModel &rules, int cnum, int firstRow, int lastRow)
{
    static const QString cc = QStringLiteral("CC");
    int written = 0;
    const int rows = qMin(rules.rowCount(), lastRow == INT_MAX ? INT_MAX : lastRow + 1);
    for (int r = qMax(0, firstRow); r < rows; ++r) {
        const QString status = rules.text(r, ColSta);
        if (status.isEmpty())
            continue;
        const QString ctl = rules.text(r, ColCtl);
        if (ctl.isEmpty())
            continue;
        if (status == cc) {
            if (ctl.size() >= 5) {
                const QStringList parts = ctl.split(noteSeparator(), Qt::SkipEmptyParts);
                written += rules.setText(r, ColCtl, parts.size() >= 2 ? parts.first() : QString());
            }
        } else if (ctl.size() <= 3) {
            written += rules.setText(r, ColCtl, ctl + noteSeparator() + NoteNames::name(ctl.toInt(), cnum));
        }
    }
    return written;
}

int renameNoteTexts(RuleModel &rules, int cnum)
{
    int written = 0;
    const int rows = rules.rowCount();
    for (int r = 0; r < rows; ++r) {
        const QString ctl = rules.text(r, ColCtl);
        if (ctl.size() >= 5)
            written += rules.setText(r, ColCtl, noteText(controllerNumber(ctl), cnum));
    }
    return written;
}

void clearAllRules(RuleModel &rules, RemarkModel &remarks)
{
    const int rows = rules.rowCount();
    for (int r = 0; r < rows; ++r) {
        for (int c = ColDmx; c <= ColEnable; ++c)
            rules.clearCell(r, c);
        remarks.clearCell(r, 0);
    }
}

void newRuleTable(RuleModel &rules, RemarkModel &remarks)
{
    rules.removeRows(0, rules.rowCount());
    rules.restoreLabels();
    rules.setRowCount(kRuleRows);
    for (int r = 0; r < kRuleRows; ++r) {
        auto *sn = new QStandardItem(QString::number(r + 1));
        sn->setEditable(false);  // as in a table read from the box
        rules.setItem(r, ColSn, sn);
    }
    remarks.setRowCount(kRuleRows);
    for (int r = 0; r < kRuleRows; ++r)
        remarks.clearCell(r, 0);
}

void resetRemarks(RemarkModel &remarks, int count)
{
    const int rows = qMin(count, remarks.rowCount());
    for (int r = 0; r < rows; ++r)
        remarks.clearCell(r, 0);
}

bool applyRemarkLines(RemarkModel &remarks, const QByteArray &text)
{
    static const QString prefix = QStringLiteral("alias");
    QHash<QString, QString> values;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (!line.startsWith(prefix))
            continue;
        const QStringList parts = line.split(QLatin1Char('='));
        if (parts.size() != 2)
            continue;
        values.insert(parts.at(0).trimmed(), parts.at(1).trimmed());
    }
    if (values.isEmpty())
        return false;
    if (remarks.rowCount() < kRuleRows)
        remarks.setRowCount(kRuleRows);
    // Only remarks whose text changes are written: each write is a change the views and the
    // preview hear of.
    const int rows = remarks.rowCount();
    for (int i = 0; i < rows; ++i) {
        const QString value = values.value(prefix + QString::number(i));
        if (remarks.text(i, 0) != value)
            remarks.setText(i, 0, value);
    }
    return true;
}

void insertUploadedRow(RuleModel &rules, int row, const QStringList &texts)
{
    if (texts.isEmpty())
        return;
    if (texts.size() > 1 && (rules.columnCount() < kRuleColumns || row == 0))
        rules.restoreLabels();
    rules.insertRuleRow(row, texts);
}

}  // namespace vl
