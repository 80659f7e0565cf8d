#include "serialport.h"

#include "common/dialogs.h"
#include "device/portaccess.h"
#include "device/portscan.h"

#include <QComboBox>
#include <QMessageBox>
#include <QTimer>

namespace vl {

SerialPort::SerialPort(QComboBox *portList, const QString &makerName, QObject *parent)
    : QSerialPort(parent), m_portList(portList), m_makerName(makerName)
{
    m_dispatcher = new ReceiveDispatcher([this](const QByteArray &bytes) { write(bytes); }, this);
    connect(m_dispatcher, &ReceiveDispatcher::showdata, this, &SerialPort::showdata);
    connect(m_dispatcher, &ReceiveDispatcher::send_vesion, this, &SerialPort::send_vesion);
    connect(m_dispatcher, &ReceiveDispatcher::send_KVR, this, &SerialPort::send_KVR);
    connect(m_dispatcher, &ReceiveDispatcher::send_erase, this, &SerialPort::send_erase);
    connect(m_dispatcher, &ReceiveDispatcher::settingsReceived, this, &SerialPort::storeSettings);
    connect(m_dispatcher, &ReceiveDispatcher::downloadSucceeded, this, &SerialPort::reportDownloadSuccess);
    connect(m_dispatcher, &ReceiveDispatcher::sure_connect, this, &SerialPort::sure_connect);
    connect(m_dispatcher, &ReceiveDispatcher::sure_open, this, &SerialPort::sure_open);

    m_scanTimer = new QTimer(this);
    scanPorts();
    connect(this, &QSerialPort::readyRead, this, &SerialPort::readDataSlot);
    connect(m_scanTimer, &QTimer::timeout, this, &SerialPort::scanPorts);
    m_scanTimer->start(kScanIntervalMs);

    m_busyBox = std::make_unique<QMessageBox>();
    m_busyBox->setWindowTitle(QStringLiteral("Warning"));
    m_busyBox->setText(QStringLiteral("Data is being sent..."));
    m_busyBox->setIcon(QMessageBox::Information);
    m_busyBox->setStandardButtons(QMessageBox::NoButton);

    // Once the port is closed no "download success" can arrive any more.
    connect(this, &QIODevice::aboutToClose, this, [this] { m_busyBox->hide(); });
}

SerialPort::~SerialPort()
{
    // Close while the busy box still exists: closing hides it.
    if (isOpen())
        close();
}

bool SerialPort::openPort(const QString &name, qint32 baudRate)
{
    m_dispatcher->reset();
    if (name.isEmpty()) {
        warning(nullptr, QStringLiteral("KVR Tool"), QStringLiteral("port name error, please choose right com!"),
                QMessageBox::Ok);
        return false;
    }
    const QString notice = m_modemManagerNotice.beforeOpening(name);
    if (!notice.isEmpty())
        information(nullptr, ModemManagerNotice::title(), notice);
    PortOpenFailure failure = PortOpenFailure::Other;  // an open port cannot be opened again
    if (!isOpen()) {
        setPortName(name);
        setBaudRate(baudRate, QSerialPort::AllDirections);
        failure = openSerialPort(*this);
    }
    if (failure != PortOpenFailure::None) {
        MessageRequest box;
        box.kind = MessageKind::NoIcon;
        box.text = QStringLiteral("Device error");
        if (failure == PortOpenFailure::NoPermission)
            box.text += QStringLiteral("\n\n") + permissionDeniedMessage(portDevicePath(name));
        box.buttons = QMessageBox::Ok;
        box.iconPixmap = QStringLiteral(":/ico.png");
        dialogs().message(box);
        return false;
    }
    return true;
}

bool SerialPort::deviceHasGone() const { return vl::deviceHasGone(*this); }

void SerialPort::scanPorts()
{
    if (!m_portList)
        return;
    const UsbDeviceMap devices = findUsbDevices(QString(), QStringLiteral("USB"), m_makerName, true);
    QStringList current;
    for (int i = 0; i < m_portList->count(); ++i)
        current << m_portList->itemText(i);
    const PortListChange change = planPortList(current, systemSerialPorts(), devices);
    for (const PortListItem &item : change.append)
        m_portList->addItem(item.text, item.portName);
    for (const QString &text : change.remove)
        for (int i; (i = m_portList->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive)) >= 0;)
            m_portList->removeItem(i);
    // A box unplugged and plugged in again within one scan may come back on another port
    // under the same description; its item must lead there, not to the port that is gone.
    for (const PortListItem &item : change.found) {
        const int i = m_portList->findText(item.text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (i >= 0 && m_portList->itemData(i).toString() != item.portName)
            m_portList->setItemData(i, item.portName);
    }
}

void SerialPort::readDataSlot()
{
    // A message box opened by a handler runs its own event loop; bytes that arrive
    // meanwhile are picked up by the loop below once it returns.
    if (m_reading)
        return;
    m_reading = true;
    while (isOpen() && bytesAvailable() > 0)
        m_dispatcher->feed(readAll());
    m_reading = false;
}

void SerialPort::storeSettings(const DeviceSettings &settings)
{
    breakTime = settings.breakTime;
    markAfterBreak = settings.markAfterBreak;
    coefficientCode = settings.coefficientCode;
    sleepCode = settings.sleepCode;
    emit rec_sucess();
}

void SerialPort::reportDownloadSuccess()
{
    m_busyBox->hide();
    information(nullptr, QStringLiteral("operate successfully"), QStringLiteral("Product is configured successfully!"));
}

}  // namespace vl
