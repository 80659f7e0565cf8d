// The editor window's side of the device link: the port list, Connect, Read, Set and the
// device settings dialogs. The conversation with the box is BoxConversation's; the
// window asks the user, shows what the box answered and keeps its controls in step.

#include "widget.h"

#include "mainwindow.h"

#include "common/dialogs.h"
#include "device/boxconversation.h"
#include "device/portcache.h"
#include "device/portlistupdater.h"
#include "device/serialport.h"
#include "device/settingsdialogs.h"
#include "firmware/upgradedialog.h"
#include "table/rulecolumns.h"
#include "table/rulemodel.h"
#include "table/tableviews.h"

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
    m_portLists->addList(m_portList, PortFilter::boxes(boxMakerName()));

    m_busyBox = std::make_unique<QMessageBox>();
    m_busyBox->setWindowTitle(QStringLiteral("Warning"));
    m_busyBox->setText(QStringLiteral("Data is being sent..."));
    m_busyBox->setIcon(QMessageBox::Information);
    m_busyBox->setStandardButtons(QMessageBox::NoButton);

    m_serial = new SerialPort(this);
    BoxConversation *box = m_serial->conversation();
    connect(m_serial, &SerialPort::showdata, this, &Widget::applyUploadedRows);
    connect(m_serial, &SerialPort::sure_open, this, &Widget::is_open);
    connect(box, &BoxConversation::imageAccepted, this, &Widget::reportConfigured);
    connect(box, &BoxConversation::lineLost, this, &Widget::updateConnectUi);
    // Once the port is closed no "download success" can arrive any more.
    connect(m_serial, &QIODevice::aboutToClose, m_busyBox.get(), &QWidget::hide);
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

    connect(m_menu->action2_2, &QAction::triggered, this, &Widget::show_Bk_Tim_Dialog);
    connect(m_menu->action3_2, &QAction::triggered, this, &Widget::show_Abt_Tim_Dialog);
    connect(m_menu->action4_2, &QAction::triggered, this, &Widget::show_Cof_Tim_Dialog);
    connect(m_menu->actionSleep_Time, &QAction::triggered, this, &Widget::show_sl_Tim_Dialog);
    connect(m_menu->action5, &QAction::triggered, this, &Widget::factory_Dialog);
    connect(m_menu->action6, &QAction::triggered, this, &Widget::show_ug_dlg_Dialog);
}

double Widget::currentCoefficient() const { return m_cofDialog ? m_cofDialog->coefficient() : 0.0; }

bool Widget::linkIsOpen()
{
    if (m_connectButton->text() != QLatin1String("Connect"))
        return true;
    warning(nullptr, QStringLiteral("warning"),
            QStringLiteral("The device is not connected. Please connect the device first"));
    return false;
}

// --- Connect, Disconnect and the handshake ----------------------------------------------

void Widget::on_connectButton_clicked()
{
    resetRemarkColumn(kRuleRows);
    if (m_serial->isOpen()) {
        m_serial->conversation()->close();
        ++m_tableGeneration;
        m_rules->removeRows(0, m_rules->rowCount());
        m_remarks->removeRows(0, m_remarks->rowCount());
    } else {
        const QString name = m_portList->currentData(Qt::UserRole).toString();
        if (m_serial->openPort(name, kBoxBaudRate))
            m_serial->conversation()->greet();
        m_remarks->setRowCount(kRuleRows);
        for (int r = 0; r < kRuleRows; ++r)
            m_remarks->clearCell(r, 0);
    }
    updateConnectUi();
}

void Widget::updateConnectUi()
{
    const bool open = m_serial->isOpen();
    m_portList->setEnabled(!open);
    m_connectButton->setText(open ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
}

// The box's answer to "hello". On "open the door" the conversation has asked for the
// settings; the window only brings its controls up to date.
void Widget::is_open(bool sure)
{
    if (!sure) {
        warning(nullptr, QStringLiteral("Warning"),
                QStringLiteral("Failed to connect because no product model was specified"));
        return;
    }
    updateConnectUi();
}

// --- Set ---------------------------------------------------------------------------------

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
    return m_serial->conversation()->sendImage(check.image) ? 1 : 0;
}

void Widget::on_pushButton_2_clicked()
{
    if (question(nullptr, QStringLiteral(" "), QStringLiteral("Configure product？"),
                 QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;
    if (!linkIsOpen())
        return;
    if (sendConfigurationImage(1) == 1)
        m_busyBox->show();
}

void Widget::reportConfigured()
{
    m_busyBox->hide();
    information(nullptr, QStringLiteral("operate successfully"), QStringLiteral("Product is configured successfully!"));
}

// --- Read --------------------------------------------------------------------------------

void Widget::on_pushButton_clicked()
{
    if (question(nullptr, QStringLiteral(" "), QStringLiteral("Read product configuration？"),
                 QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;
    if (!linkIsOpen())
        return;
    ++m_tableGeneration;
    m_rules->removeRows(0, m_rules->rowCount());
    m_tableView->viewport()->update();
    m_serial->conversation()->requestTable();
    resetRemarkColumn(kRuleRows);
    prepareAliasesForRead();
}

void Widget::applyUploadedRows(const QByteArrayList &groupedData)
{
    // The box also answers the automatic request after every settings command; such an
    // upload must not pile a second table onto the rules the user has.
    if (m_rules->rowCount() > 0 || m_rowsPending > 0)
        return;
    const QList<QStringList> rows = rowsOfUpload(groupedData, m_cnum);
    if (rows.isEmpty()) {
        warning(nullptr, QStringLiteral("Warning"),
                QStringLiteral("The configuration read from the device was incomplete. No rules were loaded."));
        return;
    }
    // The rows go in through queued calls, so the message box below sees the table
    // filling behind it.
    for (int row = 0; row < rows.size(); ++row)
        insertRowLater(row, rows.at(row));
    const int generation = m_tableGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_tableGeneration)
                emit table_change();
        },
        Qt::QueuedConnection);

    information(nullptr, QStringLiteral("operate successfully"), QStringLiteral("Read successfully!"));
    // After the box, and after the rows are in, since the labels go onto their cells.
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_tableGeneration)
                finishAliasesAfterRead();
        },
        Qt::QueuedConnection);
}

void Widget::decodeRuleRecord(int row, const QByteArray &record)
{
    if (row >= 0 && row < kRuleRows)
        insertRowLater(row, vl::decodeRuleRecord(record, row, m_cnum));
}

void Widget::insertRowLater(int row, const QStringList &texts)
{
    if (texts.isEmpty())
        return;
    ++m_rowsPending;
    const int generation = m_tableGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, row, texts, generation] {
            --m_rowsPending;
            if (generation == m_tableGeneration)  // else the table was emptied again since
                insertUploadedRow(*m_rules, row, texts);
        },
        Qt::QueuedConnection);
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
    if (!linkIsOpen())
        return;
    if (question(nullptr, QStringLiteral("Factory Reset"), QStringLiteral("Factory Reset？"),
                 QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;
    m_serial->conversation()->sendFactoryReset();
}

}  // namespace vl
