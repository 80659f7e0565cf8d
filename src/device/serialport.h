#pragma once

// The editor's one link to the box: a serial port that keeps the window's port list up
// to date, hands every received chunk to the receive dispatcher and keeps the settings
// the box last reported.

#include "device/portaccess.h"
#include "device/protocol.h"
#include "device/settingsframes.h"

#include <QComboBox>
#include <QPointer>
#include <QSerialPort>
#include <memory>

class QMessageBox;
class QTimer;

namespace vl {

class SerialPort : public QSerialPort {
    Q_OBJECT
public:
    static constexpr int kScanIntervalMs = 2000;
    static constexpr qint32 kBaudRate = 115200;

    // `portList` is the window's port list (not owned); `makerName` the description
    // prefix of the box's USB entries.
    SerialPort(QComboBox *portList, const QString &makerName, QObject *parent = nullptr);
    ~SerialPort() override;

    // Shown while a table write waits for the box's "download success".
    QMessageBox *busyBox() const { return m_busyBox.get(); }
    int breakTime = 0;
    int markAfterBreak = 0;
    int sleepCode = 0;
    int coefficientCode = 0;
    QComboBox *portList() const { return m_portList; }
    QString makerName() const { return m_makerName; }
    QTimer *scanTimer() const { return m_scanTimer; }
    // The table upload collected so far.
    const QByteArray &rxBuffer() const { return m_dispatcher->collector().buffer(); }
    ReceiveDispatcher *dispatcher() const { return m_dispatcher; }

    // Opens `name` for reading and writing at `baudRate`, 8N1 without flow control. An
    // empty name or a port that cannot be opened is reported in a message box, a port the
    // user may not use with the ways to get access. The first time a USB port is opened
    // while ModemManager could disturb it, a notice says so.
    bool openPort(const QString &name, qint32 baudRate);

    // Whether the device behind the open port has gone away: the line was hung up or the
    // device node vanished. Read errors are taken as the device going only then.
    bool deviceHasGone() const;

    bool sendCommand(const QList<PortWrite> &writes) { return writeCommand(*this, writes); }

public slots:
    void scanPorts();
    void readDataSlot();

signals:
    void showdata(const QByteArrayList &groupedData);
    void send_vesion(const QString &version);
    void send_KVR(const QString &KVR);
    void send_erase(bool eraseflag);
    void rec_sucess();
    void sure_connect(bool sure);
    void sure_open(bool sure);

private:
    void storeSettings(const DeviceSettings &settings);
    void reportDownloadSuccess();

    QPointer<QComboBox> m_portList;
    QString m_makerName;
    QTimer *m_scanTimer = nullptr;
    std::unique_ptr<QMessageBox> m_busyBox;
    ReceiveDispatcher *m_dispatcher = nullptr;
    bool m_reading = false;
    ModemManagerNotice m_modemManagerNotice;
};

}  // namespace vl
