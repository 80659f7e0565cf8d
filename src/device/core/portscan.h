#pragma once

// Finding the box's serial ports. The box is a USB device whose bus-reported product
// description begins with the maker's name; its serial port carries the device's vendor
// and product ids. The port list shows one item per description.
//
// On Linux the USB devices come from libudev (sysfs attributes idVendor, idProduct and
// product, readable without a running udev daemon); running simulated boxes are merged in
// after them, both as USB devices and as serial ports.

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

namespace vl {

struct SimulatedBox;

// The description prefix of the box's USB entries.
inline QString boxMakerName() { return QStringLiteral("Nemora"); }

struct UsbDevice {
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString description;  // the bus-reported product description
};

// Keyed by (product id, vendor id), product id compared first.
using UsbDeviceKey = QPair<quint16, quint16>;
using UsbDeviceMap = QMap<UsbDeviceKey, QString>;

inline UsbDeviceKey usbDeviceKey(quint16 vendorId, quint16 productId) { return qMakePair(productId, vendorId); }

// The USB devices present now: libudev's, then the simulated boxes'.
QList<UsbDevice> presentUsbDevices();

// The device map of `devices`: with `filter` only descriptions that begin with `prefix`
// (case-sensitive) are taken; the first device with a given pair of ids wins.
UsbDeviceMap buildUsbDeviceMap(const QList<UsbDevice> &devices, const QString &prefix, bool filter);

// The device map of the present devices. On this platform there are no device classes:
// `classGuid` is ignored and only the "USB" enumerator lists anything.
UsbDeviceMap findUsbDevices(const QString &classGuid, const QString &enumerator, const QString &prefix, bool filter);

struct SystemPort {
    QString name;  // the system's name, e.g. "ttyACM0", or a simulated box's pty path
    bool hasUsbIds = false;
    quint16 vendorId = 0;
    quint16 productId = 0;
};

// The serial ports of USB devices, in the system's order, then the simulated boxes' ports.
// Ports that belong to no USB device could never be listed and are left out.
QList<SystemPort> systemSerialPorts();

struct PortListItem {
    QString text;  // the device's description
    QString portName;
};

struct PortListChange {
    QList<PortListItem> append;
    QStringList remove;  // texts of items to remove
    // Every description seen in this pass with the first port that has it. A listed item
    // takes this port name: a box that came back on another port before the list noticed
    // it had gone is reached where it is now.
    QList<PortListItem> found;
};

// One refresh of the port list: `current` are the texts of its items now. Each port whose
// ids are in `devices` yields its description; a description not listed yet and not seen
// earlier in this pass is appended with the port's name. Texts that were listed and not
// seen in this pass are removed.
PortListChange planPortList(const QStringList &current, const QList<SystemPort> &ports, const UsbDeviceMap &devices);

// Which ports a port list shows: those of USB devices whose description begins with a
// prefix (the maker's boxes), or those of every USB device.
struct PortFilter {
    QString descriptionPrefix;
    bool byPrefix = true;

    // The editor's list: the maker's boxes.
    static PortFilter boxes(const QString &makerName = boxMakerName()) { return {makerName, true}; }
    // Every USB serial device, whatever its description (a box in upgrade mode too).
    static PortFilter everyUsbSerialDevice() { return {QString(), false}; }
};

// The USB devices and serial ports present at one moment; one snapshot serves every list
// refreshed at that moment.
struct PortSnapshot {
    QList<UsbDevice> devices;
    QList<SystemPort> ports;
};
PortSnapshot presentPorts();
// The same without the simulated boxes: what libudev (or Qt, without udev) reports.
PortSnapshot systemPorts();
// Appends simulated boxes to a snapshot, as devices and as ports, the way presentPorts()
// merges them.
void addSimulatedBoxes(PortSnapshot *snapshot, const QList<SimulatedBox> &boxes);

// One refresh of a port list with the items `filter` admits among `snapshot`.
PortListChange planPortList(const QStringList &current, const PortSnapshot &snapshot, const PortFilter &filter);

// What a freshly filled list shows, in its order.
QList<PortListItem> listedPorts(const PortSnapshot &snapshot, const PortFilter &filter);
// What a port list scanned now for the maker's boxes shows, in its order.
QList<PortListItem> currentBoxPorts(const QString &makerName = boxMakerName());

}  // namespace vl
