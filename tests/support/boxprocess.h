#pragma once

// One running varilume-simbox for a test, stopped when the object goes. A test that
// defines SIMBOX_PROGRAM as the program's path may leave the program out of start().

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <csignal>

namespace vl::test {

class BoxProcess {
public:
#ifdef SIMBOX_PROGRAM
    bool start(const QStringList &args, const QString &announceDir)
    {
        return start(QStringLiteral(SIMBOX_PROGRAM), args, announceDir);
    }
#endif

    // Starts the box announcing itself in `announceDir` and waits for its port line.
    bool start(const QString &program, const QStringList &args, const QString &announceDir)
    {
        m_process.setProgram(program);
        m_process.setArguments(QStringList{"--announce-dir", announceDir} + args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine() && t.elapsed() < 10000)
            m_process.waitForReadyRead(100);
        const QByteArray line = m_process.readLine().trimmed();
        if (!line.startsWith("port: "))
            return false;
        port = QString::fromUtf8(line.mid(6));
        return true;
    }

    // Stops the box as a user pulling the cable would: at once, without a word.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    ~BoxProcess() { stop(); }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess &process() { return m_process; }
    QString port;

private:
    QProcess m_process;
};

}  // namespace vl::test
