// The simulated box program itself, on its pseudo-terminal, through a real QSerialPort:
// it announces its port, answers the editor's requests, keeps what it is sent, starts
// clean after the port is closed, and disappears from the port list when it ends.

#include "boxprocess.h"
#include "common/core/simulatedbox.h"
#include "simbox.h"
#include "trywait.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

using namespace vl;
using vl::test::BoxProcess;

namespace {

// Reads until `done` holds for what has arrived or the time is up; counts the reads.
QByteArray readUntil(QSerialPort &port, const std::function<bool(const QByteArray &)> &done, int ms = 5000,
                     int *reads = nullptr)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (!done(got) && t.elapsed() < ms) {
        if (port.bytesAvailable() > 0 || port.waitForReadyRead(50)) {
            got += port.readAll();
            if (reads)
                ++*reads;
        }
    }
    return got;
}

QByteArray readBytes(QSerialPort &port, int n, int *reads = nullptr)
{
    return readUntil(
        port, [n](const QByteArray &b) { return b.size() >= n; }, 10000, reads);
}

// Whatever else arrives within `ms`.
QByteArray readFor(QSerialPort &port, int ms)
{
    return readUntil(
        port, [](const QByteArray &) { return false; }, ms);
}

bool send(QSerialPort &port, const QByteArray &bytes)
{
    if (port.write(bytes) != bytes.size())
        return false;
    while (port.bytesToWrite() > 0) {
        if (!port.waitForBytesWritten(2000))
            return false;
    }
    return true;
}

bool openPort(QSerialPort &port, const QString &name)
{
    port.setPortName(name);
    port.setBaudRate(115200);
    return port.open(QIODevice::ReadWrite);
}

QByteArray records(quint8 fill)
{
    QByteArray r(kBoxRecordBytes, '\0');
    for (int i = 0; i < 200; ++i)
        r.replace(8 * (i * 15), 8, QByteArray::fromHex("B0070014") + char(fill) + char(i) + char(i) + '\0');
    return r;
}

}  // namespace

