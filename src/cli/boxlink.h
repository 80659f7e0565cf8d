#pragma once

// A conversation with the box for the command-line tool. The bytes go through a plain
// QSerialPort and the editor's receive dispatcher; unlike the editor, every step waits
// for the box's answer with a time limit and ends in success or one line saying what
// went wrong. Nothing here needs a widget.

#include "device/protocol.h"
#include "device/settingsframes.h"

#include <QByteArrayList>
#include <QSerialPort>
#include <QString>
#include <functional>

namespace vl::cli {

// Stops whatever a link is waiting for, e.g. on Ctrl+C: every BoxLink listens to it.
class Interrupter : public QObject {
    Q_OBJECT
public:
    static Interrupter &instance();
signals:
    void interrupted();
};

class BoxLink : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 10000;

    // `timeoutMs` is how long each answer may take; sending restarts the clock, so a slow
    // line does not count against the box.
    explicit BoxLink(int timeoutMs = kDefaultTimeoutMs, QObject *parent = nullptr);
    ~BoxLink() override;

    // Opens the port at 115 200 baud, 8N1, as the editor does.
    bool open(const QString &portName);
    // Greets the box as the editor's Connect does ("hello", "setting request" on "open the
    // door", the challenge answered, the settings asked for again on "ok") and waits for
    // its settings reply, which settings() then holds.
    bool connectToBox();
    // "upload request" and the whole table back: 3072 records of 8 bytes.
    bool readTable(QByteArrayList *records);
    // Sends an image in 256-byte pieces and waits for "download success".
    bool writeImage(const QByteArray &image);
    // Sends a settings command and waits for its "setting end". The editor then asks for
    // the table, as the protocol does after every settings command; that upload is waited
    // for too, so the box is quiet before the next command.
    bool sendSettingsCommand(const QList<PortWrite> &writes);
    // Asks for the settings again.
    bool refreshSettings();
    void close();

    DeviceSettings settings() const { return m_settings; }
    QString portName() const { return m_name; }
    // Why the last step failed.
    QString error() const { return m_error; }

private:
    void readAvailable();
    void portError(QSerialPort::SerialPortError error);
    void fail(const QString &error);
    bool send(const QByteArray &bytes);
    // Runs the event loop until `done` holds, the time is up or the link fails.
    bool waitUntil(const std::function<bool()> &done, const std::function<QString()> &waitingFor);

    int m_timeoutMs;
    QSerialPort m_port;
    QString m_name;  // as the user gave it
    ReceiveDispatcher m_dispatcher;
    QString m_error;
    bool m_failed = false;
    std::function<void()> m_wake;

    // What the box has said so far.
    bool m_connecting = false;
    bool m_doorOpened = false;
    bool m_doorClosed = false;
    int m_settingsReplies = 0;
    DeviceSettings m_settings;
    QList<QByteArrayList> m_uploads;
    int m_downloadSuccesses = 0;
    int m_settingEnds = 0;
};

}  // namespace vl::cli
