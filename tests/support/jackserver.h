#pragma once

// A private JACK server with the dummy driver for tests and benchmarks that need real MIDI
// ports. Each server gets a name of its own, which this process then uses as its default
// server, so parallel runs never meet. Header-only; link libjack.
//
// Servers are always stopped with SIGTERM: a killed jackd keeps its slot in JACK's shared
// server registry (eight slots per machine) until a server of the same name starts, so
// killed servers with fresh names would soon leave no room for any server. jackd runs
// under timeout(1), which ends it within ten minutes should the test itself crash.

#include <jack/jack.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

namespace vl::test {

class JackServer {
public:
    JackServer() = default;
    JackServer(const JackServer &) = delete;
    JackServer &operator=(const JackServer &) = delete;
    ~JackServer() { stop(); }

    static QString executable() { return QStandardPaths::findExecutable(QStringLiteral("jackd")); }
    QString name() const { return m_name; }

    // Starts the server and waits until it takes clients. False with a reason when it
    // does not come up within 15 s.
    bool start(QString *error)
    {
        static int serial = 0;
        m_name = QStringLiteral("vltest-%1-%2").arg(QCoreApplication::applicationPid()).arg(++serial);
        qputenv("JACK_DEFAULT_SERVER", m_name.toUtf8());
        qputenv("JACK_NO_AUDIO_RESERVATION", "1");
        jack_set_error_function([](const char *) {});
        jack_set_info_function([](const char *) {});

        m_process.setProgram(QStringLiteral("timeout"));
        // Synchronous mode: every cycle waits until all clients have processed it. By
        // default a client that is late (on a loaded machine, under the sanitizers, easily)
        // misses the cycle, and the MIDI events of that cycle are lost on the way. The
        // deadline is generous for the same reason.
        m_process.setArguments({"-k", "10", "600", executable(), "--no-realtime", "--sync", "-t", "10000", "-n", m_name,
                                "-d", "dummy", "-r", "48000", "-p", "256"});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        if (!m_process.waitForStarted(5000)) {
            *error = QStringLiteral("jackd did not start: %1").arg(m_process.errorString());
            return false;
        }
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 15000) {
            if (m_process.state() != QProcess::Running) {
                *error = QStringLiteral("jackd stopped: %1").arg(QString::fromLocal8Bit(m_process.readAll()));
                removeLeftovers();
                return false;
            }
            jack_status_t status{};
            if (jack_client_t *probe = jack_client_open("vltest-probe", JackNoStartServer, &status)) {
                jack_client_close(probe);
                return true;
            }
            QThread::msleep(50);
        }
        *error =
            QStringLiteral("jackd took no clients within 15 s: %1").arg(QString::fromLocal8Bit(m_process.readAll()));
        stop();
        return false;
    }

    // Stops the server; its clients are told it went away.
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();  // timeout(1) passes it on to jackd
            if (!m_process.waitForFinished(15000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
        removeLeftovers();
    }

private:
    // A server that did not stop cleanly leaves its socket, shared memory and semaphores.
    void removeLeftovers()
    {
        if (m_name.isEmpty())
            return;
        QDir shm(QStringLiteral("/dev/shm"));
        const QStringList leftovers = shm.entryList({QStringLiteral("*_%1_*").arg(m_name)}, QDir::Files | QDir::System);
        for (const QString &file : leftovers)
            shm.remove(file);
    }

    QString m_name;
    QProcess m_process;
};

}  // namespace vl::test
