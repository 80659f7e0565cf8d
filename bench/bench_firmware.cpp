// The firmware upgrade: a whole 100 000-byte image sent with the real 10 ms pacing to the
// simulated box's bootloader (varilume-simbox --upgrade) on its pseudo-terminal, and the
// firmware dialog's port list refresh that the editor runs on every 100 ms tick, with a
// fresh scan of the system (the baseline) and through the cache.

#include "boxprocess.h"
#include "common/core/simulatedbox.h"
#include "device/core/boxconversation.h"
#include "device/core/portcache.h"
#include "device/ui/portlistupdater.h"
#include "firmware/core/firmwaretransfer.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>
#include <algorithm>
#include <benchmark/benchmark.h>

using namespace vl;

namespace {

QByteArray image(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + i / 97) & 0xFF);
    return bytes;
}

template <typename Predicate>
bool waitFor(Predicate done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

// From the first piece to the last byte out of the port, on the system's clock. The box
// compares what it received with the image once the line has been quiet for 1 s.
void BM_FirmwareOverPty(benchmark::State &state)
{
    const int size = int(state.range(0));
    const QByteArray sent = image(size);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("fw.bin")));
    if (!file.open(QIODevice::WriteOnly) || file.write(sent) != size) {
        state.SkipWithError("cannot write the image");
        return;
    }
    file.close();
    test::BoxProcess box;
    QString why;
    if (!box.start(QStringLiteral(SIMBOX_PROGRAM),
                   {QStringLiteral("--upgrade"), QStringLiteral("--erase-ms"), QStringLiteral("0"),
                    QStringLiteral("--gap"), QStringLiteral("0"), QStringLiteral("--expect-firmware"), file.fileName()},
                   dir.filePath(QStringLiteral("boxes")), &why)) {
        state.SkipWithError(qPrintable(why));
        return;
    }
    QSerialPort port;
    BoxConversation conversation(port);
    if (conversation.open(box.port) != PortOpenFailure::None) {
        state.SkipWithError("cannot open the box's port");
        return;
    }
    firmware::ConversationLine line(conversation);
    firmware::FirmwareTransfer transfer(line);
    bool erased = false;
    QObject::connect(&conversation, &BoxConversation::eraseFinished, [&erased] { erased = true; });
    qint64 pieces = 0;
    // When each piece was written: the gaps show where the time beyond 10 ms goes.
    QElapsedTimer clock;
    clock.start();
    QVector<qint64> writtenAt;
    QObject::connect(&transfer, &firmware::FirmwareTransfer::pieceWritten,
                     [&](qint64) { writtenAt << clock.nsecsElapsed(); });
    for (auto _ : state) {
        writtenAt.clear();
        erased = false;
        conversation.requestErase();
        if (!waitFor([&] { return erased; }, 5000)) {
            state.SkipWithError("no \"ERASE END\"");
            break;
        }
        QEventLoop loop;
        QObject::connect(&transfer, &firmware::FirmwareTransfer::finished, &loop, &QEventLoop::quit);
        QObject::connect(&transfer, &firmware::FirmwareTransfer::failed, &loop, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        transfer.start(sent);
        if (transfer.isRunning())
            loop.exec();
        state.SetIterationTime(double(t.nsecsElapsed()) / 1e9);
        if (transfer.state() != firmware::FirmwareTransfer::State::Done) {
            state.SkipWithError(qPrintable(transfer.errorText()));
            break;
        }
        pieces = transfer.piecesSent();
        // The box ends a transfer after 1 s of quiet and says whether it matches.
        if (!waitFor([&] { return box.log().contains(QStringLiteral("firmware matches")); }, 5000)) {
            state.SkipWithError("the box did not receive the image whole");
            break;
        }
    }
    state.counters["pieces"] = double(pieces);
    state.counters["paced_ms"] = double(pieces) * firmware::kPieceIntervalMs;
    QVector<double> gaps;
    for (int i = 1; i < writtenAt.size(); ++i)
        gaps << double(writtenAt[i] - writtenAt[i - 1]) / 1e6;
    std::sort(gaps.begin(), gaps.end());
    if (!gaps.isEmpty()) {
        state.counters["gap_min_ms"] = gaps.first();
        state.counters["gap_median_ms"] = gaps[gaps.size() / 2];
        state.counters["gap_p90_ms"] = gaps[gaps.size() * 9 / 10];
    }
}
BENCHMARK(BM_FirmwareOverPty)
    ->Arg(100000)
    ->ArgName("bytes")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The baseline, in the same run: a bare chain of 10 ms single-shot timers, one per piece
// after the first (1562 for 100 000 bytes), on the same event loop. What the machine's
// timer wake-ups cost before the transfer does anything.
void BM_BareTimerChain(benchmark::State &state)
{
    const int ticks = int(state.range(0));
    for (auto _ : state) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        int left = ticks;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (--left > 0)
                timer.start(firmware::kPieceIntervalMs);
            else
                loop.quit();
        });
        QElapsedTimer t;
        t.start();
        timer.start(firmware::kPieceIntervalMs);
        loop.exec();
        state.SetIterationTime(double(t.nsecsElapsed()) / 1e9);
    }
    state.counters["paced_ms"] = double(ticks) * firmware::kPieceIntervalMs;
}
BENCHMARK(BM_BareTimerChain)
    ->Arg(1562)
    ->ArgName("ticks")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// One tick's refresh of the firmware dialog's list (every USB serial device) with one
// simulated bootloader announced. Argument 0: a fresh scan each time; 1: through the cache.
void BM_PortListTick(benchmark::State &state)
{
    QTemporaryDir dir;
    qputenv("VARILUME_SIMBOX_DIR", dir.filePath(QStringLiteral("boxes")).toUtf8());
    test::BoxProcess box;
    QString why;
    if (!box.start(QStringLiteral(SIMBOX_PROGRAM), {QStringLiteral("--upgrade")}, dir.filePath(QStringLiteral("boxes")),
                   &why)) {
        state.SkipWithError(qPrintable(why));
        return;
    }
    const bool cached = state.range(0) == 1;
    auto cache = std::make_shared<PortSnapshotCache>();
    QComboBox list;
    PortListUpdater updater;
    if (cached)
        updater.setSource([cache] { return cache->snapshot(); });
    updater.addList(&list, PortFilter::everyUsbSerialDevice());
    for (auto _ : state)
        updater.refresh(&list);
    if (list.count() != 1)
        state.SkipWithError("the bootloader is not listed");
    state.counters["monitor"] = cached && cache->isMonitoring() ? 1 : 0;
}
BENCHMARK(BM_PortListTick)->Arg(0)->Arg(1)->ArgName("cached")->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
