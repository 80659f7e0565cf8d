// The editor against the simulated box, both real: the box program on its pseudo-terminal,
// the editor window with its QSerialPort. Connect, Read, Set, the settings, the factory
// reset, the challenge, the box going away, and uploads cut and spoiled in every way the
// box can manage.

#include "app/widget.h"
#include "boxprocess.h"
#include "device/serialport.h"
#include "device/settingsdialogs.h"
#include "device/tableimage.h"
#include "recordingpreview.h"
#include "table/rulecolumns.h"
#include "table/rulemodel.h"
#include "windowtest.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace vl;
using vl::test::BoxProcess;
using vl::test::RecordingPreview;

namespace {

const QString kBox = QStringLiteral("Nemora KVR-9000");
constexpr int kTransferMs = 20000;  // generous: the box paces its pieces, the editor may run under sanitizers

// The table the box starts with: varied rules with note names under the editor's start
// naming ("C3"), every fifth row empty.
QByteArray startImage()
{
    RuleModel m;
    m.setRowCount(kRuleRows);
    for (int r = 0; r < kRuleRows; ++r) {
        if (r % 5 == 4)
            continue;
        const bool cc = r % 2;
        const int n = r % 128;
        const QStringList cells = {QString::number(r % 1024 + 1),
                                   cc ? "CC" : (r % 3 ? "Note" : "AT"),
                                   cc ? QString::number(n) : QString("%1 / %2").arg(n).arg("x"),
                                   r % 3 ? QString::number(r % 16 + 1) : "ALL",
                                   r % 7 ? "OFF" : QString::number(r % 255 + 1),
                                   QString::number(r % 50 + 1),
                                   r % 4 ? "OFF" : "9",
                                   r % 2 ? "ON" : "OFF",
                                   r % 6 ? "ON" : "OFF"};
        for (int c = 0; c < cells.size(); ++c)
            m.setText(r, ColDmx + c, cells[c]);
    }
    return encodeTableImage(m);
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestEndToEnd : public vl::test::WindowTest {
    Q_OBJECT

    QTemporaryDir boxDir;
    std::unique_ptr<BoxProcess> box;
    std::unique_ptr<Widget> w;
    RecordingPreview preview;
    QByteArray image;

    QString announceDir() const { return boxDir.filePath("boxes"); }
    QString boxTable() const { return boxDir.filePath("box-table.bin"); }
    QPushButton *button(const char *name) { return w->findChild<QPushButton *>(name); }
    QString caption() { return button("connectButton")->text(); }
    QComboBox *portList() { return w->findChild<QComboBox *>("comboBox_ComDevices"); }

    // The box with the start table (and whatever else the test asks for), then the editor,
    // whose first port scan lists the box.
    void startBoth(const QStringList &args = {})
    {
        QFile::remove(boxTable());
        QFile table(boxDir.filePath("start.bin"));
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write(image);
        table.close();
        box = std::make_unique<BoxProcess>();
        QVERIFY(box->start(QStringList{"--table", table.fileName(), "--save-table", boxTable()} + args,
                           announceDir()));
        w = std::make_unique<Widget>();
        w->setPreview(&preview);
        QCOMPARE(portList()->currentText(), kBox);
        QCOMPARE(portList()->currentData().toString(), box->port);
    }

    // Connect and wait until the box's settings have reached the dialogs.
    void connectBox()
    {
        QSignalSpy settings(w->serialPort(), &SerialPort::rec_sucess);
        button("connectButton")->click();
        QCOMPARE(caption(), QString("Disconnect"));
        QVERIFY(settings.wait(5000));
    }

    void reconnect()
    {
        button("connectButton")->click();  // disconnect
        QCOMPARE(caption(), QString("Connect"));
        connectBox();
    }

    // Read, and wait until the rows are in: they follow the message as queued inserts.
    void readTable()
    {
        QSignalSpy done(w.get(), &Widget::table_change);
        dialogs->buttons << QMessageBox::Ok;
        button("pushButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(done.count() == 1, kTransferMs);
        QVERIFY(dialogs->messageTexts().contains("Read successfully!"));
    }

    QStringList reportedChoices()
    {
        return {w->bkTimDialog()->comboBox()->currentText(), w->abtDialog()->comboBox()->currentText(),
                w->cofDialog()->comboBox()->currentText(), w->sleepTimeDialog()->comboBox()->currentText()};
    }

private slots:
    void initTestCase()
    {
        WindowTest::initTestCase();
        qputenv("VARILUME_SIMBOX_DIR", announceDir().toUtf8());
        image = startImage();
    }

    void cleanup()
    {
        w.reset();
        box.reset();
        preview.calls.clear();
        WindowTest::cleanup();
    }

    void portListFollowsTheBox()
    {
        startBoth();
        box->process().terminate();
        QVERIFY(box->process().waitForFinished(5000));
        QTRY_COMPARE_WITH_TIMEOUT(portList()->count(), 0, 2500);
    }

    void connectShowsTheBoxSettings()
    {
        startBoth({"--settings", "1000,70,2,6"});
        connectBox();
        QCOMPARE(reportedChoices(), QStringList({"1000", "70", "2.01", "60"}));
        QVERIFY(dialogs->asked.isEmpty());
    }

    void readGivesTheBoxTable()
    {
        startBoth();
        connectBox();
        readTable();
        QCOMPARE(w->ruleModel()->rowCount(), kRuleRows);
        QCOMPARE(encodeTableImage(*w->ruleModel()), image);
        QCOMPARE(w->ruleModel()->text(1, ColCtl), QString("1"));
        QCOMPARE(w->ruleModel()->text(2, ColCtl), QString("2 / D-2"));
        QTRY_VERIFY(preview.count("rebuildRuleSnapshots") > 0);  // table_change reached the preview
        QCOMPARE(fileBytes("Aliases.txt"), QByteArray(1024, '\n'));
    }

    void setStoresExactlyTheTable()
    {
        startBoth();
        connectBox();
        readTable();
        RuleModel *m = w->ruleModel();
        const QStringList rule = {"1024", "CC", "127", "16", "255", "50", "50", "ON", "OFF"};
        for (int c = 0; c < rule.size(); ++c)
            m->setText(4, ColDmx + c, rule[c]);
        m->clearCell(0, ColToggle);  // an incomplete row goes as an empty record
        const QByteArray expected = encodeTableImage(*m);
        QVERIFY(expected != image);

        dialogs->clear();
        dialogs->buttons << QMessageBox::Ok;
        button("pushButton_2")->click();
        QVERIFY(w->serialPort()->busyBox()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(dialogs->messageTexts().contains("Product is configured successfully!"), kTransferMs);
        QVERIFY(!w->serialPort()->busyBox()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(fileBytes(boxTable()), expected, 5000);
    }

    // Each dialog's choice reaches the box: after a new connection the box reports it.
    void settingsReachTheBox_data()
    {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<QString>("choice");
        QTest::newRow("break time") << 0 << "500";
        QTest::newRow("mark after break") << 1 << "510";
        QTest::newRow("coefficient") << 2 << "2.01";
        QTest::newRow("sleep time") << 3 << "10";
    }
    void settingsReachTheBox()
    {
        QFETCH(int, dialog);
        QFETCH(QString, choice);
        startBoth();
        connectBox();
        DeviceSettingDialog *dialogs[] = {w->bkTimDialog(), w->abtDialog(), w->cofDialog(), w->sleepTimeDialog()};
        DeviceSettingDialog *d = dialogs[dialog];
        const QString before = d->comboBox()->currentText();
        d->comboBox()->setCurrentText(choice);
        d->buttonBox()->button(QDialogButtonBox::Ok)->click();
        // The box confirms with "setting end" and the editor asks for the table: it arrives
        // into the empty table.
        QTRY_COMPARE_WITH_TIMEOUT(w->ruleModel()->rowCount(), kRuleRows, kTransferMs);
        d->comboBox()->setCurrentText(before);
        reconnect();
        QCOMPARE(d->comboBox()->currentText(), choice);
    }

    void factoryReset()
    {
        startBoth({"--settings", "1000,70,2,6"});
        connectBox();
        readTable();
        dialogs->clear();
        dialogs->buttons << QMessageBox::Ok;
        w->factory_Dialog();
        QCOMPARE(dialogs->lastMessage().title, QString("Factory Reset"));
        QByteArray empty = buildTableImage(QByteArray(kRecordAreaSize, '\0'));
        QTRY_COMPARE_WITH_TIMEOUT(fileBytes(boxTable()), empty, 5000);
        QCOMPARE(w->ruleModel()->rowCount(), kRuleRows);  // the unasked upload left the table alone
        reconnect();
        QCOMPARE(reportedChoices(), QStringList({"200", "50", "1", "30"}));
        readTable();
        QVERIFY(w->ruleModel()->isRuleRowEmpty(0) && w->ruleModel()->isRuleRowEmpty(kRuleRows - 1));
    }

    // A box that serves nothing until its challenge is answered.
    void challengeIsAnswered()
    {
        startBoth({"--cipher-required", "--settings", "300,90,4,2"});
        connectBox();
        QCOMPARE(reportedChoices(), QStringList({"300", "90", "4", "20"}));
        readTable();
        QCOMPARE(encodeTableImage(*w->ruleModel()), image);
    }

    void boxGoesAwayWhileConnected()
    {
        startBoth();
        connectBox();
        QSignalSpy errors(w->serialPort(), &QSerialPort::errorOccurred);
        box->kill();
        QTRY_COMPARE_WITH_TIMEOUT(caption(), QString("Connect"), 3000);
        QVERIFY(!w->serialPort()->isOpen());
        QVERIFY2(errors.count() < 10, qPrintable(QString::number(errors.count())));
        QTRY_COMPARE_WITH_TIMEOUT(portList()->count(), 0, 2500);
    }

    void boxGoesAwayDuringRead()
    {
        startBoth({"--vanish-after", "9000"});
        connectBox();
        dialogs->buttons << QMessageBox::Ok;
        button("pushButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(caption(), QString("Connect"), kTransferMs);
        QTest::qWait(200);
        QCOMPARE(w->ruleModel()->rowCount(), 0);
        QVERIFY(!dialogs->messageTexts().contains("Read successfully!"));
    }

    // However the box cuts and spoils its upload, the editor reads exactly its table.
    void spoiledUploads_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("cut inside both markers") << QStringList{"--split-at", "3,9,24835,24840"};
        QTest::newRow("junk before every message") << QStringList{"--garbage", "--seed", "7"};
        QTest::newRow("one byte at a time") << QStringList{"--chunk-size", "1", "--pause", "0"};
        QTest::newRow("all in one piece") << QStringList{"--chunk-size", "24844", "--pause", "0"};
    }
    void spoiledUploads()
    {
        QFETCH(QStringList, args);
        startBoth(args);
        connectBox();
        readTable();
        QCOMPARE(encodeTableImage(*w->ruleModel()), image);
    }

    void silentBoxLeavesTheTableEmpty()
    {
        startBoth({"--silent", "upload request"});
        connectBox();
        dialogs->buttons << QMessageBox::Ok;
        button("pushButton")->click();
        QTest::qWait(1500);
        QCOMPARE(w->ruleModel()->rowCount(), 0);
        QCOMPARE(caption(), QString("Disconnect"));
        // Still answering: a new connection gets the settings again.
        reconnect();
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
