#include "portscan.h"

#include "common/core/simulatedbox.h"

#include <QSerialPortInfo>
#include <QSet>

#include <algorithm>
#include <libudev.h>
#include <memory>

namespace vl {

namespace {

struct UdevDeleter {
    void operator()(udev *u) const { udev_unref(u); }
    void operator()(udev_enumerate *e) const { udev_enumerate_unref(e); }
    void operator()(udev_device *d) const { udev_device_unref(d); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using EnumeratePtr = std::unique_ptr<udev_enumerate, UdevDeleter>;
using DevicePtr = std::unique_ptr<udev_device, UdevDeleter>;

// A sysfs id attribute ("0483") as a number; false when missing or not four hex digits.
bool readId(udev_device *device, const char *attribute, quint16 *id)
{
    const char *text = udev_device_get_sysattr_value(device, attribute);
    if (!text)
        return false;
    bool ok = false;
    const uint value = QString::fromLatin1(text).trimmed().toUInt(&ok, 16);
    if (!ok || value > 0xFFFF)
        return false;
    *id = quint16(value);
    return true;
}

QList<UsbDevice> udevUsbDevices()
{
    QList<UsbDevice> devices;
    UdevPtr context(udev_new());
    if (!context)
        return devices;
    EnumeratePtr enumerate(udev_enumerate_new(context.get()));
    if (!enumerate)
        return devices;
    udev_enumerate_add_match_subsystem(enumerate.get(), "usb");
    udev_enumerate_add_match_property(enumerate.get(), "DEVTYPE", "usb_device");
    if (udev_enumerate_scan_devices(enumerate.get()) < 0)
        return devices;
    udev_list_entry *entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
    {
        DevicePtr device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device)
            continue;
        UsbDevice usb;
        const char *product = udev_device_get_sysattr_value(device.get(), "product");
        if (!product || !readId(device.get(), "idVendor", &usb.vendorId)
            || !readId(device.get(), "idProduct", &usb.productId))
            continue;  // a device whose ids or description cannot be read is skipped
        usb.description = QString::fromUtf8(product).trimmed();
        devices << usb;
    }
    return devices;
}

// The serial ports that belong to USB devices, in the system's (sysfs path) order. Only
// those can be the box: a port without USB ids is never listed. Looking only below the
// USB devices keeps a scan cheap however many other terminals the system has.
bool usbSerialPorts(QList<SystemPort> *ports)
{
    UdevPtr context(udev_new());
    if (!context)
        return false;
    EnumeratePtr usbDevices(udev_enumerate_new(context.get()));
    if (!usbDevices)
        return false;
    udev_enumerate_add_match_subsystem(usbDevices.get(), "usb");
    udev_enumerate_add_match_property(usbDevices.get(), "DEVTYPE", "usb_device");
    if (udev_enumerate_scan_devices(usbDevices.get()) < 0)
        return false;
    QList<QPair<QByteArray, SystemPort>> found;  // by sysfs path
    udev_list_entry *entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(usbDevices.get()))
    {
        DevicePtr usb(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        SystemPort port;
        if (!usb || !readId(usb.get(), "idVendor", &port.vendorId) || !readId(usb.get(), "idProduct", &port.productId))
            continue;
        port.hasUsbIds = true;
        EnumeratePtr ttys(udev_enumerate_new(context.get()));
        if (!ttys)
            continue;
        udev_enumerate_add_match_parent(ttys.get(), usb.get());
        udev_enumerate_add_match_subsystem(ttys.get(), "tty");
        if (udev_enumerate_scan_devices(ttys.get()) < 0)
            continue;
        udev_list_entry *tty = nullptr;
        udev_list_entry_foreach(tty, udev_enumerate_get_list_entry(ttys.get()))
        {
            const QByteArray path = udev_list_entry_get_name(tty);
            port.name = QString::fromLocal8Bit(path.mid(path.lastIndexOf('/') + 1));
            found.append({path, port});
        }
    }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &f : found)
        ports->append(f.second);
    return true;
}

}  // namespace

QList<UsbDevice> presentUsbDevices()
{
    PortSnapshot snapshot;
    snapshot.devices = udevUsbDevices();
    addSimulatedBoxes(&snapshot, runningSimulatedBoxes());
    return snapshot.devices;
}

UsbDeviceMap buildUsbDeviceMap(const QList<UsbDevice> &devices, const QString &prefix, bool filter)
{
    UsbDeviceMap map;
    for (const UsbDevice &d : devices) {
        if (filter && !d.description.startsWith(prefix, Qt::CaseSensitive))
            continue;
        const UsbDeviceKey key = usbDeviceKey(d.vendorId, d.productId);
        if (!map.contains(key))
            map.insert(key, d.description);
    }
    return map;
}

UsbDeviceMap findUsbDevices(const QString &classGuid, const QString &enumerator, const QString &prefix, bool filter)
{
    Q_UNUSED(classGuid)
    if (enumerator.compare(QLatin1String("USB"), Qt::CaseInsensitive) != 0)
        return {};
    return buildUsbDeviceMap(presentUsbDevices(), prefix, filter);
}

namespace {

QList<SystemPort> systemOnlySerialPorts()
{
    QList<SystemPort> ports;
    if (!usbSerialPorts(&ports)) {
        // Without udev, ask Qt, which reads sysfs itself.
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            ports << SystemPort{info.portName(), info.hasVendorIdentifier() && info.hasProductIdentifier(),
                                info.vendorIdentifier(), info.productIdentifier()};
    }
    return ports;
}

}  // namespace

QList<SystemPort> systemSerialPorts()
{
    PortSnapshot snapshot;
    snapshot.ports = systemOnlySerialPorts();
    addSimulatedBoxes(&snapshot, runningSimulatedBoxes());
    return snapshot.ports;
}

PortListChange planPortList(const QStringList &current, const QList<SystemPort> &ports, const UsbDeviceMap &devices)
{
    PortListChange change;
    QSet<QString> seen;
    QSet<QString> listed(current.begin(), current.end());
    for (const SystemPort &port : ports) {
        if (!port.hasUsbIds)
            continue;
        const auto it = devices.constFind(usbDeviceKey(port.vendorId, port.productId));
        if (it == devices.constEnd())
            continue;
        const QString &description = it.value();
        if (seen.contains(description))
            continue;
        if (!listed.contains(description))
            change.append << PortListItem{description, port.name};
        change.found << PortListItem{description, port.name};
        seen.insert(description);
    }
    for (const QString &text : current)
        if (!seen.contains(text) && !change.remove.contains(text))
            change.remove << text;
    return change;
}

PortSnapshot systemPorts() { return {udevUsbDevices(), systemOnlySerialPorts()}; }

void addSimulatedBoxes(PortSnapshot *snapshot, const QList<SimulatedBox> &boxes)
{
    for (const SimulatedBox &box : boxes) {
        snapshot->devices << UsbDevice{box.vendorId, box.productId, box.description};
        snapshot->ports << SystemPort{box.portName, true, box.vendorId, box.productId};
    }
}

PortSnapshot presentPorts()
{
    PortSnapshot snapshot = systemPorts();
    addSimulatedBoxes(&snapshot, runningSimulatedBoxes());
    return snapshot;
}

PortListChange planPortList(const QStringList &current, const PortSnapshot &snapshot, const PortFilter &filter)
{
    return planPortList(current, snapshot.ports,
                        buildUsbDeviceMap(snapshot.devices, filter.descriptionPrefix, filter.byPrefix));
}

QList<PortListItem> listedPorts(const PortSnapshot &snapshot, const PortFilter &filter)
{
    return planPortList({}, snapshot, filter).append;
}

QList<PortListItem> currentBoxPorts(const QString &makerName)
{
    return listedPorts(presentPorts(), PortFilter::boxes(makerName));
}

}  // namespace vl
