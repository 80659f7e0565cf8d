#include "serialport.h"

#include "common/ui/dialogs.h"
#include "device/core/portaccess.h"

#include <QMessageBox>

namespace vl {

SerialPort::SerialPort(QObject *parent) : QSerialPort(parent), m_conversation(*this)
{
    BoxConversation *box = &m_conversation;
    connect(box, &BoxConversation::tableUploaded, this, &SerialPort::showdata);
    connect(box, &BoxConversation::versionReported, this, &SerialPort::send_vesion);
    connect(box, &BoxConversation::modelReported, this, &SerialPort::send_KVR);
    connect(box, &BoxConversation::eraseFinished, this, [this] { emit send_erase(true); });
    connect(box, &BoxConversation::settingsReported, this, [this](const DeviceSettings &settings) {
        breakTime = settings.breakTime;
        markAfterBreak = settings.markAfterBreak;
        coefficientCode = settings.coefficientCode;
        sleepCode = settings.sleepCode;
        emit rec_sucess();
    });
    connect(box, &BoxConversation::boxAccepted, this, [this] { emit sure_connect(true); });
    connect(box, &BoxConversation::doorAnswered, this, &SerialPort::sure_open);

    m_busyBox = std::make_unique<QMessageBox>();
    m_busyBox->setWindowTitle(QStringLiteral("Warning"));
    m_busyBox->setText(QStringLiteral("Data is being sent..."));
    m_busyBox->setIcon(QMessageBox::Information);
    m_busyBox->setStandardButtons(QMessageBox::NoButton);
    // Once the port is closed no "download success" can arrive any more.
    connect(this, &QIODevice::aboutToClose, m_busyBox.get(), &QWidget::hide);
}

SerialPort::~SerialPort()
{
    // Closed while the whole port still exists, so that those watching it hear it close.
    if (isOpen())
        close();
}

bool SerialPort::openPort(const QString &name, qint32 baudRate)
{
    if (name.isEmpty()) {
        m_conversation.dispatcher().reset();
        warning(nullptr, QStringLiteral("KVR Tool"), QStringLiteral("port name error, please choose right com!"),
                QMessageBox::Ok);
        return false;
    }
    const QString notice = m_modemManagerNotice.beforeOpening(name);
    if (!notice.isEmpty())
        information(nullptr, ModemManagerNotice::title(), notice);
    const PortOpenFailure failure = m_conversation.open(name, baudRate);
    if (failure == PortOpenFailure::None)
        return true;
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

}  // namespace vl
