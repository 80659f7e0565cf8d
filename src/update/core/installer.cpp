#include "installer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vl::update {

namespace {

#ifdef Q_OS_WIN
const char kInstallerSuffix[] = ".exe";
#else
const char kInstallerSuffix[] = ".AppImage";
#endif

const char kDirPrefix[] = "varilume-update-";
const char kStartedMark[] = ".started";

QString systemError(const QString &what, const QString &path)
{
    return QStringLiteral("%1 %2: %3")
        .arg(what, QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno)));
}

// The part files under way, for the signal handler: fixed storage, written only while
// the slot is not in use.
constexpr int kSlots = 4;
struct PartSlot {
    char part[PATH_MAX];
    char dir[PATH_MAX];
    volatile sig_atomic_t used;
};
PartSlot g_parts[kSlots];
struct sigaction g_previous[3];
const int kEndingSignals[3] = {SIGINT, SIGTERM, SIGHUP};
bool g_handlersInstalled = false;

void onEndingSignal(int sig)
{
    // Only what may be done in a signal handler.
    for (PartSlot &slot : g_parts)
        if (slot.used) {
            ::unlink(slot.part);
            ::rmdir(slot.dir);
        }
    for (int i = 0; i < 3; ++i)
        if (kEndingSignals[i] == sig)
            ::sigaction(sig, &g_previous[i], nullptr);
    ::raise(sig);
}

// Installs the handler for each ending signal that would otherwise just end the program.
void installEndingHandlers()
{
    if (g_handlersInstalled)
        return;
    g_handlersInstalled = true;
    for (int i = 0; i < 3; ++i) {
        struct sigaction current = {};
        if (::sigaction(kEndingSignals[i], nullptr, &current) != 0 || current.sa_handler != SIG_DFL
            || (current.sa_flags & SA_SIGINFO))
            continue;
        struct sigaction action = {};
        action.sa_handler = onEndingSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(kEndingSignals[i], &action, &g_previous[i]);
    }
}

int registerPart(const QString &part, const QString &dir)
{
    const QByteArray p = QFile::encodeName(part);
    const QByteArray d = QFile::encodeName(dir);
    if (p.size() >= PATH_MAX || d.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (g_parts[i].used)
            continue;
        std::memcpy(g_parts[i].part, p.constData(), size_t(p.size()) + 1);
        std::memcpy(g_parts[i].dir, d.constData(), size_t(d.size()) + 1);
        g_parts[i].used = 1;
        installEndingHandlers();
        return i;
    }
    return -1;
}

