#include "installer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vl::update {

namespace {

#ifdef Q_OS_WIN
const char kInstallerSuffix[] = ".exe";
#else
const char kInstallerSuffix[] = ".AppImage";
#endif

QString systemError(const QString &what, const QString &path)
{
    return QStringLiteral("%1 %2: %3")
        .arg(what, QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno)));
}

}  // namespace

QString installerServerName(const QString &version)
{
    return QStringLiteral("Varilume_V") + version + QLatin1String(kInstallerSuffix);
}

QString installerFileName(const QString &version) { return version + QLatin1String(kInstallerSuffix); }

InstallerFile::InstallerFile(const QString &fileName, const QString &tempRoot)
    : m_name(fileName), m_root(tempRoot.isEmpty() ? QDir::tempPath() : tempRoot)
{
}

InstallerFile::~InstallerFile()
{
    if (m_final.isEmpty())
        discard();
}

bool InstallerFile::open(QString *error)
{
    if (m_name.isEmpty() || m_name.contains(QLatin1Char('/')) || m_name.startsWith(QLatin1Char('.'))) {
        *error = QStringLiteral("Not a file name for an installer: %1").arg(m_name);
        return false;
    }
    // mkdtemp creates the directory with mode 0700 and fails rather than reuse a name.
    QByteArray pattern = QFile::encodeName(m_root + QStringLiteral("/varilume-update-XXXXXX"));
    if (!::mkdtemp(pattern.data())) {
        *error = systemError(QStringLiteral("Cannot create a private folder in"), m_root);
        return false;
    }
    m_dir = QFile::decodeName(pattern);
    m_part = m_dir + QLatin1Char('/') + m_name + QStringLiteral(".part");
    m_fd = ::open(QFile::encodeName(m_part).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
    if (m_fd < 0) {
        *error = systemError(QStringLiteral("Cannot create"), m_part);
        discard();
        return false;
    }
    return true;
}

bool InstallerFile::write(const QByteArray &piece, QString *error)
{
    const char *p = piece.constData();
    qint64 left = piece.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = systemError(QStringLiteral("Cannot write"), m_part);
            return false;
        }
        p += n;
        left -= n;
    }
    m_size += piece.size();
    m_hash.addData(piece);
    return true;
}

bool InstallerFile::finish(const AnnouncedHash &announced, QString *error)
{
    if (m_fd < 0) {
        *error = QStringLiteral("The installer file is not open.");
        return false;
    }
    if (m_size == 0) {
        *error = QStringLiteral("The update server sent an empty installer.");
        discard();
        return false;
    }
    if (!digestAccepted(announced, m_hash.result())) {
        *error = QStringLiteral("The downloaded installer does not match the checksum the update server "
                                "announced for it, so it was not started. It may have been damaged or "
                                "replaced on the way.");
        discard();
        return false;
    }
    // Executable for its owner only; the folder admits nobody else anyway.
    if (::fchmod(m_fd, 0700) != 0 || ::fsync(m_fd) != 0) {
        *error = systemError(QStringLiteral("Cannot complete"), m_part);
        discard();
        return false;
    }
    closeFile();
    // A hard link refuses an existing name where rename would replace it.
    const QString target = m_dir + QLatin1Char('/') + m_name;
    if (::link(QFile::encodeName(m_part).constData(), QFile::encodeName(target).constData()) != 0) {
        *error = systemError(QStringLiteral("Cannot create"), target);
        discard();
        return false;
    }
    ::unlink(QFile::encodeName(m_part).constData());
    m_final = target;
    return true;
}

void InstallerFile::closeFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void InstallerFile::discard()
{
    closeFile();
    if (m_dir.isEmpty())
        return;
    for (const QString &path : {m_part, m_final, m_dir + QLatin1Char('/') + m_name})
        if (!path.isEmpty())
            ::unlink(QFile::encodeName(path).constData());
    ::rmdir(QFile::encodeName(m_dir).constData());
    m_dir.clear();
    m_part.clear();
    m_final.clear();
}

bool startInstaller(const QString &path, QString *error)
{
    QProcess process;
    process.setProgram(path);
    process.setWorkingDirectory(QFileInfo(path).absolutePath());
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        *error = QStringLiteral("The installer %1 could not be started: %2")
                     .arg(QDir::toNativeSeparators(path), process.errorString());
        return false;
    }
    return true;
}

}  // namespace vl::update
