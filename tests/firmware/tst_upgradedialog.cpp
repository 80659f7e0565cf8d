// The firmware upgrade dialog against the simulated box's bootloader on a pseudo-terminal,
// and against a local update server: Connect and the box's identity, Open File with its
// checks and the erase, the transfer piece by piece on a stepped clock, the success
// message and the progress rule, a box that vanishes or a port that refuses a write in
// the middle, and the firmware update check with its offer, download and checksum.

#include "common/core/scheduler.h"
#include "common/core/simulatedbox.h"
#include "device/ui/portlistupdater.h"
#include "device/ui/serialport.h"
#include "firmware/ui/upgradedialog.h"

#include "app/ui/mainwindow.h"
#include "boxprocess.h"
#include "editoronpty.h"
#include "httpserver.h"
#include "simboxonpty.h"
#include "windowtest.h"

#include <QAction>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QProgressBar>
#include <QPushButton>
#include <QSslSocket>
#include <QTextBrowser>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vl;
using firmware::FirmwareCheck;
using vl::test::HttpTestServer;

namespace {

const QByteArray kInfoPath = "/download/Product/KVR-9000/Update/KVR-9000_Update.txt";

// Runs the event loop until `done` holds, at most `ms` milliseconds.
template <typename Predicate>
bool settle(Predicate done, int ms = 5000)
{
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(int(qBound<qint64>(1, deadline.remainingTime(), ms)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QByteArray image(int size, int seed = 1)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x & 0xFF);
    }
    return bytes;
}

QByteArray sha256Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

BoxOptions bootloader(const QByteArray &version = "V1.0.3")
{
    BoxOptions options;
    options.upgradeMode = true;
    options.version = version;
    return options;
}

}  // namespace

class TestUpgradeDialog : public vl::test::WindowTest {
    Q_OBJECT

    std::unique_ptr<ManualScheduler> clock;
    std::unique_ptr<HttpTestServer> server;
    std::unique_ptr<QNetworkAccessManager> manager;
    std::unique_ptr<vl::test::SimBoxOnPty> box;
    std::unique_ptr<SimulatedBoxAnnouncement> announcement;
    std::unique_ptr<SerialPort> port;
    std::unique_ptr<PortListUpdater> ports;
    std::unique_ptr<upgrade_Dialog> dialog;
    QStringList boxLog;

    QString boxesDir() const { return dir->file("boxes"); }

    // The bootloader inside this process, announced as `description`, and the dialog.
    void build(const BoxOptions &options = bootloader(), const QString &description = "KVR-9000 Bootloader")
    {
        box = std::make_unique<vl::test::SimBoxOnPty>(options);
        box->box().setLogger([this](const QString &line, bool) { boxLog << line; });
        box->start();
        announcement = std::make_unique<SimulatedBoxAnnouncement>();
        QVERIFY(announcement->announce({box->port(), 0x1209, 0x4b3a, description}));
        makeDialog();
    }
    void makeDialog()
    {
        firmware::FirmwareCheckSettings settings;
        settings.server = update::UpdateServer::fromText(server->url().toString());
        port = std::make_unique<SerialPort>();
        ports = std::make_unique<PortListUpdater>(*clock);
        dialog = std::make_unique<upgrade_Dialog>(port.get(), ports.get(), nullptr, manager.get(), settings);
    }

    QStringList logLines() const { return dialog->textBrowser()->toPlainText().split('\n'); }
    bool checkSettled() const
    {
        return dialog->firmwareCheck() && dialog->firmwareCheck()->state() != FirmwareCheck::State::Checking;
    }

    // Opens the dialog, connects, and waits until the box's version is in and the update
    // check has decided.
    void connectBox()
    {
        dialog->showUpgrade("Nemora");
        QVERIFY(dialog->isVisible());
        dialog->pushButton()->click();
        QCOMPARE(dialog->pushButton()->text(), QString("Disconnect"));
        QVERIFY(settle([this] { return !dialog->deviceVersion().isEmpty(); }));
        QVERIFY(settle([this] { return checkSettled(); }, 20000));
    }

