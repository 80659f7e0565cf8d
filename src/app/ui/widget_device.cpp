// The editor window's side of the device link: the port list, Connect, Read, Set and the
// device settings dialogs. The conversation with the box is BoxConversation's; the
// window asks the user, shows what the box answered and keeps its controls in step.

#include "widget.h"

#include "mainwindow.h"

#include "common/ui/dialogs.h"
#include "device/core/boxconversation.h"
#include "device/core/portcache.h"
#include "device/ui/portlistupdater.h"
#include "device/ui/serialport.h"
#include "device/ui/settingsdialogs.h"
#include "firmware/ui/upgradedialog.h"
#include "table/core/aliasstore.h"
#include "table/ui/edithistory.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/core/ruleops.h"
#include "table/ui/tableviews.h"

#include <QAction>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItem>

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
    connect(box, &BoxConversation::tableUploaded, this, &Widget::applyUploadedRows);
    connect(m_serial, &SerialPort::sure_open, this, &Widget::is_open);
    connect(box, &BoxConversation::imageAccepted, this, &Widget::reportConfigured);
    connect(box, &BoxConversation::lineLost, this, &Widget::reportLineLost);
    connect(box, &BoxConversation::answerOverdue, this, &Widget::reportNoAnswer);
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
    // A Read under way ends here; what Connect and Disconnect empty can be undone.
    m_history->endStep();
    const EditHistory::Step step(m_history,
                                 m_serial->isOpen() ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    resetRemarkColumn(kRuleRows);
    if (m_serial->isOpen()) {
        // The user ends the link: a Read or Set under way ends with it, without a word.
        m_readBackup.reset();
        m_setPending = false;
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
    // Rules after the 3072nd row (from a longer workbook) never reach the box: said before
    // anything is sent, and only sent when the user agrees.
    if (check.rowsLeftOut > 0
        && question(nullptr, QStringLiteral("Warning"),
                    rulesLeftOutText(check) + QStringLiteral("\n\nSend rules 1 to %1 without them?").arg(kRuleRows),
                    QMessageBox::Ok | QMessageBox::Cancel)
               != QMessageBox::Ok)
        return 0;
    BoxConversation *box = m_serial->conversation();
    if (!box->sendImage(check.image))
        return 0;
    m_setPending = true;
    box->awaitAnswer();
    return 1;
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
    if (m_setPending) {
        m_setPending = false;
        m_serial->conversation()->stopAwaiting();
    }
    m_busyBox->hide();
    information(nullptr, QStringLiteral("operate successfully"), QStringLiteral("Product is configured successfully!"));
}

// --- A box that goes away or falls silent -------------------------------------------------

namespace {

QString tableGivenBack() { return QStringLiteral("The table is as it was before Read."); }

QString mayNotHaveStored()
{
    return QStringLiteral("The device may not have stored the table. Connect again and Set once more.");
}

}  // namespace

void Widget::reportLineLost()
{
    updateConnectUi();
    if (m_readBackup) {
        restoreBeforeRead();
        warning(nullptr, QStringLiteral("Warning"),
                QStringLiteral("The device went away while the configuration was being read. ") + tableGivenBack());
    } else if (m_setPending) {
        m_setPending = false;
        warning(nullptr, QStringLiteral("Warning"),
                QStringLiteral("The device went away before it confirmed the configuration. ") + mayNotHaveStored());
    }
}

void Widget::reportNoAnswer()
{
    BoxConversation *box = m_serial->conversation();
    const QString seconds = QString::number(box->answerTimeout() / 1000.0);
    const QString silence = box->heardSinceAwaiting()
                                ? QStringLiteral("The device stopped sending for %1 s").arg(seconds)
                                : QStringLiteral("The device did not answer within %1 s").arg(seconds);
    if (m_readBackup) {
        restoreBeforeRead();
        warning(nullptr, QStringLiteral("Warning"),
                silence + QStringLiteral(" while the configuration was being read. ") + tableGivenBack());
    } else if (m_setPending) {
        m_setPending = false;
        m_busyBox->hide();
        warning(nullptr, QStringLiteral("Warning"),
                silence + QStringLiteral(" after the configuration was sent; it did not confirm it. ")
                    + mayNotHaveStored());
    }
}

Widget::ReadBackup::~ReadBackup()
{
    for (const QList<QStandardItem *> &row : qAsConst(rows))
        qDeleteAll(row);
}

void Widget::restoreBeforeRead()
{
    const std::unique_ptr<ReadBackup> backup = std::move(m_readBackup);
    if (!backup)
        return;
    ++m_tableGeneration;  // rows still queued from the failed Read stay out
    m_rules->removeRows(0, m_rules->rowCount());
    for (const QList<QStandardItem *> &row : qAsConst(backup->rows))
        m_rules->appendRow(row);  // the table owns them again
    backup->rows.clear();
    for (int r = 0; r < backup->remarks.size() && r < m_remarks->rowCount(); ++r) {
        if (backup->remarks.at(r).isEmpty())
            m_remarks->clearCell(r, 0);
        else
            m_remarks->setText(r, 0, backup->remarks.at(r));
    }
    m_aliasStore->setAliases(backup->aliases);
    m_aliasTimer->start(kAliasTimerMs);
    // The preview never saw the table go: Read reloads it only once a table has arrived.
    // The table is as it was, so the Read leaves no step.
    m_history->endStep();
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
    // What Read empties comes back should the table never arrive whole. A Read asked again
    // while one waits keeps what the first one emptied.
    if (!m_readBackup) {
        auto backup = std::make_unique<ReadBackup>();
        backup->rows.reserve(m_rules->rowCount());
        for (int r = 0; r < m_rules->rowCount(); ++r) {
            QList<QStandardItem *> row;
            for (int c = 0; c < m_rules->columnCount(); ++c) {
                QStandardItem *item = m_rules->item(r, c);
                row << (item ? item->clone() : nullptr);
            }
            backup->rows << row;
        }
        for (int r = 0; r < m_remarks->rowCount(); ++r)
            backup->remarks << m_remarks->text(r, 0);
        backup->aliases = m_aliasStore->aliases();
        m_readBackup = std::move(backup);
    }

    // Everything until the table has arrived is one step; it ends with the aliases saved
    // below, or when the table is given back.
    m_history->beginStep(QStringLiteral("Read"));
    ++m_tableGeneration;
    m_rules->removeRows(0, m_rules->rowCount());
    m_tableView->viewport()->update();
    BoxConversation *box = m_serial->conversation();
    if (!box->requestTable()) {
        restoreBeforeRead();  // nothing was asked: the table stays as it was
        return;
    }
    box->awaitAnswer();
    resetRemarkColumn(kRuleRows);
    prepareAliasesForRead();
}

void Widget::applyUploadedRows(const QByteArrayList &groupedData, const QString &damage)
{
    // The box also answers the automatic request after every settings command; such an
    // upload must not pile a second table onto the rules the user has.
    if (m_rules->rowCount() > 0 || m_rowsPending > 0)
        return;
    const bool readAnswered = m_readBackup != nullptr;
    if (readAnswered)
        m_serial->conversation()->stopAwaiting();
    const QList<QStringList> rows = rowsOfUpload(groupedData, m_cnum);
    if (rows.isEmpty()) {
        restoreBeforeRead();
        warning(nullptr, QStringLiteral("Warning"),
                QStringLiteral("The configuration read from the device was incomplete. No rules were loaded.")
                    + (readAnswered ? QLatin1Char(' ') + tableGivenBack() : QString()));
        return;
    }
    m_readBackup.reset();
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

    if (damage.isEmpty())
        information(nullptr, QStringLiteral("operate successfully"), QStringLiteral("Read successfully!"));
    else
        // Boxes may send such tables as they hold them; the user decides what to keep.
        warning(nullptr, QStringLiteral("Warning"),
                QStringLiteral("The configuration read from the device is damaged: %1.\n\nThe rules were loaded as "
                               "the device sent them. Check them before you Set them again.")
                    .arg(damage));
    // After the box, and after the rows are in, since the labels go onto their cells.
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_tableGeneration)
                finishAliasesAfterRead();
            if (m_history->stepOpen()) {
                m_history->endStep();
                m_history->markClean();  // the table is what the box holds
            }
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
