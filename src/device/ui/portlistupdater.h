#pragma once

// Keeps port lists (combo boxes) showing the serial ports present now. Each list has its
// own filter: the editor's shows the maker's boxes, the firmware dialog's every USB serial
// device. Every scan takes one snapshot of the system and refreshes every list from it:
// items of ports that came are appended (the current item stays; the first item of an
// empty list becomes current), items of ports that went are removed, and an item whose
// device came back on another port leads there. One item per description: the first
// port in the system's order.
//
// The scan runs every 2000 ms on a timer of the scheduler it is given, and once for a list
// when it is added; refresh() brings one list up to date at any other moment.

#include "device/core/portscan.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QComboBox;

namespace vl {

class Scheduler;
class Timer;

class PortListUpdater : public QObject {
    Q_OBJECT
public:
    static constexpr int kScanIntervalMs = 2000;
    using Source = std::function<PortSnapshot()>;

    // Starts the scan timer at once, on `scheduler`'s clock.
    explicit PortListUpdater(QObject *parent = nullptr);
    PortListUpdater(Scheduler &scheduler, QObject *parent = nullptr);

    // Keeps `list` (not owned) showing the ports `filter` admits, from now on; a list that
    // is destroyed is dropped. Adding a list again replaces its filter.
    void addList(QComboBox *list, const PortFilter &filter);
    void removeList(QComboBox *list);
    // Refreshes one list now, from a fresh snapshot.
    void refresh(QComboBox *list);
    // Where snapshots come from: presentPorts() unless replaced.
    void setSource(Source source);

    Timer *scanTimer() const { return m_scanTimer; }

public slots:
    // Refreshes every list from one fresh snapshot (what the timer does).
    void scanPorts();

private:
    struct Entry {
        QPointer<QComboBox> list;
        PortFilter filter;
    };
    PortSnapshot snapshot() const;

    QList<Entry> m_lists;
    Source m_source;
    Timer *m_scanTimer = nullptr;
};

// Brings `list` to what `change` says: appends, removes, and points items at the ports
// their devices are on now.
void applyPortListChange(QComboBox &list, const PortListChange &change);

}  // namespace vl
