// What the editor does with the bytes the box sends: keyword replies, identity and
// settings replies, the authentication answer and the table upload, fed chunk by chunk
// into the receive dispatcher.

#include "boxbytes.h"
#include "device/core/protocol.h"
#include "device/core/tableimage.h"

#include <QtTest>

using namespace vl;

namespace {

// Writes down everything the dispatcher says and sends.
struct Recorder {
    QStringList events;
    QByteArrayList writes;
    QList<QByteArrayList> uploads;
    ReceiveDispatcher dispatcher{[this](const QByteArray &b) { writes << b; }};

    Recorder()
    {
        auto &d = dispatcher;
        QObject::connect(&d, &ReceiveDispatcher::tableUploaded, [this](const QByteArrayList &g) {
            events << QString("upload %1").arg(g.size());
            uploads << g;
        });
        QObject::connect(&d, &ReceiveDispatcher::versionReported,
                         [this](const QString &v) { events << "version " + v; });
        QObject::connect(&d, &ReceiveDispatcher::modelReported, [this](const QString &m) { events << "model " + m; });
        QObject::connect(&d, &ReceiveDispatcher::eraseFinished, [this] { events << "erase"; });
        QObject::connect(&d, &ReceiveDispatcher::settingsReported, [this](const DeviceSettings &s) {
            events << QString("settings %1 %2 %3 %4 %5")
                          .arg(s.reserved)
                          .arg(s.breakTime)
                          .arg(s.markAfterBreak)
                          .arg(s.coefficientCode)
                          .arg(s.sleepCode);
        });
        QObject::connect(&d, &ReceiveDispatcher::imageAccepted, [this] { events << "download success"; });
        QObject::connect(&d, &ReceiveDispatcher::settingAcknowledged, [this] { events << "setting end"; });
        QObject::connect(&d, &ReceiveDispatcher::boxAccepted, [this] { events << "accepted"; });
        QObject::connect(&d, &ReceiveDispatcher::doorAnswered,
                         [this](bool open) { events << (open ? "door open" : "door closed"); });
    }

    void feed(const QByteArrayList &chunks)
    {
        for (const QByteArray &c : chunks)
            dispatcher.feed(c);
    }
};

// A settings reply whose unused value is 0x1234.
QByteArray settingsReply(int breakTime, int mab, int coef, int sleep)
{
    return vl::test::settingsReply(breakTime, mab, coef, sleep, 0x1234);
}

QByteArrayList bytesApart(const QByteArray &stream)
{
    QByteArrayList bytes;
    for (const char c : stream)
        bytes << QByteArray(1, c);
    return bytes;
}

// The smallest upload: a header, one record, the end marker.
QByteArray smallUpload(const QByteArray &record)
{
    return QByteArray("download request").leftJustified(kImageHeaderSize, '\0') + record + "end of data";
}

const QByteArray challenge = QByteArray::fromHex("00112233445566778899aabbccddeeff");

// A table image whose records are all different, with a few that spell "ok" and "end".
QByteArray sampleRecords()
{
    QByteArray records;
    for (int r = 0; r < kRuleRows; ++r) {
        QByteArray rec(8, '\0');
        rec[0] = char(0xB0 | (r % 16));
        rec[1] = char(r % 128);
        const quint16 flags = quint16(0x1000 | (r % 1024));
        rec[2] = char(flags & 0xFF);
        rec[3] = char(flags >> 8);
        rec[4] = char(r % 256);
        records += rec;
    }
    records.replace(8 * 10 + 4, 3, "end");
    records.replace(8 * 20 + 4, 2, "ok");
    return records;
}

}  // namespace

class TestDispatcher : public QObject {
    Q_OBJECT

private slots:
    void chunks_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QByteArrayList>("writes");

