// Repaint pacing: a burst of requests gives one frame per interval, a request after a quiet
// spell is served at once, and nothing waits while nobody asks.

#include "common/core/scheduler.h"
#include "preview/core/framelimiter.h"

#include <QtTest>

using namespace vl;

class TestFrameLimiter : public QObject {
    Q_OBJECT

private slots:
    void pacing_data()
    {
        QTest::addColumn<QList<int>>("requestTimes");  // ms on the clock, ascending
        QTest::addColumn<QList<int>>("frameTimes");

        // clang-format off
        QTest::newRow("one request") << QList<int>{5} << QList<int>{5};
        QTest::newRow("a burst within one frame") << QList<int>{0, 0, 3, 7} << QList<int>{0, 20};
        QTest::newRow("a steady stream") << QList<int>{0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40}
                                         << QList<int>{0, 20, 40, 60};
        QTest::newRow("apart by more than a frame") << QList<int>{0, 30, 100} << QList<int>{0, 30, 100};
        // clang-format on
    }
    void pacing()
    {
        QFETCH(QList<int>, requestTimes);
        QFETCH(QList<int>, frameTimes);
        ManualScheduler clock;
        QList<int> frames;
        FrameLimiter limiter([&] { frames << int(clock.nowMs()); }, clock);
        for (int t : requestTimes) {
            clock.advance(int(t - clock.nowMs()));
            limiter.request();
        }
        while (clock.advanceToNext()) {
        }
        QCOMPARE(frames, frameTimes);
        QCOMPARE(limiter.frames(), frameTimes.size());
        QVERIFY(!limiter.pending());
        QCOMPARE(clock.activeTimerCount(), 0);
    }

    void aRequestDuringAFrameGetsTheNext()
    {
        ManualScheduler clock;
        int frames = 0;
        FrameLimiter *self = nullptr;
        FrameLimiter limiter(
            [&] {
                if (++frames == 1)
                    self->request();
            },
            clock);
        self = &limiter;
        limiter.request();
        clock.advance(0);
        QCOMPARE(frames, 1);
        QVERIFY(limiter.pending());
        clock.advance(19);
        QCOMPARE(frames, 1);
        clock.advance(1);
        QCOMPARE(frames, 2);
    }
};

QTEST_GUILESS_MAIN(TestFrameLimiter)
#include "tst_framelimiter.moc"
