#include "simulatedbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vl {

namespace {

constexpr qint64 kMaxAnnouncementSize = 4096;

bool parseAnnouncement(const QByteArray &text, SimulatedBox *box)
{
    bool okVendor = false;
    bool okProduct = false;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        const int eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QString value = QString::fromUtf8(line.mid(eq + 1).trimmed());
        if (key == "port") {
            box->portName = value;
        } else if (key == "vendor") {
            const uint v = value.toUInt(&okVendor, 16);
            okVendor = okVendor && v <= 0xFFFF;
            box->vendorId = quint16(v);
        } else if (key == "product") {
            const uint v = value.toUInt(&okProduct, 16);
            okProduct = okProduct && v <= 0xFFFF;
            box->productId = quint16(v);
        } else if (key == "description") {
            box->description = value;
        }
    }
    return okVendor && okProduct && !box->portName.isEmpty();
}

// True when a running simulator holds the file's lock.
bool isHeld(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

}  // namespace

QString simulatedBoxDirectory()
{
    const QByteArray configured = qgetenv("VARILUME_SIMBOX_DIR");
    if (!configured.isEmpty())
        return QFile::decodeName(configured);
    QString base = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (base.isEmpty() || !QFileInfo(base).isDir())
        base = QDir::tempPath();
    return base + QStringLiteral("/varilume-simbox");
}

QList<SimulatedBox> runningSimulatedBoxes()
{
    QList<SimulatedBox> boxes;
    QDir dir(simulatedBoxDirectory());
    const QStringList names = dir.entryList({QStringLiteral("*.port")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (file.size() > kMaxAnnouncementSize || !file.open(QIODevice::ReadOnly))
            continue;
        SimulatedBox box;
        if (parseAnnouncement(file.read(kMaxAnnouncementSize), &box) && isHeld(path))
            boxes << box;
    }
    return boxes;
}

SimulatedBoxAnnouncement::~SimulatedBoxAnnouncement() { withdraw(); }

bool SimulatedBoxAnnouncement::announce(const SimulatedBox &box, QString *error)
{
    withdraw();
    const QString dirPath = simulatedBoxDirectory();
    if (!QDir().mkpath(dirPath)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(dirPath);
        return false;
    }
    const QString path = QStringLiteral("%1/simbox-%2.port").arg(dirPath).arg(QCoreApplication::applicationPid());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                          0644);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (error)
            *error = QStringLiteral("cannot lock %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const QByteArray text = QStringLiteral("port=%1\nvendor=%2\nproduct=%3\ndescription=%4\n")
                                .arg(box.portName)
                                .arg(box.vendorId, 4, 16, QLatin1Char('0'))
                                .arg(box.productId, 4, 16, QLatin1Char('0'))
                                .arg(box.description)
                                .toUtf8();
    if (::write(fd, text.constData(), size_t(text.size())) != text.size()) {
        if (error)
            *error = QStringLiteral("cannot write %1").arg(path);
        ::close(fd);
        ::unlink(QFile::encodeName(path).constData());
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

void SimulatedBoxAnnouncement::withdraw()
{
    if (m_fd < 0)
        return;
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

}  // namespace vl