        const QByteArrayList none;
        // clang-format off
        QTest::newRow("garbage") << QByteArrayList{"\x01\x02 hello world \xff"} << QStringList() << none;
        // The handshake: the settings are asked for when the door opens and again on "ok".
        QTest::newRow("open the door") << QByteArrayList{"open the door"} << QStringList{"door open"}
                                       << QByteArrayList{"setting request"};
        QTest::newRow("close the door") << QByteArrayList{"close the door"} << QStringList{"door closed"} << none;
        QTest::newRow("ok") << QByteArrayList{"ok"} << QStringList{"accepted"} << QByteArrayList{"setting request"};
        QTest::newRow("setting end asks for the table")
            << QByteArrayList{"setting end"} << QStringList{"setting end"} << QByteArrayList{"upload request"};
        QTest::newRow("download success, then ok")
            << QByteArrayList{"download success ok"} << QStringList{"download success", "accepted"}
            << QByteArrayList{"setting request"};
        QTest::newRow("every keyword of a chunk acts")
            << QByteArrayList{"setting end open the door ok"} << QStringList{"setting end", "door open", "accepted"}
            << QByteArrayList{"upload request", "setting request", "setting request"};
        QTest::newRow("a keyword twice acts twice") << QByteArrayList{"ok ok"} << QStringList{"accepted", "accepted"}
                                                    << QByteArrayList{"setting request", "setting request"};
        QTest::newRow("keyword cut in two")
            << QByteArrayList{"open the ", "door", "setting e", "nd"} << QStringList{"door open", "setting end"}
            << QByteArrayList{"setting request", "upload request"};

        QTest::newRow("version reply") << QByteArrayList{QByteArray("\xAA\xCC\x06V1.0.3\r\n")}
                                       << QStringList{"version V1.0.3"} << none;
        QTest::newRow("model text inside a version reply")
            << QByteArrayList{QByteArray("\xAA\xCC\x06V2.1 KVR-9000\r\n")} << QStringList{"version V2.1 KVR-9000"}
            << none;
        QTest::newRow("version header inside a model text")
            << QByteArrayList{QByteArray("KVR-\xAA\xCC\x06V1.0.3\r\n")} << QStringList{"version V1.0.3"} << none;
        QTest::newRow("version and model reply")
            << QByteArrayList{QByteArray("\xAA\xCC\x06V2.1\r\nKVR-9000\r\n")}
            << QStringList{"version V2.1", "model KVR-9000"} << QByteArrayList{msg::modelAck};
        QTest::newRow("model reply after a version header without line end")
            << QByteArrayList{QByteArray("\xAA\xCC\x06V") + QByteArray(ReceiveDispatcher::kMaxReplyLine, 'x')
                              + "KVR-9000\r\n"}
            << QStringList{"model KVR-9000"} << QByteArrayList{msg::modelAck};
        QTest::newRow("model reply cut before its line end")
            << QByteArrayList{"KVR-9000\r", "\n"} << QStringList{"model KVR-9000"} << QByteArrayList{msg::modelAck};
        QTest::newRow("model line too long")
            << QByteArrayList{"KVR-" + QByteArray(ReceiveDispatcher::kMaxReplyLine - 3, '0') + "\r\n"} << QStringList()
            << none;
        QTest::newRow("model reply is acknowledged once")
            << QByteArrayList{"KVR-9000\r\n"} << QStringList{"model KVR-9000"} << QByteArrayList{msg::modelAck};
        QTest::newRow("model without line end") << QByteArrayList{"KVR-9000"} << QStringList() << none;
        QTest::newRow("version without line end") << QByteArrayList{QByteArray("\xAA\xCC\x06V2.1")} << QStringList()
                                                  << none;
        QTest::newRow("erase end and ok both act")
            << QByteArrayList{"ERASE END ok"} << QStringList{"erase", "accepted"} << QByteArrayList{"setting request"};

