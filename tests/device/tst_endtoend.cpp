// The editor window against the real simulated box: varilume-simbox runs on its own
// pseudo-terminal and announces itself, the window finds it in its port list and talks to
// it through its QSerialPort, exactly as a user would with a plugged-in box. What the box
// holds afterwards is checked in the table file it keeps (--save-table) and in its log.

#include "app/ui/mainwindow.h"
#include "app/ui/widget.h"
#include "boxprocess.h"
#include "common/core/scheduler.h"
#include "device/core/tableimage.h"
#include "device/ui/portlistupdater.h"
#include "device/ui/serialport.h"
#include "device/ui/settingsdialogs.h"
#include "filebytes.h"
#include "files/core/workbookio.h"
#include "files/core/xlsxdocument.h"
#include "recordingpreview.h"
#include "resources/resources.h"
#include "scripteddialogs.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "tempworkdir.h"
#include "trywait.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

using namespace vl;
using vl::test::BoxProcess;
using vl::test::readFileBytes;
using vl::test::RecordingPreview;
using vl::test::ScriptedDialogs;
using vl::test::TempWorkDir;
using vl::test::writeFileBytes;

// Runs one step of a test that may fail; the test ends there when it did.
#define STEP(call)                                                                                                     \
    do {                                                                                                               \
        call;                                                                                                          \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (0)

namespace {

// Longest wait for anything the box does at its own pace (a whole upload in one-byte
// pieces under the sanitizers is the slowest).
constexpr int kBoxMs = 20000;

// The table the box starts with: varied valid rules, empty rows, and two rules whose
// bytes spell the box's keywords "ok" and "end".
QByteArray startRecords()
{
    QByteArray records;
    for (int r = 0; r < kRuleRows; ++r) {
        if (r % 4 == 3) {
            records += QByteArray(kRecordSize, '\0');
            continue;
        }
        const int kind = r % 3;
        const QStringList cells = {QString::number(r + 1),
                                   QString::number(r % 1024 + 1),
                                   kind == 0   ? "Note"
                                   : kind == 1 ? "CC"
                                               : "AT",
                                   QString::number(r % 128),
                                   r % 5 ? QString::number(r % 16 + 1) : "ALL",
                                   r % 7 ? "OFF" : QString::number(r % 255 + 1),
                                   QString::number(r % 50 + 1),
                                   r % 2 ? "OFF" : "7",
                                   r % 2 ? "ON" : "OFF",
                                   r % 6 ? "ON" : "OFF"};
        records += encodeRuleRecord(cells);
    }
    // CC 111 ("o"), DMX 108 ("k" in the flag word), Enable.
    records.replace(8 * 10, 8, QByteArray::fromHex("B06F6B1400000000"));
    // Fix 101 ("e"), Fade Out 110 ("n"), Fade In 100 ("d").
    records.replace(8 * 3000, 8, QByteArray::fromHex("B1053C1465") + "nd" + QByteArray(1, '\0'));
    return records;
}

}  // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    // The window's port scans run when the test says so.
    ManualScheduler clock;
    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<BoxProcess> box;
    RecordingPreview preview;
    std::unique_ptr<Widget> w;

    QString announceDir() const { return tmp.filePath("boxes"); }
    QString savedTable() const { return tmp.filePath("box-table.bin"); }
    QString startTable() const { return tmp.filePath("start-table.bin"); }

    QPushButton *button(const char *name) { return w->findChild<QPushButton *>(name); }
    QString caption() { return button("connectButton")->text(); }
    QComboBox *portList() { return w->findChild<QComboBox *>("comboBox_ComDevices"); }
    int messagesWith(const QString &text) const { return dialogs->messageTexts().count(text); }
    QByteArray editorRecords() { return encodeTableImage(*w->ruleModel()).mid(kImageHeaderSize, kRecordAreaSize); }
    // The port list's next scan.
    void nextScan() { clock.advance(PortListUpdater::kScanIntervalMs); }

    // Starts a box that keeps its table in savedTable(). Unless a test is about the pace of
    // the box's table upload (--pause), the box sends it as fast as the line takes it; and
    // it answers at once (--gap 0) unless it sends two messages for one request (the door
    // and a challenge), which the pause keeps in separate reads.
    void startBox(QStringList args, std::unique_ptr<BoxProcess> &into)
    {
        if (!args.contains("--pause"))
            args << QStringList{"--pause", "0"};
        if (!args.contains("--gap") && !args.contains("--cipher") && !args.contains("--cipher-required"))
            args << QStringList{"--gap", "0"};
        into = std::make_unique<BoxProcess>();
        QString why;
        QVERIFY2(into->start(QStringList{"--save-table", savedTable()} + args, announceDir(), &why), qPrintable(why));
    }
    void startBox(const QStringList &args = {}) { startBox(args, box); }

    void startEditor() { w = std::make_unique<Widget>(&preview); }

    // Connect on the listed box; waits for the settings reply the handshake asks for.
    void connectToBox(bool expectSettings = true)
    {
        QCOMPARE(portList()->count(), 1);
        QCOMPARE(portList()->currentData().toString(), box->port);
        QSignalSpy settings(w->serialPort(), &SerialPort::rec_sucess);
        button("connectButton")->click();
        QCOMPARE(caption(), QString("Disconnect"));
        QVERIFY(w->serialPort()->isOpen());
        if (expectSettings)
            VL_TRY_VERIFY2_WITH_TIMEOUT(settings.count() >= 1, qPrintable(box->log()), kBoxMs);
    }

    void disconnectFromBox()
    {
        button("connectButton")->click();
        QCOMPARE(caption(), QString("Connect"));
    }

    // Read, confirmed; waits until the rows are in and the aliases are done with.
    void readFromBox()
    {
        QSignalSpy changed(w.get(), &Widget::table_change);
        const int successes = messagesWith("Read successfully!");
        dialogs->buttons = {QMessageBox::Ok};
        button("pushButton")->click();
        VL_TRY_VERIFY2_WITH_TIMEOUT(changed.count() == 1, qPrintable(box->log()), kBoxMs);
        QCOMPARE(w->ruleModel()->rowCount(), kRuleRows);
        QCOMPARE(messagesWith("Read successfully!"), successes + 1);
        QCOMPARE(dialogs->lastMessage().title, QString("operate successfully"));
        VL_TRY_VERIFY(w->aliasLabelTimer()->isActive());
    }

    DeviceSettingDialog *settingDialog(int number)
    {
        switch (number) {
        case 1: return w->bkTimDialog();
        case 2: return w->abtDialog();
        case 3: return w->cofDialog();
        default: return w->sleepTimeDialog();
        }
    }
    QStringList dialogChoices()
    {
        return {w->bkTimDialog()->comboBox()->currentText(), w->abtDialog()->comboBox()->currentText(),
                w->cofDialog()->comboBox()->currentText(), w->sleepTimeDialog()->comboBox()->currentText()};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        initResources();
        qRegisterMetaType<QSerialPort::SerialPortError>();
        qputenv("VARILUME_SIMBOX_DIR", announceDir().toUtf8());
        QVERIFY(writeFileBytes(startTable(), buildTableImage(startRecords())));
    }

    void init()
    {
        dir = std::make_unique<TempWorkDir>();
        dialogs = std::make_unique<ScriptedDialogs>();
        preview.calls.clear();
        QFile::remove(savedTable());
        installScheduler(&clock);
    }

    void cleanup()
    {
        w.reset();
        box.reset();
        dialogs.reset();
        dir.reset();
        installScheduler(nullptr);
    }

    // The port list shows a box that starts and drops it within one scan after it ends,
    // whether it ended in order or was killed.
    void portListFollowsTheBox_data()
    {
        QTest::addColumn<bool>("killed");
        // clang-format off
        QTest::newRow("box stopped") << false;
        QTest::newRow("box killed") << true;
        // clang-format on
    }
    void portListFollowsTheBox()
    {
        QFETCH(bool, killed);
        startEditor();
        QCOMPARE(portList()->count(), 0);
        STEP(startBox());
        clock.advance(PortListUpdater::kScanIntervalMs - 1);
        QCOMPARE(portList()->count(), 0);
        clock.advance(1);
        QCOMPARE(portList()->count(), 1);
        QCOMPARE(portList()->currentText(), QString("Nemora KVR-9000"));
        QCOMPARE(portList()->currentData().toString(), box->port);

        box->stop(killed);
        nextScan();
        QCOMPARE(portList()->count(), 0);
        QCOMPARE(caption(), QString("Connect"));
    }

    // Connect greets the box, the handshake asks for the settings and the four dialogs show
    // what the box reports; a challenge is answered so that the box accepts the editor.
    void handshake_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("logged");  // a line the box must have logged
        // clang-format off
        QTest::newRow("plain") << QStringList() << QString();
        QTest::newRow("challenge") << QStringList{"--cipher"} << "challenge answered correctly";
        QTest::newRow("challenge required") << QStringList{"--cipher-required"} << "challenge answered correctly";
        // clang-format on
    }
    void handshake()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, logged);
        STEP(startBox(args + QStringList{"--settings", "1000,50,2,6"}));
        startEditor();
        QCOMPARE(dialogChoices(), QStringList({"100", "50", "1", "10"}));
        STEP(connectToBox());
        QVERIFY(!portList()->isEnabled());
        QCOMPARE(w->serialPort()->baudRate(), 115200);
        VL_TRY_COMPARE(dialogChoices(), QStringList({"1000", "50", "2.01", "60"}));
        QCOMPARE(w->serialPort()->breakTime, 1000);
        QCOMPARE(w->serialPort()->markAfterBreak, 50);
        QCOMPARE(w->serialPort()->coefficientCode, 2);
        QCOMPARE(w->serialPort()->sleepCode, 6);
        QCOMPARE(w->currentCoefficient(), 2.01);
        if (!logged.isEmpty())
            VL_TRY_VERIFY2(box->log().contains(logged), qPrintable(box->log()));
        QVERIFY2(!box->log().contains("WRONGLY"), qPrintable(box->log()));
        QCOMPARE(dialogs->asked.size(), 0);
    }

    void boxWithoutModel()
    {
        STEP(startBox({"--close-door"}));
        startEditor();
        STEP(connectToBox(false));
        VL_TRY_COMPARE(messagesWith("Failed to connect because no product model was specified"), 1);
        QCOMPARE(dialogs->lastMessage().title, QString("Warning"));
        QCOMPARE(caption(), QString("Disconnect"));
        QVERIFY(w->serialPort()->isOpen());
    }

    // Read fills 3072 rows with exactly the box's table, however the box's bytes are cut
    // and whatever comes between its messages. The aliases are emptied on the way.
    void readGivesTheBoxsTable_data()
    {
        QTest::addColumn<QStringList>("args");
        // clang-format off
        QTest::newRow("64-byte pieces") << QStringList{"--pause", "1"};
        QTest::newRow("cut inside 'download request'")
            << QStringList{"--chunk-size", "24844", "--split-at", "4", "--pause", "50"};
        QTest::newRow("cut inside 'end of data'")
            << QStringList{"--chunk-size", "24844", "--split-at", "24836", "--pause", "50"};
        QTest::newRow("cut at the edges of the records")
            << QStringList{"--chunk-size", "24844", "--split-at", "1,255,256,257,24831,24832,24833,24843", "--pause",
                           "20"};
        QTest::newRow("junk before every message") << QStringList{"--garbage"};
        QTest::newRow("one-byte pieces") << QStringList{"--chunk-size", "1", "--pause", "0"};
        // clang-format on
    }
    void readGivesTheBoxsTable()
    {
        QFETCH(QStringList, args);
        STEP(startBox(args + QStringList{"--table", startTable()}));
        QVERIFY(writeFileBytes(dir->file("Aliases.txt"), "Front\nBack\n"));
        startEditor();
        STEP(connectToBox());
        STEP(readFromBox());

        QCOMPARE(editorRecords(), startRecords());
        RuleModel *m = w->ruleModel();
        QCOMPARE(ruleRowTexts(*m, 0), QStringList({"1", "1", "Note", "0 / C-2", "ALL", "1", "1", "7", "OFF", "OFF"}));
        QCOMPARE(ruleRowTexts(*m, 3), QStringList({"4", "", "", "", "", "", "", "", "", ""}));
        QCOMPARE(ruleRowTexts(*m, 10), QStringList({"11", "108", "CC", "111", "1", "OFF", "OFF", "OFF", "OFF", "ON"}));
        QCOMPARE(m->text(3071, ColSn), QString("3072"));
        // The box's table replaces the aliases: all 1024 are empty and so is the file.
        VL_TRY_COMPARE(readFileBytes(dir->file("Aliases.txt")), QByteArray(kDmxChannels, '\n'));
        QCOMPARE(m->text(1, ColDmx), QString("2"));
        QCOMPARE(messagesWith("Read successfully!"), 1);
    }

    // The box starts from a workbook the editor saved; Read gives that table back.
    void boxStartsFromAWorkbook()
    {
        RuleModel source;
        RemarkModel remarks;
        source.setRowCount(kRuleRows);
        for (int r = 0; r < kRuleRows; ++r) {
            source.setText(r, ColSn, QString::number(r + 1));
            if (r % 3 == 0)
                continue;
            const QStringList cells = {QString::number(r % 1024 + 1),
                                       r % 2 ? "CC" : "Note",
                                       r % 2 ? QString::number(r % 128) : QString("%1 / x").arg(r % 128),
                                       r % 4 ? "ALL" : QString::number(r % 16 + 1),
                                       "OFF",
                                       "3",
                                       "OFF",
                                       "ON",
                                       "ON"};
            for (int c = 0; c < cells.size(); ++c)
                source.setText(r, ColDmx + c, cells[c]);
        }
        const QString book = tmp.filePath("start.xlsx");
        {
            xlsx::Document doc;
            fillRuleWorkbook(doc, source, remarks);
            QVERIFY(doc.saveAs(book));
        }
        STEP(startBox({"--table", book}));
        startEditor();
        STEP(connectToBox());
        STEP(readFromBox());
        QCOMPARE(encodeTableImage(*w->ruleModel()), encodeTableImage(source));
    }

    // Set after editing what was read: the busy box, the box's confirmation, and the box
    // holds exactly the table sent, which the next Read brings back.
    void setStoresTheTable()
    {
        STEP(startBox({"--demo"}));
        startEditor();
        STEP(connectToBox());
        STEP(readFromBox());
        RuleModel *m = w->ruleModel();
        const QStringList rule = {"1024", "CC", "127", "16", "255", "50", "OFF", "ON", "OFF"};
        for (int c = 0; c < rule.size(); ++c)
            m->setText(3071, ColDmx + c, rule[c]);
        m->setText(0, ColDmx, "512");
        for (int c = ColDmx; c <= ColEnable; ++c)
            m->clearCell(1, c);
        const QByteArray sent = encodeTableImage(*m);
        QVERIFY(sent != readFileBytes(savedTable()));

        dialogs->buttons = {QMessageBox::Ok};
        button("pushButton_2")->click();
        QCOMPARE(dialogs->asked.last().text(), QString("Configure product？"));
        QMessageBox *busy = w->busyBox();
        QVERIFY(busy->isVisible());
        QCOMPARE(busy->text(), QString("Data is being sent..."));
        VL_TRY_VERIFY2_WITH_TIMEOUT(!busy->isVisible(), qPrintable(box->log()), kBoxMs);
        QCOMPARE(dialogs->lastMessage().text, QString("Product is configured successfully!"));
        QCOMPARE(dialogs->lastMessage().title, QString("operate successfully"));
        VL_TRY_COMPARE(readFileBytes(savedTable()), sent);

        STEP(readFromBox());
        QCOMPARE(encodeTableImage(*w->ruleModel()), sent);
        QCOMPARE(w->ruleModel()->text(3071, ColCtl), QString("127"));
    }

    // Each settings dialog's OK reaches the box, which reports the new value from then on.
    void settingsReachTheBox_data()
    {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QStringList>("reported");  // the four dialogs after reconnecting
        // clang-format off
        QTest::newRow("break time") << 1 << "1000" << "setting 1 = 1000" << QStringList{"1000", "50", "1", "30"};
        QTest::newRow("mark after break") << 2 << "510" << "setting 2 = 510" << QStringList{"200", "510", "1", "30"};
        QTest::newRow("coefficient") << 3 << "2.01" << "setting 3 = 2" << QStringList{"200", "50", "2.01", "30"};
        QTest::newRow("sleep time") << 6 << "60" << "setting 5 = 6" << QStringList{"200", "50", "1", "60"};
        // clang-format on
    }
    void settingsReachTheBox()
    {
        QFETCH(int, dialog);
        QFETCH(QString, choice);
        QFETCH(QString, logged);
        QFETCH(QStringList, reported);
        STEP(startBox({"--demo"}));
        startEditor();
        STEP(connectToBox());
        VL_TRY_COMPARE(dialogChoices(), QStringList({"200", "50", "1", "30"}));

        DeviceSettingDialog *d = settingDialog(dialog);
        d->show();
        d->comboBox()->setCurrentText(choice);
        QSignalSpy changed(w.get(), &Widget::table_change);
        d->buttonBox()->button(QDialogButtonBox::Ok)->click();
        VL_TRY_VERIFY2_WITH_TIMEOUT(box->log().contains(logged), qPrintable(box->log()), kBoxMs);
        // The box acknowledges with "setting end"; the editor asks for the table, which
        // fills the table left empty by Connect.
        VL_TRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, kBoxMs);
        QCOMPARE(editorRecords(), readFileBytes(savedTable()).mid(kImageHeaderSize, kRecordAreaSize));

        STEP(disconnectFromBox());
        for (DeviceSettingDialog *other : {settingDialog(1), settingDialog(2), settingDialog(3), settingDialog(6)})
            other->comboBox()->setCurrentIndex(0);
        STEP(connectToBox());
        VL_TRY_COMPARE(dialogChoices(), reported);
    }

    // The factory reset empties the box's table and brings its settings back to default.
    void factoryReset()
    {
        STEP(startBox({"--table", startTable(), "--settings", "1000,510,5,6"}));
        startEditor();
        STEP(connectToBox());
        VL_TRY_COMPARE(dialogChoices(), QStringList({"1000", "510", "5", "60"}));
        QCOMPARE(readFileBytes(savedTable()), buildTableImage(startRecords()));

        QSignalSpy changed(w.get(), &Widget::table_change);
        dialogs->buttons = {QMessageBox::Ok};
        w->menuBarWindow()->action5->trigger();
        QCOMPARE(dialogs->asked.first().text(), QString("Factory Reset？"));
        VL_TRY_COMPARE_WITH_TIMEOUT(readFileBytes(savedTable()), buildTableImage(QByteArray(kRecordAreaSize, '\0')),
                                    kBoxMs);
        VL_TRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, kBoxMs);
        QCOMPARE(editorRecords(), QByteArray(kRecordAreaSize, '\0'));
        QCOMPARE(w->ruleModel()->rowCount(), kRuleRows);

        STEP(disconnectFromBox());
        STEP(connectToBox());
        VL_TRY_COMPARE(dialogChoices(), QStringList({"200", "50", "1", "30"}));
    }

    // A box that never answers the Read leaves the table empty and the editor working.
    void silentBox()
    {
        STEP(startBox({"--demo", "--silent", "upload request", "-v"}));
        startEditor();
        STEP(connectToBox());
        dialogs->buttons = {QMessageBox::Ok};
        button("pushButton")->click();
        // The box took the request and stays silent.
        VL_TRY_VERIFY2_WITH_TIMEOUT(box->log().contains("<- upload request"), qPrintable(box->log()), kBoxMs);
        QVERIFY(!QTest::qWaitFor([this] { return w->ruleModel()->rowCount() > 0; }, 200));
        QCOMPARE(dialogs->asked.size(), 1);  // only the question

        // The link still works both ways: a setting goes out and the box takes it.
        w->bkTimDialog()->comboBox()->setCurrentText("500");
        w->bkTimDialog()->buttonBox()->button(QDialogButtonBox::Ok)->click();
        VL_TRY_VERIFY2_WITH_TIMEOUT(box->log().contains("setting 1 = 500"), qPrintable(box->log()), kBoxMs);
        STEP(disconnectFromBox());
        QCOMPARE(w->ruleModel()->rowCount(), 0);
    }

    // Disconnect while the table is still arriving, then Connect and Read again: nothing
    // of the first upload is left over on either side, and the table arrives once, whole.
    void disconnectDuringRead()
    {
        STEP(startBox({"--table", startTable(), "--pause", "2"}));
        startEditor();
        STEP(connectToBox());
        dialogs->buttons = {QMessageBox::Ok};
        button("pushButton")->click();
        VL_TRY_VERIFY(w->serialPort()->rxBuffer().size() > 1000);
        STEP(disconnectFromBox());
        QCOMPARE(w->ruleModel()->rowCount(), 0);

        STEP(connectToBox());
        STEP(readFromBox());
        QCOMPARE(editorRecords(), startRecords());
        QVERIFY(!QTest::qWaitFor([this] { return messagesWith("Read successfully!") > 1; }, 500));
    }

    // The box going away while connected closes the port once and brings the Connect
    // button back, without a flood of errors; a box plugged in again is reached.
    void boxVanishes_data()
    {
        QTest::addColumn<QString>("how");
        // clang-format off
        QTest::newRow("killed") << "kill";
        QTest::newRow("stopped") << "stop";
        QTest::newRow("vanishing in the middle of a Read") << "read";
        // clang-format on
    }
    void boxVanishes()
    {
        QFETCH(QString, how);
        STEP(startBox({"--table", startTable(), "--vanish-after", "3000"}));
        startEditor();
        STEP(connectToBox());
        QSignalSpy errors(w->serialPort(), &QSerialPort::errorOccurred);
        QSignalSpy changed(w.get(), &Widget::table_change);
        if (how == "read") {
            dialogs->buttons = {QMessageBox::Ok};
            button("pushButton")->click();
            VL_TRY_COMPARE_WITH_TIMEOUT(box->isRunning(), false, kBoxMs);
        } else {
            box->stop(how == "kill");
        }
        VL_TRY_COMPARE_WITH_TIMEOUT(caption(), QString("Connect"), 2000);
        QVERIFY(!w->serialPort()->isOpen());
        QVERIFY(portList()->isEnabled());
        QTest::qWait(200);
        QVERIFY2(errors.count() < 10, qPrintable(QString::number(errors.count())));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(w->ruleModel()->rowCount(), 0);
        QCOMPARE(messagesWith("Read successfully!"), 0);
        nextScan();
        QCOMPARE(portList()->count(), 0);

        // Plugged in again: found, connected, read.
        STEP(startBox({"--table", startTable()}));
        w->portListUpdater()->scanPorts();
        STEP(connectToBox());
        STEP(readFromBox());
        QCOMPARE(editorRecords(), startRecords());
    }

    // A box replaced by another before the list noticed (unplugged and plugged back in
    // quickly, so that it comes back on another port) is reached on its new port.
    void boxComesBackOnAnotherPort()
    {
        STEP(startBox({"--table", startTable()}));
        startEditor();
        STEP(connectToBox());
        std::unique_ptr<BoxProcess> second;
        STEP(startBox({"--table", startTable()}, second));
        QVERIFY(second->port != box->port);
        box->stop(true);
        VL_TRY_COMPARE_WITH_TIMEOUT(caption(), QString("Connect"), 2000);
        box = std::move(second);

        nextScan();
        STEP(connectToBox());
        QCOMPARE(dialogs->messageTexts().count("Device error"), 0);
        STEP(readFromBox());
        QCOMPARE(editorRecords(), startRecords());
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
