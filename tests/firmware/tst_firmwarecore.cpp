// The widget-free firmware pieces: the progress rule and when a transfer ends with the
// success message, the pacing against a port that is slow to take the bytes, transfers
// that end early, the image checks, same-version file names, the information file and the
// update check's guarded downloads.

#include "common/core/scheduler.h"
#include "firmware/core/firmwarecheck.h"
#include "firmware/core/firmwaretransfer.h"

#include "httpserver.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QtTest>

using namespace vl;
using namespace vl::firmware;
using vl::test::HttpTestServer;

namespace {

// A port that records what it is given. After each piece `holdBytes` stay unsent until
// the test lets them go; it can refuse writes or be gone.
struct FakeLine final : FirmwareLine {
    explicit FakeLine(ManualScheduler &c) : clock(c) {}
    bool writePiece(const QByteArray &piece) override
    {
        if (refuse)
            return false;
        pieces << piece;
        writtenAt << clock.nowMs();
        notSent += holdBytes;
        return true;
    }
    qint64 bytesNotSent() const override { return notSent; }
    bool isGone() const override { return gone; }
    QString errorText() const override { return QStringLiteral("No space left on device"); }

    ManualScheduler &clock;
    QList<QByteArray> pieces;
    QList<qint64> writtenAt;
    qint64 holdBytes = 0;
    qint64 notSent = 0;
    bool refuse = false;
    bool gone = false;
};

QByteArray image(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 256) & 0xFF);
    return bytes;
}

}  // namespace

class TestFirmwareCore : public QObject {
    Q_OBJECT

    ManualScheduler clock;

private slots:
    void init() { installScheduler(&clock); }
    void cleanup() { installScheduler(nullptr); }

    void progressRule_data()
    {
        QTest::addColumn<qint64>("sent");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("shown");
        // clang-format off
        QTest::newRow("nothing yet") << qint64(0) << qint64(100000) << 0;
        QTest::newRow("truncated") << qint64(64) << qint64(100000) << 0;
        QTest::newRow("half") << qint64(50048) << qint64(100000) << 50;
        QTest::newRow("98 % exactly stays 98") << qint64(3136) << qint64(3200) << 98;
        QTest::newRow("just above 98 % shows 100") << qint64(98001) << qint64(100000) << 100;
        QTest::newRow("before the last piece of 100 000") << qint64(99968) << qint64(100000) << 100;
        QTest::newRow("all") << qint64(100000) << qint64(100000) << 100;
        QTest::newRow("no image") << qint64(0) << qint64(0) << 0;
        // clang-format on
    }
    void progressRule()
    {
        QFETCH(qint64, sent);
        QFETCH(qint64, size);
        QFETCH(int, shown);
        QCOMPARE(firmware::progressRule(sent, size), shown);
    }

