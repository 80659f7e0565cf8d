#pragma once

// The command-line tool's side of the conversation with the box. The conversation itself
// is the editor's (BoxConversation); unlike the editor, every step here waits for the
// box's answer and ends in success or one line saying what went wrong. A wait ends when
// the box has said nothing for the time limit (the conversation's answer watch, on the
// scheduler's clock); a box that is slow but keeps sending is waited for. Nothing here
// needs a widget.

#include "device/core/boxconversation.h"

#include <QByteArrayList>
#include <QSerialPort>
#include <QString>
#include <functional>

namespace vl {
class Scheduler;
}

namespace vl::cli {

class BoxLink : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = BoxConversation::kDefaultAnswerTimeoutMs;

    // `timeoutMs` is how long the line may stay quiet while an answer is awaited: every
    // byte received or sent restarts the clock. The waits take their timers from
    // `scheduler`.
    explicit BoxLink(int timeoutMs = kDefaultTimeoutMs, QObject *parent = nullptr);
    BoxLink(int timeoutMs, Scheduler &scheduler, QObject *parent = nullptr);
    ~BoxLink() override;

    // Opens the port as the editor's Connect does.
    bool open(const QString &portName);
    // Greets the box as the editor's Connect does and waits for the settings reply the
    // handshake asks for, which settings() then holds.
    bool connectToBox();
    // "upload request" and the whole table back: 3072 records of 8 bytes. A table that
    // arrived whole but damaged (see imageDamage()) is refused unless `acceptDamaged`;
    // `damage` then says what shows the damage.
    bool readTable(QByteArrayList *records, bool acceptDamaged = false, QString *damage = nullptr);
    // Sends an image as Set does and waits for "download success".
    bool writeImage(const QByteArray &image);
    // Sends a settings command (or the factory reset) and waits for its "setting end". The
    // conversation then asks for the table, as it does after every settings command; that
    // upload is waited for too, so the box is quiet before the next command. Whether the
    // box acknowledged, even when what followed failed: settingAcknowledged().
    bool sendSetting(DeviceSetting setting, quint16 value);
    bool sendFactoryReset();
    bool settingAcknowledged() const { return m_acknowledged; }
    // Asks for the settings again.
    bool refreshSettings();
    void close();

    DeviceSettings settings() const { return m_box.settings(); }
    QString portName() const { return m_name; }
    // Why the last step failed.
    QString error() const { return m_error; }

private:
    void fail(const QString &error);
    void failToWrite();
    // `ok` as a send's result; a send that failed on a closed port is a failure too.
    bool sent(bool ok);
    bool settingCommand(const std::function<bool()> &send);
    // Runs the event loop until `done` holds, the time is up or the link fails.
    bool waitUntil(const std::function<bool()> &done, const std::function<QString()> &waitingFor);

    int m_timeoutMs;
    QSerialPort m_port;
    BoxConversation m_box;
    QString m_name;  // as the user gave it
    QString m_error;
    bool m_failed = false;
    std::function<void()> m_wake;

    // What the box has said so far.
    bool m_doorClosed = false;
    bool m_doorOpened = false;
    int m_settingsReplies = 0;
    QList<QByteArrayList> m_uploads;
    QStringList m_damage;  // for each upload
    bool m_acknowledged = false;
    int m_imagesAccepted = 0;
    int m_settingEnds = 0;
};

}  // namespace vl::cli
