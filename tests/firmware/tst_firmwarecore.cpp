// The widget-free firmware pieces: the progress rule and when a transfer ends with the
// success message, the pacing against a port that is slow to take the bytes, transfers
// that end early, the image checks, same-version file names, the information file and the
// update check's guarded downloads.

#include "common/core/scheduler.h"
#include "firmware/core/firmwarecheck.h"
#include "firmware/core/firmwaretransfer.h"
#include "firmware/core/upgradesession.h"

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

// The port as the upgrade session sees it: every action, with the image a transfer sends
// named by its bytes.
struct RecordingPort final : UpgradePort {
    QMap<QByteArray, QString> names;
    QStringList actions;
    void requestErase() override { actions << "erase"; }
    void startTransfer(const QByteArray &image) override { actions << "send " + names.value(image, "?"); }
    void stopTransfer() override { actions << "stop"; }
};

const QByteArray kFw = QByteArray(5000, 'f');
const QByteArray kOther = QByteArray(6000, 'o');
const QByteArray kNext = QByteArray(7000, 'n');
const QByteArray kDownloaded = QByteArray(8000, 'd');

// Brings a session to a state by the events that lead there.
void reach(UpgradeSession &s, const QString &state)
{
    const auto identified = [&] { s.boxIdentified("KVR-9000", "V1.0.3"); };
    if (state == "idle")
        return;
    if (state == "identified")
        return identified();
    if (state == "image chosen")
        return s.chooseFile("/x/fw.bin", kFw);
    identified();
    s.chooseFile("/x/fw.bin", kFw);
    if (state == "erase requested")
        return;
    if (state == "stale erase")
        return s.refuseFile("refused");
    if (state == "stale erase, image chosen")
        return s.chooseFile("/x/next.bin", kNext);
    s.eraseEnd();
    if (state == "erased")
        return;
    s.upgradePressed();
    if (state == "sending")
        return;
    if (state == "done")
        return s.transferDone();
    if (state == "failed") {
        s.transferFailed();
        s.portLost();
    }
}

void apply(UpgradeSession &s, const QString &event)
{
    if (event == "version reply")
        s.boxIdentified("KVR-9000", "V1.0.3");
    else if (event == "file chosen")
        s.chooseFile("/x/other.bin", kOther);
    else if (event == "file refused")
        s.refuseFile("The firmware file big.bin is larger than 2 MiB");
    else if (event == "download finished")
        s.downloadFinished(kDownloaded, "1.2.0");
    else if (event == "ERASE END")
        s.eraseEnd();
    else if (event == "Upgrade")
        s.upgradePressed();
    else if (event == "transfer done")
        s.transferDone();
    else if (event == "transfer failed")
        s.transferFailed();
    else if (event == "port closed")
        s.portLost();
    else if (event == "dialog closed")
        s.dialogClosed();
    else
        qFatal("no such event %s", qPrintable(event));
}

