#include "safefile.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vl {

namespace {

std::function<int(WholeWriteStep, const QString &)> g_hook;

// The temporary file of the whole write under way, for discardWholeWriteInProgress(). The
// name is written before the flag is raised, and the flag lowered before it changes.
char g_pending[PATH_MAX + 1];
volatile sig_atomic_t g_hasPending = 0;

void setPending(const QByteArray &path)
{
    g_hasPending = 0;
    const size_t n = std::min(size_t(path.size()), sizeof g_pending - 1);
    std::memcpy(g_pending, path.constData(), n);
    g_pending[n] = '\0';
    g_hasPending = size_t(path.size()) < sizeof g_pending ? 1 : 0;
}

void clearPending() { g_hasPending = 0; }

int hookFails(WholeWriteStep step, const QByteArray &temporary)
{
    return g_hook ? g_hook(step, QFile::decodeName(temporary)) : 0;
}

bool fail(FileProblem *problem, int code, const QString &reason = QString())
{
    if (problem) {
        problem->code = code;
        problem->reason = reason.isEmpty() ? fileErrorReason(code) : reason;
    }
    return false;
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO (named pipe)");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("no regular file");
}

QByteArray folderOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

QByteArray nameOf(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

// Follows symbolic links from `path` to what a write replaces or creates. A link that lies
// in a sticky folder others may write to (/tmp) and belongs neither to us nor to the
// folder's owner is not followed, as the kernel's protected_symlinks has it: someone else
// may have planted it to make us overwrite a file of ours.
bool followLinks(const QByteArray &path, QByteArray *target, FileProblem *problem)
{
    QByteArray current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(current.constData(), &st) != 0) {
            if (errno == ENOENT) {  // a new file, or a link that leads to one
                *target = current;
                return true;
            }
            return fail(problem, errno);
        }
        if (!S_ISLNK(st.st_mode)) {
            *target = current;
            return true;
        }
        const QByteArray folder = folderOf(current);
        struct stat fs {};
        if (::stat(folder.constData(), &fs) == 0 && (fs.st_mode & S_ISVTX) && (fs.st_mode & S_IWOTH)
            && st.st_uid != ::geteuid() && st.st_uid != fs.st_uid)
            return fail(problem, EACCES,
                        QStringLiteral("it is a symbolic link that another user put in the shared folder %1; "
                                       "it is not followed")
                            .arg(QFile::decodeName(folder)));
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(current.constData(), buffer, sizeof buffer);
        if (n < 0)
            return fail(problem, errno);
        if (size_t(n) >= sizeof buffer)
            return fail(problem, ENAMETOOLONG);
        const QByteArray link(buffer, int(n));
        current = link.startsWith('/') ? link : folder + '/' + link;
    }
    return fail(problem, ELOOP);
}

// How a whole write goes about `path`.
struct WritePlan {
    bool stream = false;  // write into the special file itself
    QByteArray path;      // what is opened (stream) or replaced/created
    bool exists = false;  // a regular file that is replaced
    struct stat existing {};
};

bool planWrite(const QString &given, SpecialTarget special, WritePlan *plan, FileProblem *problem)
{
    if (given.isEmpty())
        return fail(problem, ENOENT, QStringLiteral("no file name was given"));
    const QByteArray path = QFile::encodeName(given);
    struct stat st {};
    if (::stat(path.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return fail(problem, EISDIR);
        if (!S_ISREG(st.st_mode)) {
            if (special != SpecialTarget::Stream || !(S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)))
                return fail(
                    problem, 0,
                    QStringLiteral("it is %1, not a regular file; nothing is written to it").arg(kindOf(st.st_mode)));
            if (::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) != 0)
                return fail(problem, errno);
            plan->stream = true;
            plan->path = path;
            return true;
        }
    } else if (errno != ENOENT) {
        return fail(problem, errno);
    }

    QByteArray target;
    if (!followLinks(path, &target, problem))
        return false;
    const QByteArray folder = folderOf(target);
    struct stat fs {};
    if (::stat(folder.constData(), &fs) != 0) {
        if (errno == ENOENT)
            return fail(problem, ENOENT, QStringLiteral("the folder %1 does not exist").arg(QFile::decodeName(folder)));
        return fail(problem, errno);
    }
    if (!S_ISDIR(fs.st_mode))
        return fail(problem, ENOTDIR, QStringLiteral("%1 is not a folder").arg(QFile::decodeName(folder)));

    plan->path = target;
    plan->exists = ::stat(target.constData(), &plan->existing) == 0;
    if (plan->exists && ::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0) {
        if (errno == EACCES && (plan->existing.st_mode & 0222) == 0)
            return fail(problem, EACCES, QStringLiteral("the file is read-only"));
        return fail(problem, errno);
    }
    // The new file is made in the folder, so the folder must take it.
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0) {
        if (errno == EACCES)
            return fail(problem, EACCES,
                        QStringLiteral("permission denied in the folder %1").arg(QFile::decodeName(folder)));
        return fail(problem, errno);
    }
    return true;
}

