#pragma once

// One running varilume-simbox for a test, stopped when the object goes. It runs without a
// display, as it must on a machine that has none, and its log is kept for failure
// messages. A test that defines SIMBOX_PROGRAM as the program's path may leave the program
// out of start().

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace vl::test {

class BoxProcess {
public:
#ifdef SIMBOX_PROGRAM
    bool start(const QStringList &args, const QString &announceDir, QString *why = nullptr)
    {
        return start(QStringLiteral(SIMBOX_PROGRAM), args, announceDir, why);
    }
#endif

    // Starts the box announcing itself in `announceDir` and waits for its port line.
    bool start(const QString &program, const QStringList &args, const QString &announceDir, QString *why = nullptr)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        m_process.setProcessEnvironment(env);
        m_process.setProgram(program);
        m_process.setArguments(QStringList{"--announce-dir", announceDir} + args);
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            if (why)
                *why = m_process.errorString();
            return false;
        }
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine() && m_process.state() == QProcess::Running && t.elapsed() < 10000)
            m_process.waitForReadyRead(100);
        const QByteArray line = m_process.readLine().trimmed();
        if (!line.startsWith("port: ")) {
            if (why)
                *why = QStringLiteral("no port line: ") + log();
            return false;
        }
        port = QString::fromUtf8(line.mid(6));
        return true;
    }

    // Everything the box has logged so far.
    QString log()
    {
        m_log += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_log;
    }

    // Stops the box; `hard` as a user pulling the cable would: at once, without a word.
    void stop(bool hard = false)
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        if (hard)
            m_process.kill();
        else
            m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        log();
    }
    void kill() { stop(true); }

    ~BoxProcess() { stop(); }

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    QProcess &process() { return m_process; }
    QString port;

private:
    QProcess m_process;
    QString m_log;
};

}  // namespace vl::test
