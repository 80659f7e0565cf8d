#include "portaccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

namespace vl {

namespace {

PortSystem *g_installed = nullptr;

QString ruleFix()
{
    return QStringLiteral("install the udev rule %1 that comes with Varilume (the package puts it in "
                          "/usr/lib/udev/rules.d; otherwise copy it to /etc/udev/rules.d) and plug the box in "
                          "again")
        .arg(udevRuleFileName());
}

QString groupFix()
{
    return QStringLiteral("join the \"dialout\" group (sudo usermod -aG dialout $USER) and log in again");
}

}  // namespace

PortSystem::~PortSystem() = default;

int PortSystem::accessError(const QString &devicePath) const
{
    // access() asks with the real user and honours the ACL that udev's "uaccess" tag sets.
    if (::access(QFile::encodeName(devicePath).constData(), R_OK | W_OK) == 0)
        return 0;
    return errno;
}

bool PortSystem::modemManagerRunning() const
{
    return processRunning(QStringLiteral("/proc"), QStringLiteral("ModemManager"));
}

bool PortSystem::udevRuleInstalled() const { return fileInAnyDirectory(udevRuleDirectories(), udevRuleFileName()); }

PortSystem &portSystem()
{
    static PortSystem real;
    return g_installed ? *g_installed : real;
}

void installPortSystem(PortSystem *system) { g_installed = system; }

QString portDevicePath(const QString &portName)
{
    if (portName.startsWith(QLatin1Char('/')) || portName.startsWith(QLatin1String("./"))
        || portName.startsWith(QLatin1String("../")))
        return portName;
    return QStringLiteral("/dev/") + portName;
}

bool isPseudoTerminal(const QString &portName)
{
    return portDevicePath(portName).startsWith(QLatin1String("/dev/pts/"));
}

PortOpenFailure classifyOpenFailure(QSerialPort::SerialPortError error, int accessError)
{
    if (error == QSerialPort::NoError)
        return PortOpenFailure::None;
    if (accessError == EACCES || accessError == EPERM)
        return PortOpenFailure::NoPermission;
    switch (error) {
    case QSerialPort::PermissionError:
        // Busy device, exclusive use by another program, or another program's lock file.
        return PortOpenFailure::InUse;
    case QSerialPort::DeviceNotFoundError: return PortOpenFailure::NotFound;
    default:
        return accessError == ENOENT || accessError == ENODEV || accessError == ENXIO ? PortOpenFailure::NotFound
                                                                                      : PortOpenFailure::Other;
    }
}

PortOpenFailure openSerialPort(QSerialPort &port)
{
    const QString path = portDevicePath(port.portName());
    const int before = portSystem().accessError(path);
    if (before == EACCES || before == EPERM)
        return PortOpenFailure::NoPermission;
    if (port.open(QIODevice::ReadWrite))
        return PortOpenFailure::None;
    return classifyOpenFailure(port.error(), portSystem().accessError(path));
}

QString permissionDeniedMessage(const QString &devicePath)
{
    return QStringLiteral("You may not use %1: permission denied.\n\nTo allow it, either\n• %2, or\n• %3.")
        .arg(devicePath, ruleFix(), groupFix());
}

QString permissionDeniedLine()
{
    return QStringLiteral("permission denied; to allow it, %1, or %2").arg(ruleFix(), groupFix());
}

QString ModemManagerNotice::text()
{
    return QStringLiteral(
               "ModemManager is running on this computer. It probes a newly plugged USB serial device for "
               "several seconds and may disturb what the editor sends to the box meanwhile.\n\n"
               "To keep it away from the box, install the udev rule %1 that comes with Varilume (the package "
               "puts it in /usr/lib/udev/rules.d; otherwise copy it to /etc/udev/rules.d) and plug the box in "
               "again. If this computer has no mobile broadband modem, stopping ModemManager also helps:\n"
               "sudo systemctl disable --now ModemManager")
        .arg(udevRuleFileName());
}

QString ModemManagerNotice::beforeOpening(const QString &portName)
{
    if (m_given || portName.isEmpty() || isPseudoTerminal(portName))
        return QString();
    const PortSystem &system = portSystem();
    if (!system.modemManagerRunning() || system.udevRuleInstalled())
        return QString();
    m_given = true;
    return text();
}

bool processRunning(const QString &procDirectory, const QString &name)
{
    const QDir proc(procDirectory);
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile comm(proc.filePath(entry + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly))
            continue;  // the process has ended meanwhile
        if (QString::fromUtf8(comm.read(64)).trimmed() == name)
            return true;
    }
    return false;
}

bool fileInAnyDirectory(const QStringList &directories, const QString &fileName)
{
    for (const QString &directory : directories)
        if (QFileInfo(QDir(directory).filePath(fileName)).isFile())
            return true;
    return false;
}

QStringList udevRuleDirectories()
{
    return {QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/run/udev/rules.d"),
            QStringLiteral("/usr/local/lib/udev/rules.d"), QStringLiteral("/usr/lib/udev/rules.d"),
            QStringLiteral("/lib/udev/rules.d")};
}

}  // namespace vl
