// Shared pieces: whole-file writes, the announcements of simulated boxes and the
// schedulers that timers take their time from.

#include "common/core/folderwatch.h"
#include "common/core/safefile.h"
#include "common/core/scheduler.h"
#include "common/core/simulatedbox.h"

#include <QPointer>
#include <QSignalSpy>

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vl;

Q_DECLARE_METATYPE(vl::SpecialTarget)
Q_DECLARE_METATYPE(vl::WholeWriteStep)

namespace {

constexpr uid_t kNobody = 65534;

QByteArray nameOf(const QString &path) { return QFile::encodeName(path); }

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(nameOf(path).constData(), &st) == 0 ? st.st_mode : 0;
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Hidden files a whole write leaves behind in `folder`: its temporary files.
QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({".*"}, QDir::Files | QDir::Hidden | QDir::System);
}

struct UmaskFor {
    explicit UmaskFor(mode_t mask) : old(::umask(mask)) {}
    ~UmaskFor() { ::umask(old); }
    mode_t old;
};

struct HookFor {
    explicit HookFor(std::function<int(WholeWriteStep, const QString &)> hook) { setWholeWriteHook(std::move(hook)); }
    ~HookFor() { setWholeWriteHook(nullptr); }
};

QStringList g_warnings;

struct WarningsCounted {
    WarningsCounted()
    {
        g_warnings.clear();
        old = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtWarningMsg)
                g_warnings << text;
        });
    }
    ~WarningsCounted() { qInstallMessageHandler(old); }
    QtMessageHandler old;
};

struct EnvFor {
    EnvFor(const char *name, const QByteArray &value)
        : name(name), had(qEnvironmentVariableIsSet(name)), old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvFor()
    {
        if (had)
            qputenv(name, old);
        else
            qunsetenv(name);
    }
    const char *name;
    bool had;
    QByteArray old;
};

}  // namespace