    QString writeFile(const QString &name, const QByteArray &data)
    {
        QFile file(dir->file(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            qWarning("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

    void openFile(const QString &path)
    {
        dialogs->files << path;
        dialog->pushButton_3()->click();
    }

    // With the first piece out, moves the clock piece by piece: never a piece before 10 ms,
    // each one 10 ms after the last, each read by the box before the next.
    void stepThrough(const QByteArray &sent)
    {
        const int pieces = (sent.size() + 63) / 64;
        QVERIFY(settle([&] { return box->box().firmware().size() == qMin(64, sent.size()); }));
        for (int i = 1; i < pieces; ++i) {
            const int before = dialog->transfer()->piecesSent();
            clock->advance(9);
            QCOMPARE(dialog->transfer()->piecesSent(), before);
            clock->advance(1);
            QCOMPARE(dialog->transfer()->piecesSent(), before + 1);
            const int expected = qMin((i + 1) * 64, sent.size());
            QVERIFY(settle([&] { return box->box().firmware().size() == expected; }));
        }
    }

    int erases() const { return boxLog.filter("erasing").size(); }

    // The message boxes asked so far (file dialogs left out).
    QList<vl::test::Asked> messages() const
    {
        QList<vl::test::Asked> boxes;
        for (const vl::test::Asked &a : dialogs->asked)
            if (a.kind == vl::test::Asked::Message)
                boxes << a;
        return boxes;
    }

    // --- Against varilume-simbox --upgrade, whose erase takes two seconds ----------------

    std::unique_ptr<vl::test::BoxProcess> realBox;
    QString expectedFile;

    // The real bootloader, comparing what it receives with `expected`; the dialog connected
    // to it, the update check decided.
    void connectRealBox(const QByteArray &expected)
    {
        expectedFile = writeFile("expected.bin", expected);
        realBox = std::make_unique<vl::test::BoxProcess>();
        const QStringList args{"-v",    "--upgrade", "--erase-ms",        "2000",
                               "--gap", "0",         "--expect-firmware", expectedFile};
        QVERIFY2(realBox->start(QStringLiteral(SIMBOX_PROGRAM), args, boxesDir()), qPrintable(realBox->log()));
        makeDialog();
        dialog->showUpgrade("Nemora");
        dialog->pushButton()->click();
        QVERIFY(settle([this] { return dialog->deviceVersion() == "V1.0.3"; }));
        QVERIFY(settle([this] { return checkSettled(); }, 20000));
    }
    // Moves the clock on piece by piece while the real box takes them, until the transfer ends.
    void pumpTransfer()
    {
        while (dialog->transfer()->isRunning()) {
            QVERIFY(settle([this] { return port->conversation()->bytesNotSent() == 0; }));
            clock->advance(10);
            QCoreApplication::processEvents();
        }
    }
    // Waits (the event loop running, the clock still) for `done`, at most 20 s.
    bool await(const std::function<bool()> &done) { return settle(done, 20000); }
    int realErases() { return realBox->log().count("erasing"); }
    // Closes the line, so the box ends whatever firmware it got, and says what it got.
    QString boxVerdict()
    {
        if (port->isOpen())
            dialog->pushButton()->click();
        if (!await([&] {
                const QString log = realBox->log();
                return log.count("the port was closed") >= log.count("the port was opened");
            }))
            return "the box did not see the port close";
        const QString log = realBox->log();
        if (log.contains("firmware matches the expected image"))
            return "matches";
        if (log.contains("DIFFERS"))
            return "differs";
        return log.contains("firmware received") ? "something" : "nothing";
    }

private slots:
    void init()
    {
        WindowTest::init();
        qputenv("VARILUME_SIMBOX_DIR", QFile::encodeName(boxesDir()));
        clock = std::make_unique<ManualScheduler>();
        installScheduler(clock.get());
        server = std::make_unique<HttpTestServer>();
        QVERIFY(server->start());
        manager = std::make_unique<QNetworkAccessManager>();
        boxLog.clear();
    }
    void cleanup()
    {
        dialog.reset();
        realBox.reset();
        ports.reset();
        port.reset();
        announcement.reset();
        box.reset();
        manager.reset();
        server.reset();
        installScheduler(nullptr);
        clock.reset();
        WindowTest::cleanup();
    }

    void dialogAsBuilt()
    {
        build();
        QCOMPARE(dialog->windowTitle(), QString("Upgrade"));
        QCOMPARE(dialog->pushButton()->text(), QString("Connect"));
        QCOMPARE(dialog->pushButton_3()->text(), QString("Open File"));
        QCOMPARE(dialog->pushButton_4()->text(), QString("Upgrade"));
        QCOMPARE(dialog->pushButton_2()->text(), QString("Close"));
        QVERIFY(dialog->pushButton_2()->isHidden());
        QCOMPARE(dialog->progressBar()->minimum(), 0);
        QCOMPARE(dialog->progressBar()->maximum(), 100);
        QCOMPARE(dialog->progressBar()->value(), 0);
        // Every USB serial device is listed, the bootloader's description without the maker's name.
        QCOMPARE(dialog->comboBox()->count(), 1);
        QCOMPARE(dialog->comboBox()->itemText(0), QString("KVR-9000 Bootloader"));
        QCOMPARE(dialog->comboBox()->itemData(0).toString(), box->port());
    }

    void normalModeIsRefused_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("refused");
        // clang-format off
        QTest::newRow("bootloader") << "KVR-9000 Bootloader" << false;
        QTest::newRow("box in normal mode") << "Nemora KVR-9000" << true;
        // clang-format on
    }
    void normalModeIsRefused()
    {
        QFETCH(QString, description);
        QFETCH(bool, refused);
        build(bootloader(), description);
        dialog->showUpgrade("Nemora");
        QCOMPARE(dialog->isVisible(), !refused);
        QCOMPARE(messages().size(), refused ? 1 : 0);
        if (refused) {
            QCOMPARE(messages()[0].title(), QString("Warring"));
            QCOMPARE(messages()[0].text(),
                     QString("Please refer to the product manual to put the device into upgrade mode."));
        }
        QVERIFY(dialog->textBrowser()->toPlainText().isEmpty());
    }

    void connectIdentifiesTheBox()
    {
        build();
        connectBox();
        QVERIFY(!dialog->comboBox()->isEnabled());
        QCOMPARE(dialog->deviceModel(), QString("KVR-9000"));
        const QStringList lines = logLines();
        const int model = lines.indexOf("Product Model:");
        QVERIFY2(model >= 0, qPrintable(lines.join('|')));
        QCOMPARE(lines.value(model + 1), QString("KVR-9000"));
        const int version = lines.indexOf("Hardware Version:");
        QVERIFY(version > model);
        QCOMPARE(lines.value(version + 1), QString("V1.0.3"));
        if (QSslSocket::supportsSsl()) {
            QCOMPARE(lines.value(version + 2), QString("SSL supported: Yes"));
            QCOMPARE(lines.value(version + 3), "SSL version:" + QSslSocket::sslLibraryBuildVersionString());
        } else {
            QCOMPARE(lines.value(version + 2), QString("SSL supported: No"));
            QCOMPARE(lines.value(version + 3), QString("请检查 OpenSSL DLL 是否存在或版本是否匹配。"));
        }
        // The model was acknowledged once; nothing else was asked of the box.
        QCOMPARE(boxLog.filter("-> model reply").size(), 1);
        QCOMPARE(boxLog.filter("-> version reply").size(), 1);

        dialog->pushButton()->click();
        QVERIFY(!port->isOpen());
        QCOMPARE(dialog->pushButton()->text(), QString("Connect"));
        QVERIFY(dialog->comboBox()->isEnabled());
    }

    // 100 000 bytes go out as 1562 pieces of 64 and one of 32, 10 ms apart; the bar shows
    // 100 only after the last one, and then the success message ends the session.
    void hundredThousandBytesArriveWhole()
    {
        build();
        connectBox();
        const QByteArray sent = image(100000);
        const QString path = writeFile("fw.bin", sent);
        dialogs->clear();
        openFile(path);
        QCOMPARE(dialog->lineEdit()->text(), path);
        QVERIFY(settle([this] { return dialog->eraseDone(); }));
        QCOMPARE(erases(), 1);

        QList<QPair<int, int>> bar;  // value shown, messages asked by then
        connect(dialog->progressBar(), &QProgressBar::valueChanged,
                [&](int v) { bar << qMakePair(v, messages().size()); });
        QSignalSpy succeeded(dialog.get(), &upgrade_Dialog::upgradeSucceeded);
        dialog->pushButton_4()->click();
        QVERIFY(!dialog->pushButton_4()->isEnabled());
        stepThrough(sent);
        if (QTest::currentTestFailed())
            return;

        QCOMPARE(box->box().firmware(), sent);
        QList<int> expected;
        for (int i = 0; i < 1562; ++i)
            expected << 64;
        expected << 32;
        QCOMPARE(box->box().firmwarePieces(), expected);
        QCOMPARE(succeeded.count(), 1);
        QCOMPARE(messages().size(), 1);
        QCOMPARE(messages()[0].title(), QString("upgrade"));
        QCOMPARE(messages()[0].text(), QString("Upgrade successful, please power on the device again."));
        QVERIFY(messages()[0].message.parent == nullptr);
        // 99 while the last piece was to come, 100 before the message, 0 after it.
        QCOMPARE(bar.mid(bar.size() - 3),
                 (QList<QPair<int, int>>{qMakePair(99, 0), qMakePair(100, 0), qMakePair(0, 1)}));
        QCOMPARE(std::count_if(bar.begin(), bar.end(), [](const auto &b) { return b.first == 100; }), 1);
        // Back to the start.
        QVERIFY(!port->isOpen());
        QCOMPARE(dialog->pushButton()->text(), QString("Connect"));
        QVERIFY(dialog->comboBox()->isEnabled());
        QVERIFY(dialog->lineEdit()->text().isEmpty());
        QVERIFY(dialog->textBrowser()->toPlainText().isEmpty());
        QVERIFY(dialog->pushButton_4()->isEnabled());
    }

    // The rule keeps its oddity: without 100 before the last piece there is no message, the
    // bar goes back to 0 and the port stays open, although the box has every byte.
    void smallImagesEndWithoutTheMessage_data()
    {
        QTest::addColumn<int>("size");
        // clang-format off
        QTest::newRow("one piece") << 64;
        QTest::newRow("last piece 2 %") << 3200;
        // clang-format on
    }
    void smallImagesEndWithoutTheMessage()
    {
        QFETCH(int, size);
        build();
        connectBox();
        const QByteArray sent = image(size, size);
        openFile(writeFile("small.bin", sent));
        QVERIFY(settle([this] { return dialog->eraseDone(); }));
        dialogs->clear();
        int highest = 0;
        connect(dialog->progressBar(), &QProgressBar::valueChanged, [&](int v) { highest = qMax(highest, v); });
        dialog->pushButton_4()->click();
        stepThrough(sent);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(box->box().firmware(), sent);
        QCOMPARE(dialog->transfer()->state(), firmware::FirmwareTransfer::State::Done);
        QCOMPARE(messages().size(), 0);
        QVERIFY(highest < 100);
        QCOMPARE(dialog->progressBar()->value(), 0);
        QVERIFY(port->isOpen());
        QCOMPARE(dialog->pushButton()->text(), QString("Disconnect"));
        // The erase allowed one transfer: Upgrade does nothing now.
        dialog->pushButton_4()->click();
        clock->advance(100);
        QCOMPARE(dialog->transfer()->piecesSent(), (size + 63) / 64);
    }

    // Before anything is erased: the same version, an empty file and one too large for
    // any firmware are refused, and Upgrade then sends nothing.
    void filesThatAreNotSent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("text");
        // clang-format off
        QTest::newRow("same version") << "KVR-9000_V1.0.3.bin" << 5000
                                      << "The version number is the same! No upgrade required";
        QTest::newRow("empty") << "empty.bin" << 0
                               << "The firmware file empty.bin is empty. Nothing was sent to the device.";
        QTest::newRow("over 2 MiB") << "big.bin" << (2 << 20) + 1
                                    << "The firmware file big.bin is larger than 2 MiB and cannot be the device's "
                                       "firmware. Nothing was sent to the device.";
        // clang-format on
    }
    void filesThatAreNotSent()
    {
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(QString, text);
        build();
        connectBox();
        // An earlier erase for another image must not let the refused file through.
        openFile(writeFile("other.bin", image(640)));
        QVERIFY(settle([this] { return dialog->eraseDone(); }));
        dialogs->clear();
        const QString path = writeFile(name, image(size));
        openFile(path);
        QCOMPARE(dialogs->messageTexts(), QStringList{text});
        QCOMPARE(messages()[0].title(), QString("Warning"));
        // The refusal clears the image: nothing is named, nothing will be sent.
        QVERIFY(dialog->lineEdit()->text().isEmpty());
        QCOMPARE(dialog->imageLabel()->text(), QString("No image chosen."));
        QVERIFY(dialog->firmwareImage().isEmpty());
        QVERIFY(!dialog->eraseDone());
        dialog->pushButton_4()->click();
        clock->advance(1000);
        QVERIFY(settle([] { return true; }));
        QCOMPARE(erases(), 1);
        QCOMPARE(dialog->transfer()->piecesSent(), 0);
        QVERIFY(box->box().firmware().isEmpty());
    }

    // The box goes away at half the transfer (the simulated box's process is killed):
    // one message within a second, no piece after it, and Connect works once it is back.
    void boxKilledHalfway()
    {
        vl::test::BoxProcess process;
        const QStringList args{"--upgrade", "--erase-ms", "0", "--gap", "0"};
        QVERIFY2(process.start(QStringLiteral(SIMBOX_PROGRAM), args, boxesDir()), qPrintable(process.log()));
        makeDialog();
        dialog->showUpgrade("Nemora");
        dialog->pushButton()->click();
        QVERIFY(settle([this] { return dialog->deviceVersion() == "V1.0.3"; }));
        QVERIFY(settle([this] { return checkSettled(); }, 20000));
        openFile(writeFile("fw.bin", image(100000)));
        QVERIFY(settle([this] { return dialog->eraseDone(); }));
        dialogs->clear();
        dialog->pushButton_4()->click();
        // The box runs in real time: the clock moves on only once it has taken the last piece.
        while (dialog->transfer()->piecesSent() < 782) {
            QVERIFY(settle([this] { return port->conversation()->bytesNotSent() == 0; }));
            clock->advance(10);
            QCoreApplication::processEvents();
        }

        process.kill();
        QElapsedTimer noticed;
        noticed.start();
        while (messages().isEmpty() && noticed.elapsed() < 3000) {
            clock->advance(10);
            settle([this] { return !messages().isEmpty(); }, 10);
        }
        QVERIFY2(noticed.elapsed() < 1000, qPrintable(QString::number(noticed.elapsed())));
        QCOMPARE(messages().size(), 1);
        QCOMPARE(messages()[0].title(), QString("upgrade"));
        QVERIFY2(messages()[0].text().contains("went away after"), qPrintable(messages()[0].text()));
        const int pieces = dialog->transfer()->piecesSent();
        QVERIFY(pieces <= 783);
        for (int i = 0; i < 200; ++i) {
            clock->advance(10);
            QCoreApplication::processEvents();
        }
        QCOMPARE(dialog->transfer()->piecesSent(), pieces);
        QCOMPARE(messages().size(), 1);
        QVERIFY(!port->isOpen());
        QCOMPARE(dialog->pushButton()->text(), QString("Connect"));
        QVERIFY(dialog->comboBox()->isEnabled());
        QCOMPARE(dialog->progressBar()->value(), 0);

        // Back, on another pseudo-terminal: the list leads there and Connect talks to it.
        vl::test::BoxProcess again;
        QVERIFY2(again.start(QStringLiteral(SIMBOX_PROGRAM), args, boxesDir()), qPrintable(again.log()));
        dialog->refreshUpgradePorts();
        QCOMPARE(dialog->comboBox()->currentData().toString(), again.port);
        dialog->textBrowser()->clear();
        dialog->pushButton()->click();
        QCOMPARE(dialog->pushButton()->text(), QString("Disconnect"));
        QVERIFY(settle([this] { return logLines().contains("Hardware Version:"); }));
    }

    // A piece the port refuses ends the transfer: one message, the dialog hidden, the port
    // closed, no piece after it; the next Connect works.
    void refusedWriteStopsTheTransfer()
    {
        build();
        connectBox();
        openFile(writeFile("fw.bin", image(6400)));
        QVERIFY(settle([this] { return dialog->eraseDone(); }));
        dialogs->clear();
        dialog->pushButton_4()->click();
        clock->advance(40);
        QCOMPARE(dialog->transfer()->piecesSent(), 5);
        // From now on the port's writes fail with ENOSPC.
        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        QVERIFY(full >= 0);
        QVERIFY(::dup2(full, int(port->handle())) >= 0);
        ::close(full);
        clock->advance(10);

        QCOMPARE(messages().size(), 1);
        QCOMPARE(messages()[0].title(), QString("upgrade"));
        QVERIFY2(messages()[0].text().startsWith("Writing to the device failed after 320 of 6400 bytes"),
                 qPrintable(messages()[0].text()));
        QVERIFY(!dialog->isVisible());
        QVERIFY(!port->isOpen());
        QCOMPARE(dialog->transfer()->state(), firmware::FirmwareTransfer::State::Failed);
        clock->advance(1000);
        QCOMPARE(dialog->transfer()->piecesSent(), 5);
        QCOMPARE(messages().size(), 1);

        // The box ends its firmware when the line closes (as varilume-simbox does).
        box->box().lineClosed();
        dialog->showUpgrade("Nemora");
        dialog->pushButton()->click();
        QVERIFY(port->isOpen());
        QVERIFY(settle([this] { return logLines().contains("Hardware Version:"); }));
    }

    // A newer firmware on the server is offered; after OK it is downloaded, the box is
    // asked to erase and the transfer starts by itself on "ERASE END".
    void newerFirmwareIsOfferedAndSent()
    {
        const QByteArray sent = image(10000, 7);
        server->serve(kInfoPath,
                      "KVR-9000_V1.0.10;\nSHA256: " + sha256Hex(sent) + "\nUpdate content:\n1. Faster fades\n");
        server->serve("/download/Product/KVR-9000/Update/KVR-9000_V1.0.10.bin", sent);
        dialogs->buttons << QMessageBox::Ok;
        build();
        connectBox();
        QCOMPARE(messages().size(), 1);
        QCOMPARE(messages()[0].title(), QString("Update Available"));
        QCOMPARE(messages()[0].text(),
                 QString("The current version is KVR-9000_V1.0.3\nA new version is available: KVR-9000_V1.0.10\n\n"
                         "Update Content:\n1. Faster fades\n"));
        QCOMPARE(int(messages()[0].message.buttons), int(QMessageBox::Ok | QMessageBox::Cancel));
        QVERIFY(messages()[0].message.parent == nullptr);
        // No Upgrade press: the first piece goes out once the box has erased.
        stepThrough(sent);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(erases(), 1);
        QCOMPARE(box->box().firmware(), sent);
        QCOMPARE(dialogs->messageTexts().last(), QString("Upgrade successful, please power on the device again."));
        QVERIFY(!dialog->autoStart());
    }

    void offerDecisions_data()
    {
        QTest::addColumn<QByteArray>("boxVersion");
        QTest::addColumn<QByteArray>("info");
        QTest::addColumn<bool>("offered");
        // clang-format off
        QTest::newRow("V1.0.3 vs 1.0.10") << QByteArray("V1.0.3") << QByteArray("KVR-9000_V1.0.10;\n") << true;
        QTest::newRow("V1.2 vs 1.2.0") << QByteArray("V1.2") << QByteArray("KVR-9000_V1.2.0;\n") << false;
        QTest::newRow("leading blank line") << QByteArray("V1.0.3") << QByteArray("\nKVR-9000_V1.0.10;\n") << false;
        QTest::newRow("not digits and dots") << QByteArray("V1.0.3") << QByteArray("KVR-9000_V1.0.1x;\n") << false;
        // clang-format on
    }
    // Cancel leaves the box alone: nothing is downloaded, nothing erased.
    void offerDecisions()
    {
        QFETCH(QByteArray, boxVersion);
        QFETCH(QByteArray, info);
        QFETCH(bool, offered);
        server->serve(kInfoPath, info);
        dialogs->buttons << QMessageBox::Cancel;
        build(bootloader(boxVersion));
        connectBox();
        QCOMPARE(dialog->deviceVersion(), QString::fromLatin1(boxVersion));
        const FirmwareCheck::State state = offered                            ? FirmwareCheck::State::Offered
                                           : info.startsWith("KVR-9000_V1.2") ? FirmwareCheck::State::UpToDate
                                                                              : FirmwareCheck::State::NoRelease;
        QCOMPARE(dialog->firmwareCheck()->state(), state);
        QCOMPARE(messages().size(), offered ? 1 : 0);
        clock->advance(1000);
        QVERIFY(settle([] { return true; }));
        QCOMPARE(server->requests(), QByteArrayList{kInfoPath});
        QCOMPARE(erases(), 0);
    }

    // A download whose SHA-256 differs from the announced one never reaches the box.
    void wrongChecksumIsNeverSent()
    {
        const QByteArray sent = image(10000, 9);
        QByteArray sha = sha256Hex(sent);
        sha[10] = sha[10] == 'a' ? 'b' : 'a';
        server->serve(kInfoPath, "KVR-9000_V1.1.0;\nSHA256 KVR-9000_V1.1.0.bin: " + sha + "\nUpdate content:\nx\n");
        server->serve("/download/Product/KVR-9000/Update/KVR-9000_V1.1.0.bin", sent);
        dialogs->buttons << QMessageBox::Ok;
        build();
        connectBox();
        QVERIFY(settle([this] { return messages().size() == 2; }, 20000));
        QCOMPARE(messages()[1].title(), QString("Warning"));
        QVERIFY2(messages()[1].text().contains("does not match the SHA-256 checksum"),
                 qPrintable(messages()[1].text()));
        QCOMPARE(server->requests().size(), 2);
        clock->advance(1000);
        QVERIFY(settle([] { return true; }));
        QCOMPARE(erases(), 0);
        QVERIFY(dialog->firmwareImage().isEmpty());
        QVERIFY(!dialog->autoStart());
        QVERIFY(box->box().firmware().isEmpty());
    }

    // End to end, with the update server answering late, cut short, compressed, through
    // redirects and with checksum lines right, wrong, malformed and absent: the box gets
    // exactly the image the dialog named, or nothing.
    void downloadsEndToEnd_data()
    {
        QTest::addColumn<QString>("serving");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QString>("message");  // what the message that says why not matches
        // clang-format off
        QTest::newRow("right checksum") << "right" << true << "";
        QTest::newRow("answers late") << "late" << true << "";
        QTest::newRow("two redirects") << "redirect 2" << true << "";
        QTest::newRow("three redirects") << "redirect 3" << true << "";
        QTest::newRow("cut short") << "cut" << false << "the download was cut short";
        // Between chunks Qt 5.15 may not notice the cut: the checksum refuses the image then.
        QTest::newRow("chunks cut short") << "chunked cut" << false << "cut short|does not match the SHA-256";
        QTest::newRow("no length, no chunks") << "close" << false << "the download was cut short";
        QTest::newRow("gzip") << "gzip" << false << "compressed \\(gzip\\)";
        QTest::newRow("wrong checksum") << "wrong" << false << "does not match the SHA-256";
        QTest::newRow("malformed checksum line") << "malformed" << false << "checksum line \"SHA256: ";
        QTest::newRow("no checksum line") << "absent" << false << "the server announced no checksum; not used";
        QTest::newRow("maintenance page") << "html" << false << "does not match the SHA-256";
        // clang-format on
    }
    void downloadsEndToEnd()
    {
        QFETCH(QString, serving);
        QFETCH(bool, sent);
        QFETCH(QString, message);
        const QByteArray image = ::image(10000, 21);
        QByteArray sha = sha256Hex(image);
        if (serving == "wrong")
            sha[5] = sha[5] == 'a' ? 'b' : 'a';
        if (serving == "malformed")
            sha.chop(2);
        const QByteArray line = serving == "absent" ? QByteArray() : "SHA256: " + sha + "\n";
        server->serve(kInfoPath, "KVR-9000_V1.2.0;\n" + line + "Update content:\n<b>Faster</b> fades\n");
        const QByteArray bin = "/download/Product/KVR-9000/Update/KVR-9000_V1.2.0.bin";
        HttpTestServer::Reply reply;
        reply.body = serving == "html" ? QByteArray("<html>maintenance</html>") : image;
        reply.sendLength = !serving.startsWith("chunked");
        reply.closeDelimited = serving == "close";
        reply.gzip = serving == "gzip";
        reply.delayMs = serving == "late" ? 20000 : 0;
        if (serving.endsWith("cut"))
            reply.cutAt = 4000;
        if (serving.startsWith("redirect")) {
            const int hops = serving.back().digitValue();
            for (int i = 0; i < hops; ++i)
                server->redirect(i ? "/hop" + QByteArray::number(i) : bin,
                                 QUrl(i + 1 < hops ? "/hop" + QString::number(i + 1) : "/mirror/fw.bin"));
            server->serve("/mirror/fw.bin", reply);
        } else {
            server->serve(bin, reply);
        }
        dialogs->buttons << QMessageBox::Ok;
        connectRealBox(image);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(messages().value(0).title(), QString("Update Available"));
        QCOMPARE(messages().value(0).message.textFormat, Qt::PlainText);  // the notes are the server's text
        if (serving == "late") {
            QVERIFY(await([this] { return server->requests().size() == 2; }));
            clock->advance(20000);  // the server's delay; the request's own limits are further off
        }
        QVERIFY(await([this] { return dialog->firmwareCheck()->state() != FirmwareCheck::State::Downloading; }));
        if (sent) {
            QCOMPARE(dialog->lineEdit()->text(), QString("downloaded V1.2.0"));
            QCOMPARE(dialog->imageLabel()->text(),
                     "Image to send: downloaded V1.2.0, 10000 bytes, SHA-256 " + sha.left(12) + "…");
            QVERIFY(await([this] { return dialog->transfer()->isRunning(); }));  // after the box's erase
            pumpTransfer();
            QCOMPARE(dialogs->messageTexts().last(), QString("Upgrade successful, please power on the device again."));
        } else {
            QCOMPARE(messages().size(), 2);
            QVERIFY2(messages()[1].text().contains(QRegularExpression(message)), qPrintable(messages()[1].text()));
            QVERIFY(dialog->firmwareImage().isEmpty());
        }
        QCOMPARE(realErases(), sent ? 1 : 0);
        QCOMPARE(boxVerdict(), sent ? QString("matches") : QString("nothing"));
    }

    // The races with a box whose erase takes seconds: a download that ends after the user
    // chose a file, or during the transfer, and an ERASE END that comes after a refusal.
    void racesEndToEnd_data()
    {
        QTest::addColumn<QString>("race");
        QTest::addColumn<QString>("box");  // what the box holds in the end: the file, the download, nothing
        // clang-format off
        QTest::newRow("download after a file choice, declined") << "after choice, no" << "file";
        QTest::newRow("download after a file choice, taken") << "after choice, yes" << "download";
        QTest::newRow("download during the transfer") << "during transfer" << "file";
        QTest::newRow("late ERASE END after a refusal") << "late erase end" << "nothing";
        // clang-format on
    }
    void racesEndToEnd()
    {
        QFETCH(QString, race);
        QFETCH(QString, box);
        const QByteArray file = image(10000, 31);
        const QByteArray downloaded = image(12000, 32);
        server->serve(kInfoPath, "KVR-9000_V1.2.0;\nSHA256: " + sha256Hex(downloaded) + "\nUpdate content:\nx\n");
        HttpTestServer::Reply reply;
        reply.body = downloaded;
        reply.holdAt = 1000;  // until the test lets it finish
        server->serve("/download/Product/KVR-9000/Update/KVR-9000_V1.2.0.bin", reply);
        dialogs->buttons << (race == "late erase end" ? QMessageBox::Cancel : QMessageBox::Ok);
        connectRealBox(box == "download" ? downloaded : file);
        if (QTest::currentTestFailed())
            return;
        QSignalSpy erased(port.get(), &SerialPort::send_erase);
        const QString path = writeFile("fw.bin", file);
        openFile(path);
        QCOMPARE(dialog->lineEdit()->text(), path);
        QVERIFY(dialog->imageLabel()->text().startsWith("Image to send: fw.bin, 10000 bytes, SHA-256 "));
        QVERIFY(await([this] { return realErases() == 1; }));

        if (race == "late erase end") {
            // Refused while the box still erases for fw.bin: its ERASE END arms nothing.
            openFile(writeFile("big.bin", QByteArray((2 << 20) + 1, 'b')));
            QVERIFY(dialog->lineEdit()->text().isEmpty());
            QVERIFY(await([&] { return erased.count() == 1; }));
            QVERIFY(!dialog->eraseDone());
            dialog->pushButton_4()->click();
            clock->advance(1000);
            QVERIFY(!dialog->transfer()->isRunning());
        } else if (race.startsWith("after choice")) {
            dialogs->buttons << (race.endsWith("yes") ? QMessageBox::Yes : QMessageBox::No);
            server->release();
            QVERIFY(await([this] { return dialogs->messageTexts().size() == 2; }));
            QVERIFY2(dialogs->messageTexts()[1].endsWith("Use the downloaded V1.2.0?"),
                     qPrintable(dialogs->messageTexts()[1]));
            // The download wrote nothing to the port: still the one erase.
            QCOMPARE(realErases(), 1);
            if (race.endsWith("yes")) {
                QCOMPARE(dialog->lineEdit()->text(), QString("downloaded V1.2.0"));
                // The erase for it follows the box's answer to the first one; then it is sent.
                QVERIFY(await([this] { return realErases() == 2; }));
                QVERIFY(await([this] { return dialog->transfer()->isRunning(); }));
            } else {
                QCOMPARE(dialog->lineEdit()->text(), path);
                QVERIFY(await([this] { return dialog->eraseDone(); }));
                dialog->pushButton_4()->click();
            }
            pumpTransfer();
        } else {
            QVERIFY(await([this] { return dialog->eraseDone(); }));
            dialog->pushButton_4()->click();
            for (int i = 0; i < 20; ++i) {
                QVERIFY(settle([this] { return port->conversation()->bytesNotSent() == 0; }));
                clock->advance(10);
            }
            dialogs->buttons << QMessageBox::No;
            server->release();
            QVERIFY(await([this] { return dialog->firmwareCheck()->state() == FirmwareCheck::State::Downloaded; }));
            QCOMPARE(dialogs->messageTexts().size(), 1);  // not asked while the transfer runs
            pumpTransfer();
            QCOMPARE(realErases(), 1);
            QVERIFY(dialogs->messageTexts().last().endsWith("Use the downloaded V1.2.0?"));
        }
        QCOMPARE(boxVerdict(), box == "nothing" ? QString("nothing") : QString("matches"));
    }

    // Closing the dialog: a running download is cancelled and the box gets nothing; during
    // a transfer the user is asked first, and a confirmed close stops it.
    void closingTheDialog()
    {
        const QByteArray downloaded = image(12000, 41);
        server->serve(kInfoPath, "KVR-9000_V1.2.0;\nSHA256: " + sha256Hex(downloaded) + "\nUpdate content:\nx\n");
        HttpTestServer::Reply reply;
        reply.body = downloaded;
        reply.holdAt = 1000;
        server->serve("/download/Product/KVR-9000/Update/KVR-9000_V1.2.0.bin", reply);
        dialogs->buttons << QMessageBox::Ok;
        connectRealBox(downloaded);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(await([this] { return server->bodyBytesSent() >= 1000; }));
        dialog->reject();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->firmwareCheck()->state(), FirmwareCheck::State::Idle);
        server->release();
        clock->advance(30000);
        settle([] { return false; }, 300);
        QCOMPARE(realErases(), 0);
        QVERIFY(dialog->firmwareImage().isEmpty());
        QCOMPARE(boxVerdict(), QString("nothing"));

        // A transfer: closing asks; No keeps it running, Yes stops it and closes the port.
        server->serve(kInfoPath, QByteArray());
        dialogs->clear();
        dialog->showUpgrade("Nemora");
        dialog->pushButton()->click();
        QVERIFY(await([this] { return checkSettled() && port->isOpen(); }));
        openFile(writeFile("fw.bin", image(20000, 42)));
        QVERIFY(await([this] { return dialog->eraseDone(); }));
        dialog->pushButton_4()->click();
        clock->advance(100);
        dialogs->buttons << QMessageBox::No << QMessageBox::Yes;
        dialog->reject();
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->transfer()->isRunning());
        QCOMPARE(messages().last().title(), QString("Upgrade"));
        QVERIFY(messages().last().text().contains("Stop the transfer and close?"));
        dialog->reject();
        QVERIFY(!dialog->isVisible());
        QVERIFY(!dialog->transfer()->isRunning());
        QVERIFY(!port->isOpen());
        const int pieces = dialog->transfer()->piecesSent();
        clock->advance(1000);
        QCOMPARE(dialog->transfer()->piecesSent(), pieces);
    }

