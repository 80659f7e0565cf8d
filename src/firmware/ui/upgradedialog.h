#pragma once

// The firmware upgrade dialog ("Setting" → "Firmware Upgrade"). The user starts the box in
// its upgrade mode, picks its port (the list shows every USB serial device, refreshed on
// every tick of the editor window), connects, and either opens a firmware file and presses
// Upgrade once the box has erased its flash, or accepts the newer firmware the update
// server offers, whose transfer starts by itself after the erase.
//
// The dialog talks to the box over the editor's one SerialPort and its conversation. What
// it may do to the box is decided by the widget-free UpgradeSession (the upgrade's state
// machine); the transfer itself (FirmwareTransfer) and the update check (FirmwareCheck)
// are widget-free too. The dialog names the image that will be sent. It owns its work:
// closing it cancels a running download and, during a transfer, asks first and stops it;
// the chosen image goes with it. Created once by the editor window and shown again.

#include "firmware/core/firmwarecheck.h"
#include "firmware/core/firmwaretransfer.h"
#include "firmware/core/upgradesession.h"

#include <QDialog>
#include <QPointer>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class QTextBrowser;

namespace vl {

class PortListUpdater;
class SerialPort;

class upgrade_Dialog : public QDialog, private firmware::UpgradePort {
    Q_OBJECT
public:
    // `ports` keeps the port list up to date (the editor window's updater); without one
    // the dialog makes its own. `manager` null: the dialog makes one when it first needs
    // the network.
    upgrade_Dialog(
        SerialPort *port, PortListUpdater *ports, QWidget *parent = nullptr, QNetworkAccessManager *manager = nullptr,
        const firmware::FirmwareCheckSettings &settings = firmware::FirmwareCheckSettings::fromEnvironment());
    ~upgrade_Dialog() override;

    // What the "Firmware Upgrade" menu entry does: refresh the port list and show the
    // dialog, unless the chosen port is a box in normal mode (its description carries the
    // end of `makerName`), which is refused with a warning.
    void showUpgrade(const QString &makerName);

    QComboBox *comboBox() const { return m_comboBox; }
    QPushButton *pushButton() const { return m_pushButton; }
    QPushButton *pushButton_2() const { return m_pushButton2; }
    QPushButton *pushButton_3() const { return m_pushButton3; }
    QPushButton *pushButton_4() const { return m_pushButton4; }
    QTextBrowser *textBrowser() const { return m_textBrowser; }
    QLineEdit *lineEdit() const { return m_lineEdit; }
    QProgressBar *progressBar() const { return m_progressBar; }
    // Names the image that will be sent: name, size and the start of its SHA-256.
    QLabel *imageLabel() const { return m_imageLabel; }

    // The transfer starts by itself once the box has erased for the chosen image (a
    // download the user accepted).
    bool autoStart() const;
    QString deviceModel() const { return m_deviceModel; }
    QString deviceVersion() const { return m_deviceVersion; }
    // The box has erased for the chosen image: Upgrade sends it.
    bool eraseDone() const;
    QByteArray firmwareImage() const { return m_session->image().bytes; }
    firmware::UpgradeSession *session() const { return m_session; }
    firmware::FirmwareTransfer *transfer() const { return m_transfer.get(); }
    // The update check of the last version reply (null before the first).
    firmware::FirmwareCheck *firmwareCheck() const { return m_check; }

public slots:
    // Closing asks first while a transfer runs; declined, the dialog stays.
    void reject() override;
    void refreshUpgradePorts();
    void on_pushButton_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_4_clicked();
    void rec_kvr(const QString &KVR);
    void rec_version(const QString &version);
    void rec_erase_flag(bool flag);
    void checkFirmwareUpdate();

signals:
    // A firmware image reached the box whole and the success message was shown.
    void upgradeSucceeded();
    // A transfer ended early; its message has been shown.
    void upgradeFailed(const QString &why);

protected:
    void hideEvent(QHideEvent *event) override;

private:
    // The session's port actions.
    void requestErase() override;
    void startTransfer(const QByteArray &image) override;
    void stopTransfer() override;

    void buildLayout();
    void showImage();
    void closePort();
    void onTransferFinished(bool reachedHundred);
    void onTransferFailed(firmware::FirmwareTransfer::Failure failure);
    void onLineLost();
    void onFirmwareInfo();
    void onFirmwareDownloaded();
    void showPortState();
    void setTransferring(bool running);
    QNetworkAccessManager *manager();

    SerialPort *m_port;
    QPointer<PortListUpdater> m_ports;
    QNetworkAccessManager *m_manager;
    firmware::FirmwareCheckSettings m_settings;

    QComboBox *m_comboBox = nullptr;
    QPushButton *m_pushButton = nullptr;
    QPushButton *m_pushButton2 = nullptr;
    QPushButton *m_pushButton3 = nullptr;
    QPushButton *m_pushButton4 = nullptr;
    QTextBrowser *m_textBrowser = nullptr;
    QLineEdit *m_lineEdit = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QLabel *m_imageLabel = nullptr;

    QString m_deviceModel;
    QString m_deviceVersion;
    firmware::UpgradeSession *m_session = nullptr;
    std::unique_ptr<firmware::ConversationLine> m_line;
    std::unique_ptr<firmware::FirmwareTransfer> m_transfer;
    QPointer<firmware::FirmwareCheck> m_check;
};

}  // namespace vl
