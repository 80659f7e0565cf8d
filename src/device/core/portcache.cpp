#include "portcache.h"

#include "common/core/scheduler.h"
#include "common/core/simulatedbox.h"

#include <libudev.h>
#include <poll.h>
#include <unistd.h>

namespace vl {

struct PortSnapshotCache::Monitor {
    udev *context = nullptr;
    udev_monitor *monitor = nullptr;

    Monitor()
    {
        context = udev_new();
        if (!context)
            return;
        // Events from the udev daemon come once it has set the device up; without a daemon
        // the kernel's own events are the ones there are.
        const char *source = ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
        monitor = udev_monitor_new_from_netlink(context, source);
        if (monitor
            && (udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", nullptr) < 0
                || udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0
                || udev_monitor_enable_receiving(monitor) < 0)) {
            udev_monitor_unref(monitor);
            monitor = nullptr;
        }
    }
    ~Monitor()
    {
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
    }

    bool works() const { return monitor != nullptr; }

    // Whether anything arrived since the last look, which it takes from the socket.
    // Anything at all counts, even what the filter then drops, and so does an overrun.
    bool changed()
    {
        const int fd = udev_monitor_get_fd(monitor);
        bool any = false;
        for (int i = 0; i < 1000; ++i) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0 || p.revents == 0)
                break;
            any = true;
            if (udev_device *device = udev_monitor_receive_device(monitor))
                udev_device_unref(device);
        }
        return any;
    }
};

PortSnapshotCache::PortSnapshotCache() : PortSnapshotCache(scheduler()) {}

PortSnapshotCache::PortSnapshotCache(Scheduler &clock) : m_clock(clock), m_monitor(std::make_unique<Monitor>())
{
    if (!m_monitor->works())
        m_monitor.reset();
}

PortSnapshotCache::~PortSnapshotCache() = default;

bool PortSnapshotCache::isMonitoring() const { return m_monitor != nullptr; }

PortSnapshot PortSnapshotCache::snapshot()
{
    const qint64 now = m_clock.nowMs();
    // The monitor is drained before the scan: what happens during the scan is heard next time.
    const bool changed = !m_monitor || m_monitor->changed();
    const bool scan = changed || !m_valid || now - m_scannedAt >= kMaxAgeMs || now < m_scannedAt;
    if (scan) {
        m_system = systemPorts();
        m_valid = true;
        m_scannedAt = now;
        ++m_scans;
    }
    PortSnapshot snapshot = m_system;
    addSimulatedBoxes(&snapshot, m_boxes.boxes(scan));
    return snapshot;
}

}  // namespace vl
