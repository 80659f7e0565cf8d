// The editor window's side of the device link: Connect, the connection handshake, Read
// and Set of the rule table, and the device settings dialogs.

#include "widget.h"

#include "mainwindow.h"

#include "common/dialogs.h"
#include "device/portscan.h"
#include "device/protocol.h"
#include "device/serialport.h"
#include "device/settingsdialogs.h"
#include "device/tableimage.h"
#include "table/rulecolumns.h"
#include "table/rulemodel.h"
#include "table/tableviews.h"

#include <QAction>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItem>

namespace vl {

namespace {

QString elided(const QString &text, int length = 40)
{
    return text.size() <= length ? text : text.left(length) + QStringLiteral("…");
}

}  // namespace

void Widget::setupSerialLink()
{
    m_serial = new SerialPort(m_portList, boxMakerName(), this);
    connect(m_serial, &SerialPort::showdata, this, &Widget::applyUploadedRows);
    connect(m_serial, &SerialPort::sure_connect, this, &Widget::Definite_connection);
    connect(m_serial, &SerialPort::sure_open, this, &Widget::is_open);
    connect(m_serial, &QSerialPort::errorOccurred, this, &Widget::handleSerialError);
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

    connect(m_menu->action2_2, &QAction::triggered, this, &Widget::show_Bk_Tim_Dialog);
    connect(m_menu->action3_2, &QAction::triggered, this, &Widget::show_Abt_Tim_Dialog);
    connect(m_menu->action4_2, &QAction::triggered, this, &Widget::show_Cof_Tim_Dialog);
    connect(m_menu->actionSleep_Time, &QAction::triggered, this, &Widget::show_sl_Tim_Dialog);
    connect(m_menu->action5, &QAction::triggered, this, &Widget::factory_Dialog);
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
        m_serial->clear(QSerialPort::AllDirections);
        m_serial->close();
        ++m_tableGeneration;
        m_rules->removeRows(0, m_rules->rowCount());
        m_remarks->removeRows(0, m_remarks->rowCount());
    } else {
        const QString name = m_portList->currentData(Qt::UserRole).toString();
        if (m_serial->openPort(name, SerialPort::kBaudRate))
            m_serial->write(msg::hello);
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

void Widget::handleSerialError(QSerialPort::SerialPortError error)
{
    if (!m_serial->isOpen() || (error != QSerialPort::ResourceError && error != QSerialPort::ReadError))
        return;
    // A device that went away shows as ResourceError, or on Linux as endless read errors
    // on a hung-up line. Linux also reports a full output buffer (EAGAIN) as
    // ResourceError; the bytes are still queued then and go out once the line drains,
    // so only a line that is really gone is closed.
    if (!m_serial->deviceHasGone())
        return;
    m_serial->close();
    updateConnectUi();
}

void Widget::is_open(bool sure)
{
    if (!sure) {
        warning(nullptr, QStringLiteral("Warning"),
                QStringLiteral("Failed to connect because no product model was specified"));
        return;
    }
    updateConnectUi();
    if (m_serial->isOpen())
        m_serial->write(msg::settingRequest);
}

void Widget::Definite_connection(bool sure)
{
    if (sure && m_serial->isOpen())
        m_serial->write(msg::settingRequest);
}

// --- Set ---------------------------------------------------------------------------------

int Widget::sendConfigurationImage(int mode)
{
    if (m_rules->rowCount() < kRuleRows) {
        information(nullptr, QStringLiteral("Warning"),
                    QStringLiteral("The table has no data. Please fill in the data before saving."));
        return 0;
    }
    if (mode == 1) {
        // The box's fields are narrow: a text outside its column would reach it as a
        // different rule, so nothing is sent until every rule is one the box can hold.
        const RuleProblem problem = findInvalidRule(*m_rules);
        if (problem.found()) {
            warning(nullptr, QStringLiteral("warning"),
                    QStringLiteral("Row %1, column \"%2\": \"%3\" is not a valid value. "
                                   "Nothing was sent to the device.")
                        .arg(problem.row + 1)
                        .arg(ruleColumnTitle(problem.column), elided(problem.text)));
            return 0;
        }
    }
    const QByteArray image = encodeTableImage(*m_rules);
    if (mode != 1)
        return 2;
    return writeInPieces(*m_serial, image) ? 1 : 0;
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
        m_serial->busyBox()->show();
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
    m_serial->write(msg::uploadRequest);
    resetRemarkColumn(kRuleRows);
    prepareAliasesForRead();
}

void Widget::applyUploadedRows(const QByteArrayList &groupedData)
{
    // The box also answers the automatic request after every settings command; such an
    // upload must not pile a second table onto the rules the user has.
    if (m_rules->rowCount() > 0 || m_rowsPending > 0)
        return;
    if (!isCompleteUpload(groupedData)) {
        warning(nullptr, QStringLiteral("Warning"),
                QStringLiteral("The configuration read from the device was incomplete. No rules were loaded."));
        return;
    }
    for (int row = 0; row < kRuleRows; ++row)
        decodeRuleRecord(row, groupedData.at(row));
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
    if (row < 0 || row >= kRuleRows)
        return;
    const QStringList texts = vl::decodeRuleRecord(record, row, m_cnum);
    if (texts.isEmpty())
        return;
    ++m_rowsPending;
    const int generation = m_tableGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, row, texts, generation] {
            --m_rowsPending;
            if (generation != m_tableGeneration)
                return;  // the table was emptied again since this upload arrived
            if (texts.size() > 1 && (m_rules->columnCount() < kRuleColumns || row == 0))
                m_rules->restoreLabels();
            QList<QStandardItem *> items;
            items.reserve(texts.size());
            for (const QString &text : texts)
                items << new QStandardItem(text);
            items.first()->setEditable(false);
            m_rules->insertRow(qMin(row, m_rules->rowCount()), items);
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

void Widget::factory_Dialog()
{
    if (!linkIsOpen())
        return;
    if (question(nullptr, QStringLiteral("Factory Reset"), QStringLiteral("Factory Reset？"),
                 QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;
    m_serial->sendCommand(factoryResetCommand());
}

}  // namespace vl