    // The success message follows the rule: it needs 100 before the last piece, which an
    // image of one piece, or one whose last piece is 2 % of it or more, never reaches. The
    // bar shows 100 only once the last byte is out, never while pieces remain.
    void whenATransferReachesHundred_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<bool>("hundred");
        // clang-format off
        QTest::newRow("one piece") << 64 << 1 << false;
        QTest::newRow("last piece exactly 2 %") << 3200 << 50 << false;
        QTest::newRow("last piece one byte") << 3201 << 51 << true;
        QTest::newRow("100 000 bytes") << 100000 << 1563 << true;
        // clang-format on
    }
    void whenATransferReachesHundred()
    {
        QFETCH(int, size);
        QFETCH(int, pieces);
        QFETCH(bool, hundred);
        FakeLine line(clock);
        FirmwareTransfer transfer(line);
        QList<int> shown;
        connect(&transfer, &FirmwareTransfer::progressChanged, [&](int p) { shown << p; });
        QSignalSpy finished(&transfer, &FirmwareTransfer::finished);
        const QByteArray sent = image(size);
        transfer.start(sent);
        while (clock.advanceToNext()) {
        }
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), hundred);
        QCOMPARE(line.pieces.size(), pieces);
        QCOMPARE(line.pieces.join(), sent);
        QCOMPARE(line.pieces.last().size(), size % 64 == 0 ? 64 : size % 64);
        for (int i = 1; i < line.writtenAt.size(); ++i)
            QCOMPARE(line.writtenAt[i] - line.writtenAt[i - 1], qint64(10));
        QCOMPARE(shown.count(100), hundred ? 1 : 0);
        if (hundred)
            QCOMPARE(shown.last(), 100);
    }

    // A port that takes each piece only after 25 ms holds the next one back, and the end
    // (and the bar's 100) waits for the last bytes to leave.
    void slowPortHoldsPiecesBack()
    {
        FakeLine line(clock);
        line.holdBytes = 64;
        FirmwareTransfer transfer(line);
        QList<QPair<int, qint64>> shown;
        connect(&transfer, &FirmwareTransfer::progressChanged, [&](int p) { shown << qMakePair(p, clock.nowMs()); });
        QSignalSpy finished(&transfer, &FirmwareTransfer::finished);
        transfer.start(image(64 * 60 + 1));
        for (int ms = 0; ms < 5000 && finished.isEmpty(); ++ms) {
            if (line.notSent > 0 && clock.nowMs() - line.writtenAt.last() >= 25)
                line.notSent = 0;
            clock.advance(1);
        }
        QCOMPARE(finished.count(), 1);
        QCOMPARE(line.pieces.size(), 61);
        for (int i = 1; i < line.writtenAt.size(); ++i)
            QVERIFY2(line.writtenAt[i] - line.writtenAt[i - 1] >= 25, qPrintable(QString::number(i)));
        // 100 once, at the end, after the last piece had left.
        QCOMPARE(std::count_if(shown.begin(), shown.end(), [](const auto &s) { return s.first == 100; }), 1);
        QCOMPARE(shown.last().first, 100);
        QVERIFY(shown.last().second >= line.writtenAt.last() + 25);
    }

    // Ending early happens once, writes nothing more and leaves no timer running.
    void transfersThatEndEarly_data()
    {
        QTest::addColumn<int>("fault");  // 0 write refused, 1 device gone, 2 port takes nothing, 3 link reports loss
        QTest::addColumn<FirmwareTransfer::Failure>("failure");
        // clang-format off
        QTest::newRow("write refused") << 0 << FirmwareTransfer::Failure::WriteFailed;
        QTest::newRow("device gone") << 1 << FirmwareTransfer::Failure::LineLost;
        QTest::newRow("port takes nothing") << 2 << FirmwareTransfer::Failure::Stalled;
        QTest::newRow("link reports the loss") << 3 << FirmwareTransfer::Failure::LineLost;
        // clang-format on
    }
    void transfersThatEndEarly()
    {
        QFETCH(int, fault);
        QFETCH(FirmwareTransfer::Failure, failure);
        FakeLine line(clock);
        FirmwareTransfer transfer(line);
        QSignalSpy failed(&transfer, &FirmwareTransfer::failed);
        QSignalSpy finished(&transfer, &FirmwareTransfer::finished);
        transfer.start(image(64 * 100));
        clock.advance(30);
        QCOMPARE(line.pieces.size(), 4);
        switch (fault) {
        case 0: line.refuse = true; break;
        case 1: line.gone = true; break;
        case 2: line.notSent = 10; break;
        case 3: transfer.lineLost(); break;
        }
        clock.advance(fault == 2 ? firmware::kStallMs + 20 : 10);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).value<FirmwareTransfer::Failure>(), failure);
        QCOMPARE(transfer.state(), FirmwareTransfer::State::Failed);
        QVERIFY(transfer.errorText().contains("256 of 6400 bytes"));
        // Nothing more: no piece, no second report, no timer left.
        line.refuse = line.gone = false;
        line.notSent = 0;
        QCOMPARE(clock.activeTimerCount(), 0);
        clock.advance(10000);
        transfer.lineLost();
        QCOMPARE(line.pieces.size(), 4);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(finished.count(), 0);
    }

    void imageChecks_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("problem");
        // clang-format off
        QTest::newRow("empty") << qint64(0) << "The firmware file fw.bin is empty. Nothing was sent to the device.";
        QTest::newRow("one byte") << qint64(1) << QString();
        QTest::newRow("2 MiB") << (qint64(2) << 20) << QString();
        QTest::newRow("one byte over 2 MiB")
            << (qint64(2) << 20) + 1
            << "The firmware file fw.bin is larger than 2 MiB and cannot be the device's firmware. Nothing was sent "
               "to the device.";
        // clang-format on
    }
    void imageChecks()
    {
        QFETCH(qint64, size);
        QFETCH(QString, problem);
        QCOMPARE(imageProblem(size, "fw.bin"), problem);
    }

    void sameVersionFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("same");
        // clang-format off
        QTest::newRow("model, version, .bin") << "/tmp/x/KVR-9000_V1.0.3.bin" << true;
        QTest::newRow("any last extension") << "KVR-9000_V1.0.3.hex" << true;
        QTest::newRow("other version") << "/tmp/KVR-9000_V1.0.4.bin" << false;
        QTest::newRow("two extensions") << "KVR-9000_V1.0.3.bin.bak" << false;
        // Without an extension the version's last part is taken for one.
        QTest::newRow("no extension") << "KVR-9000_V1.0.3" << false;
        QTest::newRow("case counts") << "kvr-9000_V1.0.3.bin" << false;
        // clang-format on
    }
    void sameVersionFiles()
    {
        QFETCH(QString, path);
        QFETCH(bool, same);
        QCOMPARE(isSameVersionFile(path, "KVR-9000", "V1.0.3"), same);
    }

    void informationFiles_data()
    {
        QTest::addColumn<QString>("boxVersion");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("release");
        QTest::addColumn<bool>("offered");
        // clang-format off
        QTest::newRow("10 > 3") << "V1.0.3" << "KVR-9000_V1.0.10;\nUpdate content:\nx" << "KVR-9000_V1.0.10" << true;
        QTest::newRow("1.2 equals 1.2.0") << "V1.2" << "KVR-9000_V1.2.0;" << "KVR-9000_V1.2.0" << false;
        QTest::newRow("older") << "V2.0" << "KVR-9000_V1.9.9;" << "KVR-9000_V1.9.9" << false;
        QTest::newRow("leading blank line") << "V1.0.3" << "\nKVR-9000_V9.0;" << "" << false;
        QTest::newRow("no semicolon") << "V1.0.3" << "KVR-9000_V9.0\n" << "" << false;
        QTest::newRow("not digits and dots") << "V1.0.3" << "KVR-9000_V9.x;" << "" << false;
        QTest::newRow("empty part") << "V1.0.3" << "KVR-9000_V9..1;" << "" << false;
        QTest::newRow("other model") << "V1.0.3" << "KVR-8000_V9.0;" << "" << false;
        QTest::newRow("box version without V") << "1.0.3" << "KVR-9000_V0.1;" << "KVR-9000_V0.1" << true;
        // clang-format on
    }
    void informationFiles()
    {
        QFETCH(QString, boxVersion);
        QFETCH(QString, text);
        QFETCH(QString, release);
        QFETCH(bool, offered);
        const update::ReleaseText parsed = parseFirmwareInfo(text);
        QCOMPARE(parsed.releaseName, release);
        QCOMPARE(isNewerFirmware(boxVersion, parsed), offered);
    }

    void offerText()
    {
        const update::ReleaseText release = parseFirmwareInfo(
            "KVR-9000_V1.0.10;\r\nUpdate content:\n1. Faster fades\n");
        QCOMPARE(updateOfferText("V1.0.3", release),
                 QString("The current version is KVR-9000_V1.0.3\nA new version is available: KVR-9000_V1.0.10\n\n"
                         "Update Content:\n1. Faster fades\n"));
        QCOMPARE(firmwarePath(release.releaseName), QString("/download/Product/KVR-9000/Update/KVR-9000_V1.0.10.bin"));
    }

    // What the update server sends is untrusted: an image far over the bound is stopped
    // without being kept, a wrong checksum refuses the image, and https never leads to http.
    void downloadsAreGuarded_data()
    {
        QTest::addColumn<QString>("case_");
        QTest::addColumn<FirmwareCheck::State>("state");
        QTest::addColumn<QString>("error");
        // clang-format off
        QTest::newRow("right checksum") << "right" << FirmwareCheck::State::Downloaded << QString();
        QTest::newRow("wrong checksum") << "wrong" << FirmwareCheck::State::Refused << "does not match the SHA-256";
        QTest::newRow("unreadable checksum line") << "malformed" << FirmwareCheck::State::Refused
                                                  << "the server's checksum line \"SHA256 KVR-9000_V1.1.bin: ";
        QTest::newRow("no checksum line") << "none" << FirmwareCheck::State::Refused
                                          << "was not sent to the device: the server announced no checksum; not used.";
        QTest::newRow("lower-case checksum line") << "lower" << FirmwareCheck::State::Refused << "\"sha256: ";
        QTest::newRow("indented checksum line") << "indented" << FirmwareCheck::State::Refused << "\"SHA256: ";
        QTest::newRow("SHA-256 line") << "dash" << FirmwareCheck::State::Refused << "\"SHA-256: ";
        QTest::newRow("empty image") << "empty" << FirmwareCheck::State::Refused << "is empty";
        QTest::newRow("64 MiB image") << "huge" << FirmwareCheck::State::DownloadFailed << "2 MiB";
        QTest::newRow("https redirected to http") << "downgrade" << FirmwareCheck::State::DownloadFailed
                                                  << "not allowed";
        QTest::newRow("two redirects") << "redirect 2" << FirmwareCheck::State::Downloaded << QString();
        QTest::newRow("three redirects") << "redirect 3" << FirmwareCheck::State::Downloaded << QString();
        QTest::newRow("cut short of its length") << "cut" << FirmwareCheck::State::DownloadFailed
                                                 << "the download was cut short (3000 of 5000 bytes)";
        QTest::newRow("without length or chunks") << "close" << FirmwareCheck::State::DownloadFailed
                                                  << "the download was cut short";
        QTest::newRow("chunks cut short") << "chunked cut" << FirmwareCheck::State::DownloadFailed
                                          << "the download was cut short (the connection closed after 3000 bytes)";
        QTest::newRow("chunked, whole") << "chunked" << FirmwareCheck::State::Downloaded << QString();
        QTest::newRow("gzip") << "gzip" << FirmwareCheck::State::DownloadFailed << "compressed (gzip)";
        QTest::newRow("a maintenance page") << "html" << FirmwareCheck::State::Refused << "does not match the SHA-256";
        // clang-format on
    }
    void downloadsAreGuarded()
    {
        QFETCH(QString, case_);
        QFETCH(FirmwareCheck::State, state);
        QFETCH(QString, error);
        installScheduler(nullptr);  // real network time-outs; nothing here waits on them
        vl::test::trustTestCertificate();
        HttpTestServer tls, plain;
        QVERIFY(tls.start(true));
        QVERIFY(plain.start());

        const QByteArray bin = "/download/Product/KVR-9000/Update/KVR-9000_V1.1.bin";
        const QByteArray data = image(5000);
        QByteArray sha = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
        if (case_ == "wrong")
            sha[0] = sha[0] == '0' ? '1' : '0';
        if (case_ == "malformed")
            sha.chop(1);
        QByteArray line = "SHA256 KVR-9000_V1.1.bin: " + sha;
        if (case_ == "none")
            line = "Checksum: none";
        if (case_ == "lower")
            line = "sha256: " + sha;
        if (case_ == "indented")
            line = "  SHA256: " + sha;
        if (case_ == "dash")
            line = "SHA-256: " + sha;
        tls.serve("/download/Product/KVR-9000/Update/KVR-9000_Update.txt",
                  "KVR-9000_V1.1;\n" + line + "\nUpdate content:\nnew\n");
        HttpTestServer::Reply reply;
        reply.body = case_ == "empty" ? QByteArray() : data;
        if (case_ == "huge") {
            reply.sendLength = false;  // announced by nobody: stopped as it arrives
            reply.filler = qint64(64) << 20;
        }
        reply.sendLength = !case_.startsWith("chunked") && case_ != "huge";
        reply.closeDelimited = case_ == "close";
        reply.gzip = case_ == "gzip";
        if (case_.endsWith("cut"))
            reply.cutAt = 3000;
        if (case_ == "html")
            reply.body = "<html><body>Down for maintenance</body></html>";
        if (case_ == "downgrade") {
            tls.redirect(bin, QUrl(plain.url().toString() + QString::fromLatin1(bin)));
        } else if (case_.startsWith("redirect")) {
            const int hops = case_.back().digitValue();
            for (int i = 0; i < hops; ++i)
                tls.redirect(i ? "/hop" + QByteArray::number(i) : bin,
                             QUrl(tls.url().toString() + (i + 1 < hops ? "/hop" + QString::number(i + 1) : "/moved")));
            tls.serve("/moved", reply);
        } else {
            tls.serve(bin, reply);
        }
        plain.serve(bin, data);

        FirmwareCheckSettings settings;
        settings.server = update::UpdateServer::fromText(tls.url().toString());
        QNetworkAccessManager manager;
        FirmwareCheck check(&manager, settings);
        QSignalSpy checked(&check, &FirmwareCheck::checked);
        check.start("V1.0.3");
        QVERIFY(checked.wait(20000));
        QCOMPARE(check.state(), FirmwareCheck::State::Offered);
        QSignalSpy ended(&check, &FirmwareCheck::downloadEnded);
        check.download();
        QVERIFY(ended.wait(30000));
        QCOMPARE(check.state(), state);
        QVERIFY2(check.errorText().contains(error), qPrintable(check.errorText()));
        QCOMPARE(check.image(), state == FirmwareCheck::State::Downloaded ? data : QByteArray());
        if (case_ == "downgrade")
            QCOMPARE(plain.requests().size(), 0);
    }

    // The built-in server is https, and plain http is never allowed towards it.
    void builtInServerIsHttpsOnly()
    {
        const FirmwareCheckSettings settings;
        QCOMPARE(settings.server.base().scheme(), QString("https"));
        QVERIFY(!settings.server.allowsHttp());
        QCOMPARE(settings.imageLimit, firmware::kLargestImage);
    }
};

QTEST_GUILESS_MAIN(TestFirmwareCore)
#include "tst_firmwarecore.moc"
