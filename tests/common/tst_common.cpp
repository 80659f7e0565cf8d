// Shared pieces: whole-file writes and the announcements of simulated boxes.

#include "common/safefile.h"
#include "common/simulatedbox.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace vl;

class TestCommon : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    void writeRaw(const QString &name, const QByteArray &bytes)
    {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private slots:
    void initTestCase() { qputenv("VARILUME_SIMBOX_DIR", dir.filePath("boxes").toUtf8()); }

    void wholeFileWrites()
    {
        const QString path = dir.filePath("a.txt");
        QVERIFY(writeFileWhole(path, "first"));
        QVERIFY(writeFileWhole(path, "second"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("second"));

        QString error;
        QVERIFY(!writeFileWhole(dir.filePath("missing/b.txt"), "x", &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!writeFileWhole(dir.path(), "x"));  // a directory stays a directory
        QVERIFY(QFileInfo(dir.path()).isDir());
    }

    void announcedBoxesAreListedWhileTheyRun()
    {
        QCOMPARE(simulatedBoxDirectory(), dir.filePath("boxes"));
        QVERIFY(runningSimulatedBoxes().isEmpty());
        {
            SimulatedBoxAnnouncement announcement;
            QVERIFY(announcement.announce({"/dev/pts/77", 0x0483, 0x5740, "Nemora KVR-9000"}));
            const QList<SimulatedBox> boxes = runningSimulatedBoxes();
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes[0].portName, QString("/dev/pts/77"));
            QCOMPARE(boxes[0].vendorId, quint16(0x0483));
            QCOMPARE(boxes[0].productId, quint16(0x5740));
            QCOMPARE(boxes[0].description, QString("Nemora KVR-9000"));
        }
        QVERIFY(runningSimulatedBoxes().isEmpty());
        QVERIFY(QDir(dir.filePath("boxes")).entryList(QDir::Files).isEmpty());
    }

    // Files nobody holds, half-written ones and oversized ones never show up as ports.
    void staleAndBrokenAnnouncementsAreIgnored()
    {
        QDir().mkpath(dir.filePath("boxes"));
        writeRaw("boxes/crashed.port", "port=/dev/pts/3\nvendor=0483\nproduct=5740\ndescription=Nemora KVR-9000\n");
        SimulatedBoxAnnouncement broken;
        QVERIFY(broken.announce({"", 0x1, 0x2, "no port"}));
        writeRaw("boxes/huge.port", QByteArray(1 << 20, 'x'));
        QVERIFY(runningSimulatedBoxes().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "tst_common.moc"
