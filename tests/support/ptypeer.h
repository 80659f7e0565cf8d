#pragma once

// The box's end of a pseudo-terminal, driven by a test. The editor opens slavePath() with
// a real QSerialPort; the test writes the box's replies on the master side and checks the
// exact bytes the editor sent, in order. Waiting runs the Qt event loop, so the editor
// keeps working meanwhile; every wait has a time limit.

#include <QByteArray>
#include <QString>

namespace vl::test {

class PtyPeer {
public:
    PtyPeer() = default;
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    // Opens a new pseudo-terminal pair; false with lastError() on failure.
    bool open();
    bool isOpen() const { return m_master >= 0; }
    // The device path the editor opens, e.g. "/dev/pts/5".
    QString slavePath() const { return m_slavePath; }

    // Sends bytes to the editor, all of them.
    bool write(const QByteArray &bytes);
    // Sends bytes in pieces of the given sizes (the rest in one last piece), as a USB device
    // delivers a long reply: each piece is read by the editor before the next follows, at
    // least `pauseMs` later.
    bool writeInPieces(const QByteArray &bytes, const QList<int> &pieceSizes, int pauseMs = 0);

    // Waits until the editor has sent `bytes` next, and consumes them. Anything else in
    // their place is a failure, described by lastError().
    bool expect(const QByteArray &bytes, int timeoutMs = 5000);
    // Waits for `count` bytes from the editor and returns them (fewer on time-out).
    QByteArray take(int count, int timeoutMs = 5000);
    // True when the editor sends nothing for `ms` milliseconds; otherwise the bytes are
    // kept and described by lastError().
    bool expectSilence(int ms = 150);
    // Everything received and not consumed yet.
    QByteArray pending();
    // Everything received, consumed.
    QByteArray takeAll();
    // Waits until the editor has read everything sent to it (false on time-out).
    bool waitUntilRead(int timeoutMs = 5000);
    // The master side's file descriptor, to watch it with a QSocketNotifier; -1 when closed.
    int masterHandle() const { return m_master; }

    // The box goes away: the master side is closed and the editor's line is hung up.
    void vanish();

    QString lastError() const { return m_error; }

private:
    void pump();
    // Bytes sent and not read by the editor yet; -1 when that cannot be told.
    int unread() const;

    int m_master = -1;
    int m_slaveProbe = -1;
    QString m_slavePath;
    QByteArray m_received;
    QString m_error;
};

// "aa cc 02" for error messages.
QString hex(const QByteArray &bytes, int maxBytes = 64);

}  // namespace vl::test
