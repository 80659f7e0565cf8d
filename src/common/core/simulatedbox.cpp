#include "simulatedbox.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
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

// Whether `path` is a folder that belongs to us and that nobody else may use; else why
// not (empty when it does not exist).
bool isPrivateFolder(const QString &path, QString *why)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        *why = errno == ENOENT ? QString() : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (S_ISLNK(st.st_mode))
        *why = QStringLiteral("it is a symbolic link");
    else if (!S_ISDIR(st.st_mode))
        *why = QStringLiteral("it is not a folder");
    else if (st.st_uid != ::geteuid())
        *why = QStringLiteral("it belongs to another user (uid %1)").arg(st.st_uid);
    else if (st.st_mode & 077)
        *why = QStringLiteral("others may use it (mode %1, not 0700)").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    else
        return true;
    return false;
}

// Reads one announcement: a regular file of ours whose lock a running simulator holds.
bool readAnnouncement(const QString &path, SimulatedBox *box)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
              && st.st_size <= kMaxAnnouncementSize;
    if (ok) {
        QByteArray text(int(kMaxAnnouncementSize), '\0');
        const ssize_t n = ::read(fd, text.data(), size_t(text.size()));
        ok = n >= 0 && parseAnnouncement(text.left(int(n)), box);
    }
    // Held by a running simulator: our shared lock cannot be had beside its exclusive one.
    ok = ok && ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return ok;
}

}  // namespace

QString simulatedBoxDirectory()
{
    const QByteArray configured = qgetenv("VARILUME_SIMBOX_DIR");
    if (!configured.isEmpty())
        return QFile::decodeName(configured);
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QStringLiteral("/varilume-simbox");
    // The temporary folder is everybody's: each user has a folder of their own there.
    // QDir::tempPath() resolves links each time it is asked, and port lists ask many times
    // a second; its answer changes only with TMPDIR (unset and empty both mean /tmp).
    thread_local QByteArray tmpdir;
    thread_local QString folder;
    const QByteArray nowTmpdir = qgetenv("TMPDIR");
    if (folder.isEmpty() || nowTmpdir != tmpdir) {
        tmpdir = nowTmpdir;
        folder = QDir::tempPath() + QStringLiteral("/varilume-simbox-%1").arg(::geteuid());
    }
    return folder;
}

QList<SimulatedBox> runningSimulatedBoxes()
{
    QList<SimulatedBox> boxes;
    const QString path = simulatedBoxDirectory();
    QString why;
    if (!isPrivateFolder(path, &why)) {
        // Anyone who could write there could announce a box of theirs, which would then get
        // the user's tables. Said once for each folder.
        static QSet<QString> warned;
        if (!why.isEmpty() && !warned.contains(path)) {
            warned.insert(path);
            qWarning().noquote() << QStringLiteral("Simulated boxes in %1 are ignored: %2.").arg(path, why);
        }
        return boxes;
    }
    QDir dir(path);
    const QStringList names = dir.entryList({QStringLiteral("*.port")}, QDir::Files | QDir::System, QDir::Name);
    for (const QString &name : names) {
        SimulatedBox box;
        if (readAnnouncement(dir.filePath(name), &box))
            boxes << box;
    }
    return boxes;
}

SimulatedBoxWatch::SimulatedBoxWatch()
    : m_folder(IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB)
{
}

QList<SimulatedBox> SimulatedBoxWatch::boxes(bool readAgain)
{
    const bool changed = m_folder.changed(simulatedBoxDirectory());
    if (changed || readAgain || m_lookAgain) {
        m_boxes = runningSimulatedBoxes();
        m_lookAgain = changed;
    }
    return m_boxes;
}

SimulatedBoxAnnouncement::~SimulatedBoxAnnouncement() { withdraw(); }

bool SimulatedBoxAnnouncement::announce(const SimulatedBox &box, QString *error)
{
    withdraw();
    const QString dirPath = simulatedBoxDirectory();
    const QByteArray dirName = QFile::encodeName(dirPath);
    QDir().mkpath(QFileInfo(dirPath).absolutePath());
    // Only we may announce there.
    if (::mkdir(dirName.constData(), 0700) == 0) {
        ::chmod(dirName.constData(), 0700);
    } else if (errno != EEXIST) {
        if (error)
            *error = QStringLiteral("cannot create %1: %2").arg(dirPath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    } else {
        // A folder of ours that others may use (made before announcing took care): ours to
        // close. Their files in it are never taken for announcements.
        struct stat st {};
        if (::lstat(dirName.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
            && (st.st_mode & 077))
            ::chmod(dirName.constData(), 0700);
    }
    QString why;
    if (!isPrivateFolder(dirPath, &why)) {
        if (error)
            *error = QStringLiteral("will not announce in %1: %2").arg(dirPath, why);
        return false;
    }
    const QString path = QStringLiteral("%1/simbox-%2.port").arg(dirPath).arg(QCoreApplication::applicationPid());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                          0600);
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
