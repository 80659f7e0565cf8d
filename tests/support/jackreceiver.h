#pragma once

// A virtual MIDI input on the test's JACK server (jackserver.h) that keeps every message it
// receives, byte for byte. Header-only; link RtMidi.

#include <RtMidi.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

#include <vector>

namespace vl::test {

class JackReceiver {
public:
    // Opens the input port "<client>:in" on the current JACK server.
    explicit JackReceiver(const QString &client) : m_in(RtMidi::UNIX_JACK, client.toStdString())
    {
        m_in.openVirtualPort("in");
        m_in.setCallback(&JackReceiver::received, this);
        m_portName = client + ":in";
    }
    JackReceiver(const JackReceiver &) = delete;
    JackReceiver &operator=(const JackReceiver &) = delete;

    // How the port is listed among the JACK server's MIDI inputs.
    QString portName() const { return m_portName; }
    QList<QByteArray> messages() const
    {
        QMutexLocker lock(&m_mutex);
        return m_messages;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_messages.clear();
    }

    // A connection just made to this input may lose what is sent on it until JACK has
    // wired it up (on a loaded machine, the first messages go nowhere). Calls `send` to
    // send `probe` again and again until one arrives, then forgets everything received.
    template <class Send>
    bool waitUntilConnected(Send send, const QByteArray &probe, int timeoutMs = 10000)
    {
        QElapsedTimer waited;
        waited.start();
        bool arrived = false;
        while (!arrived && waited.elapsed() < timeoutMs) {
            send();
            QCoreApplication::processEvents();
            QThread::msleep(10);  // JACK's period is 5.3 ms
            arrived = messages().contains(probe);
        }
        clear();
        return arrived;
    }

private:
    // Runs on RtMidi's thread.
    static void received(double, std::vector<unsigned char> *message, void *self)
    {
        auto *r = static_cast<JackReceiver *>(self);
        QMutexLocker lock(&r->m_mutex);
        r->m_messages.append(QByteArray(reinterpret_cast<const char *>(message->data()), int(message->size())));
    }

    RtMidiIn m_in;
    QString m_portName;
    mutable QMutex m_mutex;
    QList<QByteArray> m_messages;
};

}  // namespace vl::test
