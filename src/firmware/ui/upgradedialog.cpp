#include "upgradedialog.h"

#include "common/core/safefile.h"
#include "common/ui/dialogs.h"
#include "device/core/boxconversation.h"
#include "device/core/portcache.h"
#include "device/ui/portlistupdater.h"
#include "device/ui/serialport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QProgressBar>
#include <QPushButton>
#include <QSslSocket>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace vl {

using firmware::FirmwareCheck;
using firmware::FirmwareTransfer;
using firmware::UpgradeSession;
using firmware::UpgradeState;

namespace {

QPushButton *makeButton(QWidget *parent, const char *objectName, const QString &text)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(objectName));
    return button;
}

}  // namespace

upgrade_Dialog::upgrade_Dialog(SerialPort *port, PortListUpdater *ports, QWidget *parent,
                               QNetworkAccessManager *manager, const firmware::FirmwareCheckSettings &settings)
    : QDialog(parent), m_port(port), m_ports(ports), m_manager(manager), m_settings(settings)
{
    setObjectName(QStringLiteral("upgrade_Dialog"));
    setWindowTitle(QStringLiteral("Upgrade"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    buildLayout();
    QMetaObject::connectSlotsByName(this);
    m_pushButton2->hide();

    if (!m_ports) {
        auto cache = std::make_shared<PortSnapshotCache>();
        m_ports = new PortListUpdater(this);
        m_ports->setSource([cache] { return cache->snapshot(); });
    }
    m_ports->addList(m_comboBox, PortFilter::everyUsbSerialDevice());

    m_session = new UpgradeSession(*this, this);
    connect(m_session, &UpgradeSession::imageChanged, this, &upgrade_Dialog::showImage);
    connect(m_session, &UpgradeSession::refused, this,
            [this](const QString &why) { warning(this, QStringLiteral("Warning"), why); });
    connect(m_session, &UpgradeSession::ignored, m_textBrowser, &QTextBrowser::append);
    connect(m_session, &UpgradeSession::offerReady, this, [this](const QString &text) {
        MessageRequest ask;
        ask.kind = MessageKind::Question;
        ask.parent = this;
        ask.title = QStringLiteral("Firmware");
        ask.text = text;
        ask.buttons = QMessageBox::Yes | QMessageBox::No;
        ask.defaultButton = QMessageBox::No;
        ask.textFormat = Qt::PlainText;
        m_session->answerOffer(dialogs().message(ask) == QMessageBox::Yes);
    });

    BoxConversation *box = m_port->conversation();
    m_line = std::make_unique<firmware::ConversationLine>(*box);
    m_transfer = std::make_unique<FirmwareTransfer>(*m_line);
    connect(m_transfer.get(), &FirmwareTransfer::progressChanged, m_progressBar, &QProgressBar::setValue);
    connect(m_transfer.get(), &FirmwareTransfer::finished, this, &upgrade_Dialog::onTransferFinished);
    connect(m_transfer.get(), &FirmwareTransfer::failed, this, &upgrade_Dialog::onTransferFailed);

    connect(m_port, &SerialPort::send_KVR, this, &upgrade_Dialog::rec_kvr);
    connect(m_port, &SerialPort::send_vesion, this, &upgrade_Dialog::rec_version);
    connect(m_port, &SerialPort::send_erase, this, &upgrade_Dialog::rec_erase_flag);
    connect(box, &BoxConversation::lineLost, this, &upgrade_Dialog::onLineLost);
}

upgrade_Dialog::~upgrade_Dialog()
{
    if (m_check)
        m_check->cancel();
}

void upgrade_Dialog::buildLayout()
{
    resize(520, 380);
    auto *top = new QVBoxLayout(this);

    auto *portRow = new QHBoxLayout;
    m_comboBox = new QComboBox(this);
    m_comboBox->setObjectName(QStringLiteral("comboBox"));
    m_comboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_comboBox->setMinimumContentsLength(20);
    m_pushButton = makeButton(this, "pushButton", QStringLiteral("Connect"));
    portRow->addWidget(m_comboBox, 1);
    portRow->addWidget(m_pushButton);
    top->addLayout(portRow);

    m_textBrowser = new QTextBrowser(this);
    m_textBrowser->setObjectName(QStringLiteral("textBrowser"));
    top->addWidget(m_textBrowser, 1);

    auto *fileRow = new QHBoxLayout;
    m_lineEdit = new QLineEdit(this);
    m_lineEdit->setObjectName(QStringLiteral("lineEdit"));
    m_lineEdit->setReadOnly(true);
    m_pushButton3 = makeButton(this, "pushButton_3", QStringLiteral("Open File"));
    fileRow->addWidget(m_lineEdit, 1);
    fileRow->addWidget(m_pushButton3);
    top->addLayout(fileRow);

    m_imageLabel = new QLabel(this);
    m_imageLabel->setObjectName(QStringLiteral("imageLabel"));
    m_imageLabel->setTextFormat(Qt::PlainText);
    top->addWidget(m_imageLabel);

    auto *upgradeRow = new QHBoxLayout;
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_pushButton4 = makeButton(this, "pushButton_4", QStringLiteral("Upgrade"));
    upgradeRow->addWidget(m_progressBar, 1);
    upgradeRow->addWidget(m_pushButton4);
    top->addLayout(upgradeRow);

    m_pushButton2 = makeButton(this, "pushButton_2", QStringLiteral("Close"));
    top->addWidget(m_pushButton2, 0, Qt::AlignRight);

    // Buttons are pressed by mouse; Enter in the dialog must not start anything.
    for (QPushButton *button : {m_pushButton, m_pushButton2, m_pushButton3, m_pushButton4})
        button->setAutoDefault(false);
}

QNetworkAccessManager *upgrade_Dialog::manager()
{
    if (!m_manager)
        m_manager = new QNetworkAccessManager(this);
    return m_manager;
}

// --- Opening and the port list ----------------------------------------------------------

void upgrade_Dialog::refreshUpgradePorts()
{
    if (m_ports)
        m_ports->refresh(m_comboBox);
}

void upgrade_Dialog::showUpgrade(const QString &makerName)
{
    refreshUpgradePorts();
    show();
    // A box that still reports its normal description is not in upgrade mode.
    if (m_comboBox->currentText().contains(makerName.right(4), Qt::CaseSensitive)) {
        m_textBrowser->clear();
        warning(this, QStringLiteral("Warring"),
                QStringLiteral("Please refer to the product manual to put the device into upgrade mode."));
        hide();
    }
    m_textBrowser->clear();
}

void upgrade_Dialog::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (event->spontaneous())
        return;  // the editor window was minimised, not the dialog closed
    // Closed: the download and the chosen image go with the dialog, a transfer never
    // runs without it, and the controls start over. The port stays as it is, unless a
    // transfer had to be stopped.
    if (m_check)
        m_check->cancel();
    m_session->dialogClosed();
    m_pushButton->setText(QStringLiteral("Connect"));
    m_textBrowser->clear();
    m_lineEdit->clear();
    m_comboBox->setEnabled(true);
    m_comboBox->clear();
}

void upgrade_Dialog::reject()
{
    if (m_transfer->isRunning()
        && question(this, QStringLiteral("Upgrade"),
                    QStringLiteral("The firmware is being sent to the device. Closing the dialog stops the "
                                   "transfer, and the device must then be upgraded again.\n\nStop the transfer "
                                   "and close?"),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
               != QMessageBox::Yes)
        return;
    QDialog::reject();
}

// --- Connect and the box's replies -------------------------------------------------------

void upgrade_Dialog::on_pushButton_clicked()
{
    BoxConversation *box = m_port->conversation();
    if (m_port->isOpen()) {
        m_transfer->stop();
        setTransferring(false);
        box->close();
        m_session->portLost();
    } else {
        m_port->openPort(m_comboBox->currentData(Qt::UserRole).toString(), kBoxBaudRate);
    }
    showPortState();
    box->requestIdentity();  // nothing happens on a closed port
}

void upgrade_Dialog::showPortState()
{
    const bool open = m_port->isOpen();
    m_comboBox->setEnabled(!open);
    m_pushButton->setText(open ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
}

void upgrade_Dialog::rec_kvr(const QString &KVR)
{
    m_textBrowser->append(QStringLiteral("Product Model:"));
    m_textBrowser->append(KVR);
    m_textBrowser->append(QStringLiteral("\r\n"));
    m_deviceModel = KVR;
}

void upgrade_Dialog::rec_version(const QString &version)
{
    m_textBrowser->append(QStringLiteral("Hardware Version:"));
    m_textBrowser->append(version);
    m_deviceVersion = version;
    m_session->boxIdentified(m_deviceModel, version);
    checkFirmwareUpdate();
}

void upgrade_Dialog::rec_erase_flag(bool flag)
{
    if (flag)
        m_session->eraseEnd();  // counts only for the erase the session waits for
}

void upgrade_Dialog::onLineLost()
{
    m_transfer->lineLost();  // reported by onTransferFailed when one was running
    m_session->portLost();
    showPortState();
}

bool upgrade_Dialog::autoStart() const
{
    return m_session->state() == UpgradeState::EraseRequested && m_session->image().downloaded();
}

bool upgrade_Dialog::eraseDone() const { return m_session->state() == UpgradeState::Erased; }

void upgrade_Dialog::showImage()
{
    const firmware::FirmwareImage &image = m_session->image();
    if (image.isEmpty()) {
        m_lineEdit->clear();
        m_imageLabel->setText(QStringLiteral("No image chosen."));
        return;
    }
    m_lineEdit->setText(image.downloaded() ? image.name() : image.path);
    m_imageLabel->setText(QStringLiteral("Image to send: ") + image.description());
}

// --- Open File, Upgrade and the transfer --------------------------------------------------

void upgrade_Dialog::on_pushButton_3_clicked()
{
    // Only a regular file is opened: a FIFO or a device would hang the window.
    const QString path = getOpenRegularFileName(this, QStringLiteral("选择文件"), QDir::currentPath(),
                                                QStringLiteral("所有文件(*.*)"));
    if (path.isEmpty())
        return;
    // Never more than the largest image is read.
    QByteArray image;
    FileProblem problem;
    if (!readRegularFile(path, firmware::kLargestImage, &image, &problem)) {
        const QString name = QFileInfo(path).fileName();
        m_session->refuseFile(problem.code == EFBIG
                                  ? firmware::imageProblem(firmware::kLargestImage + 1, name)
                                  : QStringLiteral("The firmware file %1 cannot be read: %2. Nothing was sent to the "
                                                   "device.")
                                        .arg(name, problem.reason));
        return;
    }
    m_session->chooseFile(path, image);
}

void upgrade_Dialog::on_pushButton_4_clicked() { m_session->upgradePressed(); }

void upgrade_Dialog::requestErase() { m_port->conversation()->requestErase(); }

void upgrade_Dialog::startTransfer(const QByteArray &image)
{
    m_progressBar->setValue(0);
    setTransferring(true);
    m_transfer->start(image);
}

void upgrade_Dialog::stopTransfer()
{
    m_transfer->stop();
    setTransferring(false);
    m_progressBar->setValue(0);
    closePort();  // the box ends its firmware when the line closes
}

void upgrade_Dialog::closePort()
{
    m_port->conversation()->close();
    showPortState();
}

void upgrade_Dialog::setTransferring(bool running)
{
    m_pushButton3->setEnabled(!running);
    m_pushButton4->setEnabled(!running);
}

void upgrade_Dialog::onTransferFinished(bool reachedHundred)
{
    setTransferring(false);
    if (reachedHundred) {
        information(nullptr, QStringLiteral("upgrade"),
                    QStringLiteral("Upgrade successful, please power on the device again."));
        m_pushButton->setText(QStringLiteral("Connect"));
        m_textBrowser->clear();
        m_lineEdit->clear();
        m_comboBox->setEnabled(true);
        m_comboBox->clear();
        // The last piece has left the port, but may not have reached the box: nothing is
        // discarded on the way out.
        m_port->conversation()->closeKeepingOutput();
    }
    m_progressBar->setValue(0);
    m_session->transferDone();
    if (reachedHundred) {
        m_session->portLost();
        emit upgradeSucceeded();
    }
}

void upgrade_Dialog::onTransferFailed(FirmwareTransfer::Failure failure)
{
    setTransferring(false);
    m_progressBar->setValue(0);
    // The port is left closed, so that Connect starts over once the box is back.
    m_port->conversation()->close();
    showPortState();
    m_session->transferFailed();
    m_session->portLost();
    QString text = m_transfer->errorText();
    if (failure == FirmwareTransfer::Failure::LineLost)
        text += QStringLiteral("\n\nThe upgrade did not finish. Put the device into upgrade mode again, then "
                               "connect and start the upgrade again.");
    else
        text += QStringLiteral("\n\nThe upgrade was stopped.");
    warning(nullptr, QStringLiteral("upgrade"), text);
    if (failure == FirmwareTransfer::Failure::WriteFailed)
        hide();
    emit upgradeFailed(text);
}

// --- The firmware update check ------------------------------------------------------------

void upgrade_Dialog::checkFirmwareUpdate()
{
    const bool ssl = QSslSocket::supportsSsl();
    m_textBrowser->append(QStringLiteral("SSL supported: %1").arg(ssl ? QStringLiteral("Yes") : QStringLiteral("No")));
    if (ssl)
        m_textBrowser->append(QStringLiteral("SSL version:") + QSslSocket::sslLibraryBuildVersionString());
    else
        m_textBrowser->append(QStringLiteral("请检查 OpenSSL DLL 是否存在或版本是否匹配。"));

    // One check per version reply; an earlier one that is still running is given up.
    if (m_check) {
        m_check->cancel();
        m_check->deleteLater();
    }
    m_check = new FirmwareCheck(manager(), m_settings, this);
    connect(m_check, &FirmwareCheck::checked, this, &upgrade_Dialog::onFirmwareInfo);
    connect(m_check, &FirmwareCheck::downloadEnded, this, &upgrade_Dialog::onFirmwareDownloaded);
    m_check->start(m_deviceVersion);
}

void upgrade_Dialog::onFirmwareInfo()
{
    QPointer<FirmwareCheck> check = m_check;
    if (!check || check != sender())
        return;
    if (check->state() == FirmwareCheck::State::Failed) {
        m_textBrowser->append(QStringLiteral("Firmware update check failed: ") + check->errorText());
        return;
    }
    if (check->state() != FirmwareCheck::State::Offered)
        return;
    MessageRequest offer;
    offer.kind = MessageKind::Information;
    offer.title = QStringLiteral("Update Available");
    offer.text = firmware::updateOfferText(check->boxVersion(), check->release());
    offer.buttons = QMessageBox::Ok | QMessageBox::Cancel;
    offer.textFormat = Qt::PlainText;  // the release notes are the server's text
    // Closed meanwhile, the dialog has given up its work.
    if (dialogs().message(offer) != QMessageBox::Ok || !check || !isVisible())
        return;
    check->download();
}

void upgrade_Dialog::onFirmwareDownloaded()
{
    FirmwareCheck *check = m_check;
    if (!check || check != sender())
        return;
    switch (check->state()) {
    case FirmwareCheck::State::DownloadFailed:
        m_textBrowser->append(QStringLiteral("Firmware download failed: ") + check->errorText());
        warning(this, QStringLiteral("Warning"),
                QStringLiteral("The firmware could not be downloaded: %1\nNothing was sent to the device.")
                    .arg(check->errorText()));
        return;
    case FirmwareCheck::State::Refused: warning(nullptr, QStringLiteral("Warning"), check->errorText()); return;
    case FirmwareCheck::State::Downloaded: break;
    default: return;
    }
    // Taken when nothing else is chosen; otherwise the user is asked.
    m_session->downloadFinished(check->image(), check->release().version);
}

}  // namespace vl