    // Open File takes regular files only: a FIFO (which would hang the window), a folder
    // or a device is refused with a message before it is opened, and the chooser asks again.
    void onlyRegularFilesAreOpened_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        // clang-format off
        QTest::newRow("FIFO") << "fifo" << "it is a FIFO (named pipe), not a regular file";
        QTest::newRow("folder") << "folder" << "";
        QTest::newRow("device") << "device" << "it is a character device, not a regular file";
        // clang-format on
    }
    void onlyRegularFilesAreOpened()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        build();
        connectBox();
        QString path = dir->file("odd");
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "folder")
            QVERIFY(QDir().mkdir(path));
        else
            path = "/dev/zero";
        dialogs->clear();
        dialogs->files << path;  // and then the chooser is cancelled
        dialog->pushButton_3()->click();
        QCOMPARE(messages().size(), 1);
        QVERIFY2(messages()[0].text().startsWith(path + " cannot be opened: ") && messages()[0].text().contains(reason),
                 qPrintable(messages()[0].text()));
        int choosers = 0;
        for (const vl::test::Asked &a : dialogs->asked)
            choosers += a.kind == vl::test::Asked::File;
        QCOMPARE(choosers, 2);
        QVERIFY(dialog->firmwareImage().isEmpty());
        QCOMPARE(erases(), 0);
    }

    // A download that fails after OK is a message, not only a line in the log.
    void failedDownloadIsShown()
    {
        server->serve(kInfoPath, "KVR-9000_V1.2.0;\nSHA256: " + QByteArray(64, 'a') + "\nUpdate content:\nx\n");
        dialogs->buttons << QMessageBox::Ok;
        build();
        connectBox();
        QVERIFY(settle([this] { return messages().size() == 2; }, 20000));
        QCOMPARE(messages()[1].title(), QString("Warning"));
        QVERIFY2(messages()[1].text().startsWith("The firmware could not be downloaded: "),
                 qPrintable(messages()[1].text()));
        QVERIFY(messages()[1].text().contains("Nothing was sent to the device."));
        QCOMPARE(erases(), 0);
    }

    // The editor window: "Firmware Upgrade" opens the dialog, which refuses a box in
    // normal mode; its list follows the ports on the window's tick.
    void menuEntryAndTick()
    {
        installScheduler(nullptr);
        vl::test::EditorOnPty editor;  // announces its end of the line as "Nemora KVR-9000"
        editor.start();
        if (QTest::currentTestFailed())
            return;
        upgrade_Dialog *upgrade = editor.window->upgradeDialog();
        QVERIFY(upgrade);
        QCOMPARE(upgrade->parentWidget(), editor.window.get());
        editor.window->menuBarWindow()->action6->trigger();
        QCOMPARE(messages().size(), 1);
        QCOMPARE(messages()[0].title(), QString("Warring"));
        QVERIFY(!upgrade->isVisible());

        // Closed, the dialog's list is empty; a bootloader that comes is listed on the next
        // tick of the window, without the dialog being open.
        QCOMPARE(upgrade->comboBox()->count(), 0);
        editor.announcement.reset();
        vl::test::PtyPeer loader;
        QVERIFY(loader.open());
        SimulatedBoxAnnouncement announced;
        QVERIFY(announced.announce({loader.slavePath(), 0x1209, 0x4b3a, "KVR-9000 Bootloader"}));
        QCOMPARE(upgrade->comboBox()->count(), 0);
        editor.clock.advance(100);
        QCOMPARE(upgrade->comboBox()->count(), 1);
        QCOMPARE(upgrade->comboBox()->itemText(0), QString("KVR-9000 Bootloader"));
        dialogs->clear();
        editor.window->menuBarWindow()->action6->trigger();
        QVERIFY(upgrade->isVisible());
        QCOMPARE(messages().size(), 0);
        upgrade->hide();
    }
};

QTEST_MAIN(TestUpgradeDialog)
#include "tst_upgradedialog.moc"
