// Shared pieces: whole-file writes, the announcements of simulated boxes and the
// schedulers that timers take their time from.

#include "common/safefile.h"
#include "common/scheduler.h"
#include "common/simulatedbox.h"

#include <QPointer>
#include <QSignalSpy>

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

    // The manual clock fires what falls due on the way, in time order, repeating timers as
    // often as they fall due; ties go in the order the timers were started.
    void manualClockFiresInTimeOrder()
    {
        QObject owner;
        ManualScheduler clock;
        QStringList fired;
        auto make = [&](const QString &name, int ms, bool singleShot) {
            Timer *t = clock.createTimer(&owner);
            t->setSingleShot(singleShot);
            QObject::connect(t, &Timer::timeout, [&fired, &clock, name] {
                fired << QString("%1@%2").arg(name).arg(clock.nowMs());
            });
            t->start(ms);
            return t;
        };
        Timer *scan = make("scan", 2000, false);
        make("fade", 50, true);
        make("same", 2000, true);
        QCOMPARE(clock.activeTimerCount(), 3);
        QCOMPARE(clock.msUntilNext(), 50);

        clock.advance(49);
        QVERIFY(fired.isEmpty());
        clock.advance(4000 - 49);
        QCOMPARE(fired, QStringList({"fade@50", "scan@2000", "same@2000", "scan@4000"}));
        QCOMPARE(clock.nowMs(), 4000);
        QCOMPARE(clock.activeTimerCount(), 1);
        QVERIFY(scan->isActive());

        // Restarting starts the interval over; stopping ends it.
        fired.clear();
        clock.advance(1000);
        scan->start();
        clock.advance(1999);
        QVERIFY(fired.isEmpty());
        QVERIFY(clock.advanceToNext());
        QCOMPARE(fired, QStringList({"scan@7000"}));
        scan->stop();
        QVERIFY(!clock.advanceToNext());
        QCOMPARE(clock.msUntilNext(), -1);
    }

    // Handlers may stop, start and create timers; what they start takes part in the same
    // advance, and a timer that is gone never fires.
    void manualClockHandlersChangeTimers()
    {
        QObject owner;
        ManualScheduler clock;
        int pieces = 0;
        Timer *pacing = clock.createTimer(&owner);
        pacing->setSingleShot(true);
        QObject::connect(pacing, &Timer::timeout, [&] {
            if (++pieces < 5)
                pacing->start(10);  // the next piece 10 ms after this one
        });
        pacing->start(10);
        clock.advance(1000);
        QCOMPARE(pieces, 5);
        QCOMPARE(clock.nowMs(), 1000);

        int later = 0;
        Timer *outer = clock.createTimer(&owner);
        outer->setSingleShot(true);
        QObject::connect(outer, &Timer::timeout, [&] { clock.singleShot(5, &owner, [&later] { ++later; }); });
        outer->start(10);
        clock.advance(15);
        QCOMPARE(later, 1);

        int gone = 0;
        auto *context = new QObject;
        clock.singleShot(10, context, [&gone] { ++gone; });
        delete context;
        Timer *doomed = clock.createTimer();
        QObject::connect(doomed, &Timer::timeout, [&gone] { ++gone; });
        doomed->start(10);
        delete doomed;
        clock.advance(100);
        QCOMPARE(gone, 0);

        // Timers may outlive their clock; they never fire then.
        QPointer<Timer> orphan;
        {
            ManualScheduler brief;
            orphan = brief.createTimer(&owner);
            orphan->start(10);
        }
        QVERIFY(!orphan->isActive());
        orphan->start(10);
        QVERIFY(!orphan->isActive());
    }

    // The program's timers run on the event loop's clock; a test installs its own.
    void systemSchedulerAndInstalling()
    {
        QObject owner;
        QCOMPARE(&scheduler(), &systemScheduler());
        Timer *t = scheduler().createTimer(&owner);
        t->setSingleShot(true);
        QSignalSpy spy(t, &Timer::timeout);
        const qint64 start = systemScheduler().nowMs();
        t->start(20);
        QVERIFY(t->isActive());
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.count(), 1);
        QVERIFY(systemScheduler().nowMs() - start >= 15);
        QVERIFY(!t->isActive());

        ManualScheduler clock;
        installScheduler(&clock);
        QCOMPARE(&scheduler(), static_cast<Scheduler *>(&clock));
        installScheduler(nullptr);
        QCOMPARE(&scheduler(), &systemScheduler());
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "tst_common.moc"
