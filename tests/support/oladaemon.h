#pragma once

// A private OLA daemon (olad) for tests and benchmarks, and a watcher of its universes
// through OLA's own python client (ola_monitor.py beside this file).
//
// The daemon gets a configuration folder of its own in which every plugin but Dummy is
// disabled (so nothing reaches the network), no web server, no DNS-SD, and an RPC port
// that nothing else listens on (never the 9010 of a daemon the user may run). olad refuses
// to run as root: a test run as root starts it as the unprivileged user "olad" that the
// Debian package creates. It runs under timeout(1), which ends it should the test crash.
//
//     OlaDaemon olad;
//     QString why;
//     if (!olad.start(&why)) QSKIP / QFAIL with why (OlaDaemon::unavailable() says when to skip)
//     OlaMonitor watch(olad.port(), {1, 2});     // registers both universes: they exist now
//     ... send frames to olad.port() ...
//     watch.frames()                             // what OLA passed on, with arrival times

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

#ifndef VL_TEST_SUPPORT_DIR
#error "VL_TEST_SUPPORT_DIR names tests/support"
#endif

namespace vl::test {

class OlaDaemon {
public:
    OlaDaemon() = default;
    OlaDaemon(const OlaDaemon &) = delete;
    OlaDaemon &operator=(const OlaDaemon &) = delete;
    ~OlaDaemon() { stop(); }

    static QString executable() { return QStandardPaths::findExecutable(QStringLiteral("olad")); }

    // Why olad cannot run on this machine at all (a test skips then), or empty.
    static QString unavailable()
    {
        if (executable().isEmpty())
            return QStringLiteral("olad is not installed (Debian package ola)");
        if (QStandardPaths::findExecutable(QStringLiteral("/usr/bin/python3")).isEmpty()
            || QProcess::execute(QStringLiteral("/usr/bin/python3"), {"-c", "import ola.ClientWrapper"}) != 0)
            return QStringLiteral("OLA's python client is not installed (Debian package ola-python)");
        if (::geteuid() == 0) {
            if (!::getpwnam("olad"))
                return QStringLiteral("running as root without the user \"olad\" that olad can run as");
            if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
                return QStringLiteral("running as root without setpriv to start olad as the user \"olad\"");
        }
        return QString();
    }

    quint16 port() const { return m_port; }
    bool isRunning() const { return m_process.state() == QProcess::Running; }

    // Starts the daemon (again on the same port and folder after stop()) and waits until
    // it takes clients. False with a reason when it does not come up within 15 s.
    bool start(QString *error)
    {
        if (m_port == 0 && !prepare(error))
            return false;
        QStringList command = {QStringLiteral("-k"), QStringLiteral("10"), QStringLiteral("600")};
        if (::geteuid() == 0) {
            const passwd *user = ::getpwnam("olad");
            command << QStringLiteral("setpriv") << QStringLiteral("--reuid=%1").arg(user->pw_uid)
                    << QStringLiteral("--regid=%1").arg(user->pw_gid) << QStringLiteral("--clear-groups");
        }
        command << executable() << QStringLiteral("-c") << m_config.path() << QStringLiteral("--no-http")
                << QStringLiteral("--no-register-with-dns-sd") << QStringLiteral("-r") << QString::number(m_port)
                << QStringLiteral("-l") << QStringLiteral("3");
        m_process.setProgram(QStringLiteral("timeout"));
        m_process.setArguments(command);
        m_process.setWorkingDirectory(m_config.path());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_log.clear();
        m_process.start();
        if (!m_process.waitForStarted(5000)) {
            *error = QStringLiteral("olad did not start: %1").arg(m_process.errorString());
            return false;
        }
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 15000) {
            m_log += m_process.readAll();
            if (m_process.state() != QProcess::Running) {
                *error = QStringLiteral("olad stopped: %1").arg(QString::fromLocal8Bit(m_log).right(2000));
                return false;
            }
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), m_port);
            if (probe.waitForConnected(200)) {
                probe.abort();
                m_process.waitForReadyRead(100);
                m_log += m_process.readAll();
                return checkPlugins(error);
            }
            QThread::msleep(50);
        }
        *error = QStringLiteral("olad took no clients within 15 s: %1").arg(QString::fromLocal8Bit(m_log).right(2000));
        stop();
        return false;
    }

    // Stops the daemon (SIGTERM, passed on by timeout(1)); its clients see it go away.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(15000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QByteArray log() { return m_log += m_process.readAll(); }

