// The editor window and the box over a real pseudo-terminal: Connect and the handshake,
// Read, Set, the settings dialogs, the factory reset, and the box going away. The test
// plays the box on the master side and checks every byte the editor sends.

#include "app/ui/mainwindow.h"
#include "app/ui/widget.h"
#include "boxbytes.h"
#include "device/core/tableimage.h"
#include "device/ui/serialport.h"
#include "device/ui/settingsdialogs.h"
#include "editoronpty.h"
#include "filebytes.h"
#include "resources/resources.h"
#include "ruletables.h"
#include "scripteddialogs.h"
#include "table/core/aliases.h"
#include "table/core/aliaskeeper.h"
#include "table/core/aliasstore.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "table/ui/edithistory.h"
#include "tempworkdir.h"
#include "trywait.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace vl;
using vl::test::boxRecords;
using vl::test::EditorOnPty;
using vl::test::PtyPeer;
using vl::test::putCompleteRule;
using vl::test::readFileBytes;
using vl::test::ScriptedDialogs;
using vl::test::settingsCommand;
using vl::test::settingsReply;
using vl::test::TempWorkDir;

namespace {

const QString kNotConnected = "The device is not connected. Please connect the device first";

// A table the user has: the full sample table, valid throughout.
void fillValidTable(RuleModel &m) { vl::test::fillSampleTable(m); }

// Rows enough for a full table, but hardly anything in them: what the commands that
// refuse before they look at the rules need.
void fillBareTable(RuleModel &m)
{
    m.setRowCount(kRuleRows);
    m.setText(0, ColDmx, "1");
}

}  // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT

    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<EditorOnPty> editor;
    Widget *w = nullptr;
    PtyPeer *peer = nullptr;

    QPushButton *button(const char *name) { return editor->button(name); }
    QString caption() { return editor->caption(); }
    QComboBox *portList() { return editor->portList(); }

    // Builds the window; its first scan lists the test's box unless there is none.
    void startEditor(bool withBox = true)
    {
        editor->start(withBox);
        w = editor->window.get();
    }

    void connectBox() { editor->connectBox(); }

    int messagesWith(const QString &text) const { return dialogs->messageTexts().count(text); }