class TestSimBoxPty : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString announceDir() const { return dir.filePath("boxes"); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("VARILUME_SIMBOX_DIR", announceDir().toUtf8());
    }

    void servesTheEditorOverItsPort()
    {
        const QString tableFile = dir.filePath("start.bin");
        const QString savedFile = dir.filePath("saved.bin");
        {
            QFile f(tableFile);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(buildBoxImage(records(1)));
        }
        BoxProcess box;
        QVERIFY(
            box.start({"--table", tableFile, "--save-table", savedFile, "--settings", "1000,510,2,6"}, announceDir()));

        const QList<SimulatedBox> listed = runningSimulatedBoxes();
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed[0].portName, box.port);
        QCOMPARE(listed[0].description, QString("Nemora KVR-9000"));
        QCOMPARE(listed[0].vendorId, quint16(0x1209));

        QSerialPort port;
        QVERIFY2(openPort(port, box.port), qPrintable(port.errorString()));

        QVERIFY(send(port, "hello"));
        QCOMPARE(readBytes(port, 13), QByteArray("open the door"));

        QVERIFY(send(port, "setting request"));
        const QByteArray reply = readBytes(port, kBoxSettingsReplySize);
        QCOMPARE(reply.left(15), QByteArray("setting request"));
        QCOMPARE(reply.mid(19), QByteArray::fromHex("03e8"
                                                    "01fe"
                                                    "0002"
                                                    "0006"));

        // The table comes back whole, in several pieces as a USB device delivers it.
        int reads = 0;
        QVERIFY(send(port, "upload request"));
        QCOMPARE(readBytes(port, kBoxImageSize, &reads), buildBoxImage(records(1)));
        QVERIFY(reads > 1);

        // Set: 256-byte pieces, then the box confirms and holds exactly that table.
        const QByteArray image = buildBoxImage(records(2));
        for (int at = 0; at < image.size(); at += 256)
            QVERIFY(send(port, image.mid(at, 256)));
        QCOMPARE(readBytes(port, 16), QByteArray("download success"));
        QFile saved(savedFile);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), image);

        // A settings command is acknowledged and shows in the next reply.
        QVERIFY(send(port, "settingdata"));
        QVERIFY(send(port, QByteArray::fromHex("000100f501f4")));
        QVERIFY(send(port, "setting end"));
        QCOMPARE(readBytes(port, 11), QByteArray("setting end"));
        QVERIFY(send(port, "setting request"));
        QCOMPARE(readBytes(port, kBoxSettingsReplySize).mid(19, 2), QByteArray::fromHex("01f4"));
        QVERIFY(readFor(port, 100).isEmpty());

        port.close();
        box.process().terminate();
        QVERIFY(box.process().waitForFinished(5000));
        QCOMPARE(box.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(box.process().exitCode(), 0);
        QVERIFY(runningSimulatedBoxes().isEmpty());
        QVERIFY(QDir(announceDir()).entryList(QDir::Files).isEmpty());
    }

    // Closing the port in the middle of an upload leaves nothing behind for the next open.
    void reopenedPortStartsClean()
    {
        BoxProcess box;
        QVERIFY(box.start({"--pause", "5", "-v"}, announceDir()));
        QSerialPort port;
        QVERIFY(openPort(port, box.port));
        QVERIFY(send(port, "upload request"));
        QVERIFY(readBytes(port, 200).size() >= 200);
        port.close();
        VL_TRY_VERIFY2(box.log().contains("the port was closed"), qPrintable(box.log()));

        QVERIFY(openPort(port, box.port));
        QVERIFY(send(port, "hello"));
        const QByteArray answer = readBytes(port, 13);
        QCOMPARE(answer + readFor(port, 200), QByteArray("open the door"));
    }

    // The box vanishing mid-upload: the port reports an error and the box is gone.
    void vanishingBoxClosesTheLink()
    {
        BoxProcess box;
        QVERIFY(box.start({"--vanish-after", "3000"}, announceDir()));
        QSerialPort port;
        QVERIFY(openPort(port, box.port));
        QByteArray got;
        int errors = 0;
        connect(&port, &QSerialPort::readyRead, &port, [&] { got += port.readAll(); });
        connect(&port, &QSerialPort::errorOccurred, &port, [&](QSerialPort::SerialPortError e) {
            if (e == QSerialPort::ReadError || e == QSerialPort::ResourceError) {
                ++errors;
                port.close();
            }
        });
        QVERIFY(send(port, "upload request"));
        VL_TRY_VERIFY_WITH_TIMEOUT(errors > 0, 10000);
        QVERIFY(got.size() <= 3000);
        QVERIFY(got.startsWith("download request") || got.isEmpty());
        VL_TRY_COMPARE_WITH_TIMEOUT(box.process().state(), QProcess::NotRunning, 5000);
        QCOMPARE(box.process().exitCode(), 0);
        QVERIFY(runningSimulatedBoxes().isEmpty());
    }

    // The bootloader is listed without the maker's name; killed, it leaves no port behind.
    void bootloaderAnswersAndLeavesNoPortWhenKilled()
    {
        BoxProcess box;
        QVERIFY(box.start({"--upgrade"}, announceDir()));
        const QList<SimulatedBox> listed = runningSimulatedBoxes();
        QCOMPARE(listed.size(), 1);
        QVERIFY(!listed[0].description.startsWith("Nemora"));

        QSerialPort port;
        QVERIFY(openPort(port, box.port));
        QVERIFY(send(port, QByteArray::fromHex("aacc0200010d0a")));
        QCOMPARE(readBytes(port, 10), QByteArray("KVR-9000\r\n"));
        QVERIFY(send(port, QByteArray::fromHex("aacc0200030d0a")));
        QCOMPARE(readUntil(port, [](const QByteArray &b) { return b.endsWith("\r\n"); }),
                 QByteArray::fromHex("aacc06") + "V1.0.3\r\n");

        box.process().kill();
        QVERIFY(box.process().waitForFinished(5000));
        QVERIFY(runningSimulatedBoxes().isEmpty());
    }

    // With --expect-firmware the bootloader says whether what it received is that file,
    // and keeps it with --save-firmware; closing the port ends the firmware at once.
    void bootloaderChecksTheFirmware_data()
    {
        QTest::addColumn<bool>("whole");
        // clang-format off
        QTest::newRow("whole") << true;
        QTest::newRow("one piece short") << false;
        // clang-format on
    }
    void bootloaderChecksTheFirmware()
    {
        QFETCH(bool, whole);
        QByteArray firmware;
        for (int i = 0; i < 1000; ++i)
            firmware += char(i * 13);
        const QString expected = dir.filePath("expected.bin");
        const QString saved = dir.filePath(whole ? "saved-whole.bin" : "saved-short.bin");
        QFile file(expected);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(firmware);
        file.close();
        BoxProcess box;
        QVERIFY(box.start(
            {"--upgrade", "--erase-ms", "0", "--gap", "0", "--expect-firmware", expected, "--save-firmware", saved},
            announceDir()));
        QSerialPort port;
        QVERIFY(openPort(port, box.port));
        QVERIFY(send(port, QByteArray::fromHex("aacc0200020d0a")));
        QCOMPARE(readBytes(port, 9), QByteArray("ERASE END"));
        const QByteArray sent = whole ? firmware : firmware.left(firmware.size() - 40);
        for (int at = 0; at < sent.size(); at += 64)
            QVERIFY(send(port, sent.mid(at, 64)));
        port.close();
        const QString verdict = whole ? "firmware matches the expected image"
                                      : "firmware DIFFERS from the expected image: 960 bytes received, 1000 expected";
        QTRY_VERIFY2_WITH_TIMEOUT(box.log().contains(verdict), qPrintable(box.log()), 5000);
        QVERIFY(box.log().contains(QString("firmware received: %1 bytes in ").arg(sent.size())));
        // Saved right after the verdict.
        auto keptBytes = [&saved] {
            QFile kept(saved);
            return kept.open(QIODevice::ReadOnly) ? kept.readAll() : QByteArray();
        };
        QTRY_COMPARE_WITH_TIMEOUT(keptBytes(), sent, 5000);
    }

    void badCommandLinesAreRefused()
    {
        QProcess p;
        p.start(QStringLiteral(SIMBOX_PROGRAM), {"--settings", "1,2,3"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardOutput().isEmpty());
        QVERIFY(p.readAllStandardError().contains("--settings"));
    }
};

QTEST_GUILESS_MAIN(TestSimBoxPty)
#include "tst_simbox_pty.moc"