private:
    // The plugins of OLA 0.10 by the name of their configuration file; each is disabled
    // but Dummy, which has no outside world.
    static QStringList plugins()
    {
        return {"artnet",   "dummy",    "e131",    "espnet",           "ftdidmx", "gpio",     "karate",
                "kinet",    "milinst",  "opendmx", "openpixelcontrol", "osc",     "pathport", "renard",
                "sandnet",  "shownet",  "spi",     "stageprofi",       "uartdmx", "usbdmx",   "usbserial",
                "nanoleaf", "dmx4linux"};
    }

    bool prepare(QString *error)
    {
        if (!m_config.isValid()) {
            *error = QStringLiteral("no temporary folder for olad's configuration");
            return false;
        }
        for (const QString &plugin : plugins()) {
            QFile conf(m_config.filePath(QStringLiteral("ola-%1.conf").arg(plugin)));
            if (!conf.open(QIODevice::WriteOnly)) {
                *error = QStringLiteral("cannot write %1").arg(conf.fileName());
                return false;
            }
            conf.write(plugin == QLatin1String("dummy") ? "enabled = true\n" : "enabled = false\n");
        }
        if (::geteuid() == 0) {
            // The folder is the daemon's: it writes its preferences there.
            const passwd *user = ::getpwnam("olad");
            const QDir dir(m_config.path());
            QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
            names.append(QString());  // the folder itself
            for (const QString &name : qAsConst(names))
                if (::chown(QFile::encodeName(dir.filePath(name)).constData(), user->pw_uid, user->pw_gid) != 0) {
                    *error = QStringLiteral("cannot give olad its configuration folder");
                    return false;
                }
        }
        // A port nothing listens on now; the daemon takes it a moment later.
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            *error = QStringLiteral("no free port for olad");
            return false;
        }
        m_port = probe.serverPort();
        return true;
    }

    // A plugin other than Dummy that started would reach the network: the test stops.
    bool checkPlugins(QString *error)
    {
        const QRegularExpression started(QStringLiteral("Started (.+)$"), QRegularExpression::MultilineOption);
        auto it = started.globalMatch(QString::fromLocal8Bit(m_log));
        while (it.hasNext()) {
            const QString name = it.next().captured(1).trimmed();
            if (name != QLatin1String("Dummy")) {
                stop();
                *error = QStringLiteral("olad started the plugin \"%1\", which the test could not disable").arg(name);
                return false;
            }
        }
        return true;
    }

    QTemporaryDir m_config;
    quint16 m_port = 0;
    QProcess m_process;
    QByteArray m_log;
};

// OLA's own python client watching universes: registered for each (so they exist in the
// daemon even without an output patched) and recording every frame the daemon passes on.
// The Dummy device's output port is patched to the first universe.
class OlaMonitor {
public:
    struct Frame {
        qint64 ms;  // arrival, on the monitor's clock
        unsigned universe;
        QMap<int, int> levels;  // channel 1 ... 512 -> level, levels that are not 0
    };

    OlaMonitor() = default;
    OlaMonitor(const OlaMonitor &) = delete;
    OlaMonitor &operator=(const OlaMonitor &) = delete;
    ~OlaMonitor() { stop(); }

    // True once the watcher is registered for every universe.
    bool start(quint16 port, const QList<unsigned> &universes, QString *error)
    {
        QStringList args = {QStringLiteral(VL_TEST_SUPPORT_DIR "/ola_monitor.py"), QString::number(port)};
        for (const unsigned u : universes)
            args << QString::number(u);
        m_process.setProgram(QStringLiteral("/usr/bin/python3"));
        m_process.setArguments(args);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 15000) {
            if (!m_process.waitForReadyRead(100) && m_process.state() != QProcess::Running)
                break;
            m_pending += m_process.readAllStandardOutput();
            if (m_pending.startsWith("ready\n")) {
                m_pending.remove(0, 6);
                return true;
            }
        }
        *error = QStringLiteral("the OLA monitor did not come up: %1 %2")
                     .arg(QString::fromLocal8Bit(m_pending), QString::fromLocal8Bit(m_process.readAllStandardError()));
        return false;
    }

    // Every frame that arrived until now.
    QList<Frame> frames()
    {
        m_pending += m_process.readAllStandardOutput();
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = m_pending.left(end).split(' ');
            m_pending.remove(0, end + 1);
            if (words.size() < 2)
                continue;
            Frame f{words.at(0).toLongLong(), words.at(1).toUInt(), {}};
            for (int i = 2; i < words.size(); ++i) {
                const QList<QByteArray> pair = words.at(i).split('=');
                if (pair.size() == 2)
                    f.levels.insert(pair.at(0).toInt(), pair.at(1).toInt());
            }
            m_frames.append(f);
        }
        return m_frames;
    }
    QList<Frame> framesOf(unsigned universe)
    {
        QList<Frame> out;
        for (const Frame &f : frames())
            if (f.universe == universe)
                out << f;
        return out;
    }
    // The levels of the last frame of the universe; empty before any.
    QMap<int, int> lastLevels(unsigned universe)
    {
        const QList<Frame> f = framesOf(universe);
        return f.isEmpty() ? QMap<int, int>() : f.last().levels;
    }
    bool hasFrames(unsigned universe) { return !framesOf(universe).isEmpty(); }
    void clear()
    {
        frames();
        m_frames.clear();
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();  // the monitor ends when its input closes
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
    QByteArray m_pending;
    QList<Frame> m_frames;
};

}  // namespace vl::test