QString stateText(UpgradeState state)
{
    switch (state) {
    case UpgradeState::StaleErase: return "stale erase";
    case UpgradeState::StaleEraseImageChosen: return "stale erase, image chosen";
    default: return stateName(state);
    }
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

    // Every event in every state: the state it leads to, what the port is asked to do and
    // which image is chosen after it. The session is brought to each state by the events
    // that lead there; "fw.bin" is the image chosen on the way ("next.bin" replaced it in
    // the stale-erase state), "other.bin" the file the event chooses.
    void upgradeTable_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("image");  // name of the chosen image after the event
        QTest::addColumn<bool>("asked");     // "Use the downloaded V1.2.0?"
        const auto row = [](const char *state, const char *event, const char *next, const char *action,
                            const char *image, bool asked = false) {
            QTest::addRow("%s | %s", state, event) << state << event << next << action << image << asked;
        };
        // clang-format off
        row("idle", "version reply", "identified", "", "");
        row("idle", "file chosen", "image chosen", "", "other.bin");
        row("idle", "file refused", "idle", "", "");
        row("idle", "download finished", "image chosen", "", "downloaded V1.2.0");
        row("idle", "ERASE END", "idle", "", "");
        row("idle", "Upgrade", "idle", "", "");
        row("idle", "transfer done", "idle", "", "");
        row("idle", "transfer failed", "idle", "", "");
        row("idle", "port closed", "idle", "", "");
        row("idle", "dialog closed", "idle", "", "");

        row("identified", "version reply", "identified", "", "");
        row("identified", "file chosen", "erase requested", "erase", "other.bin");
        row("identified", "file refused", "identified", "", "");
        row("identified", "download finished", "erase requested", "erase", "downloaded V1.2.0");
        row("identified", "ERASE END", "identified", "", "");  // nobody asked for it: nothing armed
        row("identified", "Upgrade", "identified", "", "");
        row("identified", "transfer done", "identified", "", "");
        row("identified", "transfer failed", "identified", "", "");
        row("identified", "port closed", "idle", "", "");
        row("identified", "dialog closed", "identified", "", "");

        row("image chosen", "version reply", "erase requested", "erase", "fw.bin");
        row("image chosen", "file chosen", "image chosen", "", "other.bin");
        row("image chosen", "file refused", "idle", "", "");
        row("image chosen", "download finished", "image chosen", "", "fw.bin", true);
        row("image chosen", "ERASE END", "image chosen", "", "fw.bin");
        row("image chosen", "Upgrade", "image chosen", "", "fw.bin");
        row("image chosen", "transfer done", "image chosen", "", "fw.bin");
        row("image chosen", "transfer failed", "image chosen", "", "fw.bin");
        row("image chosen", "port closed", "image chosen", "", "fw.bin");
        row("image chosen", "dialog closed", "idle", "", "");

        row("erase requested", "version reply", "erase requested", "", "fw.bin");
        row("erase requested", "file chosen", "stale erase, image chosen", "", "other.bin");
        row("erase requested", "file refused", "stale erase", "", "");
        // Race: a download that ends after a file choice is offered, never erased for.
        row("erase requested", "download finished", "erase requested", "", "fw.bin", true);
        row("erase requested", "ERASE END", "erased", "", "fw.bin");
        row("erase requested", "Upgrade", "erase requested", "", "fw.bin");
        row("erase requested", "transfer done", "erase requested", "", "fw.bin");
        row("erase requested", "transfer failed", "erase requested", "", "fw.bin");
        row("erase requested", "port closed", "image chosen", "", "fw.bin");
        row("erase requested", "dialog closed", "stale erase", "", "");

        row("erased", "version reply", "erased", "", "fw.bin");
        row("erased", "file chosen", "erase requested", "erase", "other.bin");
        row("erased", "file refused", "identified", "", "");
        row("erased", "download finished", "erased", "", "fw.bin", true);
        row("erased", "ERASE END", "erased", "", "fw.bin");
        row("erased", "Upgrade", "sending", "send fw.bin", "fw.bin");
        row("erased", "transfer done", "erased", "", "fw.bin");
        row("erased", "transfer failed", "erased", "", "fw.bin");
        row("erased", "port closed", "image chosen", "", "fw.bin");
        row("erased", "dialog closed", "identified", "", "");

        row("sending", "version reply", "sending", "", "fw.bin");
        row("sending", "file chosen", "sending", "", "fw.bin");
        row("sending", "file refused", "sending", "", "fw.bin");
        // Race: a download that ends during a transfer waits; it is offered afterwards.
        row("sending", "download finished", "sending", "", "fw.bin");
        row("sending", "ERASE END", "sending", "", "fw.bin");
        row("sending", "Upgrade", "sending", "", "fw.bin");
        row("sending", "transfer done", "done", "", "");
        row("sending", "transfer failed", "failed", "", "fw.bin");
        row("sending", "port closed", "failed", "stop", "fw.bin");
        row("sending", "dialog closed", "idle", "stop", "");

        row("done", "version reply", "identified", "", "");
        row("done", "file chosen", "erase requested", "erase", "other.bin");
        row("done", "file refused", "done", "", "");
        row("done", "download finished", "erase requested", "erase", "downloaded V1.2.0");
        row("done", "ERASE END", "done", "", "");
        row("done", "Upgrade", "done", "", "");
        row("done", "transfer done", "done", "", "");
        row("done", "transfer failed", "done", "", "");
        row("done", "port closed", "idle", "", "");
        row("done", "dialog closed", "done", "", "");

        row("failed", "version reply", "erase requested", "erase", "fw.bin");
        row("failed", "file chosen", "image chosen", "", "other.bin");
        row("failed", "file refused", "idle", "", "");
        row("failed", "download finished", "failed", "", "fw.bin", true);
        row("failed", "ERASE END", "failed", "", "fw.bin");
        row("failed", "Upgrade", "failed", "", "fw.bin");
        row("failed", "transfer done", "failed", "", "fw.bin");
        row("failed", "transfer failed", "failed", "", "fw.bin");
        row("failed", "port closed", "failed", "", "fw.bin");
        row("failed", "dialog closed", "idle", "", "");

        row("stale erase", "version reply", "stale erase", "", "");
        row("stale erase", "file chosen", "stale erase, image chosen", "", "other.bin");
        row("stale erase", "file refused", "stale erase", "", "");
        row("stale erase", "download finished", "stale erase, image chosen", "", "downloaded V1.2.0");
        // Race: the late ERASE END of a withdrawn image arms nothing.
        row("stale erase", "ERASE END", "identified", "", "");
        row("stale erase", "Upgrade", "stale erase", "", "");
        row("stale erase", "transfer done", "stale erase", "", "");
        row("stale erase", "transfer failed", "stale erase", "", "");
        row("stale erase", "port closed", "idle", "", "");
        row("stale erase", "dialog closed", "stale erase", "", "");

        row("stale erase, image chosen", "version reply", "stale erase, image chosen", "", "next.bin");
        row("stale erase, image chosen", "file chosen", "stale erase, image chosen", "", "other.bin");
        row("stale erase, image chosen", "file refused", "stale erase", "", "");
        row("stale erase, image chosen", "download finished", "stale erase, image chosen", "", "next.bin", true);
        // The late ERASE END of the replaced image: now the erase for the chosen one.
        row("stale erase, image chosen", "ERASE END", "erase requested", "erase", "next.bin");
        row("stale erase, image chosen", "Upgrade", "stale erase, image chosen", "", "next.bin");
        row("stale erase, image chosen", "transfer done", "stale erase, image chosen", "", "next.bin");
        row("stale erase, image chosen", "transfer failed", "stale erase, image chosen", "", "next.bin");
        row("stale erase, image chosen", "port closed", "image chosen", "", "next.bin");
        row("stale erase, image chosen", "dialog closed", "stale erase", "", "");
        // clang-format on
    }
    void upgradeTable()
    {
        QFETCH(QString, state);
        QFETCH(QString, event);
        QFETCH(QString, next);
        QFETCH(QString, action);
        QFETCH(QString, image);
        QFETCH(bool, asked);
        RecordingPort port;
        port.names = {{kFw, "fw.bin"}, {kOther, "other.bin"}, {kNext, "next.bin"}, {kDownloaded, "downloaded"}};
        UpgradeSession session(port);
        reach(session, state);
        QCOMPARE(stateText(session.state()), state);
        port.actions.clear();
        QStringList questions;
        connect(&session, &UpgradeSession::offerReady, [&](const QString &q) { questions << q; });
        QSignalSpy ignored(&session, &UpgradeSession::ignored);
        const UpgradeState before = session.state();

        apply(session, event);
        QCOMPARE(stateText(session.state()), next);
        QCOMPARE(port.actions, action.isEmpty() ? QStringList() : QStringList{action});
        QCOMPARE(session.image().isEmpty() ? QString() : session.image().name(), image);
        QCOMPARE(questions.size(), asked ? 1 : 0);
        if (asked)
            QVERIFY2(questions[0].endsWith("Use the downloaded V1.2.0?"), qPrintable(questions[0]));
        // What the table ignores is logged, and changes nothing.
        if (!ignored.isEmpty()) {
            QCOMPARE(session.state(), before);
            QVERIFY(port.actions.isEmpty());
            QVERIFY(ignored.at(0).at(0).toString().startsWith("Ignored: " + event));
        }
    }

    // The races end to end in the session: what the box is asked for, in order, and which
    // image is sent.
    void racesAndOffers_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("image");
        // clang-format off
        QTest::newRow("download during a transfer: offered after it, taken")
            << QStringList{"identify", "choose fw", "erase end", "upgrade", "download", "done", "yes", "erase end"}
            << QStringList{"erase", "send fw.bin", "erase", "send downloaded"} << "downloaded V1.2.0";
        QTest::newRow("download during a transfer: declined")
            << QStringList{"identify", "choose fw", "erase end", "upgrade", "download", "done", "no", "erase end"}
            << QStringList{"erase", "send fw.bin"} << "";
        QTest::newRow("download after a file choice, declined: the file is sent")
            << QStringList{"identify", "choose fw", "download", "no", "erase end", "upgrade"}
            << QStringList{"erase", "send fw.bin"} << "fw.bin";
        QTest::newRow("download after a file choice, taken before the erase ends")
            << QStringList{"identify", "choose fw", "download", "yes", "erase end", "erase end"}
            << QStringList{"erase", "erase", "send downloaded"} << "downloaded V1.2.0";
        QTest::newRow("a file chosen after the download was taken wins")
            << QStringList{"identify", "download", "choose other", "erase end", "erase end", "upgrade"}
            << QStringList{"erase", "erase", "send other.bin"} << "other.bin";
        QTest::newRow("late ERASE END after a refusal")
            << QStringList{"identify", "choose fw", "refuse", "erase end", "upgrade", "erase end"}
            << QStringList{"erase"} << "";
        QTest::newRow("ERASE END nobody asked for")
            << QStringList{"identify", "erase end", "upgrade", "download", "erase end"}
            << QStringList{"erase", "send downloaded"} << "downloaded V1.2.0";
        QTest::newRow("same version before the box said it")
            << QStringList{"choose same", "identify", "erase end", "upgrade"}
            << QStringList{} << "";
        QTest::newRow("dialog closed while the erase for a download runs")
            << QStringList{"identify", "download", "close", "erase end", "upgrade"}
            << QStringList{"erase"} << "";
        QTest::newRow("an answer nobody asked for")
            << QStringList{"identify", "yes", "erase end"}
            << QStringList{} << "";
        // clang-format on
    }
    void racesAndOffers()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, actions);
        QFETCH(QString, image);
        RecordingPort port;
        port.names = {{kFw, "fw.bin"}, {kOther, "other.bin"}, {kDownloaded, "downloaded"}};
        UpgradeSession session(port);
        QStringList refusals;
        connect(&session, &UpgradeSession::refused, [&](const QString &why) { refusals << why; });
        for (const QString &step : steps) {
            if (step == "identify")
                session.boxIdentified("KVR-9000", "V1.0.3");
            else if (step == "choose fw")
                session.chooseFile("/x/fw.bin", kFw);
            else if (step == "choose other")
                session.chooseFile("/x/other.bin", kOther);
            else if (step == "choose same")
                session.chooseFile("/x/KVR-9000_V1.0.3.bin", kFw);
            else if (step == "refuse")
                session.refuseFile("The firmware file big.bin is larger than 2 MiB");
            else if (step == "download")
                session.downloadFinished(kDownloaded, "1.2.0");
            else if (step == "yes" || step == "no")
                session.answerOffer(step == "yes");
            else if (step == "erase end")
                session.eraseEnd();
            else if (step == "upgrade")
                session.upgradePressed();
            else if (step == "done")
                session.transferDone();
            else if (step == "close")
                session.dialogClosed();
        }
        QCOMPARE(port.actions, actions);
        QCOMPARE(session.image().isEmpty() ? QString() : session.image().name(), image);
        if (steps.contains("choose same"))
            QCOMPARE(refusals, QStringList{"The version number is the same! No upgrade required"});
    }

    void imageDescriptions()
    {
        const FirmwareImage file{QByteArray("abc"), "/x/fw.bin", {}};
        QCOMPARE(file.description(), QString("fw.bin, 3 bytes, SHA-256 ba7816bf8f01…"));
        const FirmwareImage downloaded{QByteArray("abc"), {}, "1.2.0"};
        QCOMPARE(downloaded.name(), QString("downloaded V1.2.0"));
        QVERIFY(downloaded.downloaded());
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