bool writeAll(int fd, const QByteArray &data, int *error)
{
    const char *p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(std::min<qint64>(left, 1 << 20)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        if (n == 0) {
            *error = ENOSPC;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

bool streamTo(const WritePlan &plan, const QByteArray &data, FileProblem *problem)
{
    int fd;
    do
        fd = ::open(plan.path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(problem, errno);
    int error = 0;
    const bool written = writeAll(fd, data, &error);
    if (::close(fd) != 0 && written && errno != EINTR)
        return fail(problem, errno);
    return written || fail(problem, error);
}

QByteArray temporaryName(const QByteArray &target)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(6, 'x');
    for (char &c : suffix)
        c = letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    // Hidden, beside the target, and within the length a name may have.
    return folderOf(target) + "/." + nameOf(target).left(200) + '.' + suffix;
}

bool replaceWhole(const WritePlan &plan, const QByteArray &data, FileProblem *problem)
{
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = temporaryName(plan.path);
        setPending(temporary);
        if (const int injected = hookFails(WholeWriteStep::CreateTemporary, temporary)) {
            clearPending();
            return fail(problem, injected);
        }
        // 0666: the umask decides what a new file allows.
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST && errno != EINTR) {
            const int error = errno;
            clearPending();
            return fail(problem, error);
        }
    }
    if (fd < 0) {
        clearPending();
        return fail(problem, EEXIST);
    }
    const auto giveUp = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.constData());
        clearPending();
        return fail(problem, error);
    };

    if (plan.exists) {
        // The replacement keeps the file's owner where we may give it, and its mode.
        // The owner goes first: changing it clears set-id bits.
        if ((plan.existing.st_uid != ::geteuid() || plan.existing.st_gid != ::getegid())
            && ::fchown(fd, plan.existing.st_uid, plan.existing.st_gid) != 0) {
            // Not ours to give: the replacement belongs to us, with the file's mode.
        }
        if (::fchmod(fd, plan.existing.st_mode & 07777) != 0)
            return giveUp(errno);
    }
    int error = hookFails(WholeWriteStep::Write, temporary);
    if (error || !writeAll(fd, data, &error))
        return giveUp(error);
    // On the disk before the name changes: after a crash the name shows the old file or
    // the whole new one, never an empty or partly written one.
    error = hookFails(WholeWriteStep::Sync, temporary);
    if (error || ::fsync(fd) != 0)
        return giveUp(error ? error : errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0 && errno != EINTR)
        return giveUp(errno);
    error = hookFails(WholeWriteStep::Rename, temporary);
    if (error || ::rename(temporary.constData(), plan.path.constData()) != 0)
        return giveUp(error ? error : errno);
    clearPending();
    // The rename itself on the disk too. Some file systems cannot sync a folder; the file
    // is written all the same.
    const int folder = ::open(folderOf(plan.path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

}  // namespace

QString fileErrorReason(int code)
{
    switch (code) {
    case 0: return QStringLiteral("unknown reason");
    case ENOSPC: return QStringLiteral("no space left on the device");
    case EDQUOT: return QStringLiteral("the disk quota is used up");
    case EROFS: return QStringLiteral("the file system is read-only");
    case EACCES:
    case EPERM: return QStringLiteral("permission denied");
    case ENOENT: return QStringLiteral("no such file or folder");
    case ENOTDIR: return QStringLiteral("a part of the path is not a folder");
    case EISDIR: return QStringLiteral("it is a folder");
    case EIO: return QStringLiteral("input/output error (the disk may be failing or gone)");
    case EFBIG: return QStringLiteral("the file is too large for the file system");
    case ENAMETOOLONG: return QStringLiteral("the name is too long");
    case ELOOP: return QStringLiteral("too many symbolic links");
    case ENXIO:
    case ENODEV: return QStringLiteral("no such device");
    case EPIPE: return QStringLiteral("the program reading from it has ended");
    case ETXTBSY: return QStringLiteral("the file is a program that is running");
    case EBUSY: return QStringLiteral("it is busy");
    case EMFILE:
    case ENFILE: return QStringLiteral("too many open files");
    default: break;
    }
    QString text = QString::fromLocal8Bit(std::strerror(code));
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

bool writeFileWhole(const QString &path, const QByteArray &data, QString *error)
{
    FileProblem problem;
    if (writeFileWhole(path, data, SpecialTarget::Refuse, &problem))
        return true;
    if (error)
        *error = problem.reason;
    return false;
}

bool writeFileWhole(const QString &path, const QByteArray &data, SpecialTarget special, FileProblem *problem)
{
    WritePlan plan;
    if (!planWrite(path, special, &plan, problem))
        return false;
    return plan.stream ? streamTo(plan, data, problem) : replaceWhole(plan, data, problem);
}

bool canWriteFileWhole(const QString &path, SpecialTarget special, FileProblem *problem)
{
    WritePlan plan;
    return planWrite(path, special, &plan, problem);
}

bool readRegularFile(const QString &path, qint64 maxBytes, QByteArray *data, FileProblem *problem)
{
    const QByteArray name = QFile::encodeName(path);
    const auto notRegular = [&](mode_t mode) {
        if (S_ISDIR(mode))
            return fail(problem, EISDIR);
        return fail(problem, 0, QStringLiteral("it is %1, not a regular file").arg(kindOf(mode)));
    };
    const auto tooLarge = [&] {
        return fail(problem, EFBIG, QStringLiteral("it is larger than %1 bytes").arg(maxBytes));
    };
    struct stat st {};
    // Looked at before it is opened, since opening a device may already do something.
    if (::stat(name.constData(), &st) != 0)
        return fail(problem, errno, errno == ENOENT ? QStringLiteral("the file does not exist") : QString());
    if (!S_ISREG(st.st_mode))
        return notRegular(st.st_mode);
    // Without waiting: what was looked at may have become a FIFO meanwhile.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(problem, errno);
    QFile file;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        const int error = errno;
        ::close(fd);
        return S_ISREG(st.st_mode) ? fail(problem, error) : notRegular(st.st_mode);
    }
    if (st.st_size > maxBytes)
        return tooLarge();
    // One byte more than allowed shows a file that grew meanwhile.
    const QByteArray bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(problem, EIO);
    if (bytes.size() > maxBytes)
        return tooLarge();
    *data = bytes;
    return true;
}

bool isRegularFile(const QString &path, FileProblem *problem)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return fail(problem, errno, errno == ENOENT ? QStringLiteral("the file does not exist") : QString());
    if (S_ISREG(st.st_mode))
        return true;
    if (S_ISDIR(st.st_mode))
        return fail(problem, EISDIR);
    return fail(problem, 0, QStringLiteral("it is %1, not a regular file").arg(kindOf(st.st_mode)));
}

void discardWholeWriteInProgress()
{
    if (g_hasPending)
        ::unlink(g_pending);
}

void setWholeWriteHook(std::function<int(WholeWriteStep, const QString &)> hook) { g_hook = std::move(hook); }

}  // namespace vl