class TestCommon : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    void writeRaw(const QString &name, const QByteArray &bytes)
    {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private slots:
    void initTestCase() { qputenv("VARILUME_SIMBOX_DIR", dir.filePath("boxes").toUtf8()); }

    void wholeFileWrites()
    {
        const QString path = dir.filePath("a.txt");
        QVERIFY(writeFileWhole(path, "first"));
        QVERIFY(writeFileWhole(path, "second"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("second"));

        QString error;
        QVERIFY(!writeFileWhole(dir.filePath("missing/b.txt"), "x", &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!writeFileWhole(dir.path(), "x"));  // a directory stays a directory
        QVERIFY(QFileInfo(dir.path()).isDir());
    }

    // A new file gets what the umask allows; a replaced file keeps its mode.
    void wholeWriteModes_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("existing");  // -1: a new file
        QTest::addColumn<int>("expected");
        // clang-format off
        QTest::newRow("new, umask 022") << 022 << -1 << 0644;
        QTest::newRow("new, umask 077") << 077 << -1 << 0600;
        QTest::newRow("existing 0640, umask 022") << 022 << 0640 << 0640;
        QTest::newRow("existing 0604, umask 077") << 077 << 0604 << 0604;
        // clang-format on
    }
    void wholeWriteModes()
    {
        QFETCH(int, mask);
        QFETCH(int, existing);
        QFETCH(int, expected);
        const QString path = dir.filePath("mode.txt");
        QFile::remove(path);
        if (existing >= 0) {
            writeRaw("mode.txt", "old");
            QCOMPARE(::chmod(nameOf(path).constData(), mode_t(existing)), 0);
        }
        {
            const UmaskFor masked{mode_t(mask)};
            QVERIFY(writeFileWhole(path, "new"));
        }
        QCOMPARE(int(modeOf(path) & 07777), expected);
        QCOMPARE(contentOf(path), QByteArray("new"));
    }

    // A link is written through, whatever the file's kind: the link stays a link.
    void wholeWriteThroughLinks_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("leadsTo");  // relative to the link's folder
        QTest::addColumn<QString>("target");
        // clang-format off
        QTest::newRow("beside it") << "link.xlsx"
                                   << "target.xlsx"
                                   << "target.xlsx";
        QTest::newRow("from another folder") << "sub/link.tsv"
                                             << "../target.tsv"
                                             << "target.tsv";
        QTest::newRow("to a file not there yet") << "dangling.bin"
                                                 << "created.bin"
                                                 << "created.bin";
        // clang-format on
    }
    void wholeWriteThroughLinks()
    {
        QFETCH(QString, link);
        QFETCH(QString, leadsTo);
        QFETCH(QString, target);
        QTemporaryDir here;
        QDir(here.path()).mkpath("sub");
        if (!target.startsWith("created")) {
            QFile f(here.filePath(target));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        QCOMPARE(::symlink(nameOf(leadsTo).constData(), nameOf(here.filePath(link)).constData()), 0);
        QVERIFY(writeFileWhole(here.filePath(link), "new"));
        QVERIFY(S_ISLNK(modeOf(here.filePath(link))));
        QCOMPARE(contentOf(here.filePath(target)), QByteArray("new"));
        QCOMPARE(leftovers(here.path()) + leftovers(here.filePath("sub")), QStringList());
    }

    // A link someone else put in a shared sticky folder (/tmp) could lead to any file of
    // ours: it is not followed, as the kernel does not follow it either.
    void linksOthersPlantedAreNotFollowed()
    {
        if (::geteuid() != 0)
            QSKIP("giving a link to another user needs root");
        QTemporaryDir here;
        const QString shared = here.filePath("shared");
        QVERIFY(QDir().mkpath(shared));
        QCOMPARE(::chmod(nameOf(shared).constData(), 01777), 0);
        const QString mine = here.filePath("mine.txt");
        QFile f(mine);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("precious");
        f.close();
        const QString link = shared + "/out.xlsx";
        QCOMPARE(::symlink(nameOf(mine).constData(), nameOf(link).constData()), 0);
        QCOMPARE(::lchown(nameOf(link).constData(), kNobody, kNobody), 0);

        FileProblem problem;
        QVERIFY(!writeFileWhole(link, "overwritten", SpecialTarget::Stream, &problem));
        QVERIFY2(problem.reason.contains("another user put in the shared folder"), qPrintable(problem.reason));
        QCOMPARE(contentOf(mine), QByteArray("precious"));
        QVERIFY(!canWriteFileWhole(link, SpecialTarget::Stream, &problem));

        QCOMPARE(::lchown(nameOf(link).constData(), ::geteuid(), ::getegid()), 0);  // our own link
        QVERIFY(writeFileWhole(link, "mine"));
        QCOMPARE(contentOf(mine), QByteArray("mine"));
    }

    // Nothing replaces a folder, a device or a FIFO; where the caller allows it, a
    // character device or a FIFO gets the bytes as they are.
    void specialTargets_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<SpecialTarget>("special");
        QTest::addColumn<QString>("refusal");  // empty: written into it
        // clang-format off
        QTest::newRow("folder") << "folder" << SpecialTarget::Stream << "it is a folder";
        QTest::newRow("FIFO, refused") << "fifo" << SpecialTarget::Refuse
                                       << "it is a FIFO (named pipe), not a regular file; nothing is written to it";
        QTest::newRow("FIFO, streamed") << "fifo" << SpecialTarget::Stream << QString();
        QTest::newRow("device, refused") << "device" << SpecialTarget::Refuse
                                         << "it is a character device, not a regular file; nothing is written to it";
        QTest::newRow("device, streamed") << "device" << SpecialTarget::Stream << QString();
        QTest::newRow("socket") << "socket" << SpecialTarget::Stream
                                << "it is a socket, not a regular file; nothing is written to it";
        // clang-format on
    }
    void specialTargets()
    {
        QFETCH(QString, kind);
        QFETCH(SpecialTarget, special);
        QFETCH(QString, refusal);
        QTemporaryDir here;
        QString path = here.filePath("target");
        int reader = -1;
        if (kind == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(nameOf(path).constData(), 0600), 0);
            reader = ::open(nameOf(path).constData(), O_RDONLY | O_NONBLOCK);
            QVERIFY(reader >= 0);
        } else if (kind == "device") {
            // The null device, made here: a mistake in the code under test must not turn
            // the system's /dev/null into a file. Only root may make one; anybody else
            // cannot replace /dev/null and uses it.
            if (::geteuid() != 0)
                path = "/dev/null";
            else if (::mknod(nameOf(path).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                QSKIP("no device can be made here");
        } else {
            // What a local server listens on.
            const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, nameOf(path).constData(), sizeof address.sun_path - 1);
            QCOMPARE(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
            ::close(sock);
        }
        const mode_t before = modeOf(path);
        FileProblem problem;
        const bool written = writeFileWhole(path, "sixteen bytes...", special, &problem);
        QCOMPARE(modeOf(path) & S_IFMT, before & S_IFMT);  // still what it was
        QCOMPARE(leftovers(here.path()), QStringList());
        if (!refusal.isEmpty()) {
            QVERIFY(!written);
            QCOMPARE(problem.reason, refusal);
            QVERIFY(!canWriteFileWhole(path, special, &problem));
        } else {
            QVERIFY2(written, qPrintable(problem.reason));
            QVERIFY(canWriteFileWhole(path, special, &problem));
        }
        if (reader >= 0) {
            char buffer[64];
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            ::close(reader);
            QCOMPARE(QByteArray(buffer, int(qMax<ssize_t>(n, 0))),
                     refusal.isEmpty() ? QByteArray("sixteen bytes...") : QByteArray());
        }
    }

    // A step that fails leaves the file as it was and no temporary file behind, and says
    // why in the system's own terms. The file reaches the disk before its name changes.
    void failedStepsLeaveTheFileAsItWas_data()
    {
        QTest::addColumn<WholeWriteStep>("step");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        // clang-format off
        QTest::newRow("read-only file system")
            << WholeWriteStep::CreateTemporary << int(EROFS) << "the file system is read-only";
        QTest::newRow("disk full") << WholeWriteStep::Write << int(ENOSPC) << "no space left on the device";
        QTest::newRow("quota used up") << WholeWriteStep::Write << int(EDQUOT) << "the disk quota is used up";
        QTest::newRow("sync fails") << WholeWriteStep::Sync << int(EIO)
                                    << "input/output error (the disk may be failing or gone)";
        QTest::newRow("rename fails") << WholeWriteStep::Rename << int(EACCES) << "permission denied";
        // clang-format on
    }
    void failedStepsLeaveTheFileAsItWas()
    {
        QFETCH(WholeWriteStep, step);
        QFETCH(int, error);
        QFETCH(QString, reason);
        QTemporaryDir here;
        const QString path = here.filePath("kept.xlsx");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        QList<WholeWriteStep> steps;
        {
            HookFor hook([&](WholeWriteStep s, const QString &) {
                steps << s;
                return s == step ? error : 0;
            });
            FileProblem problem;
            QVERIFY(!writeFileWhole(path, "new", SpecialTarget::Refuse, &problem));
            QCOMPARE(problem.code, error);
            QCOMPARE(problem.reason, reason);
            QString text;
            QVERIFY(!writeFileWhole(path, "new", &text));
            QCOMPARE(text, reason);
        }
        QCOMPARE(steps.last(), step);
        QCOMPARE(contentOf(path), QByteArray("old"));
        QCOMPARE(leftovers(here.path()), QStringList());

        steps.clear();
        HookFor recorder([&](WholeWriteStep s, const QString &) {
            steps << s;
            return 0;
        });
        QVERIFY(writeFileWhole(path, "new"));
        QCOMPARE(steps, (QList<WholeWriteStep>{WholeWriteStep::CreateTemporary, WholeWriteStep::Write,
                                               WholeWriteStep::Sync, WholeWriteStep::Rename}));
        QCOMPARE(contentOf(path), QByteArray("new"));
    }

    // A full device says so (not "Unknown error").
    void fullDevice()
    {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("no /dev/full here");
        FileProblem problem;
        QVERIFY(!writeFileWhole("/dev/full", "bytes", SpecialTarget::Stream, &problem));
        QCOMPARE(problem.code, ENOSPC);
        QCOMPARE(problem.reason, QString("no space left on the device"));
    }

    // What a program ending on a signal calls: the half-written temporary file goes, the
    // target stays as it was.
    void interruptedWriteLeavesNothingBehind()
    {
        QTemporaryDir here;
        const QString path = here.filePath("out.tsv");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        QString temporary;
        {
            HookFor hook([&](WholeWriteStep s, const QString &t) {
                if (s == WholeWriteStep::Rename) {
                    temporary = t;
                    if (QFileInfo::exists(t))
                        discardWholeWriteInProgress();
                }
                return 0;
            });
            QVERIFY(!writeFileWhole(path, "new"));
        }
        QVERIFY(!temporary.isEmpty());
        QVERIFY(QFileInfo(temporary).fileName().startsWith(".out.tsv."));
        QVERIFY(!QFileInfo::exists(temporary));
        QCOMPARE(contentOf(path), QByteArray("old"));
        QCOMPARE(leftovers(here.path()), QStringList());
        // With no write under way it touches nothing.
        QVERIFY(writeFileWhole(path, "new"));
        discardWholeWriteInProgress();
        QCOMPARE(contentOf(path), QByteArray("new"));
    }

    // Only regular files are read, and none larger than asked; a FIFO without a writer
    // is refused at once instead of blocking.
    void readRegularFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");  // empty: read
        // clang-format off
        QTest::newRow("regular") << "regular" << QString();
        QTest::newRow("missing") << "missing"
                                 << "the file does not exist";
        QTest::newRow("folder") << "folder"
                                << "it is a folder";
        QTest::newRow("FIFO") << "fifo"
                              << "it is a FIFO (named pipe), not a regular file";
        QTest::newRow("/dev/zero") << "/dev/zero"
                                   << "it is a character device, not a regular file";
        QTest::newRow("too large") << "large"
                                   << "it is larger than 8 bytes";
        // clang-format on
    }
    void readRegularFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir here;
        QString path = here.filePath("in");
        if (kind == "regular" || kind == "large") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kind == "regular" ? "8 bytes." : "9 bytes..");
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(nameOf(path).constData(), 0600), 0);
        } else if (kind.startsWith('/')) {
            path = kind;
        }
        // What the choosers of files to read look at first, without opening anything.
        FileProblem kindProblem;
        const bool regular = kind == "regular" || kind == "large";
        QCOMPARE(isRegularFile(path, &kindProblem), regular);
        QCOMPARE(kindProblem.reason, regular ? QString() : reason);

        QByteArray data = "untouched";
        FileProblem problem;
        const bool read = readRegularFile(path, 8, &data, &problem);
        if (reason.isEmpty()) {
            QVERIFY2(read, qPrintable(problem.reason));
            QCOMPARE(data, QByteArray("8 bytes."));
        } else {
            QVERIFY(!read);
            QCOMPARE(problem.reason, reason);
            QCOMPARE(data, QByteArray("untouched"));
        }
    }

    void announcedBoxesAreListedWhileTheyRun()
    {
        QCOMPARE(simulatedBoxDirectory(), dir.filePath("boxes"));
        QVERIFY(runningSimulatedBoxes().isEmpty());
        {
            SimulatedBoxAnnouncement announcement;
            QVERIFY(announcement.announce({"/dev/pts/77", 0x0483, 0x5740, "Nemora KVR-9000"}));
            const QList<SimulatedBox> boxes = runningSimulatedBoxes();
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes[0].portName, QString("/dev/pts/77"));
            QCOMPARE(boxes[0].vendorId, quint16(0x0483));
            QCOMPARE(boxes[0].productId, quint16(0x5740));
            QCOMPARE(boxes[0].description, QString("Nemora KVR-9000"));
        }
        QVERIFY(runningSimulatedBoxes().isEmpty());
        QVERIFY(QDir(dir.filePath("boxes")).entryList(QDir::Files).isEmpty());
    }

    // Files nobody holds, half-written ones and oversized ones never show up as ports.
    void staleAndBrokenAnnouncementsAreIgnored()
    {
        QDir().mkpath(dir.filePath("boxes"));
        writeRaw("boxes/crashed.port", "port=/dev/pts/3\nvendor=0483\nproduct=5740\ndescription=Nemora KVR-9000\n");
        SimulatedBoxAnnouncement broken;
        QVERIFY(broken.announce({"", 0x1, 0x2, "no port"}));
        writeRaw("boxes/huge.port", QByteArray(1 << 20, 'x'));
        QVERIFY(runningSimulatedBoxes().isEmpty());
    }

    // Without a folder of its own from the session, each user announces in a folder of
    // their own in the temporary folder.
    void boxFolderOfTheUser()
    {
        EnvFor configured("VARILUME_SIMBOX_DIR", QByteArray());
        {
            EnvFor runtime("XDG_RUNTIME_DIR", QByteArray());
            QCOMPARE(simulatedBoxDirectory(), QDir::tempPath() + QString("/varilume-simbox-%1").arg(::geteuid()));
        }
        EnvFor runtime("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
        QCOMPARE(simulatedBoxDirectory(), dir.filePath("varilume-simbox"));
    }

    // A folder others may write to, or that is not the user's, could hold anyone's
    // announcement: it is not used, and that is said once.
    void boxFolderOthersCouldUseIsIgnored_data()
    {
        QTest::addColumn<QString>("wrong");
        QTest::addColumn<QString>("why");
        // clang-format off
        QTest::newRow("others may write") << "mode"
                                          << "others may use it (mode 0755, not 0700)";
        QTest::newRow("another user's") << "owner" << QString("it belongs to another user (uid %1)").arg(kNobody);
        QTest::newRow("a link") << "link"
                                << "it is a symbolic link";
        // clang-format on
    }
    void boxFolderOthersCouldUseIsIgnored()
    {
        QFETCH(QString, wrong);
        QFETCH(QString, why);
        if (wrong == "owner" && ::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        const QString folder = dir.filePath("boxes-" + wrong);
        EnvFor configured("VARILUME_SIMBOX_DIR", QFile::encodeName(folder));
        SimulatedBoxAnnouncement announcement;
        QVERIFY(announcement.announce({"/dev/pts/70", 0x1209, 0x4b39, "Nemora KVR-9000"}));
        QCOMPARE(int(modeOf(folder) & 07777), 0700);  // made so
        QCOMPARE(runningSimulatedBoxes().size(), 1);

        const QByteArray name = nameOf(folder);
        if (wrong == "mode") {
            QCOMPARE(::chmod(name.constData(), 0755), 0);
        } else if (wrong == "owner") {
            QCOMPARE(::chown(name.constData(), kNobody, kNobody), 0);
        } else {
            QVERIFY(QFile::rename(folder, folder + "-real"));
            QVERIFY(QFile::link(folder + "-real", folder));
        }
        {
            WarningsCounted warnings;
            QVERIFY(runningSimulatedBoxes().isEmpty());
            QVERIFY(runningSimulatedBoxes().isEmpty());
            QCOMPARE(g_warnings, QStringList{QString("Simulated boxes in %1 are ignored: %2.").arg(folder, why)});
        }
        // A box announcing closes a folder of the user's that others may use; it will not
        // announce in one that is not the user's.
        announcement.withdraw();  // one announcement per process
        SimulatedBoxAnnouncement another;
        QString error;
        const bool announced = another.announce({"/dev/pts/71", 0x1209, 0x4b39, "Nemora KVR-9000"}, &error);
        if (wrong == "mode") {
            QVERIFY2(announced, qPrintable(error));
            QCOMPARE(int(modeOf(folder) & 07777), 0700);
            QCOMPARE(runningSimulatedBoxes().size(), 1);
        } else {
            QVERIFY(!announced);
            QCOMPARE(error, QString("will not announce in %1: %2").arg(folder, why));
        }
    }

    // In the user's own folder, a file of another user is no announcement.
    void announcementsOfOtherUsersAreIgnored()
    {
        if (::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        const QString folder = dir.filePath("boxes-shared-file");
        EnvFor configured("VARILUME_SIMBOX_DIR", QFile::encodeName(folder));
        SimulatedBoxAnnouncement mine;
        QVERIFY(mine.announce({"/dev/pts/72", 0x1209, 0x4b39, "Nemora KVR-9000"}));
        // Held like a running box's announcement, but not the user's.
        const QByteArray other = nameOf(folder + "/other.port");
        const int fd = ::open(other.constData(), O_RDWR | O_CREAT, 0600);
        QVERIFY(fd >= 0);
        const QByteArray text = "port=/dev/pts/73\nvendor=1209\nproduct=4b39\ndescription=Nemora KVR-9000\n";
        QCOMPARE(::write(fd, text.constData(), size_t(text.size())), ssize_t(text.size()));
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        QCOMPARE(::fchown(fd, kNobody, kNobody), 0);
        QList<SimulatedBox> boxes = runningSimulatedBoxes();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].portName, QString("/dev/pts/72"));
        QCOMPARE(::fchown(fd, ::geteuid(), ::getegid()), 0);
        QCOMPARE(runningSimulatedBoxes().size(), 2);
        ::close(fd);
    }

    // A watched folder says "changed" exactly when something that counts happened, and
    // always while it cannot be watched.
    void folderWatchHearsWhatCounts()
    {
        const QString folder = dir.filePath("watched");
        FolderWatch watch(IN_CREATE | IN_MOVED_TO, "jack");
        QVERIFY(watch.changed(folder));  // not there: its parent is watched for it
        QVERIFY(!watch.changed(folder));
        QVERIFY(!watch.isWatching());
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(watch.changed(folder));  // watched from now on
        QVERIFY(watch.isWatching());
        QVERIFY(!watch.changed(folder));
        writeRaw("watched/other", "x");
        QVERIFY(!watch.changed(folder));  // not a name that counts
        writeRaw("watched/jack_default_0_0", "x");
        QVERIFY(watch.changed(folder));
        QVERIFY(!watch.changed(folder));
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(watch.changed(folder));
        QVERIFY(!watch.changed(folder));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(watch.changed(folder));  // the new folder is watched
        QVERIFY(!watch.changed(folder));
        QVERIFY(watch.changed(dir.path()));  // another folder: a first look
        const QString orphan = dir.filePath("no/such/folder");
        QVERIFY(watch.changed(orphan));  // nothing to watch: always "changed"
        QVERIFY(watch.changed(orphan));
    }

    // The watched list of boxes follows boxes that start, stop and die without withdrawing
    // their announcement, looking at the folder only when it changed.
    void watchedBoxesFollowStartsStopsAndDeaths()
    {
        const QString folder = dir.filePath("boxes-watched");
        EnvFor configured("VARILUME_SIMBOX_DIR", QFile::encodeName(folder));
        SimulatedBoxWatch watch;
        QVERIFY(watch.boxes().isEmpty());
        SimulatedBoxAnnouncement mine;
        QVERIFY(mine.announce({"/dev/pts/80", 0x0483, 0x5740, "Nemora KVR-9000"}));
        QCOMPARE(watch.boxes().size(), 1);
        QCOMPARE(watch.boxes().size(), 1);

        // Another process announces a box, then dies holding its announcement.
        int ready[2];
        int go[2];
        QCOMPARE(::pipe(ready), 0);
        QCOMPARE(::pipe(go), 0);
        const QByteArray path = nameOf(folder + "/dying.port");
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            const char text[] = "port=/dev/pts/81\nvendor=0483\nproduct=5740\ndescription=Nemora KVR-9000\n";
            const int fd = ::open(path.constData(), O_RDWR | O_CREAT, 0600);
            const bool ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::write(fd, text, sizeof text - 1) > 0;
            char c = ok ? 'y' : 'n';
            (void)!::write(ready[1], &c, 1);
            (void)!::read(go[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go[0]);
        char c = 0;
        QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
        QCOMPARE(c, 'y');
        QList<SimulatedBox> boxes = watch.boxes();
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes[0].portName, QString("/dev/pts/81"));
        ::close(go[1]);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        ::close(ready[0]);
        boxes = watch.boxes();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].portName, QString("/dev/pts/80"));

        mine.withdraw();
        QVERIFY(watch.boxes().isEmpty());
        QVERIFY(watch.boxes(true).isEmpty());
    }

    // The manual clock fires what falls due on the way, in time order, repeating timers as
    // often as they fall due; ties go in the order the timers were started.
    void manualClockFiresInTimeOrder()
    {
        QObject owner;
        ManualScheduler clock;
        QStringList fired;
        auto make = [&](const QString &name, int ms, bool singleShot) {
            Timer *t = clock.createTimer(&owner);
            t->setSingleShot(singleShot);
            QObject::connect(t, &Timer::timeout,
                             [&fired, &clock, name] { fired << QString("%1@%2").arg(name).arg(clock.nowMs()); });
            t->start(ms);
            return t;
        };
        Timer *scan = make("scan", 2000, false);
        make("fade", 50, true);
        make("same", 2000, true);
        QCOMPARE(clock.activeTimerCount(), 3);
        QCOMPARE(clock.msUntilNext(), 50);

        clock.advance(49);
        QVERIFY(fired.isEmpty());
        clock.advance(4000 - 49);
        QCOMPARE(fired, QStringList({"fade@50", "scan@2000", "same@2000", "scan@4000"}));
        QCOMPARE(clock.nowMs(), 4000);
        QCOMPARE(clock.activeTimerCount(), 1);
        QVERIFY(scan->isActive());

        // Restarting starts the interval over; stopping ends it.
        fired.clear();
        clock.advance(1000);
        scan->start();
        clock.advance(1999);
        QVERIFY(fired.isEmpty());
        QVERIFY(clock.advanceToNext());
        QCOMPARE(fired, QStringList({"scan@7000"}));
        scan->stop();
        QVERIFY(!clock.advanceToNext());
        QCOMPARE(clock.msUntilNext(), -1);
    }

    // Handlers may stop, start and create timers; what they start takes part in the same
    // advance, and a timer that is gone never fires.
    void manualClockHandlersChangeTimers()
    {
        QObject owner;
        ManualScheduler clock;
        int pieces = 0;
        Timer *pacing = clock.createTimer(&owner);
        pacing->setSingleShot(true);
        QObject::connect(pacing, &Timer::timeout, [&] {
            if (++pieces < 5)
                pacing->start(10);  // the next piece 10 ms after this one
        });
        pacing->start(10);
        clock.advance(1000);
        QCOMPARE(pieces, 5);
        QCOMPARE(clock.nowMs(), 1000);

        int later = 0;
        Timer *outer = clock.createTimer(&owner);
        outer->setSingleShot(true);
        QObject::connect(outer, &Timer::timeout, [&] { clock.singleShot(5, &owner, [&later] { ++later; }); });
        outer->start(10);
        clock.advance(15);
        QCOMPARE(later, 1);

        int gone = 0;
        auto *context = new QObject;
        clock.singleShot(10, context, [&gone] { ++gone; });
        delete context;
        Timer *doomed = clock.createTimer();
        QObject::connect(doomed, &Timer::timeout, [&gone] { ++gone; });
        doomed->start(10);
        delete doomed;
        clock.advance(100);
        QCOMPARE(gone, 0);

        // Timers may outlive their clock; they never fire then.
        QPointer<Timer> orphan;
        {
            ManualScheduler brief;
            orphan = brief.createTimer(&owner);
            orphan->start(10);
        }
        QVERIFY(!orphan->isActive());
        orphan->start(10);
        QVERIFY(!orphan->isActive());
    }

    // The program's timers run on the event loop's clock; a test installs its own.
    void systemSchedulerAndInstalling()
    {
        QObject owner;
        QCOMPARE(&scheduler(), &systemScheduler());
        Timer *t = scheduler().createTimer(&owner);
        t->setSingleShot(true);
        QSignalSpy spy(t, &Timer::timeout);
        const qint64 start = systemScheduler().nowMs();
        t->start(20);
        QVERIFY(t->isActive());
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.count(), 1);
        QVERIFY(systemScheduler().nowMs() - start >= 15);
        QVERIFY(!t->isActive());

        ManualScheduler clock;
        installScheduler(&clock);
        QCOMPARE(&scheduler(), static_cast<Scheduler *>(&clock));
        installScheduler(nullptr);
        QCOMPARE(&scheduler(), &systemScheduler());
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "tst_common.moc"
