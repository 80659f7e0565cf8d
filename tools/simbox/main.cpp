// varilume-simbox: a simulated KVR-9000 on a pseudo-terminal.
//
// The program owns the pseudo-terminal's master side; the editor opens the slave side
// ("port: /dev/pts/N", printed first) like the box's serial port. Bytes are moved between
// the master and SimBox, which decides every answer. The box announces itself to the
// editor's port list while it runs and withdraws on SIGINT, SIGTERM or SIGHUP.
//
// With no slave open, poll() reports a hang-up on the master at once and for as long as
// nobody opens the port, so the loop then only looks every 50 ms whether the editor came
// back. When the editor closes the port, answers still queued are dropped and whatever
// was already written but not read is flushed, so the next Connect starts clean.

#include "common/core/safefile.h"
#include "common/core/simulatedbox.h"
#include "simbox.h"
#include "simboxconfig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

using namespace vl;

namespace {

constexpr int kClosedRecheckMs = 50;
constexpr int kReadSize = 4096;

QElapsedTimer g_clock;
bool g_verbose = false;

void say(const QString &line)
{
    std::fprintf(stderr, "simbox [%8.3f] %s\n", double(g_clock.elapsed()) / 1000.0, line.toLocal8Bit().constData());
    std::fflush(stderr);
}

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

// Opens the slave side briefly: puts the line into raw mode (the settings stay with the
// terminal) and throws away anything queued in either direction.
void resetSlave(const QByteArray &slavePath)
{
    const int fd = ::open(slavePath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (g_verbose)
            say(systemError("cannot reset the line"));
        return;
    }
    termios t;
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B115200);
        ::cfsetospeed(&t, B115200);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    ::tcflush(fd, TCIOFLUSH);
    ::close(fd);
}

bool closedByPeer(int master)
{
    pollfd p{master, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) && !(p.revents & POLLIN);
}

struct Queued {
    BoxPiece piece;
    qint64 producedAt;
};

class Runner {
public:
    Runner(const SimBoxConfig &config, SimBox *box) : m_config(config), m_box(box) {}

    int run();

private:
    void received(const QByteArray &bytes);
    bool writeDue();  // false when the box vanishes
    void peerClosed();
    void saveState();

    const SimBoxConfig &m_config;
    SimBox *m_box;
    int m_master = -1;
    QByteArray m_slavePath;
    QList<Queued> m_queue;
    int m_written = 0;  // bytes of the first queued piece already out
    qint64 m_lastWrite = 0;
    qint64 m_lastReceive = 0;
    bool m_peerOpen = false;
    int m_savedTable = -1;
    int m_savedFirmware = 0;
};

int Runner::run()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int sigfd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (sigfd < 0) {
        say(systemError("signalfd"));
        return 1;
    }

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0
        || ::ptsname_r(m_master, name, sizeof name) != 0) {
        say(systemError("cannot open a pseudo-terminal"));
        return 1;
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = name;
    resetSlave(m_slavePath);

    SimulatedBoxAnnouncement announcement;
    QString error;
    if (!announcement.announce(
            {QFile::decodeName(m_slavePath), m_config.vendorId, m_config.productId, m_config.description}, &error)) {
        say(QStringLiteral("cannot announce the box: %1").arg(error));
        return 1;
    }
    std::printf("port: %s\n", m_slavePath.constData());
    std::fflush(stdout);
    say(QStringLiteral("%1 on %2, announced as %3:%4 \"%5\" in %6")
            .arg(m_config.box.upgradeMode ? QStringLiteral("bootloader") : QStringLiteral("box"),
                 QFile::decodeName(m_slavePath))
            .arg(m_config.vendorId, 4, 16, QLatin1Char('0'))
            .arg(m_config.productId, 4, 16, QLatin1Char('0'))
            .arg(m_config.description, announcement.filePath()));
    saveState();

    bool vanished = false;
    bool stop = false;
    QByteArray buffer(kReadSize, Qt::Uninitialized);
    while (!stop && !vanished) {
        const qint64 now = g_clock.elapsed();
        qint64 due = -1;
        if (!m_queue.isEmpty()) {
            const Queued &q = m_queue.first();
            due = m_written > 0 ? now : std::max(q.producedAt, m_lastWrite) + q.piece.delayMs;
        }
        const int idleMs = m_box->idleTimeoutMs();
        const qint64 idleDue = idleMs >= 0 ? m_lastReceive + idleMs : -1;

        qint64 timeout = -1;
        for (qint64 at : {due, idleDue}) {
            if (at < 0)
                continue;
            const qint64 wait = std::max<qint64>(0, at - now);
            timeout = timeout < 0 ? wait : std::min(timeout, wait);
        }
        if (!m_peerOpen)
            timeout = timeout < 0 ? kClosedRecheckMs : std::min<qint64>(timeout, kClosedRecheckMs);

        pollfd fds[2] = {{sigfd, POLLIN, 0}, {m_master, POLLIN, 0}};
        if (!m_peerOpen)
            fds[1].fd = -1;  // it would report the hang-up again at once
        else if (due >= 0 && due <= now)
            fds[1].events |= POLLOUT;
        if (::poll(fds, 2, int(timeout)) < 0 && errno != EINTR) {
            say(systemError("poll"));
            break;
        }

        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(sigfd, &info, sizeof info) == ssize_t(sizeof info)) {
                say(QStringLiteral("stopping on signal %1").arg(info.ssi_signo));
                stop = true;
            }
        }
        if (!m_peerOpen) {
            if (!closedByPeer(m_master)) {
                m_peerOpen = true;
                if (g_verbose)
                    say(QStringLiteral("the port was opened"));
            }
        } else {
            if (fds[1].revents & POLLIN) {
                const ssize_t n = ::read(m_master, buffer.data(), size_t(buffer.size()));
                if (n > 0)
                    received(QByteArray(buffer.constData(), int(n)));
                else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    peerClosed();
            } else if (fds[1].revents & (POLLHUP | POLLERR)) {
                peerClosed();
            }
            if (m_peerOpen && (fds[1].revents & POLLOUT))
                vanished = !writeDue();
        }
        const int quietMs = m_box->idleTimeoutMs();
        if (quietMs >= 0 && g_clock.elapsed() - m_lastReceive >= quietMs)
            m_box->idle();
        saveState();
    }

    announcement.withdraw();
    ::close(m_master);
    ::close(sigfd);
    saveState();
    if (vanished)
        say(QStringLiteral("vanished"));
    return 0;
}