        QTest::newRow("settings reply") << QByteArrayList{settingsReply(1000, 50, 2, 6)}
                                        << QStringList{"settings 4660 1000 50 2 6"} << none;
        QTest::newRow("settings reply one byte short")
            << QByteArrayList{settingsReply(1000, 50, 2, 6).chopped(1)} << QStringList() << none;
        QTest::newRow("settings reply after other bytes")
            << QByteArrayList{"open the door" + settingsReply(1000, 50, 2, 6)}
            << QStringList{"door open", "settings 4660 1000 50 2 6"} << QByteArrayList{"setting request"};
        QTest::newRow("settings reply after other bytes, one byte short")
            << QByteArrayList{"\x01\x02\x03" + settingsReply(1000, 50, 2, 6).chopped(1)} << QStringList() << none;
        QTest::newRow("settings keyword alone") << QByteArrayList{"setting request"} << QStringList() << none;

        QTest::newRow("cipher challenge answered")
            << QByteArrayList{"cipher:" + challenge} << QStringList()
            << QByteArrayList{"give you", challenge + char(0x77), "nxxxxx"};
        QTest::newRow("cipher challenge one byte short")
            << QByteArrayList{"cipher:" + challenge.chopped(1)} << QStringList() << none;
        QTest::newRow("cipher at the end") << QByteArrayList{"cipher"} << QStringList() << none;
        QTest::newRow("challenge in three pieces")
            << QByteArrayList{"ciph", "er:" + challenge.left(5), challenge.mid(5)} << QStringList()
            << QByteArrayList{"give you", challenge + char(0x77), "nxxxxx"};
        QTest::newRow("settings reply in two pieces")
            << QByteArrayList{settingsReply(1000, 50, 2, 6).left(20), settingsReply(1000, 50, 2, 6).mid(20)}
            << QStringList{"settings 4660 1000 50 2 6"} << none;

