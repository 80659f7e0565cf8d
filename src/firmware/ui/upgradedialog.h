#pragma once

// The firmware upgrade dialog ("Setting" → "Firmware Upgrade"). The user starts the box in
// its upgrade mode, picks its port (the list shows every USB serial device, refreshed on
// every tick of the editor window), connects, and either opens a firmware file and presses
// Upgrade once the box has erased its flash, or accepts the newer firmware the update
// server offers, whose transfer starts by itself after the erase.
//
// The dialog talks to the box over the editor's one SerialPort and its conversation; the
// transfer itself (FirmwareTransfer) and the update check (FirmwareCheck) are widget-free.
// Created once by the editor window and shown again; it keeps the chosen image between
// openings.

#include "firmware/core/firmwarecheck.h"
#include "firmware/core/firmwaretransfer.h"

#include <QDialog>
#include <QPointer>
#include <memory>

class QComboBox;
class QLineEdit;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class QTextBrowser;

namespace vl {

class PortListUpdater;
class SerialPort;

class upgrade_Dialog : public QDialog {
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

    bool autoStart() const { return m_autoStart; }
    QString deviceModel() const { return m_deviceModel; }
    QString deviceVersion() const { return m_deviceVersion; }
    bool eraseDone() const { return m_eraseDone; }
    QByteArray firmwareImage() const { return m_firmwareImage; }
    firmware::FirmwareTransfer *transfer() const { return m_transfer.get(); }
    // The update check of the last version reply (null before the first).
    firmware::FirmwareCheck *firmwareCheck() const { return m_check; }

public slots:
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
    void buildLayout();
    void startTransfer();
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

    bool m_autoStart = false;
    QString m_deviceModel;
    QString m_deviceVersion;
    bool m_eraseDone = false;
    QByteArray m_firmwareImage;
    std::unique_ptr<firmware::ConversationLine> m_line;
    std::unique_ptr<firmware::FirmwareTransfer> m_transfer;
    QPointer<firmware::FirmwareCheck> m_check;
};

}  // namespace vl
