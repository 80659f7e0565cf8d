// The simulated box's protocol, driven directly: what it answers to what the editor sends,
// in whatever pieces the bytes arrive, and what it stores.

#include "device/core/tableimage.h"
#include "files/core/workbookio.h"
#include "files/core/xlsxdocument.h"
#include "simbox.h"
#include "simboxconfig.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace vl;

namespace {

QByteArray joined(const QList<BoxPiece> &pieces)
{
    QByteArray all;
    for (const BoxPiece &p : pieces)
        all += p.bytes;
    return all;
}

QList<BoxPiece> feed(SimBox &box, const QByteArrayList &chunks)
{
    QList<BoxPiece> out;
    for (const QByteArray &c : chunks)
        out += box.receive(c);
    return out;
}

QByteArray settingsCommand(const char *payloadHex)
{
    return "settingdata" + QByteArray::fromHex(payloadHex) + "setting end";
}

// A table with a few rules spread over it, including bytes that spell keywords.
QByteArray sampleRecords()
{
    QByteArray r(kBoxRecordBytes, '\0');
    r.replace(0, 8, QByteArray::fromHex("B007001400000000"));        // CC 7, channel 1, DMX 1, Enable
    r.replace(8 * 100, 8, QByteArray::fromHex("903CFF3F7F050500"));  // Note 60, DMX 1024, ALL, Toggle, Enable
    r.replace(8 * 3071, 8,
              QByteArray("ok\x10\x10"
                         "end",
                         7)
                  + '\0');  // "ok" and "end" inside a record
    return r;
}

QByteArray imageOf(const QByteArray &records) { return buildBoxImage(records); }

QByteArrayList cutAt(const QByteArray &bytes, QList<int> offsets)
{
    QByteArrayList pieces;
    int from = 0;
    offsets << bytes.size();
    for (int at : offsets) {
        pieces << bytes.mid(from, at - from);
        from = at;
    }
    return pieces;
}

}  // namespace

class TestSimBox : public QObject {
    Q_OBJECT

private slots:
    // The image layout, checked against bytes worked out by hand.
    void imageLayout()
    {
        QByteArray records(kBoxRecordBytes, '\0');
        records[0] = char(0xB0);
        records[1] = char(0x07);
        records[3] = char(0x14);
        records[kBoxRecordBytes - 1] = char(0xFF);  // 0xB0 + 0x07 + 0x14 + 0xFF = 0x01CA
        const QByteArray image = buildBoxImage(records);
        QCOMPARE(image.size(), 24844);
        QCOMPARE(image.left(17), QByteArray("download request", 16) + '\0');
        QCOMPARE(quint8(image[17]), quint8(0xCA));
        QCOMPARE(quint8(image[18]), quint8(0x01));
        QCOMPARE(image.mid(19, 237), QByteArray(237, '\0'));
        QCOMPARE(image.mid(256, 4), QByteArray::fromHex("B0070014"));
        QCOMPARE(image.mid(24832), QByteArray("end of data", 11) + '\0');
        QCOMPARE(boxRuleCount(records), 1);

        QByteArray back;
        QVERIFY(parseBoxImage(image, &back));
        QCOMPARE(back, records);

        // The checksum wraps at 65 536.
        QCOMPARE(boxRecordChecksum(QByteArray(kBoxRecordBytes, char(0xFF))), quint16((24576u * 255u) & 0xFFFF));
    }

    // The example table a newcomer reads first: every rule as the editor can show it.
    void demoTableHoldsWellFormedRules()
    {
        const QByteArray demo = demoBoxRecords();
        QCOMPARE(demo.size(), kBoxRecordBytes);
        QCOMPARE(boxRuleCount(demo), 23);
        QCOMPARE(demo.left(8), QByteArray::fromHex("903C001C00000000"));  // Note 60, ALL, DMX 1, Enable
        for (int r = 0; r < 23; ++r) {
            const QByteArray rec = demo.mid(8 * r, 8);
            const int status = quint8(rec[0]) >> 4;
            const int flags = quint8(rec[2]) | (quint8(rec[3]) << 8);
            QVERIFY2(status >= 9 && status <= 11, qPrintable(QString::number(r)));
            QVERIFY(!(flags & 0xC000) && rec[7] == 0);
            QVERIFY(!(flags & 0x800) || (quint8(rec[0]) & 0x0F) == 0);  // "ALL" carries channel 0
        }
        QCOMPARE(demo.mid(8 * 23), QByteArray(kBoxRecordBytes - 8 * 23, '\0'));
    }