        QTest::newRow("download success, then setting end closes nothing")
            << QByteArrayList{"download success", "setting end"} << QStringList{"download success", "setting end"}
            << QByteArrayList{"upload request"};
        // clang-format on
    }
    // The same replies, in the same order, wherever the stream is cut: as the row's
    // chunks, whole, one byte at a time and cut in two at every place.
    void chunks()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, events);
        QFETCH(QByteArrayList, writes);
        Recorder rec;
        rec.feed(chunks);
        QCOMPARE(rec.events, events);
        QCOMPARE(rec.writes, writes);

        const QByteArray stream = chunks.join();
        QList<QByteArrayList> cuts{{stream}, bytesApart(stream)};
        for (int at = 1; at < stream.size(); ++at)
            cuts << QByteArrayList{stream.left(at), stream.mid(at)};
        for (const QByteArrayList &pieces : cuts) {
            Recorder other;
            other.feed(pieces);
            QCOMPARE(other.events, events);
            QCOMPARE(other.writes, writes);
        }
    }

    // However the link cuts the image, the same 3072 records come out once.
    void uploadPieces_data()
    {
        QTest::addColumn<QList<int>>("cuts");  // offsets where a new piece starts
        const int end = kImageSize - 12;       // where "end of data" starts
        // clang-format off
        QTest::newRow("one piece") << QList<int>{};
        QTest::newRow("inside 'download'") << QList<int>{4};
        QTest::newRow("before the last 'd' of 'download'") << QList<int>{7};
        QTest::newRow("inside the header") << QList<int>{100, 255, 256};
        QTest::newRow("inside 'end of data'") << QList<int>{end + 3};
        QTest::newRow("after 'end'") << QList<int>{end + 1, end + 2, end + 10};
        QTest::newRow("before the trailer") << QList<int>{end, end + 11};
        QList<int> usb;
        for (int at = 64; at < kImageSize; at += 64)
            usb << at;
        QTest::newRow("64-byte pieces") << usb;
        QList<int> odd;
        for (int at = 1; at < kImageSize; at += 997)
            odd << at;
        QTest::newRow("997-byte pieces after one byte") << odd;
        // clang-format on
    }
    void uploadPieces()
    {
        QFETCH(QList<int>, cuts);
        const QByteArray records = sampleRecords();
        const QByteArray image = buildTableImage(records);
        Recorder rec;
        int from = 0;
        for (const int cut : cuts + QList<int>{kImageSize}) {
            rec.dispatcher.feed(image.mid(from, cut - from));
            from = cut;
        }
        QCOMPARE(rec.uploads.size(), 1);
        QVERIFY(isCompleteUpload(rec.uploads[0]));
        QCOMPARE(rec.uploads[0].join(), records);
        QVERIFY(!rec.dispatcher.collector().isCollecting());
    }

    void uploadOneByteAtATime()
    {
        const QByteArray records = sampleRecords();
        const QByteArray image = buildTableImage(records);
        Recorder rec;
        for (int i = 0; i < image.size(); ++i)
            rec.dispatcher.feed(image.mid(i, 1));
        QCOMPARE(rec.uploads.size(), 1);
        QCOMPARE(rec.uploads[0].join(), records);
    }

    // Record bytes go through the keyword tests too: "ok" acts where it stands, "end" does
    // not stop the upload.
    void keywordsInsideRecords()
    {
        const QByteArray records = sampleRecords();
        Recorder rec;
        rec.dispatcher.feed(buildTableImage(records));
        QCOMPARE(rec.events, QStringList({"accepted", "upload 3072"}));
        QCOMPARE(rec.uploads[0].join(), records);
    }

    void uploadsAmongOtherBytes_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<int>("uploads");
        const QByteArray image = buildTableImage(sampleRecords());
        // clang-format off
        QTest::newRow("garbage before the image in its piece") << QByteArrayList{"\x13\x37 junk" + image} << 1;
        QTest::newRow("after download success") << QByteArrayList{"download success", "ok", image} << 1;
        QTest::newRow("a new image restarts the collection")
            << QByteArrayList{image.left(5000), image} << 1;
        QTest::newRow("two images in one piece") << QByteArrayList{image + image} << 2;
        QTest::newRow("image followed by setting end") << QByteArrayList{image + "setting end"} << 1;
        QTest::newRow("end of data inside the header is not the end")
            << QByteArrayList{"download end of data", image} << 1;
        // clang-format on
    }
    void uploadsAmongOtherBytes()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(int, uploads);
        Recorder rec;
        rec.feed(chunks);
        QCOMPARE(rec.uploads.size(), uploads);
        for (const QByteArrayList &groups : rec.uploads)
            QCOMPARE(groups.join(), sampleRecords());
    }

    // Uploads come out the same wherever the stream is cut: whole, one byte at a time, and
    // cut in two at every place (near the markers for long streams).
    void uploadsWhateverTheCuts_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArrayList>("records");  // of each upload, in order
        const QByteArray a = smallUpload("AAAAAAAA"), b = smallUpload("BBBBBBBB");
        // clang-format off
        QTest::newRow("one upload") << a << QByteArrayList{"AAAAAAAA"};
        QTest::newRow("two uploads back to back") << a + b << QByteArrayList{"AAAAAAAA", "BBBBBBBB"};
        QTest::newRow("download inside the records restarts")
            << QByteArray("download").leftJustified(kImageHeaderSize, '\0') + "xxdownload" + b.mid(8)
            << QByteArrayList{"BBBBBBBB"};
        QTest::newRow("download success, then the image") << "download success" + a << QByteArrayList{"AAAAAAAA"};
        QTest::newRow("end of data too early, then the end")
            << QByteArray("download end of data").leftJustified(kImageHeaderSize, '\0') + "AAAAAAAA" + "end of data"
            << QByteArrayList{"AAAAAAAA"};
        const int limit = UploadCollector::kMaxCollected;
        QTest::newRow("start marker across the size limit")
            << QByteArray("download").leftJustified(limit - 4, 'x') + a << QByteArrayList{"AAAAAAAA"};
        QTest::newRow("end marker on the size limit")
            << QByteArray("download").leftJustified(limit - 11, 'x') + "end of data" + a
            << QByteArrayList{QByteArray(limit - 11 - kImageHeaderSize, 'x'), "AAAAAAAA"};
        QTest::newRow("end marker one byte past the size limit")
            << QByteArray("download").leftJustified(limit - 10, 'x') + "end of data" + a << QByteArrayList{"AAAAAAAA"};
        // clang-format on
    }
    void uploadsWhateverTheCuts()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArrayList, records);

        QList<int> places{UploadCollector::kMaxCollected};
        for (const QByteArray &marker : {msg::imageStart, msg::imageEnd})
            for (int at = stream.indexOf(marker); at >= 0; at = stream.indexOf(marker, at + 1))
                places << at;
        QList<int> cuts;
        for (int at = 1; at < stream.size(); ++at) {
            bool near = stream.size() <= 2048;
            for (const int place : places)
                near = near || qAbs(at - place) <= 16;
            if (near)
                cuts << at;
        }
        QList<QByteArrayList> ways{{stream}, bytesApart(stream)};
        for (const int at : cuts)
            ways << QByteArrayList{stream.left(at), stream.mid(at)};
        for (const QByteArrayList &pieces : ways) {
            UploadCollector collector;
            QByteArrayList got;
            for (const QByteArray &piece : pieces) {
                for (const QByteArrayList &groups : collector.feed(piece))
                    got << groups.join();
                QVERIFY(collector.buffer().size() <= UploadCollector::kMaxCollected);
            }
            if (got != records)
                QFAIL(qPrintable(QStringLiteral("%1 pieces, the first of %2 bytes: %3 uploads")
                                     .arg(pieces.size())
                                     .arg(pieces.first().size())
                                     .arg(got.size())));
        }
    }

    // The groups come out as they are; the window decides that they are not a table.
    void uploadOfWrongLength_data()
    {
        QTest::addColumn<int>("recordBytes");
        QTest::addColumn<int>("groups");
        // clang-format off
        QTest::newRow("one record missing") << kRecordAreaSize - 8 << 3071;
        QTest::newRow("three bytes missing") << kRecordAreaSize - 3 << 3072;
        QTest::newRow("one record too many") << kRecordAreaSize + 8 << 3073;
        QTest::newRow("no records") << 0 << 0;
        // clang-format on
    }
    void uploadOfWrongLength()
    {
        QFETCH(int, recordBytes);
        QFETCH(int, groups);
        const QByteArray image = QByteArray("download request").leftJustified(256, '\0')
                                 + QByteArray(recordBytes, '\x01') + "end of data";
        Recorder rec;
        rec.dispatcher.feed(image);
        QCOMPARE(rec.uploads.size(), 1);
        QCOMPARE(rec.uploads[0].size(), groups);
        QVERIFY(!isCompleteUpload(rec.uploads[0]));
    }

    void unfinishedUploads()
    {
        const QByteArray image = buildTableImage(sampleRecords());
        Recorder rec;
        // The box stops half way; nothing comes out, and the next image still does.
        rec.dispatcher.feed(image.left(10000));
        QVERIFY(rec.uploads.isEmpty());
        QVERIFY(rec.dispatcher.collector().isCollecting());
        rec.dispatcher.feed(image);
        QCOMPARE(rec.uploads.size(), 1);

        // A line that babbles after "download" is given up, not stored without end.
        rec.dispatcher.feed("download");
        for (int i = 0; i < 20; ++i)
            rec.dispatcher.feed(QByteArray(4096, 'x'));
        QVERIFY(!rec.dispatcher.collector().isCollecting());
        QVERIFY(rec.dispatcher.collector().buffer().size() <= UploadCollector::kMaxCollected);
        rec.dispatcher.feed(image);
        QCOMPARE(rec.uploads.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