private slots:
    void initTestCase()
    {
        initResources();
        qRegisterMetaType<QSerialPort::SerialPortError>();
    }

    void init()
    {
        dir = std::make_unique<TempWorkDir>();
        dialogs = std::make_unique<ScriptedDialogs>();
        editor = std::make_unique<EditorOnPty>();
        peer = &editor->peer;
    }

    void cleanup()
    {
        editor.reset();
        w = nullptr;
        peer = nullptr;
        dialogs.reset();
        dir.reset();
    }

    void connectAndHandshake()
    {
        startEditor();
        QCOMPARE(portList()->count(), 1);
        QCOMPARE(portList()->currentText(), QString("Nemora KVR-9000"));
        QCOMPARE(caption(), QString("Connect"));
        QVERIFY(portList()->isEnabled());

        connectBox();
        QVERIFY(w->serialPort()->isOpen());
        QCOMPARE(w->serialPort()->baudRate(), 115200);
        QVERIFY(!portList()->isEnabled());
        QCOMPARE(w->remarkModel()->rowCount(), kRuleRows);

        // The box reports its settings; the four dialogs show them and the preview gets
        // the coefficient's number.
        QVERIFY(peer->write(settingsReply(1000, 50, 2, 6)));
        VL_TRY_COMPARE(w->bkTimDialog()->comboBox()->currentText(), QString("1000"));
        QCOMPARE(w->abtDialog()->comboBox()->currentText(), QString("50"));
        QCOMPARE(w->cofDialog()->comboBox()->currentText(), QString("2.01"));
        QCOMPARE(w->sleepTimeDialog()->comboBox()->currentText(), QString("60"));
        QCOMPARE(w->serialPort()->breakTime, 1000);
        QCOMPARE(w->currentCoefficient(), 2.01);
        QVERIFY(editor->preview.calls.contains("setCoefficient 2.01"));

        // Values that are not on a list leave the choices alone.
        QVERIFY(peer->write(settingsReply(110, 51, 9, 0)));
        VL_TRY_COMPARE(w->serialPort()->breakTime, 110);
        QCOMPARE(w->bkTimDialog()->comboBox()->currentText(), QString("1000"));
        QCOMPARE(w->abtDialog()->comboBox()->currentText(), QString("50"));
        QCOMPARE(w->cofDialog()->comboBox()->currentText(), QString("2.01"));
        QCOMPARE(w->sleepTimeDialog()->comboBox()->currentText(), QString("60"));

        // "ok" asks for the settings again; the model reply is acknowledged; a challenge
        // is answered.
        QVERIFY(peer->write("ok"));
        QVERIFY2(peer->expect("setting request"), qPrintable(peer->lastError()));
        QVERIFY(peer->write("KVR-9000\r\n"));
        QVERIFY2(peer->expect(QByteArray::fromHex("aacc0200030d0a")), qPrintable(peer->lastError()));
        const QByteArray challenge = "0123456789abcdef";
        QVERIFY(peer->write("cipher " + challenge));
        QVERIFY2(peer->expect("give you" + challenge + "7" + "nxxxxx"), qPrintable(peer->lastError()));

        // A box without a model configured keeps the port open.
        QVERIFY(peer->write("close the door"));
        VL_TRY_COMPARE(messagesWith("Failed to connect because no product model was specified"), 1);
        QCOMPARE(dialogs->lastMessage().title, QString("Warning"));
        QCOMPARE(caption(), QString("Disconnect"));
        QVERIFY(peer->expectSilence());
    }

    void disconnectEmptiesTheTable()
    {
        startEditor();
        connectBox();
        fillBareTable(*w->ruleModel());
        button("connectButton")->click();
        QVERIFY(!w->serialPort()->isOpen());
        QCOMPARE(caption(), QString("Connect"));
        QVERIFY(portList()->isEnabled());
        QCOMPARE(w->ruleModel()->rowCount(), 0);
        QCOMPARE(w->remarkModel()->rowCount(), 0);
    }

    void connectFailures()
    {
        // Nothing to choose.
        startEditor(false);
        QCOMPARE(portList()->count(), 0);
        button("connectButton")->click();
        QCOMPARE(dialogs->lastMessage().title, QString("KVR Tool"));
        QCOMPARE(dialogs->lastMessage().text, QString("port name error, please choose right com!"));
        QCOMPARE(caption(), QString("Connect"));

        // A listed port that cannot be opened.
        portList()->addItem("Nemora KVR-9000", "/dev/nonexistent-varilume-port");
        button("connectButton")->click();
        QCOMPARE(dialogs->lastMessage().text, QString("Device error"));
        QCOMPARE(dialogs->lastMessage().title, QString());
        QCOMPARE(dialogs->lastMessage().iconPixmap, QString(":/ico.png"));
        QCOMPARE(caption(), QString("Connect"));
        QVERIFY(!w->serialPort()->isOpen());
    }

    // Every device command refuses to run while the link is closed.
    void commandsNeedTheLink_data()
    {
        QTest::addColumn<QString>("command");
        // clang-format off
        QTest::newRow("Read") << "Read";
        QTest::newRow("Set") << "Set";
        QTest::newRow("Factory Reset") << "Factory Reset";
        QTest::newRow("break time OK") << "1";
        QTest::newRow("mark after break OK") << "2";
        QTest::newRow("coefficient OK") << "3";
        QTest::newRow("sleep time OK") << "6";
        // clang-format on
    }
    void commandsNeedTheLink()
    {
        QFETCH(QString, command);
        startEditor();
        fillBareTable(*w->ruleModel());
        dialogs->buttons = {QMessageBox::Ok};
        if (command == "Read")
            button("pushButton")->click();
        else if (command == "Set")
            button("pushButton_2")->click();
        else if (command == "Factory Reset")
            w->menuBarWindow()->action5->trigger();
        else
            w->is_connect(command.toInt());
        QCOMPARE(dialogs->lastMessage().text, kNotConnected);
        QCOMPARE(dialogs->lastMessage().title, QString("warning"));
        QCOMPARE(w->ruleModel()->rowCount(), kRuleRows);
        QVERIFY(peer->expectSilence(50));
    }

    // The box's table arrives as a USB device delivers it, in 64-byte pieces (how it may
    // be cut otherwise is tst_tabletransfer's).
    void readFillsTheTable()
    {
        startEditor();
        connectBox();
        QSignalSpy changed(w, &Widget::table_change);
        fillBareTable(*w->ruleModel());

        dialogs->buttons = {QMessageBox::Ok};
        button("pushButton")->click();
        QCOMPARE(dialogs->asked.first().title(), QString(" "));
        QCOMPARE(dialogs->asked.first().text(), QString("Read product configuration？"));
        QVERIFY2(peer->expect("upload request"), qPrintable(peer->lastError()));
        QCOMPARE(w->ruleModel()->rowCount(), 0);

        const QByteArray records = boxRecords();
        QVERIFY(peer->writeInPieces(buildTableImage(records), QVector<int>(kImageSize / 64, 64).toList()));
        VL_TRY_COMPARE(changed.count(), 1);
        RuleModel *m = w->ruleModel();
        QCOMPARE(m->rowCount(), kRuleRows);
        QCOMPARE(dialogs->lastMessage().text, QString("Read successfully!"));
        QCOMPARE(dialogs->lastMessage().title, QString("operate successfully"));

        QCOMPARE(ruleRowTexts(*m, 0),
                 QStringList({"1", "1", "Note", "0 / C-2", "1", "OFF", "OFF", "OFF", "OFF", "ON"}));
        QCOMPARE(ruleRowTexts(*m, 1), QStringList({"2", "2", "CC", "1", "2", "OFF", "OFF", "OFF", "OFF", "ON"}));
        QCOMPARE(ruleRowTexts(*m, 2), QStringList({"3", "", "", "", "", "", "", "", "", ""}));
        QCOMPARE(m->text(3071, ColSn), QString("3072"));
        QVERIFY(!(m->item(0, ColSn)->flags() & Qt::ItemIsEditable));
        QVERIFY(m->item(0, ColDmx)->flags() & Qt::ItemIsEditable);
        QCOMPARE(m->headerData(9, Qt::Horizontal).toString(), QString("Enable"));
        // What was read is what Set sends back.
        QCOMPARE(encodeTableImage(*m).mid(256, kRecordAreaSize), records);
        QVERIFY(peer->expectSilence(50));
    }

    void readCancelled()
    {
        startEditor();
        connectBox();
        fillBareTable(*w->ruleModel());
        dialogs->buttons = {QMessageBox::Cancel};
        button("pushButton")->click();
        QCOMPARE(w->ruleModel()->rowCount(), kRuleRows);
        QVERIFY(peer->expectSilence(50));
    }

    // Read empties the aliases (the box holds none) and "./Aliases.txt" with them; an undo
    // gives the table, the remarks, the aliases and the file back, and redo the table read.
    void readIsUndoneWithTheAliases()
    {
        startEditor();
        connectBox();
        vl::test::fillSampleTable(*w->ruleModel());
        w->applyRemarkLines("alias4=kept\n");
        QStringList aliases = AliasStore::emptyList();
        aliases[0] = "Spot";
        w->aliasStore()->setAliases(aliases);
        w->aliasKeeper()->save();
        w->aliasKeeper()->relabelCells();
        const QList<QStringList> tableBefore = vl::test::tableTexts(*w->ruleModel());
        const QByteArray fileBefore = readFileBytes(aliasFilePath());
        QVERIFY(fileBefore.startsWith("Spot\n"));

        QSignalSpy changed(w, &Widget::table_change);
        dialogs->buttons = {QMessageBox::Ok};
        button("pushButton")->click();
        QVERIFY2(peer->expect("upload request"), qPrintable(peer->lastError()));
        QVERIFY(peer->write(buildTableImage(boxRecords())));
        VL_TRY_COMPARE(changed.count(), 1);
        QTRY_VERIFY(!w->editHistory()->stepOpen());
        const QList<QStringList> tableRead = vl::test::tableTexts(*w->ruleModel());
        QCOMPARE(w->aliasStore()->alias(1), QString());
        QVERIFY(!readFileBytes(aliasFilePath()).contains("Spot"));
        QCOMPARE(w->windowTitle(), QString("Varilume"));  // the table is what the box holds
        QCOMPARE(w->menuBarWindow()->actionUndo->text(), QString("&Undo Read"));

        w->menuBarWindow()->actionUndo->trigger();
        QCOMPARE(vl::test::tableTexts(*w->ruleModel()), tableBefore);
        QCOMPARE(w->remarkModel()->text(4, 0), QString("kept"));
        QCOMPARE(w->aliasStore()->alias(1), QString("Spot"));
        QCOMPARE(readFileBytes(aliasFilePath()), fileBefore);
        QCOMPARE(w->windowTitle(), QString("Varilume*"));

        w->menuBarWindow()->actionRedo->trigger();
        QCOMPARE(vl::test::tableTexts(*w->ruleModel()), tableRead);
        QVERIFY(!(w->ruleModel()->item(0, ColSn)->flags() & Qt::ItemIsEditable));  // as read
        QCOMPARE(w->aliasStore()->alias(1), QString());
        QCOMPARE(w->windowTitle(), QString("Varilume"));
    }

    // A box that does not confirm Set is reported once the line has been quiet for 10 s
    // and the busy box goes (the other silences are tst_tabletransfer's).
    void silentBoxAfterSet()
    {
        startEditor();
        connectBox();
        fillValidTable(*w->ruleModel());
        dialogs->buttons = {QMessageBox::Ok};
        QSignalSpy written(&w->serialPort()->conversation()->port(), &QSerialPort::bytesWritten);
        button("pushButton_2")->click();
        QCOMPARE(peer->take(kImageSize).size(), kImageSize);
        QTRY_VERIFY(w->busyBox()->isVisible());
        // The silence counts from the last byte written: wait until the editor has heard
        // that it went out.
        const auto writtenSoFar = [&written] {
            qint64 sum = 0;
            for (const QList<QVariant> &args : written)
                sum += args.at(0).toLongLong();
            return sum;
        };
        QTRY_VERIFY(writtenSoFar() >= kImageSize);
        const int messages = dialogs->asked.size();
        editor->clock.advance(9999);
        QCoreApplication::processEvents();
        QCOMPARE(dialogs->asked.size(), messages);

        editor->clock.advance(1);
        QCOMPARE(dialogs->asked.size(), messages + 1);
        QCOMPARE(dialogs->lastMessage().title, QString("Warning"));
        QCOMPARE(dialogs->lastMessage().text,
                 QString("The device did not answer within 10 s after the configuration was sent; it did not confirm "
                         "it. The device may not have stored the table. Connect again and Set once more."));
        QVERIFY(!w->busyBox()->isVisible());
        QCOMPARE(caption(), QString("Disconnect"));  // the link stays; the user may try again
        editor->clock.advance(60000);
        QCOMPARE(dialogs->asked.size(), messages + 1);
    }

    // An upload whose checksum shows damage is loaded as it came, as boxes may rely on, and
    // the user is told what failed instead of "Read successfully!" (a damaged header is
    // tst_tabletransfer's).
    void damagedUploadIsLoadedWithAWarning()
    {
        const quint16 sum = recordChecksum(boxRecords());
        const QString damage = QString("its checksum is 0x%1 but its records add up to 0x%2")
                                   .arg(sum ^ 0x01, 4, 16, QChar('0'))
                                   .arg(sum, 4, 16, QChar('0'));
        startEditor();
        connectBox();
        QSignalSpy changed(w, &Widget::table_change);
        dialogs->buttons = {QMessageBox::Ok};
        button("pushButton")->click();
        QVERIFY2(peer->expect("upload request"), qPrintable(peer->lastError()));
        QByteArray image = buildTableImage(boxRecords());
        image[kChecksumOffset] = char((sum & 0xFF) ^ 0x01);
        QVERIFY(peer->write(image));
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(encodeTableImage(*w->ruleModel()).mid(256, kRecordAreaSize), boxRecords());
        QCOMPARE(messagesWith("Read successfully!"), 0);
        QCOMPARE(dialogs->lastMessage().title, QString("Warning"));
        QCOMPARE(dialogs->lastMessage().text,
                 QString("The configuration read from the device is damaged: %1.\n\nThe rules were loaded as the "
                         "device sent them. Check them before you Set them again.")
                     .arg(damage));
    }

    void setWritesTheImage()
    {
        startEditor();
        connectBox();
        fillValidTable(*w->ruleModel());
        dialogs->buttons = {QMessageBox::Ok};
        button("pushButton_2")->click();
        QCOMPARE(dialogs->asked.first().text(), QString("Configure product？"));
        QCOMPARE(dialogs->asked.first().title(), QString(" "));

        const QByteArray sent = peer->take(kImageSize);
        QCOMPARE(sent.size(), kImageSize);
        QCOMPARE(sent, encodeTableImage(*w->ruleModel()));
        QVERIFY(sent.startsWith("download request"));
        QVERIFY(peer->expectSilence(50));  // nothing after the image's last byte
        QMessageBox *busy = w->busyBox();
        QVERIFY(busy->isVisible());
        QCOMPARE(busy->windowTitle(), QString("Warning"));
        QCOMPARE(busy->text(), QString("Data is being sent..."));
        QVERIFY(busy->buttons().isEmpty());

        QVERIFY(peer->write("download success"));
        VL_TRY_VERIFY(!busy->isVisible());
        QCOMPARE(dialogs->lastMessage().text, QString("Product is configured successfully!"));
        QCOMPARE(dialogs->lastMessage().title, QString("operate successfully"));
    }

    // Rules past the 3072nd row (a longer workbook) cannot reach the box: Set names them
    // and sends the first 3072 only when the user agrees.
    void setLeavesOutRulesPastTheBox_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("Cancel") << int(QMessageBox::Cancel);
        QTest::newRow("Ok") << int(QMessageBox::Ok);
    }
    void setLeavesOutRulesPastTheBox()
    {
        QFETCH(int, answer);
        startEditor();
        connectBox();
        RuleModel *m = w->ruleModel();
        fillValidTable(*m);
        const QByteArray image = encodeTableImage(*m);
        m->setRowCount(kRuleRows + 3);
        putCompleteRule(*m, kRuleRows + 1);
        putCompleteRule(*m, kRuleRows + 2);

        dialogs->buttons = {QMessageBox::Ok, QMessageBox::StandardButton(answer)};
        button("pushButton_2")->click();
        QCOMPARE(dialogs->asked.size(), 2);
        QCOMPARE(dialogs->asked.last().title(), QString("Warning"));
        QCOMPARE(dialogs->asked.last().text(),
                 QString("2 rules after row 3072 cannot be sent (the device holds 3072 rules); the first is in row "
                         "3074.\n\nSend rules 1 to 3072 without them?"));
        if (answer == QMessageBox::Cancel) {
            QVERIFY(peer->expectSilence(100));
            QVERIFY(!w->busyBox()->isVisible());
            return;
        }
        QCOMPARE(peer->take(kImageSize), image);
        QVERIFY(w->busyBox()->isVisible());
    }

    // Set sends nothing when the table cannot go to the box as it is.
    void setRefuses_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("badRow");
        QTest::addColumn<int>("badColumn");
        QTest::addColumn<QString>("badText");
        QTest::addColumn<QString>("message");
        // clang-format off
        QTest::newRow("too few rows") << 3071 << -1 << 0 << QString()
                                      << "The table has no data. Please fill in the data before saving.";
        QTest::newRow("no rows") << 0 << -1 << 0 << QString()
                                 << "The table has no data. Please fill in the data before saving.";
        QTest::newRow("DMX 1025") << kRuleRows << 5 << int(ColDmx) << "1025"
                                  << "Row 6, column \"DMX Channels\": \"1025\" is not a valid value. Nothing was sent "
                                     "to the device.";
        QTest::newRow("DMX 0") << kRuleRows << 0 << int(ColDmx) << "0"
                               << "Row 1, column \"DMX Channels\": \"0\" is not a valid value. Nothing was sent to "
                                  "the device.";
        QTest::newRow("controller 300") << kRuleRows << 3070 << int(ColCtl) << "300"
                                        << "Row 3071, column \"Controller\": \"300\" is not a valid value. Nothing "
                                           "was sent to the device.";
        QTest::newRow("unknown status") << kRuleRows << 1 << int(ColSta) << "PB"
                                        << "Row 2, column \"Status\": \"PB\" is not a valid value. Nothing was sent "
                                           "to the device.";
        // clang-format on
    }
    void setRefuses()
    {
        QFETCH(int, rows);
        QFETCH(int, badRow);
        QFETCH(int, badColumn);
        QFETCH(QString, badText);
        QFETCH(QString, message);
        startEditor();
        connectBox();
        // One complete rule holds the bad text; the other rows hold no rule.
        RuleModel *m = w->ruleModel();
        m->setRowCount(rows);
        if (badRow >= 0) {
            putCompleteRule(*m, badRow);
            m->setText(badRow, badColumn, badText);
        }

        dialogs->buttons = {QMessageBox::Ok};
        button("pushButton_2")->click();
        QCOMPARE(dialogs->lastMessage().text, message);
        QVERIFY(peer->expectSilence(100));
        QVERIFY(!w->busyBox()->isVisible());

        // Building the image before a workbook save checks only the row count.
        dialogs->clear();
        QCOMPARE(w->sendConfigurationImage(2), rows < kRuleRows ? 0 : 2);
        QCOMPARE(dialogs->asked.size(), rows < kRuleRows ? 1 : 0);
        QVERIFY(peer->expectSilence(50));
    }

    void settingsCommands_data()
    {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QByteArray>("bytes");
        // clang-format off
        QTest::newRow("break time 1000 us") << 1 << "1000" << settingsCommand("000100eb03e8");
        QTest::newRow("mark after break 50 us") << 2 << "50" << settingsCommand("000200320032");
        QTest::newRow("coefficient 2.01") << 3 << "2.01" << settingsCommand("000300020002");
        QTest::newRow("sleep time 60 s") << 6 << "60" << settingsCommand("000500060006");
        // clang-format on
    }
    void settingsCommands()
    {
        QFETCH(int, dialog);
        QFETCH(QString, choice);
        QFETCH(QByteArray, bytes);
        startEditor();
        connectBox();
        MainWindow *menu = w->menuBarWindow();
        QAction *entry = dialog == 1   ? menu->action2_2
                         : dialog == 2 ? menu->action3_2
                         : dialog == 3 ? menu->action4_2
                                       : menu->actionSleep_Time;
        DeviceSettingDialog *d = dialog == 1   ? static_cast<DeviceSettingDialog *>(w->bkTimDialog())
                                 : dialog == 2 ? static_cast<DeviceSettingDialog *>(w->abtDialog())
                                 : dialog == 3 ? static_cast<DeviceSettingDialog *>(w->cofDialog())
                                               : static_cast<DeviceSettingDialog *>(w->sleepTimeDialog());
        entry->trigger();
        QVERIFY(d->isVisible());
        QVERIFY(!d->isModal());
        d->comboBox()->setCurrentText(choice);
        d->buttonBox()->button(QDialogButtonBox::Ok)->click();
        QVERIFY(!d->isVisible());
        QVERIFY2(peer->expect(bytes), qPrintable(peer->lastError()));
        QVERIFY(peer->expectSilence(50));

        // The box acknowledges; the editor asks for the table.
        QVERIFY(peer->write("setting end"));
        QVERIFY2(peer->expect("upload request"), qPrintable(peer->lastError()));

        // Cancel sends nothing.
        entry->trigger();
        d->buttonBox()->button(QDialogButtonBox::Cancel)->click();
        QVERIFY(!d->isVisible());
        QVERIFY(peer->expectSilence(50));
    }

    void factoryReset()
    {
        startEditor();
        connectBox();
        dialogs->buttons = {QMessageBox::Cancel, QMessageBox::Ok};
        w->menuBarWindow()->action5->trigger();
        QCOMPARE(dialogs->lastMessage().title, QString("Factory Reset"));
        QCOMPARE(dialogs->lastMessage().text, QString("Factory Reset？"));
        QVERIFY(peer->expectSilence(50));

        w->menuBarWindow()->action5->trigger();
        QVERIFY2(peer->expect(settingsCommand("000400010001")), qPrintable(peer->lastError()));
    }

    void coefficientReachesThePreview()
    {
        startEditor();
        QCOMPARE(w->currentCoefficient(), 1.0);
        w->cofDialog()->comboBox()->setCurrentIndex(4);
        QCOMPARE(editor->preview.calls.last(), QString("setCoefficient 4"));
        QCOMPARE(w->currentCoefficient(), 4.0);
    }

    // The box goes away while connected: the port is closed once, the button reads
    // "Connect" again, and nothing floods or spins. A Read or Set under way says what
    // happened; a Read gives the table back as it was.
    void boxVanishes_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QString>("message");  // empty: none
        // clang-format off
        QTest::newRow("idle") << "idle" << QString();
        QTest::newRow("in the middle of a read")
            << "read"
            << "The device went away while the configuration was being read. The table is as it was before Read.";
        QTest::newRow("waiting for download success")
            << "set"
            << "The device went away before it confirmed the configuration. The device may not have stored the "
               "table. Connect again and Set once more.";
        // clang-format on
    }
    void boxVanishes()
    {
        QFETCH(QString, when);
        QFETCH(QString, message);
        startEditor();
        connectBox();
        fillValidTable(*w->ruleModel());
        const QList<QStringList> before = vl::test::tableTexts(*w->ruleModel());
        if (when == "read") {
            dialogs->buttons = {QMessageBox::Ok};
            button("pushButton")->click();
            QVERIFY2(peer->expect("upload request"), qPrintable(peer->lastError()));
            QVERIFY(peer->write(buildTableImage(boxRecords()).left(9000)));
        } else if (when == "set") {
            dialogs->buttons = {QMessageBox::Ok};
            button("pushButton_2")->click();
            QCOMPARE(peer->take(kImageSize).size(), kImageSize);
            QVERIFY(w->busyBox()->isVisible());
        }
        const int messages = dialogs->asked.size();
        QSignalSpy errors(w->serialPort(), &QSerialPort::errorOccurred);
        editor->unplug();

        VL_TRY_COMPARE_WITH_TIMEOUT(caption(), QString("Connect"), 2000);
        QVERIFY(!w->serialPort()->isOpen());
        QVERIFY(portList()->isEnabled());
        QTest::qWait(100);
        QVERIFY2(errors.count() < 10, qPrintable(QString::number(errors.count())));
        QVERIFY(!w->busyBox()->isVisible());
        if (message.isEmpty()) {
            QCOMPARE(dialogs->asked.size(), messages);
        } else {
            QCOMPARE(dialogs->asked.size(), messages + 1);
            QCOMPARE(dialogs->lastMessage().title, QString("Warning"));
            QCOMPARE(dialogs->lastMessage().text, message);
        }
        QCOMPARE(vl::test::tableTexts(*w->ruleModel()), before);
    }
};

QTEST_MAIN(TestDeviceLink)
#include "tst_devicelink.moc"
