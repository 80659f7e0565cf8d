#include "portlistupdater.h"

#include "common/core/scheduler.h"

#include <QComboBox>

namespace vl {

namespace {

QStringList itemTexts(const QComboBox &list)
{
    QStringList texts;
    texts.reserve(list.count());
    for (int i = 0; i < list.count(); ++i)
        texts << list.itemText(i);
    return texts;
}

}  // namespace

PortListUpdater::PortListUpdater(QObject *parent) : PortListUpdater(scheduler(), parent) {}

PortListUpdater::PortListUpdater(Scheduler &scheduler, QObject *parent) : QObject(parent)
{
    m_scanTimer = scheduler.createTimer(this);
    connect(m_scanTimer, &Timer::timeout, this, &PortListUpdater::scanPorts);
    m_scanTimer->start(kScanIntervalMs);
}

void PortListUpdater::addList(QComboBox *list, const PortFilter &filter)
{
    if (!list)
        return;
    removeList(list);
    m_lists.append({list, filter});
    refresh(list);
}

void PortListUpdater::removeList(QComboBox *list)
{
    for (int i = m_lists.size() - 1; i >= 0; --i)
        if (!m_lists[i].list || m_lists[i].list == list)
            m_lists.removeAt(i);
}

void PortListUpdater::setSource(Source source) { m_source = std::move(source); }

PortSnapshot PortListUpdater::snapshot() const { return m_source ? m_source() : presentPorts(); }

void PortListUpdater::refresh(QComboBox *list)
{
    for (const Entry &entry : qAsConst(m_lists)) {
        if (entry.list && entry.list == list) {
            applyPortListChange(*list, planPortList(itemTexts(*list), snapshot(), entry.filter));
            return;
        }
    }
}

void PortListUpdater::scanPorts()
{
    removeList(nullptr);  // drops lists that are gone
    if (m_lists.isEmpty())
        return;
    const PortSnapshot now = snapshot();
    for (const Entry &entry : qAsConst(m_lists))
        if (entry.list)
            applyPortListChange(*entry.list, planPortList(itemTexts(*entry.list), now, entry.filter));
}

void applyPortListChange(QComboBox &list, const PortListChange &change)
{
    for (const PortListItem &item : change.append)
        list.addItem(item.text, item.portName);
    for (const QString &text : change.remove)
        for (int i; (i = list.findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive)) >= 0;)
            list.removeItem(i);
    // A box unplugged and plugged in again within one scan may come back on another port
    // under the same description; its item must lead there, not to the port that is gone.
    for (const PortListItem &item : change.found) {
        const int i = list.findText(item.text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (i >= 0 && list.itemData(i).toString() != item.portName)
            list.setItemData(i, item.portName);
    }
}

}  // namespace vl
