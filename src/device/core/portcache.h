#pragma once

// The ports present now, as presentPorts() gives them, without scanning the system for
// every port list refresh. The firmware dialog's list is refreshed on every 100 ms tick of
// the editor window, visible or not; a scan of the USB devices and their terminals costs
// far more than that tick may.
//
// What libudev reports is kept until it can have changed: a udev monitor (fed by the udev
// daemon, or by the kernel where no daemon runs) hears every USB device and terminal that
// comes or goes, and any such event, or an overrun of the monitor, drops what was kept.
// As a safety net the system is scanned again at least every kMaxAgeMs. Where no monitor
// can be had, every snapshot scans. Simulated boxes are read again when their announcement
// directory changes (SimulatedBoxWatch) and with every scan of the system.

#include "common/core/simulatedbox.h"
#include "portscan.h"

#include <memory>

namespace vl {

class Scheduler;

class PortSnapshotCache {
public:
    static constexpr int kMaxAgeMs = 2000;

    // Ages are measured on `clock` (the scheduler in use when the cache is made).
    PortSnapshotCache();
    explicit PortSnapshotCache(Scheduler &clock);
    ~PortSnapshotCache();
    PortSnapshotCache(const PortSnapshotCache &) = delete;
    PortSnapshotCache &operator=(const PortSnapshotCache &) = delete;

    // Exactly what presentPorts() would give now.
    PortSnapshot snapshot();
    // Forgets what was kept; the next snapshot scans.
    void invalidate() { m_valid = false; }

    // Whether a monitor reports changes (otherwise every snapshot scans).
    bool isMonitoring() const;
    // How often the system has been scanned so far.
    int systemScans() const { return m_scans; }

private:
    struct Monitor;

    Scheduler &m_clock;
    std::unique_ptr<Monitor> m_monitor;
    PortSnapshot m_system;
    SimulatedBoxWatch m_boxes;
    bool m_valid = false;
    qint64 m_scannedAt = 0;
    int m_scans = 0;
};

}  // namespace vl
