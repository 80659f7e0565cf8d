#pragma once

// The editor's one link to the box: the serial port and the conversation held over it.
// The port keeps the settings the box last reported and gives the conversation's events
// the names the window, the settings dialogs and the firmware dialog connect to. Which
// ports exist is the port-list updater's business (portlistupdater.h); what the window
// shows while the box works is the window's.

#include "device/core/boxconversation.h"
#include "device/core/portaccess.h"

#include <QSerialPort>

#include <memory>

class QMessageBox;

namespace vl {

class SerialPort : public QSerialPort {
    Q_OBJECT
public:
    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    BoxConversation *conversation() { return &m_conversation; }

    // What the box last reported (copied from the conversation before rec_sucess).
    int breakTime = 0;
    int markAfterBreak = 0;
    int sleepCode = 0;
    int coefficientCode = 0;

    // Shown while a table written by Set waits for the box's "download success": titled
    // "Warning", "Data is being sent...", no buttons, no parent. It hides when the port closes.
    QMessageBox *busyBox() const { return m_busyBox.get(); }

    // The table upload collected so far.
    const QByteArray &rxBuffer() const { return m_conversation.uploadBuffer(); }

    // Opens `name` for reading and writing at `baudRate`, 8N1 without flow control. An
    // empty name ("port name error, please choose right com!") or a port that cannot be
    // opened ("Device error") is reported in a message box, a port the user may not use
    // with the ways to get access. The first time a USB port is opened while ModemManager
    // could disturb it, a notice says so.
    bool openPort(const QString &name, qint32 baudRate = kBoxBaudRate);

signals:
    void showdata(const QByteArrayList &groupedData);
    void send_vesion(const QString &version);
    void send_KVR(const QString &KVR);
    void send_erase(bool eraseflag);
    void rec_sucess();
    void sure_connect(bool sure);
    void sure_open(bool sure);

private:
    BoxConversation m_conversation;
    std::unique_ptr<QMessageBox> m_busyBox;
    ModemManagerNotice m_modemManagerNotice;
};

}  // namespace vl
