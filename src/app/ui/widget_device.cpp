// The editor window's side of the device link: the port list, Connect, Read, Set and the
// device settings dialogs. The conversation with the box is BoxConversation's, Read and
// Set are TableTransfer's; the window asks the user, shows what happened and keeps its
// controls in step.

#include "widget.h"

#include "mainwindow.h"

#include "common/ui/dialogs.h"
#include "device/core/boxconversation.h"
#include "device/core/portcache.h"
#include "device/core/tabletransfer.h"
#include "device/ui/portlistupdater.h"
#include "device/ui/serialport.h"
#include "device/ui/settingsdialogs.h"
#include "firmware/ui/upgradedialog.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"
#include "table/ui/edithistory.h"
#include "table/ui/tableviews.h"

#include <QAction>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>

namespace vl {

void Widget::setupSerialLink()
{
    // Both port lists, the one beside Connect and the firmware dialog's (refreshed on every
    // tick), read the system through one cache that hears when USB devices come and go.
    m_portLists = new PortListUpdater(this);
    auto cache = std::make_shared<PortSnapshotCache>();
    m_portLists->setSource([cache] { return cache->snapshot(); });
    m_portLists->addList(ui.comboBox_ComDevices, PortFilter::boxes(boxMakerName()));

    m_serial = new SerialPort(this);
    BoxConversation *box = m_serial->conversation();
    // The caption goes back to "Connect" before the transfer says what the box's going did.
    connect(box, &BoxConversation::lineLost, this, &Widget::updateConnectUi);
    m_transfer = new TableTransfer(*box, *m_rules, *m_remarks, m_aliases, this);
    m_transfer->setNaming(cnum());
    connect(box, &BoxConversation::tableUploaded, this, &Widget::applyUploadedRows);
    connect(m_transfer, &TableTransfer::ended, this, &Widget::reportRead);
    connect(m_transfer, &TableTransfer::failed, this, &Widget::reportFailure);
    connect(m_transfer, &TableTransfer::rowsLoaded, this, &Widget::table_change);
    connect(m_serial, &SerialPort::sure_open, this, &Widget::is_open);
    // "download success" is said whether or not a Set waits for it, after the transfer ended.
    connect(box, &BoxConversation::imageAccepted, this, [this] {
        busyBox()->hide();
        information(nullptr, QStringLiteral("operate successfully"),
                    QStringLiteral("Product is configured successfully!"));
    });
    updateConnectUi();
}

void Widget::setupDeviceDialogs()
{
    m_bkTimDialog = new Bk_Tim_Dialog(m_serial, this);
    m_abtDialog = new Abt_Dialog(m_serial, this);
    m_cofDialog = new cof_Dialog(m_serial, this);
    m_sleepTimeDialog = new sleep_time_Dialog(m_serial, this);
    const QList<DeviceSettingDialog *> all = {m_bkTimDialog, m_abtDialog, m_cofDialog, m_sleepTimeDialog};
    for (DeviceSettingDialog *dialog : all) {
        connect(m_serial, &SerialPort::rec_sucess, dialog, &DeviceSettingDialog::set_data);
        connect(dialog, &DeviceSettingDialog::connect_bool, this, &Widget::is_connect);
    }
    connect(this, &Widget::connect_bt, m_bkTimDialog, &DeviceSettingDialog::start_send);
    connect(this, &Widget::connect_abt, m_abtDialog, &DeviceSettingDialog::start_send);
    connect(this, &Widget::connect_cof, m_cofDialog, &DeviceSettingDialog::start_send);
    connect(this, &Widget::connect_stt, m_sleepTimeDialog, &DeviceSettingDialog::start_send);
    connect(m_cofDialog, &cof_Dialog::send_mp, this, &Widget::rec_mp);
    m_upgradeDialog = new upgrade_Dialog(m_serial, m_portLists, this);

    connect(ui.menu->action2_2, &QAction::triggered, this, &Widget::show_Bk_Tim_Dialog);
    connect(ui.menu->action3_2, &QAction::triggered, this, &Widget::show_Abt_Tim_Dialog);
    connect(ui.menu->action4_2, &QAction::triggered, this, &Widget::show_Cof_Tim_Dialog);
    connect(ui.menu->actionSleep_Time, &QAction::triggered, this, &Widget::show_sl_Tim_Dialog);
    connect(ui.menu->action5, &QAction::triggered, this, &Widget::factory_Dialog);
    connect(ui.menu->action6, &QAction::triggered, this, &Widget::show_ug_dlg_Dialog);
}

QMessageBox *Widget::busyBox() const { return m_serial->busyBox(); }

double Widget::currentCoefficient() const { return m_cofDialog ? m_cofDialog->coefficient() : 0.0; }

bool Widget::linkIsOpen()
{
    if (ui.connectButton->text() != QLatin1String("Connect"))
        return true;
    warning(nullptr, QStringLiteral("warning"),
            QStringLiteral("The device is not connected. Please connect the device first"));
    return false;
}

// --- Connect, Disconnect and the handshake ----------------------------------------------

void Widget::on_connectButton_clicked()
{
    const bool closing = m_serial->isOpen();
    // The user ends the link: a Read or Set under way ends with it, without a word.
    if (closing)
        m_transfer->abandon();
    // What Connect and Disconnect empty can be undone.
    m_history->endStep();
    const EditHistory::Step step(m_history, closing ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    resetRemarkColumn(kRuleRows);
    if (closing) {
        m_serial->conversation()->close();
        m_rules->removeRows(0, m_rules->rowCount());
        m_remarks->removeRows(0, m_remarks->rowCount());
    } else {
        if (m_serial->openPort(ui.comboBox_ComDevices->currentData(Qt::UserRole).toString(), kBoxBaudRate))
            m_serial->conversation()->greet();
        m_remarks->setRowCount(kRuleRows);
        resetRemarks(*m_remarks, kRuleRows);
    }
    updateConnectUi();
}

void Widget::updateConnectUi()
{
    const bool open = m_serial->isOpen();
    ui.comboBox_ComDevices->setEnabled(!open);
    ui.connectButton->setText(open ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
}

// The box's answer to "hello". On "open the door" the conversation has asked for the
// settings; the window only brings its controls up to date.
void Widget::is_open(bool sure)
{
    if (sure)
        return updateConnectUi();
    warning(nullptr, QStringLiteral("Warning"),
            QStringLiteral("Failed to connect because no product model was specified"));
}

// --- Read and Set ------------------------------------------------------------------------

void Widget::on_pushButton_clicked()
{
    if (!confirmed(QStringLiteral(" "), QStringLiteral("Read product configuration？")) || !linkIsOpen())
        return;
    if (m_transfer->startRead())
        ui.showRemarks(m_remarks);
    ui.tableView->viewport()->update();
}

void Widget::applyUploadedRows(const QByteArrayList &groupedData, const QString &damage)
{
    m_transfer->applyUploadedRows(groupedData, damage);
}

void Widget::on_pushButton_2_clicked()
{
    if (!confirmed(QStringLiteral(" "), QStringLiteral("Configure product？")) || !linkIsOpen())
        return;
    if (sendConfigurationImage(1) == 1)
        busyBox()->show();
}

// Everything Set checks and asks before the table goes to the box, in one place; the image
// a workbook save builds first (mode 2) only needs the rows.
int Widget::sendConfigurationImage(int mode)
{
    const SetCheck check = checkForSet(*m_rules, mode == 1);
    switch (check.status) {
    case SetCheck::TooFewRows:
        information(nullptr, QStringLiteral("Warning"),
                    QStringLiteral("The table has no data. Please fill in the data before saving."));
        return 0;
    case SetCheck::InvalidRule:
        warning(nullptr, QStringLiteral("warning"),
                invalidRuleText(check.problem) + QStringLiteral(" Nothing was sent to the device."));
        return 0;
    case SetCheck::Ready: break;
    }
    if (mode != 1)
        return 2;
    // Rules after the 3072nd row (from a longer workbook) never reach the box: said before
    // anything is sent, and only sent when the user agrees.
    if (check.rowsLeftOut > 0
        && question(nullptr, QStringLiteral("Warning"),
                    rulesLeftOutText(check) + QStringLiteral("\n\nSend rules 1 to %1 without them?").arg(kRuleRows),
                    QMessageBox::Ok | QMessageBox::Cancel)
               != QMessageBox::Ok)
        return 0;
    return m_transfer->startSet(check.image) ? 1 : 0;
}

void Widget::reportRead(TransferKind kind, const QString &damage)
{
    if (kind != TransferKind::Read)
        return;  // the box's "download success" has its own message
    if (damage.isEmpty())
        information(nullptr, QStringLiteral("operate successfully"), QStringLiteral("Read successfully!"));
    else  // boxes may send such tables as they hold them; the user decides what to keep
        warning(nullptr, QStringLiteral("Warning"), TableTransfer::damagedReadText(damage));
}

void Widget::reportFailure(const TransferFailure &failure)
{
    if (failure.kind == TransferKind::Set)
        busyBox()->hide();
    if (!failure.message().isEmpty())
        warning(nullptr, QStringLiteral("Warning"), failure.message());
}

// --- Device settings ---------------------------------------------------------------------

void Widget::is_connect(int num)
{
    if (!linkIsOpen())
        return;
    switch (num) {
    case 1: emit connect_bt(); break;
    case 2: emit connect_abt(); break;
    case 3: emit connect_cof(); break;
    case 6: emit connect_stt(); break;
    default: break;
    }
}

void Widget::show_Bk_Tim_Dialog() { m_bkTimDialog->show(); }

void Widget::show_Abt_Tim_Dialog() { m_abtDialog->show(); }

void Widget::show_Cof_Tim_Dialog() { m_cofDialog->show(); }

void Widget::show_sl_Tim_Dialog() { m_sleepTimeDialog->show(); }

void Widget::show_ug_dlg_Dialog() { m_upgradeDialog->showUpgrade(boxMakerName()); }

void Widget::factory_Dialog()
{
    if (linkIsOpen() && confirmed(QStringLiteral("Factory Reset"), QStringLiteral("Factory Reset？")))
        m_serial->conversation()->sendFactoryReset();
}

}  // namespace vl
