#pragma once

// Whether this user may open the box's serial port, and what stands in the way.
//
// On a Linux desktop a USB serial port belongs to root and the group "dialout"; the udev
// rule that comes with Varilume (60-varilume.rules) gives the user at the computer's own
// screen access to the box and its bootloader, and tells ModemManager to leave them alone.
// Without that rule ModemManager probes a newly plugged box for several seconds and
// disturbs what the editor sends meanwhile.
//
// The questions asked of the system go through PortSystem, which tests replace.

#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace vl {

// The udev rule's file name, as installed.
inline QString udevRuleFileName() { return QStringLiteral("60-varilume.rules"); }

class PortSystem {
public:
    virtual ~PortSystem();
    // 0 when this process may read and write the device file, otherwise why not (an errno
    // value such as EACCES or ENOENT).
    virtual int accessError(const QString &devicePath) const;
    // Whether ModemManager runs on this computer.
    virtual bool modemManagerRunning() const;
    // Whether the udev rule for the box is installed where udev reads rules.
    virtual bool udevRuleInstalled() const;
};

// The system in use: the real one unless a test installed its own.
PortSystem &portSystem();
// Installs a replacement (not owned); nullptr brings the real system back.
void installPortSystem(PortSystem *system);

// The device file of a port name as QSerialPort takes it: "ttyACM0" is "/dev/ttyACM0",
// a path stays as it is.
QString portDevicePath(const QString &portName);
// Whether the port is a pseudo-terminal (a simulated box), which ModemManager never probes.
bool isPseudoTerminal(const QString &portName);

enum class PortOpenFailure {
    None,          // the port is open
    NoPermission,  // the user may not use the device
    InUse,         // another program holds it
    NotFound,      // no such device (any more)
    Other,
};

// Why opening failed, from the port's error and the system's answer to whether the user
// may read and write the device (0 or an errno value). QSerialPort reports a device that
// is in use and one the user may not open alike, as PermissionError.
PortOpenFailure classifyOpenFailure(QSerialPort::SerialPortError error, int accessError);

// Opens `port` (its name and speed set) for reading and writing. A device the user may
// not use is not tried at all.
PortOpenFailure openSerialPort(QSerialPort &port);

// What to tell a user who may not open `devicePath`, naming both ways to get access: as a
// message box's text, and as the rest of a command-line error line ("cannot open X: ...").
QString permissionDeniedMessage(const QString &devicePath);
QString permissionDeniedLine();

// Says once in a run that ModemManager may disturb the box: when it is running and the
// udev rule is not installed. Pseudo-terminals are never probed, so they need no notice.
class ModemManagerNotice {
public:
    // The notice to show before the port is opened, or an empty text.
    QString beforeOpening(const QString &portName);
    static QString title() { return QStringLiteral("ModemManager"); }
    static QString text();

private:
    bool m_given = false;
};

// The pieces of the real system's answers, open to tests through their arguments.
// Whether a process whose command name is `name` is listed under `procDirectory`.
bool processRunning(const QString &procDirectory, const QString &name);
// Whether `fileName` is in one of `directories`.
bool fileInAnyDirectory(const QStringList &directories, const QString &fileName);
// Where udev reads rules.
QStringList udevRuleDirectories();

}  // namespace vl
