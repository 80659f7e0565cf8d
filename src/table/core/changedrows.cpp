#include "changedrows.h"

#include <QAbstractItemModel>

namespace vl {

ChangedRows::ChangedRows(QAbstractItemModel *model, QObject *parent) : QObject(parent)
{
    connect(
        model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) { mark(topLeft.row(), bottomRight.row()); });
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, [this](const QModelIndex &, int first, int) { mark(first, INT_MAX); });
    connect(
        model, &QAbstractItemModel::rowsMoved, this,
        [this](const QModelIndex &, int start, int, const QModelIndex &, int row) { mark(qMin(start, row), INT_MAX); });
    connect(model, &QAbstractItemModel::modelReset, this, &ChangedRows::markAll);
    connect(model, &QAbstractItemModel::layoutChanged, this, &ChangedRows::markAll);
    connect(model, &QAbstractItemModel::columnsInserted, this, &ChangedRows::markAll);
    connect(model, &QAbstractItemModel::columnsRemoved, this, &ChangedRows::markAll);
}

void ChangedRows::mark(int first, int last)
{
    m_first = qMin(m_first, qMax(0, first));
    m_last = qMax(m_last, last);
    emit marked();
}

void ChangedRows::clear()
{
    m_first = INT_MAX;
    m_last = -1;
}

}  // namespace vl