void Runner::received(const QByteArray &bytes)
{
    m_lastReceive = g_clock.elapsed();
    for (const BoxPiece &piece : m_box->receive(bytes))
        m_queue.append({piece, m_lastReceive});
}

bool Runner::writeDue()
{
    while (!m_queue.isEmpty()) {
        const Queued &q = m_queue.first();
        const qint64 now = g_clock.elapsed();
        if (m_written == 0 && std::max(q.producedAt, m_lastWrite) + q.piece.delayMs > now)
            return true;
        const QByteArray &bytes = q.piece.bytes;
        while (m_written < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.constData() + m_written, size_t(bytes.size() - m_written));
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    return true;
                peerClosed();
                return true;
            }
            m_written += int(n);
        }
        m_lastWrite = g_clock.elapsed();
        m_written = 0;
        const bool vanish = q.piece.vanishAfter;
        m_queue.removeFirst();
        if (vanish)
            return false;
    }
    return true;
}

void Runner::peerClosed()
{
    if (!m_peerOpen)
        return;
    m_peerOpen = false;
    const int dropped = m_queue.size();
    m_queue.clear();
    m_written = 0;
    m_box->lineClosed();
    resetSlave(m_slavePath);
    // Said once the line is clean, so that whoever reads it may open the port again.
    if (g_verbose || dropped > 0)
        say(QStringLiteral("the port was closed%1")
                .arg(dropped == 0 ? QString() : QStringLiteral(": %1 answers dropped").arg(dropped)));
}

void Runner::saveState()
{
    QString error;
    if (!m_config.saveTable.isEmpty() && m_box->tableRevision() != m_savedTable) {
        m_savedTable = m_box->tableRevision();
        if (!writeFileWhole(m_config.saveTable, m_box->image(), &error))
            say(QStringLiteral("cannot save the table: %1").arg(error));
    }
    if (!m_config.saveFirmware.isEmpty() && m_box->firmwareRevision() != m_savedFirmware) {
        m_savedFirmware = m_box->firmwareRevision();
        if (!writeFileWhole(m_config.saveFirmware, m_box->firmware(), &error))
            say(QStringLiteral("cannot save the firmware: %1").arg(error));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    g_clock.start();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varilume-simbox"));

    SimBoxConfig config;
    QString error;
    if (!parseSimBoxArguments(QCoreApplication::arguments(), &config, &error)) {
        std::fprintf(stderr, "varilume-simbox: %s\n(see --help)\n", error.toLocal8Bit().constData());
        return 2;
    }
    if (config.help) {
        std::printf("%s", config.helpText.toLocal8Bit().constData());
        return 0;
    }
    g_verbose = config.verbose;
    if (!config.announceDir.isEmpty())
        qputenv("VARILUME_SIMBOX_DIR", QFile::encodeName(config.announceDir));
    if (config.box.seed == 0)
        config.box.seed = QRandomGenerator::system()->generate() | 1u;

    SimBox box(config.box);
    box.setSettings(config.settings);
    if (config.demoTable)
        box.setRecords(demoBoxRecords());
    if (!config.tableFile.isEmpty()) {
        QByteArray records;
        if (!loadBoxTable(config.tableFile, &records, &error)) {
            std::fprintf(stderr, "varilume-simbox: %s\n", error.toLocal8Bit().constData());
            return 2;
        }
        box.setRecords(records);
        say(QStringLiteral("table loaded: %1 rules").arg(boxRuleCount(records)));
    }
    if (!config.expectFirmware.isEmpty()) {
        QFile expected(config.expectFirmware);
        if (!expected.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "varilume-simbox: %s: %s\n", qPrintable(config.expectFirmware),
                         qPrintable(expected.errorString()));
            return 2;
        }
        // A file larger than the box keeps could never match; one byte more says so.
        box.setExpectedFirmware(expected.read(kBoxMaxFirmware + 1));
    }
    box.setLogger([](const QString &line, bool important) {
        if (important || g_verbose)
            say(line);
    });
    return Runner(config, &box).run();
}