void unregisterPart(int slot)
{
    if (slot >= 0 && slot < kSlots)
        g_parts[slot].used = 0;
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
    else if (m_dirFd >= 0)
        ::close(m_dirFd);
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
    // Held while the download runs, then by the installer: a directory nobody holds is
    // one a later start may sweep.
    m_dirFd = ::open(pattern.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_dirFd < 0 || ::flock(m_dirFd, LOCK_EX | LOCK_NB) != 0) {
        *error = systemError(QStringLiteral("Cannot lock"), m_dir);
        discard();
        return false;
    }
    m_part = m_dir + QLatin1Char('/') + m_name + QStringLiteral(".part");
    m_slot = registerPart(m_part, m_dir);
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
    if (announced.state == AnnouncedHash::Malformed) {
        *error = QStringLiteral("The downloaded installer was not started: %1.")
                     .arg(checksumProblem(announced, m_hash.result()));
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
    unregisterPart(m_slot);
    m_slot = -1;
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
    unregisterPart(m_slot);
    m_slot = -1;
    if (m_dir.isEmpty())
        return;
    for (const QString &path : {m_part, m_final, m_dir + QLatin1Char('/') + m_name})
        if (!path.isEmpty())
            ::unlink(QFile::encodeName(path).constData());
    ::unlink(QFile::encodeName(m_dir + QLatin1Char('/') + QLatin1String(kStartedMark)).constData());
    ::rmdir(QFile::encodeName(m_dir).constData());
    if (m_dirFd >= 0) {
        ::close(m_dirFd);
        m_dirFd = -1;
    }
    m_dir.clear();
    m_part.clear();
    m_final.clear();
}

bool startInstaller(const QString &path, int lockHandle, QString *error)
{
    // Everything the children need is made before the fork: after it only calls that are
    // safe there (exec, write, _exit …).
    const QByteArray program = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    char *const argv[] = {const_cast<char *>(program.constData()), nullptr};
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        *error = systemError(QStringLiteral("The installer could not be started:"), path);
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        const int e = errno;
        ::close(report[0]);
        ::close(report[1]);
        *error = QStringLiteral("The installer %1 could not be started: %2")
                     .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(e)));
        return false;
    }
    if (child == 0) {
        // A session of its own, and a grandchild that nobody waits for: the installer
        // runs on when the editor ends.
        ::setsid();
        const pid_t installer = ::fork();
        if (installer == 0) {
            if (lockHandle >= 0)
                ::fcntl(lockHandle, F_SETFD, 0);  // the lock goes with the installer
            int e = 0;
            if (::chdir(folder.constData()) != 0)
                e = errno;
            else {
                ::execv(program.constData(), argv);
                e = errno;
            }
            ssize_t ignored = ::write(report[1], &e, sizeof e);
            (void)ignored;
            ::_exit(127);
        }
        if (installer < 0) {
            const int e = errno;
            ssize_t ignored = ::write(report[1], &e, sizeof e);
            (void)ignored;
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // Nothing arrives when the exec succeeded: the pipe closed with it.
    int failure = 0;
    ssize_t n;
    while ((n = ::read(report[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n == sizeof failure) {
        *error = QStringLiteral("The installer %1 could not be started: %2")
                     .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(failure)));
        return false;
    }
    // Marked, so that a later start removes the directory once the installer has ended.
    const QByteArray mark = folder + '/' + kStartedMark;
    const int fd = ::open(mark.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    return true;
}

int sweepInstallerLeftovers(const QString &tempRoot)
{
    const QByteArray root = QFile::encodeName(tempRoot.isEmpty() ? QDir::tempPath() : tempRoot);
    DIR *top = ::opendir(root.constData());
    if (!top)
        return 0;
    int removed = 0;
    while (const dirent *entry = ::readdir(top)) {
        if (std::strncmp(entry->d_name, kDirPrefix, sizeof kDirPrefix - 1) != 0)
            continue;
        const int dirFd = ::openat(::dirfd(top), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dirFd < 0)
            continue;
        struct stat st {};
        // Only the user's own private folders, and only those nobody holds: no download
        // runs in them and no installer started from them runs any more.
        if (::fstat(dirFd, &st) != 0 || st.st_uid != ::getuid() || (st.st_mode & 0777) != 0700
            || ::flock(dirFd, LOCK_EX | LOCK_NB) != 0) {
            ::close(dirFd);
            continue;
        }
        DIR *inner = ::fdopendir(::dup(dirFd));
        QList<QByteArray> names;
        bool leftover = false;
        while (inner) {
            const dirent *file = ::readdir(inner);
            if (!file)
                break;
            const QByteArray name(file->d_name);
            if (name == "." || name == "..")
                continue;
            names << name;
            leftover = leftover || name.endsWith(".part") || name == kStartedMark;
        }
        if (inner)
            ::closedir(inner);
        if (leftover) {
            for (const QByteArray &name : qAsConst(names))
                ::unlinkat(dirFd, name.constData(), 0);
            if (::unlinkat(::dirfd(top), entry->d_name, AT_REMOVEDIR) == 0)
                ++removed;
        }
        ::close(dirFd);
    }
    ::closedir(top);
    return removed;
}

}  // namespace vl::update
