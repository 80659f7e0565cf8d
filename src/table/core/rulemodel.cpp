#include "rulemodel.h"

#include "rulecolumns.h"

namespace vl {

const QStringList &ruleColumnLabels()
{
    static const QStringList labels = {QStringLiteral("SN"),      QStringLiteral("DMX"),      QStringLiteral("Sta"),
                                       QStringLiteral("Ctl"),     QStringLiteral("CH"),       QStringLiteral("Fix"),
                                       QStringLiteral("Fade In"), QStringLiteral("Fade Out"), QStringLiteral("Toggle"),
                                       QStringLiteral("Enable")};
    return labels;
}

QString TextTableModel::text(int row, int column) const
{
    const QStandardItem *it = item(row, column);
    return it ? it->data(Qt::EditRole).toString() : QString();
}

bool TextTableModel::setText(int row, int column, const QString &text)
{
    if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return false;
    QStandardItem *it = item(row, column);
    if (!it) {
        setItem(row, column, new QStandardItem(text));
        return true;
    }
    const QVariant current = it->data(Qt::EditRole);
    if (current.isValid() && current.userType() == QMetaType::QString && current.toString() == text)
        return false;
    it->setData(text, Qt::EditRole);
    return true;
}

bool TextTableModel::clearCell(int row, int column)
{
    QStandardItem *it = item(row, column);
    if (!it || !it->data(Qt::EditRole).isValid())
        return false;
    it->setData(QVariant(), Qt::EditRole);
    return true;
}

RuleModel::RuleModel(QObject *parent) : TextTableModel(0, kRuleColumns, parent) { restoreLabels(); }

bool RuleModel::isRuleRowEmpty(int row) const
{
    for (int c = ColDmx; c <= ColEnable; ++c)
        if (!isEmptyCell(row, c))
            return false;
    return true;
}

void RuleModel::restoreLabels()
{
    if (columnCount() < kRuleColumns)
        setColumnCount(kRuleColumns);
    setHorizontalHeaderLabels(ruleColumnLabels());
}

void RuleModel::insertRuleRow(int row, const QStringList &texts, bool snLocked)
{
    QList<QStandardItem *> items;
    items.reserve(texts.size());
    for (const QString &text : texts)
        items << (text.isEmpty() ? nullptr : new QStandardItem(text));
    if (snLocked) {
        if (items.isEmpty())
            items << nullptr;
        if (!items.first())
            items.first() = new QStandardItem;
        items.first()->setEditable(false);
    }
    while (!items.isEmpty() && !items.last())
        items.removeLast();
    row = qBound(0, row, rowCount());
    if (items.isEmpty())
        insertRow(row);
    else
        insertRow(row, items);
}

bool RuleModel::isSnLocked(int row) const
{
    const QStandardItem *sn = item(row, ColSn);
    return sn && !sn->isEditable();
}

RemarkModel::RemarkModel(QObject *parent) : TextTableModel(kRuleRows, 1, parent) {}

}  // namespace vl
