#include "previewforwarder.h"

#include "common/core/scheduler.h"
#include "previewsink.h"

#include <QAbstractItemModel>

#include <utility>

namespace vl {

PreviewForwarder::PreviewForwarder(QAbstractItemModel *rules, QAbstractItemModel *remarks, QObject *parent)
    : QObject(parent)
{
    m_countdown = scheduler().createTimer(this);
    m_countdown->setSingleShot(true);
    connect(m_countdown, &Timer::timeout, this, &PreviewForwarder::refreshNow);
    if (rules)
        connect(
            rules, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) { rulesChanged(topLeft, bottomRight); });
    if (remarks)
        connect(remarks, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex &topLeft) { remarksChanged(topLeft); });
}

void PreviewForwarder::rulesChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    const QString text = topLeft.data(Qt::DisplayRole).toString();
    if (!text.isEmpty())
        queueCell(bottomRight.row(), bottomRight.column(), text);
    if (!m_countdownRunning) {
        m_countdownRunning = true;
        m_countdown->start(kRefreshDelayMs);
    }
}

void PreviewForwarder::remarksChanged(const QModelIndex &topLeft)
{
    const QString text = topLeft.data(Qt::DisplayRole).toString();
    if (!text.isEmpty() && m_remarksForwarded && m_sink)
        m_sink->ruleRemarkChanged(topLeft.row(), text);
}

void PreviewForwarder::queueCell(int row, int column, const QString &text)
{
    m_queued.append({row, column, text});
    if (m_deliveryPosted)
        return;
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(this, &PreviewForwarder::deliverQueuedCells, Qt::QueuedConnection);
}

void PreviewForwarder::deliverQueuedCells()
{
    m_deliveryPosted = false;
    const QVector<CellChange> cells = std::exchange(m_queued, {});
    for (const CellChange &cell : cells) {
        if (m_sink)
            m_sink->ruleCellChanged(cell.row, cell.column, cell.text);
    }
}

void PreviewForwarder::refreshNow()
{
    if (m_sink) {
        m_sink->rebuildRuleSnapshots();
        m_sink->refreshCcFaders();
        m_sink->markNoteKeys();
        m_sink->markAtKeys();
        m_sink->refreshFixtureDmxChannels();
        m_sink->refreshDetailsPanel();
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_sink)
                    m_sink->setCoefficient(coefficient());
            },
            Qt::QueuedConnection);
    }
    m_countdownRunning = false;
    m_countdown->stop();
}

void PreviewForwarder::reload(bool show)
{
    if (!m_sink)
        return;
    m_sink->rebuildRuleSnapshots();
    m_sink->refreshCcFaders();
    if (show)
        m_sink->showMaximized();
    m_sink->markNoteKeys();
    m_sink->markAtKeys();
    m_sink->setCoefficient(coefficient());
    if (show)
        m_sink->show();
}

}  // namespace vl
