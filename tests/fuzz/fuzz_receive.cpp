// The receive path: any bytes from the box, in any pieces. Whatever the pieces, the
// dispatcher must say and send the same things in the same order: the stream whole, one
// byte at a time, cut in two, and cut into pieces of random sizes. Finished uploads go
// through the record decoder as the editor's Read would take them.

#include "fuzzsupport.h"

#include "device/core/protocol.h"
#include "device/core/tableimage.h"

using namespace vl;

namespace {

// Everything the dispatcher said and sent, in order.
QByteArray run(const QByteArrayList &pieces)
{
    QByteArray log;
    ReceiveDispatcher d([&log](const QByteArray &bytes) { log += "write " + bytes.toHex() + '\n'; });
    QObject::connect(&d, &ReceiveDispatcher::tableUploaded,
                     [&log](const QByteArrayList &groups, const QString &damage) {
                         log += "upload " + QByteArray::number(groups.size()) + ' ' + groups.join().toHex() + ' '
                                + damage.toUtf8() + '\n';
                         if (isCompleteUpload(groups))
                             for (int row = 0; row < groups.size(); ++row)
                                 FUZZ_EXPECT(!decodeRuleRecord(groups.at(row), row, 1 + row % 3).isEmpty());
                     });
    QObject::connect(&d, &ReceiveDispatcher::versionReported,
                     [&log](const QString &v) { log += "version " + v.toUtf8().toHex() + '\n'; });
    QObject::connect(&d, &ReceiveDispatcher::modelReported,
                     [&log](const QString &m) { log += "model " + m.toUtf8().toHex() + '\n'; });
    QObject::connect(&d, &ReceiveDispatcher::eraseFinished, [&log] { log += "erase\n"; });
    QObject::connect(&d, &ReceiveDispatcher::settingsReported, [&log](const DeviceSettings &s) {
        log += QStringLiteral("settings %1 %2 %3 %4 %5\n")
                   .arg(s.reserved)
                   .arg(s.breakTime)
                   .arg(s.markAfterBreak)
                   .arg(s.coefficientCode)
                   .arg(s.sleepCode)
                   .toLatin1();
    });
    QObject::connect(&d, &ReceiveDispatcher::imageAccepted, [&log] { log += "download success\n"; });
    QObject::connect(&d, &ReceiveDispatcher::settingAcknowledged, [&log] { log += "setting end\n"; });
    QObject::connect(&d, &ReceiveDispatcher::boxAccepted, [&log] { log += "accepted\n"; });
    QObject::connect(&d, &ReceiveDispatcher::doorAnswered, [&log](bool open) { log += open ? "open\n" : "closed\n"; });

    for (const QByteArray &piece : pieces) {
        d.feed(piece);
        // A babbling line never makes the collection grow past its limit.
        FUZZ_EXPECT(d.collector().buffer().size() <= UploadCollector::kMaxCollected);
    }
    return log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray stream = fuzz::bytesOf(data, size);
    const QByteArray whole = run({stream});

    QByteArrayList bytes;
    for (const char c : stream)
        bytes << QByteArray(1, c);
    FUZZ_EXPECT_SAME(run(bytes), whole);

    fuzz::Choices choose(stream);
    const int at = choose.between(0, stream.size());
    FUZZ_EXPECT_SAME(run({stream.left(at), stream.mid(at)}), whole);

    const int longest = choose.between(0, 1) ? choose.between(1, 32) : choose.between(1, 2048);
    QByteArrayList pieces;
    for (int from = 0; from < stream.size();) {
        const int length = choose.between(1, longest);
        pieces << stream.mid(from, length);
        from += length;
    }
    FUZZ_EXPECT_SAME(run(pieces), whole);
    return 0;
}
