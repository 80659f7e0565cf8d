#include "ptypeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QThread>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vl::test {

QString hex(const QByteArray &bytes, int maxBytes)
{
    QString text = QString::fromLatin1(bytes.left(maxBytes).toHex(' '));
    if (bytes.size() > maxBytes)
        text += QStringLiteral(" … (%1 bytes)").arg(bytes.size());
    return text;
}

PtyPeer::~PtyPeer() { vanish(); }

bool PtyPeer::open()
{
    vanish();
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        m_error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    char name[128];
    if (::ptsname_r(fd, name, sizeof name) != 0) {
        m_error = QStringLiteral("ptsname failed");
        ::close(fd);
        return false;
    }
    // The master passes bytes through unchanged.
    termios tio;
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_master = fd;
    m_slavePath = QString::fromLocal8Bit(name);
    // A look at the editor's side of the line, opened before the editor opens it (which
    // then takes the line for itself): how much it has not read yet.
    m_slaveProbe = ::open(name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    m_received.clear();
    m_error.clear();
    return true;
}

void PtyPeer::pump()
{
    if (m_master < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return;  // nothing now (EAGAIN), or no one has the other side open (EIO)
        m_received.append(buffer, int(n));
    }
}

bool PtyPeer::write(const QByteArray &bytes)
{
    if (m_master < 0) {
        m_error = QStringLiteral("write on a closed peer");
        return false;
    }
    qsizetype done = 0;
    QElapsedTimer clock;
    clock.start();
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            m_error = QStringLiteral("write failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (clock.elapsed() > 5000) {
            m_error = QStringLiteral("write timed out after %1 of %2 bytes").arg(done).arg(bytes.size());
            return false;
        }
        // The line is full: let the editor read.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pump();
    }
    return true;
}

int PtyPeer::unread() const
{
    int n = 0;
    if (m_slaveProbe < 0 || ::ioctl(m_slaveProbe, FIONREAD, &n) != 0)
        return -1;
    return n;
}

bool PtyPeer::waitUntilRead(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (unread() > 0) {
        if (clock.elapsed() > timeoutMs) {
            m_error = QStringLiteral("the editor did not read %1 bytes").arg(unread());
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (unread() > 0)
            QThread::usleep(200);
    }
    return true;
}

bool PtyPeer::writeInPieces(const QByteArray &bytes, const QList<int> &pieceSizes, int pauseMs)
{
    int offset = 0;
    for (const int size : pieceSizes) {
        if (offset >= bytes.size())
            break;
        if (!write(bytes.mid(offset, size)))
            return false;
        offset += size;
        // Let the editor read this piece on its own before the next one follows. Without a
        // look at the editor's side, a short pause has to do.
        const int pause = unread() < 0 ? qMax(pauseMs, 2) : pauseMs;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < pause) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        if (!waitUntilRead())
            return false;
    }
    return offset >= bytes.size() || write(bytes.mid(offset));
}

bool PtyPeer::expect(const QByteArray &bytes, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        pump();
        const int n = int(qMin<qsizetype>(m_received.size(), bytes.size()));
        if (m_received.left(n) != bytes.left(n)) {
            m_error = QStringLiteral("expected %1\n  received %2").arg(hex(bytes), hex(m_received));
            return false;
        }
        if (n == bytes.size()) {
            m_received.remove(0, n);
            return true;
        }
        if (clock.elapsed() > timeoutMs) {
            m_error = QStringLiteral("timed out waiting for %1\n  received %2").arg(hex(bytes), hex(m_received));
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

QByteArray PtyPeer::take(int count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    pump();
    while (m_received.size() < count && clock.elapsed() <= timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
        pump();
    }
    const QByteArray out = m_received.left(count);
    m_received.remove(0, out.size());
    return out;
}

bool PtyPeer::expectSilence(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
        pump();
    }
    if (m_received.isEmpty())
        return true;
    m_error = QStringLiteral("expected silence, received %1").arg(hex(m_received));
    return false;
}

QByteArray PtyPeer::pending()
{
    pump();
    return m_received;
}

QByteArray PtyPeer::takeAll()
{
    pump();
    QByteArray all;
    all.swap(m_received);
    return all;
}

void PtyPeer::vanish()
{
    if (m_slaveProbe >= 0)
        ::close(m_slaveProbe);
    m_slaveProbe = -1;
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

}  // namespace vl::test