    void requests_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("closeDoor");
        QTest::addColumn<QStringList>("silent");

        // unused, rules in use, break 200, mark-after-break 50, coefficient 0, sleep 3
        const QByteArray settingsReply = "setting request" + QByteArray::fromHex("0000 0000 00c8 0032 0000 0003");
        // clang-format off
        QTest::newRow("greeting") << QByteArrayList{"hello"} << QByteArray("open the door") << false << QStringList();
        QTest::newRow("greeting refused") << QByteArrayList{"hello"} << QByteArray("close the door") << true
                                          << QStringList();
        QTest::newRow("settings reply") << QByteArrayList{"setting request"} << settingsReply << false << QStringList();
        QTest::newRow("keyword split over reads")
            << QByteArrayList{"setting re", "quest", "hel", "lo"} << settingsReply + "open the door" << false
            << QStringList();
        QTest::newRow("two requests in one read")
            << QByteArrayList{"hellosetting request"} << "open the door" + settingsReply << false << QStringList();
        QTest::newRow("junk around requests")
            << QByteArrayList{QByteArray("\x00\xff\x13", 3) + "hexhello", "sss", "\r\nsetting request\n"}
            << "open the door" + settingsReply << false << QStringList();
        QTest::newRow("nothing known") << QByteArrayList{"download", "upload", "settings", "give me", "ok"}
                                       << QByteArray() << false << QStringList();
        QTest::newRow("silent request") << QByteArrayList{"setting request", "hello"} << QByteArray("open the door")
                                        << false << QStringList{"setting request"};
        QTest::newRow("settings command cut short, then a greeting")
            << QByteArrayList{"settingdata" + QByteArray::fromHex("000100eb03e8") + "hello"}
            << QByteArray() << false << QStringList();  // still waiting for 11 more bytes
        QTest::newRow("settings command with a broken tail, then a greeting")
            << QByteArrayList{"settingdata" + QByteArray::fromHex("000100eb03e8") + "setting enXhello"}
            << QByteArray("open the door") << false << QStringList();
        // clang-format on
    }

    void requests()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QByteArray, expected);
        QFETCH(bool, closeDoor);
        QFETCH(QStringList, silent);
        BoxOptions o;
        o.closeDoor = closeDoor;
        o.silent = silent;
        SimBox box(o);
        const QList<BoxPiece> out = feed(box, chunks);
        QCOMPARE(joined(out), expected);
        for (const BoxPiece &p : out)
            QCOMPARE(p.delayMs, o.messageGapMs);  // every answer its own write, after a gap
    }

    void settingsCommands_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("breakTime");
        QTest::addColumn<int>("markAfterBreak");
        QTest::addColumn<int>("coefficientCode");
        QTest::addColumn<int>("sleepCode");

        // The box starts at 200, 50, 0, 3.
        // clang-format off
        QTest::newRow("break 1000 us") << settingsCommand("000100eb03e8") << true << 1000 << 50 << 0 << 3;
        QTest::newRow("mark-after-break 50 us") << settingsCommand("000200320032") << true << 200 << 50 << 0 << 3;
        QTest::newRow("mark-after-break 510 us") << settingsCommand("000200ff01fe") << true << 200 << 510 << 0 << 3;
        QTest::newRow("coefficient 2.01") << settingsCommand("000300020002") << true << 200 << 50 << 2 << 3;
        QTest::newRow("sleep 60 s") << settingsCommand("000500060006") << true << 200 << 50 << 0 << 6;
        QTest::newRow("wrong check value") << settingsCommand("000100ea03e8") << false << 200 << 50 << 0 << 3;
        QTest::newRow("nonzero first byte") << settingsCommand("010100eb03e8") << false << 200 << 50 << 0 << 3;
        QTest::newRow("break too short") << settingsCommand("000100280028") << false << 200 << 50 << 0 << 3;
        QTest::newRow("coefficient 6") << settingsCommand("000300060006") << false << 200 << 50 << 0 << 3;
        QTest::newRow("sleep 0") << settingsCommand("000500000000") << false << 200 << 50 << 0 << 3;
        QTest::newRow("unknown setting") << settingsCommand("000900010001") << false << 200 << 50 << 0 << 3;
        QTest::newRow("reset with value 2") << settingsCommand("000400020002") << false << 200 << 50 << 0 << 3;
        // clang-format on
    }

    // A command changes what the next settings reply says, and only a valid one is answered.
    void settingsCommands()
    {
        QFETCH(QByteArray, command);
        QFETCH(bool, answered);
        QFETCH(int, breakTime);
        QFETCH(int, markAfterBreak);
        QFETCH(int, coefficientCode);
        QFETCH(int, sleepCode);
        SimBox box;
        // The editor writes the keyword, the payload and the tail separately.
        QCOMPARE(joined(feed(box, cutAt(command, {11, 17}))), answered ? QByteArray("setting end") : QByteArray());
        const QByteArray reply = joined(box.receive("setting request"));
        QCOMPARE(reply.size(), kBoxSettingsReplySize);
        auto at = [&reply](int i) { return (quint8(reply[i]) << 8) | quint8(reply[i + 1]); };
        QCOMPARE(at(19), breakTime);
        QCOMPARE(at(21), markAfterBreak);
        QCOMPARE(at(23), coefficientCode);
        QCOMPARE(at(25), sleepCode);
        QCOMPARE(box.idleTimeoutMs(), -1);  // nothing left half-read
    }

    void factoryResetEmptiesTheTableAndRestoresSettings()
    {
        SimBox box;
        box.setRecords(sampleRecords());
        box.setSettings({1000, 510, 5, 6});
        const int revision = box.tableRevision();
        // As the editor frames it: keyword and payload in one write, then the tail.
        const QList<BoxPiece> out = feed(box, {"settingdata" + QByteArray::fromHex("000400010001"), "setting end"});
        QCOMPARE(joined(out), QByteArray("setting end"));
        QCOMPARE(box.settings(), BoxSettings());
        QCOMPARE(box.records(), QByteArray(kBoxRecordBytes, '\0'));
        QVERIFY(box.tableRevision() > revision);
        // The editor asks for the table after "setting end": it comes back empty.
        QCOMPARE(joined(box.receive("upload request")), imageOf(QByteArray(kBoxRecordBytes, '\0')));
    }

    void downloads_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<bool>("stored");

        const QByteArray image = imageOf(sampleRecords());
        QList<int> pieces256;
        for (int at = 256; at < image.size(); at += 256)
            pieces256 << at;
        // clang-format off
        QTest::newRow("256-byte pieces") << cutAt(image, pieces256) << true;
        QTest::newRow("one piece") << QByteArrayList{image} << true;
        QTest::newRow("split inside \"download request\"") << cutAt(image, {1, 8, 15}) << true;
        QTest::newRow("split after the checksum's low byte") << cutAt(image, {18}) << true;
        QTest::newRow("split inside \"end of data\"") << cutAt(image, {24833, 24836, 24843}) << true;
        QTest::newRow("junk before the image") << QByteArrayList{"\x01garbage\xfe", image} << true;
        QTest::newRow("image followed by a greeting") << QByteArrayList{image + "hello"} << true;

        QByteArray badSum = image;
        badSum[17] = char(quint8(badSum[17]) ^ 1);
        QTest::newRow("wrong checksum") << QByteArrayList{badSum} << false;
        QByteArray changedRecord = image;
        changedRecord[256 + 9] = char(quint8(changedRecord[256 + 9]) + 1);
        QTest::newRow("record changed in transit") << QByteArrayList{changedRecord} << false;
        QByteArray badTrailer = image;
        badTrailer[24840] = 'X';
        QTest::newRow("broken \"end of data\"") << QByteArrayList{badTrailer} << false;
        QByteArray badHeader = image;
        badHeader[16] = 'x';
        QTest::newRow("no zero after the header keyword") << QByteArrayList{badHeader} << false;
        // clang-format on
    }

    void downloads()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(bool, stored);
        SimBox box;
        const QList<BoxPiece> out = feed(box, chunks);
        const bool greeted = chunks.last().endsWith("hello");
        QCOMPARE(joined(out), QByteArray(stored ? "download success" : "") + (greeted ? "open the door" : ""));
        QCOMPARE(box.records(), stored ? sampleRecords() : QByteArray(kBoxRecordBytes, '\0'));
        QCOMPARE(box.tableRevision(), stored ? 1 : 0);
        QCOMPARE(box.idleTimeoutMs(), -1);
    }

    // A download cut off by the editor waits, is dropped once the line stays quiet, and
    // does not swallow what comes after.
    void incompleteDownloadIsDroppedWhenTheLineGoesQuiet()
    {
        SimBox box;
        const QByteArray image = imageOf(sampleRecords());
        QVERIFY(box.receive(image.left(5000)).isEmpty());
        QVERIFY(box.idleTimeoutMs() > 0);
        box.idle();
        QCOMPARE(box.idleTimeoutMs(), -1);
        QCOMPARE(joined(box.receive("hello")), QByteArray("open the door"));
        QCOMPARE(box.tableRevision(), 0);

        // Closing the port forgets half a message too.
        QVERIFY(box.receive(image.left(300)).isEmpty());
        box.lineClosed();
        QCOMPARE(joined(box.receive("hello")), QByteArray("open the door"));
    }

    void uploads_data()
    {
        QTest::addColumn<int>("chunkSize");
        QTest::addColumn<QList<int>>("splitAt");
        QTest::addColumn<int>("vanishAfter");
        QTest::addColumn<QList<int>>("expectedCuts");  // offsets where a new piece starts

        QList<int> every64;
        for (int at = 64; at < kBoxImageSize; at += 64)
            every64 << at;
        // clang-format off
        QTest::newRow("64-byte packets") << 64 << QList<int>() << -1 << every64;
        QTest::newRow("split inside both markers")
            << 30000 << QList<int>{8, 24836, 8} << -1 << QList<int>{8, 24836};
        QTest::newRow("split at the records") << 10000 << QList<int>{256} << -1 << QList<int>{256, 10000, 20000};
        QTest::newRow("vanish inside the records") << 4096 << QList<int>{5000} << 6000 << QList<int>{4096, 5000};
        QTest::newRow("vanish inside \"end of data\"") << 30000 << QList<int>() << 24838 << QList<int>();
        // clang-format on
    }

    void uploads()
    {
        QFETCH(int, chunkSize);
        QFETCH(QList<int>, splitAt);
        QFETCH(int, vanishAfter);
        QFETCH(QList<int>, expectedCuts);
        BoxOptions o;
        o.chunkSize = chunkSize;
        o.splitAt = splitAt;
        o.vanishAfter = vanishAfter;
        SimBox box(o);
        box.setRecords(sampleRecords());
        const QList<BoxPiece> out = box.receive("upload request");
        const QByteArray image = imageOf(sampleRecords());
        QCOMPARE(joined(out), vanishAfter < 0 ? image : image.left(vanishAfter));

        QList<int> cuts;
        int at = 0;
        for (int i = 0; i < out.size(); ++i) {
            QCOMPARE(out[i].delayMs, i == 0 ? o.messageGapMs : o.piecePauseMs);
            QCOMPARE(out[i].vanishAfter, vanishAfter >= 0 && i == out.size() - 1);
            if (i > 0)
                cuts << at;
            at += out[i].bytes.size();
        }
        QCOMPARE(cuts, expectedCuts);

        // The box vanishes only once; a second upload (if it still ran) would be whole.
        if (vanishAfter >= 0)
            QCOMPARE(joined(box.receive("upload request")), image);
    }

    void garbageGoesBetweenMessagesNotIntoThem()
    {
        BoxOptions o;
        o.garbage = true;
        o.chunkSize = 1000;
        SimBox box(o);
        box.setRecords(sampleRecords());
        const QList<BoxPiece> greeting = box.receive("hello");
        QCOMPARE(greeting.size(), 2);
        QCOMPARE(greeting[1].bytes, QByteArray("open the door"));
        QVERIFY(!greeting[0].bytes.isEmpty());
        for (const char c : greeting[0].bytes)
            QVERIFY(quint8(c) >= 0x80);  // junk never spells a keyword

        const QList<BoxPiece> upload = box.receive("upload request");
        QCOMPARE(upload.size(), 1 + 25);
        QVERIFY(quint8(upload[0].bytes[0]) >= 0x80);
        QByteArray image;
        for (int i = 1; i < upload.size(); ++i)
            image += upload[i].bytes;
        QCOMPARE(image, imageOf(sampleRecords()));
    }

    void challenge_data()
    {
        QTest::addColumn<int>("mangle");  // -1: the right answer; else the answer byte to change
        QTest::addColumn<bool>("accepted");
        // clang-format off
        QTest::newRow("right answer") << -1 << true;
        QTest::newRow("first byte wrong") << 0 << false;
        QTest::newRow("17th byte not the 8th") << 16 << false;
        // clang-format on
    }

    void challenge()
    {
        QFETCH(int, mangle);
        QFETCH(bool, accepted);
        BoxOptions o;
        o.cipher = true;
        o.cipherRequired = true;
        o.seed = 99;
        SimBox box(o);
        QStringList log;
        box.setLogger([&log](const QString &line, bool) { log << line; });

        const QList<BoxPiece> greeting = box.receive("hello");
        QCOMPARE(greeting.size(), 2);  // separate writes: the editor acts on one keyword per read
        QCOMPARE(greeting[0].bytes, QByteArray("open the door"));
        QCOMPARE(greeting[1].bytes.size(), 6 + 1 + 16);
        QVERIFY(greeting[1].bytes.startsWith("cipher"));
        const QByteArray challenge = greeting[1].bytes.mid(7);
        QCOMPARE(box.challenge(), challenge);

        QVERIFY(box.receive("setting request").isEmpty());  // refused until answered

        QByteArray answer = challenge + challenge[7];
        if (mangle >= 0)
            answer[mangle] = char(answer[mangle] ^ 0x5A);
        // Three writes, as the editor sends them.
        QCOMPARE(joined(feed(box, {"give you", answer, "nxxxxx"})), QByteArray(accepted ? "ok" : ""));
        QCOMPARE(box.authenticated(), accepted);
        QVERIFY(log.contains(accepted ? "challenge answered correctly" : "challenge answered WRONGLY"));
        QCOMPARE(joined(box.receive("setting request")).size(), accepted ? kBoxSettingsReplySize : 0);

        // A new greeting asks again.
        box.receive("hello");
        QVERIFY(!box.authenticated());
    }

    void upgradeMode()
    {
        BoxOptions o;
        o.upgradeMode = true;
        o.eraseMs = 250;
        SimBox box(o);
        QVERIFY(box.receive("hello").isEmpty());  // the bootloader knows only its commands
        QCOMPARE(joined(box.receive(QByteArray::fromHex("aacc0200010d0a"))), QByteArray("KVR-9000\r\n"));
        QCOMPARE(joined(feed(box, {QByteArray::fromHex("aacc02"), QByteArray::fromHex("00030d0a")})),
                 QByteArray::fromHex("aacc06") + "V1.0.3\r\n");

        const QList<BoxPiece> erased = box.receive(QByteArray::fromHex("aacc0200020d0a"));
        QCOMPARE(erased.size(), 1);
        QCOMPARE(erased[0].bytes, QByteArray("ERASE END"));
        QCOMPARE(erased[0].delayMs, 250);

        // Firmware pieces, even ones that look like commands, until the line goes quiet.
        QByteArray firmware;
        for (int i = 0; i < 100; ++i)
            firmware += QByteArray(64, char(i));
        firmware += QByteArray::fromHex("aacc0200010d0a");
        QCOMPARE(box.idleTimeoutMs(), -1);
        for (int at = 0; at < firmware.size(); at += 64)
            QVERIFY(box.receive(firmware.mid(at, 64)).isEmpty());
        QVERIFY(box.idleTimeoutMs() > 0);
        box.idle();
        QCOMPARE(box.firmware(), firmware);
        QCOMPARE(box.firmwarePieces().size(), 101);
        QCOMPARE(box.firmwarePieces().last(), 7);
        QCOMPARE(box.firmwareRevision(), 1);
        QCOMPARE(joined(box.receive(QByteArray::fromHex("aacc0200010d0a"))), QByteArray("KVR-9000\r\n"));
    }

    // With an expected image the box says whether what it received is exactly that.
    void firmwareComparedWithTheExpectedImage_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("logged");
        const QByteArray expected(1000, 'f');
        QByteArray changed = expected;
        changed[700] = 'g';
        // clang-format off
        QTest::newRow("same") << expected << int(SimBox::FirmwareCheck::Matches) << "firmware matches";
        QTest::newRow("one byte differs") << changed << int(SimBox::FirmwareCheck::Differs) << "at byte 700";
        QTest::newRow("cut short") << expected.left(640) << int(SimBox::FirmwareCheck::Differs)
                                   << "640 bytes received, 1000 expected";
        // clang-format on
    }
    void firmwareComparedWithTheExpectedImage()
    {
        QFETCH(QByteArray, received);
        QFETCH(int, outcome);
        QFETCH(QString, logged);
        BoxOptions o;
        o.upgradeMode = true;
        SimBox box(o);
        QStringList important;
        box.setLogger([&](const QString &line, bool isImportant) {
            if (isImportant)
                important << line;
        });
        box.setExpectedFirmware(QByteArray(1000, 'f'));
        box.receive(QByteArray::fromHex("aacc0200020d0a"));
        for (int at = 0; at < received.size(); at += 64)
            box.receive(received.mid(at, 64));
        QCOMPARE(int(box.lastFirmwareCheck()), int(SimBox::FirmwareCheck::NotChecked));
        box.lineClosed();
        QCOMPARE(int(box.lastFirmwareCheck()), outcome);
        QVERIFY2(important.last().contains(logged), qPrintable(important.join('|')));
    }

    // Whatever arrives, the box neither crashes nor keeps more than one message waiting.
    void survivesRandomBytes()
    {
        QRandomGenerator rng(12345);
        const QByteArrayList words = {"hello",
                                      "setting request",
                                      "upload request",
                                      "download request",
                                      "settingdata",
                                      "setting end",
                                      "give you",
                                      "nxxxxx",
                                      QByteArray::fromHex("aacc0200")};
        for (const bool upgrade : {false, true}) {
            BoxOptions o;
            o.upgradeMode = upgrade;
            o.cipher = true;
            SimBox box(o);
            for (int round = 0; round < 3000; ++round) {
                QByteArray chunk;
                const int parts = rng.bounded(1, 6);
                for (int i = 0; i < parts; ++i) {
                    if (rng.bounded(2)) {
                        const QByteArray &w = words[rng.bounded(words.size())];
                        chunk += w.mid(rng.bounded(w.size()));
                    } else {
                        for (int n = rng.bounded(1, 40); n > 0; --n)
                            chunk += char(rng.bounded(256));
                    }
                }
                for (const BoxPiece &p : box.receive(chunk))
                    QVERIFY(p.bytes.size() <= kBoxImageSize);
                if (rng.bounded(50) == 0)
                    box.idle();
            }
        }
    }

    void arguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        // clang-format off
        QTest::newRow("none") << QStringList() << true;
        QTest::newRow("everything") << QStringList{"--settings", "110,70,2,6", "--close-door", "--cipher", "--garbage",
                                                   "--chunk-size", "100", "--split-at", "10,24836", "--silent",
                                                   "upload request,hello", "--vanish-after", "5000", "--seed", "3",
                                                   "--usb-id", "1209:abcd", "-v"}
                                    << true;
        QTest::newRow("settings missing one") << QStringList{"--settings", "200,50,0"} << false;
        QTest::newRow("settings not numbers") << QStringList{"--settings", "a,b,c,d"} << false;
        QTest::newRow("coefficient out of range") << QStringList{"--settings", "200,50,6,3"} << false;
        QTest::newRow("sleep 0") << QStringList{"--settings", "200,50,0,0"} << false;
        QTest::newRow("chunk size 0") << QStringList{"--chunk-size", "0"} << false;
        QTest::newRow("split beyond the image") << QStringList{"--split-at", "24844"} << false;
        QTest::newRow("unknown request") << QStringList{"--silent", "goodbye"} << false;
        QTest::newRow("bad usb id") << QStringList{"--usb-id", "xyz"} << false;
        QTest::newRow("description of two lines") << QStringList{"--description", "Nemora\nport=/dev/null"} << false;
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << false;
        QTest::newRow("stray argument") << QStringList{"table.bin"} << false;
        QTest::newRow("demo and a table") << QStringList{"--demo", "--table", "t.bin"} << false;
        // clang-format on
    }

    void arguments()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        SimBoxConfig c;
        QString error;
        QCOMPARE(parseSimBoxArguments(QStringList{"varilume-simbox"} + args, &c, &error), ok);
        QCOMPARE(error.isEmpty(), ok);
        if (ok && !args.isEmpty()) {
            QCOMPARE(c.settings, (BoxSettings{110, 70, 2, 6}));
            QVERIFY(c.box.closeDoor && c.box.cipher && c.box.garbage && c.verbose);
            QCOMPARE(c.box.chunkSize, 100);
            QCOMPARE(c.box.splitAt, (QList<int>{10, 24836}));
            QCOMPARE(c.box.silent, (QStringList{"upload request", "hello"}));
            QCOMPARE(c.box.vanishAfter, qint64(5000));
            QCOMPARE(c.productId, quint16(0xabcd));
            QCOMPARE(c.description, QString("Nemora KVR-9000"));
        }
    }

    void upgradeModeAnnouncesWithoutTheMakersName()
    {
        SimBoxConfig c;
        QVERIFY(parseSimBoxArguments({"varilume-simbox", "--upgrade"}, &c, nullptr));
        QVERIFY(c.box.upgradeMode);
        QVERIFY(!c.description.contains("Nemora"));
        QVERIFY(c.productId != kSimBoxProductId);
        QVERIFY(parseSimBoxArguments({"varilume-simbox", "--upgrade", "--expect-firmware", "fw.bin"}, &c, nullptr));
        QCOMPARE(c.expectFirmware, QString("fw.bin"));
    }

    void tableFiles()
    {
        QTemporaryDir dir;
        auto write = [&dir](const QString &name, const QByteArray &bytes) {
            QFile f(dir.filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write(bytes);
            return f.fileName();
        };
        QByteArray records;
        QString error;
        QVERIFY(loadBoxTable(write("good.bin", imageOf(sampleRecords())), &records, &error));
        QCOMPARE(records, sampleRecords());
        QVERIFY(!loadBoxTable(write("long.bin", imageOf(sampleRecords()) + "x"), &records, &error));
        QVERIFY(!loadBoxTable(write("short.bin", imageOf(sampleRecords()).left(1000)), &records, &error));
        QVERIFY(!loadBoxTable(dir.filePath("missing.bin"), &records, &error));
        QVERIFY(!loadBoxTable(write("table.xlsx", "PK"), &records, &error));
        QVERIFY(error.contains("table.xlsx"));
    }

    // A rule written as the editor shows it, in the box's record, worked out by hand.
    void recordsFromTexts_data()
    {
        QTest::addColumn<QStringList>("cells");  // DMX … Enable
        QTest::addColumn<QByteArray>("record");  // empty: refused
        // clang-format off
        QTest::newRow("CC 7, channel 1, DMX 1, enabled")
            << QStringList{"1", "CC", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON"}
            << QByteArray::fromHex("B007001400000000");
        QTest::newRow("Note on all channels, DMX 1024 with an alias, toggling, off")
            << QStringList{"1024-Back", "Note", "60 / C4", "ALL", "255", "OFF", "OFF", "ON", "OFF"}
            << QByteArray::fromHex("903CFF3BFF000000");
        QTest::newRow("after-touch on channel 16: fade in before fade out in the record")
            << QStringList{"513", "AT", "127", "16", "OFF", "5", "50", "OFF", ""}
            << QByteArray::fromHex("AF7F001200320500");
        QTest::newRow("an empty Toggle: no rule")
            << QStringList{"1", "CC", "7", "1", "OFF", "OFF", "OFF", "", "ON"} << QByteArray(8, '\0');
        QTest::newRow("DMX 1025") << QStringList{"1025", "CC", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON"}
                                  << QByteArray();
        QTest::newRow("fade of 51") << QStringList{"1", "CC", "7", "1", "OFF", "51", "OFF", "OFF", "ON"}
                                    << QByteArray();
        QTest::newRow("status PB") << QStringList{"1", "PB", "7", "1", "OFF", "OFF", "OFF", "OFF", "ON"}
                                   << QByteArray();
        QTest::newRow("channel 0") << QStringList{"1", "CC", "7", "0", "OFF", "OFF", "OFF", "OFF", "ON"}
                                   << QByteArray();
        // clang-format on
    }
    void recordsFromTexts()
    {
        QFETCH(QStringList, cells);
        QFETCH(QByteArray, record);
        QList<QStringList> rows;
        for (int r = 0; r < kBoxRules; ++r)
            rows << QStringList{QString::number(r + 1)};
        rows[2] = QStringList{"3"} + cells;
        QByteArray records;
        QString error;
        const bool ok = boxRecordsFromTexts(rows, &records, &error);
        QCOMPARE(ok, !record.isEmpty());
        if (!ok) {
            QVERIFY2(error.startsWith("Row 3, column"), qPrintable(error));
            return;
        }
        QCOMPARE(records.size(), kBoxRecordBytes);
        QCOMPARE(records.mid(16, 8), record);
        QCOMPARE(records.left(16) + records.mid(24), QByteArray(kBoxRecordBytes - 8, '\0'));

        // The box needs every row; rows after the 3072nd are not the box's.
        QVERIFY(!boxRecordsFromTexts(rows.mid(1), &records, &error));
        QVERIFY2(error.contains("3071 rows"), qPrintable(error));
        rows << (QStringList{"3073"} + QStringList{"1", "PB"});
        QVERIFY(boxRecordsFromTexts(rows, &records, &error));
    }

    // A workbook start table is what the editor's Set would send after opening it: the
    // box's codec and the editor's agree.
    void workbookTables()
    {
        QTemporaryDir dir;
        RuleModel rules;
        rules.setRowCount(kRuleRows);
        for (int r = 0; r < kRuleRows; ++r) {
            rules.setText(r, ColSn, QString::number(r + 1));
            if (r % 3)
                continue;  // rows without a rule between the rules
            const QStringList cells = {QString::number(r % 1024 + 1),
                                       r % 2 ? "CC" : "Note",
                                       QString::number(r % 128),
                                       r % 5 ? QString::number(r % 16 + 1) : "ALL",
                                       r % 7 ? "OFF" : "200",
                                       QString::number(r % 50 + 1),
                                       "OFF",
                                       r % 4 ? "ON" : "OFF",
                                       "ON"};
            for (int c = 0; c < cells.size(); ++c)
                rules.setText(r, ColDmx + c, cells[c]);
        }
        const auto save = [&rules](const QString &path) {
            RemarkModel remarks;
            xlsx::Document doc;
            fillRuleWorkbook(doc, rules, remarks);
            return doc.saveAs(path);
        };
        QVERIFY(save(dir.filePath("show.xlsx")));
        QByteArray records;
        QString error;
        QVERIFY2(loadBoxTable(dir.filePath("show.xlsx"), &records, &error), qPrintable(error));
        QCOMPARE(records, encodeTableImage(rules).mid(kImageHeaderSize, kRecordAreaSize));

        rules.setText(6, ColDmx, "1025");  // Set refuses it, and so does the box
        QVERIFY(save(dir.filePath("bad.xlsx")));
        QVERIFY(!loadBoxTable(dir.filePath("bad.xlsx"), &records, &error));
        QVERIFY2(error.contains("Row 7"), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestSimBox)
#include "tst_simbox.moc"
