#pragma once

// What the fuzz targets share: a private scratch directory for inputs that the code under
// test takes by file name, and checks of properties that end the run loudly. A target is
// built twice from the same source: with libFuzzer (clang, build-fuzz) to search, and with
// replaymain.cpp into the ordinary test build to replay the inputs kept in the repository.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace vl::fuzz {

// Stops the run so that libFuzzer keeps the input (and the replay test fails).
[[noreturn]] inline void fail(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_EXPECT(condition)                                                                                         \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::vl::fuzz::fail(#condition, __FILE__, __LINE__);                                                          \
    } while (false)

// Like FUZZ_EXPECT(a == b) for two texts, naming the first line where they differ.
inline void expectSame(const QByteArray &a, const QByteArray &b, const char *what, const char *file, int line)
{
    if (a == b)
        return;
    const QList<QByteArray> la = a.split('\n'), lb = b.split('\n');
    for (int i = 0; i < qMax(la.size(), lb.size()); ++i) {
        const QByteArray x = la.value(i), y = lb.value(i);
        if (x != y) {
            std::fprintf(stderr, "line %d differs:\n  %s\n  %s\n", i + 1, x.left(300).toHex(' ').constData(),
                         y.left(300).toHex(' ').constData());
            std::fprintf(stderr, "  \"%s\"\n  \"%s\"\n", x.left(300).constData(), y.left(300).constData());
            break;
        }
    }
    fail(what, file, line);
}

#define FUZZ_EXPECT_SAME(a, b) ::vl::fuzz::expectSame((a), (b), #a " == " #b, __FILE__, __LINE__)

inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// A directory of this process, removed when it ends, in memory where /dev/shm exists, as
// the targets write a file for every input. A run that crashed or was killed cannot remove
// its own; the next run removes those of processes that no longer exist.
inline const QString &scratchDir()
{
    static const QString path = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        const QString prefix = QStringLiteral("varilume-fuzz-");
        for (const QFileInfo &old : QDir(base).entryInfoList({prefix + QLatin1Char('*')}, QDir::Dirs)) {
            const qint64 pid = old.fileName().mid(prefix.size()).toLongLong();
            if (pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
                QDir(old.filePath()).removeRecursively();
        }
        const QString dir = base + QLatin1Char('/') + prefix + QString::number(::getpid());
        QDir(dir).removeRecursively();
        if (!QDir().mkpath(dir)) {
            std::fprintf(stderr, "cannot create a scratch directory in %s\n", qPrintable(base));
            std::abort();
        }
        return dir;
    }();
    static const bool cleanup = [] {
        std::atexit([] { QDir(scratchDir()).removeRecursively(); });
        return true;
    }();
    (void)cleanup;
    return path;
}

// Writes `bytes` to `name` in the scratch directory and gives the file's path.
inline QString scratchFile(const QString &name, const QByteArray &bytes)
{
    const QString path = scratchDir() + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

// A small deterministic generator, seeded from the input, for choices a target makes
// about an input (such as where to cut it).
class Choices {
public:
    explicit Choices(const QByteArray &seed)
    {
        for (const char c : seed)
            m_state = (m_state ^ quint8(c)) * 1099511628211ULL;  // FNV-1a
    }
    // A number in [low, high].
    int between(int low, int high)
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return low + int((m_state >> 33) % quint64(high - low + 1));
    }

private:
    quint64 m_state = 14695981039346656037ULL;
};

}  // namespace vl::fuzz
