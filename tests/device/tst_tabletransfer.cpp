// Read and Set without a window: TableTransfer over a real QSerialPort on a pseudo-terminal
// whose other end the test plays as the box. Each case says what the port does and what
// the rule table, the remarks, the aliases and the edit history become, and what the
// transfer reports.

#include "boxbytes.h"
#include "common/core/scheduler.h"
#include "device/core/boxconversation.h"
#include "device/core/tabletransfer.h"
#include "filebytes.h"
#include "ptypeer.h"
#include "ruletables.h"
#include "table/core/aliases.h"
#include "table/core/aliaskeeper.h"
#include "table/core/aliasstore.h"
#include "table/core/editsteps.h"
#include "table/core/rulecolumns.h"
#include "table/core/rulemodel.h"
#include "tempworkdir.h"
#include "trywait.h"

#include <QSerialPort>
#include <QtTest>

#include <memory>

using namespace vl;
using namespace vl::test;

namespace {

// The history's side: which steps were opened, closed and marked clean.
class RecordingSteps : public EditSteps {
public:
    QStringList calls;
    bool open = false;

    void beginStep(const QString &name) override
    {
        if (!open)
            calls << "begin " + name;
        open = true;
    }
    void endStep() override
    {
        if (open)
            calls << "end";
        open = false;
    }
    bool stepOpen() const override { return open; }
    void markClean() override { calls << "clean"; }

protected:
    void beginAutomatic() override {}
    void endAutomatic() override {}
};

const char *kind(TransferKind k) { return k == TransferKind::Read ? "Read" : "Set"; }

const char *reason(TransferFailure::Reason r)
{
    switch (r) {
    case TransferFailure::LineLost: return "LineLost";
    case TransferFailure::NoAnswer: return "NoAnswer";
    case TransferFailure::StoppedSending: return "StoppedSending";
    case TransferFailure::Incomplete: return "Incomplete";
    case TransferFailure::WriteFailed: return "WriteFailed";
    case TransferFailure::Abandoned: return "Abandoned";
    }
    return "?";
}

// An image of the box's table whose record area holds `recordBytes` bytes.
QByteArray imageWithRecordBytes(int recordBytes)
{
    return QByteArray("download request").leftJustified(kImageHeaderSize, '\0')
           + boxRecords().leftJustified(recordBytes, '\0', true) + "end of data" + QByteArray(1, '\0');
}

QList<QStringList> boxTable()
{
    QList<QStringList> rows;
    const QByteArrayList groups = splitRecords(boxRecords());
    for (int r = 0; r < kRuleRows; ++r) {
        QStringList texts = decodeRuleRecord(groups.at(r), r, 2);
        while (texts.size() < kRuleColumns)
            texts << QString();
        rows << texts;
    }
    return rows;
}

const QString kSilentRead = "The device did not answer within 10 s while the configuration was being read. The "
                            "table is as it was before Read.";

}  // namespace

class TestTableTransfer : public QObject {
    Q_OBJECT

    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<ManualScheduler> clock;
    std::unique_ptr<PtyPeer> peer;
    std::unique_ptr<QSerialPort> port;
    std::unique_ptr<BoxConversation> box;
    std::unique_ptr<RuleModel> rules;
    std::unique_ptr<RemarkModel> remarks;
    std::unique_ptr<AliasKeeper> aliases;
    std::unique_ptr<RecordingSteps> steps;
    std::unique_ptr<TableTransfer> transfer;
    QStringList events;
    QString message;
    qint64 received = 0;  // by the editor, from the box
    qint64 progressBytes = -1;
    qint64 progressTotal = -1;

    // The user's table: rules of the sample table, its first row as read from a box (a
    // fixed "SN"), a remark and an alias, kept in the alias file. It need not be full: Read
    // and Set take the table as it is.
    void fillUserTable()
    {
        fillRuleTable(*rules, sampleRuleRows(40));
        const QStringList first = tableTexts(*rules).first();
        rules->removeRows(0, 1);
        rules->insertRuleRow(0, first, true);
        remarks->setText(4, 0, "kept");
        QStringList list = AliasStore::emptyList();
        list[0] = "Spot";
        aliases->store()->setAliases(list);
        QVERIFY(aliases->save());
    }

    void startTransfer(const QString &command)
    {
        if (command == "Read") {
            QVERIFY(transfer->startRead());
            QVERIFY2(peer->expect("upload request"), qPrintable(peer->lastError()));
        } else if (command == "Set") {
            const QByteArray image = buildTableImage(boxRecords());
            QVERIFY(transfer->startSet(image));
            QCOMPARE(peer->take(kImageSize), image);
            // The answer time counts from the image's last byte: wait until it has gone out.
            VL_TRY_COMPARE(progressBytes, qint64(kImageSize));
        } else if (command == "settings") {
            // After a settings command the box says "setting end" and is asked for its table.
            QVERIFY(peer->write("setting end"));
            QVERIFY2(peer->expect("upload request"), qPrintable(peer->lastError()));
        }
    }

    // The box writes `bytes` and the editor has read them.
    void send(const QByteArray &bytes, const QList<int> &pieces = {})
    {
        const qint64 expected = received + bytes.size();
        QVERIFY(pieces.isEmpty() ? peer->write(bytes) : peer->writeInPieces(bytes, pieces));
        VL_TRY_COMPARE(received, expected);
    }

    // The user closes the link, as Disconnect does.
    void closeLink()
    {
        transfer->abandon();
        box->close();
    }

    // What the port does, in the words of the data table.
    void playPort(const QString &script)
    {
        const QByteArray image = buildTableImage(boxRecords());
        if (script == "image") {
            send(image);
        } else if (script == "image in 64-byte pieces") {
            send(image, QVector<int>(kImageSize / 64, 64).toList());
        } else if (script.startsWith("image cut at ")) {
            send(image, {script.mid(13).toInt()});
        } else if (script == "image in pieces 9 s apart") {
            for (int at = 0; at < image.size(); at += 4096) {
                send(image.mid(at, 4096));
                clock->advance(9000);
            }
        } else if (script == "image, checksum off by one") {
            QByteArray damaged = image;
            damaged[kChecksumOffset] = char(damaged[kChecksumOffset] ^ 0x01);
            send(damaged);
        } else if (script == "image, header damaged") {
            QByteArray damaged = image;
            damaged[9] = 'R';
            send(damaged);
        } else if (script.startsWith("image with record bytes ")) {
            send(imageWithRecordBytes(script.mid(24).toInt()));
        } else if (script == "nothing") {
            clock->advance(9999);
            QCOMPARE(events.size(), 1);  // still waiting
            clock->advance(1);
        } else if (script == "first 12000 bytes, then nothing") {
            clock->advance(5000);
            send(image.left(12000));
            clock->advance(10000);
        } else if (script == "first 9000 bytes, then gone") {
            send(image.left(9000));
            peer->vanish();
        } else if (script == "gone") {
            peer->vanish();
        } else if (script == "first 9000 bytes, then the link closed") {
            send(image.left(9000));
            closeLink();
        } else if (script == "image, the link closed as it ends") {
            connect(transfer.get(), &TableTransfer::ended, this, [this] { closeLink(); });
            send(image);
        } else if (script == "image, Read again as it ends, image") {
            connect(transfer.get(), &TableTransfer::ended, this, [this] {
                if (events.count("began Read") == 1)
                    QVERIFY(transfer->startRead());
            });
            send(image);
            QVERIFY2(peer->expect("upload request"), qPrintable(peer->lastError()));
            send(image);
        } else if (script == "nothing for 5 s, Read again, nothing") {
            clock->advance(5000);
            QVERIFY(transfer->startRead());
            QVERIFY2(peer->expect("upload request"), qPrintable(peer->lastError()));
            clock->advance(10000);
        } else if (script == "download success") {
            send("download success");
        } else if (script == "the link closed") {
            closeLink();
        } else {
            QFAIL(qPrintable("no such script: " + script));
        }
    }

private slots:
    void init()
    {
        dir = std::make_unique<TempWorkDir>();
        clock = std::make_unique<ManualScheduler>();
        installScheduler(clock.get());
        peer = std::make_unique<PtyPeer>();
        QVERIFY2(peer->open(), qPrintable(peer->lastError()));
        port = std::make_unique<QSerialPort>();
        box = std::make_unique<BoxConversation>(*port);
        QCOMPARE(box->open(peer->slavePath()), PortOpenFailure::None);
        rules = std::make_unique<RuleModel>();
        remarks = std::make_unique<RemarkModel>();
        aliases = std::make_unique<AliasKeeper>(*rules);
        steps = std::make_unique<RecordingSteps>();
        aliases->setSteps(steps.get());
        transfer = std::make_unique<TableTransfer>(*box, *rules, *remarks, aliases.get());
        transfer->setSteps(steps.get());
        connect(box.get(), &BoxConversation::tableUploaded, transfer.get(), &TableTransfer::applyUploadedRows);
        aliases->wakeLabels();  // as loading the alias file does
        received = 0;
        connect(box.get(), &BoxConversation::bytesReceived, this, [this](qint64 count) { received += count; });

        events.clear();
        message.clear();
        progressBytes = progressTotal = -1;
        connect(transfer.get(), &TableTransfer::began, this,
                [this](TransferKind k) { events << QString("began ") + kind(k); });
        connect(transfer.get(), &TableTransfer::progress, this, [this](TransferKind, qint64 bytes, qint64 total) {
            QVERIFY(bytes <= total);
            QVERIFY(bytes >= progressBytes || progressBytes == total);
            progressBytes = bytes;
            progressTotal = total;
        });
        connect(transfer.get(), &TableTransfer::ended, this, [this](TransferKind k, const QString &damage) {
            events << QString("ended ") + kind(k);
            if (!damage.isEmpty())
                message = TableTransfer::damagedReadText(damage);
        });
        connect(transfer.get(), &TableTransfer::failed, this, [this](const TransferFailure &f) {
            events << QString("failed %1 %2").arg(kind(f.kind), reason(f.reason));
            message = f.message();
        });
        connect(transfer.get(), &TableTransfer::rowsLoaded, this, [this] { events << "rows loaded"; });
    }

    void cleanup()
    {
        transfer.reset();
        aliases.reset();
        steps.reset();
        remarks.reset();
        rules.reset();
        box.reset();
        port.reset();
        peer.reset();
        installScheduler(nullptr);
        clock.reset();
        dir.reset();
    }

    // What the port does during a Read, a Set or after a settings command, and what the
    // tables and the history become. "before" is the user's table as it was; "box" the
    // box's table; remarks and aliases are "before", "emptied" (by Read, the alias file
    // untouched) or "read" (emptied, and the empty alias list saved).
    void transfers_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("userTable");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("names");  // the remarks and the aliases
        QTest::addColumn<QStringList>("steps");

        const QStringList read = {"began Read", "ended Read", "rows loaded"};
        const QStringList readStep = {"begin Read", "end", "clean"};
        const QStringList givenBack = {"begin Read", "end"};
        const QString incomplete = "The configuration read from the device was incomplete. No rules were loaded.";
        const quint16 sum = recordChecksum(boxRecords());
        // clang-format off
        QTest::newRow("Read: the whole image")
            << "Read" << true << "image" << read << QString() << "box" << "read" << readStep;
        QTest::newRow("Read: 64-byte pieces")
            << "Read" << true << "image in 64-byte pieces" << read << QString() << "box" << "read" << readStep;
        QTest::newRow("Read: cut inside 'download'")
            << "Read" << true << "image cut at 5" << read << QString() << "box" << "read" << readStep;
        QTest::newRow("Read: cut inside 'end of data'")
            << "Read" << true << "image cut at 24835" << read << QString() << "box" << "read" << readStep;
        // A slow box keeps the Read going however long the whole upload takes.
        QTest::newRow("Read: a slow box")
            << "Read" << true << "image in pieces 9 s apart" << read << QString() << "box" << "read" << readStep;
        // Loaded as it came, as boxes may rely on; the user is told what failed.
        QTest::newRow("Read: wrong checksum")
            << "Read" << true << "image, checksum off by one" << read
            << QString("The configuration read from the device is damaged: its checksum is 0x%1 but its records add "
                       "up to 0x%2.\n\nThe rules were loaded as the device sent them. Check them before you Set them "
                       "again.").arg(sum ^ 0x01, 4, 16, QChar('0')).arg(sum, 4, 16, QChar('0'))
            << "box" << "read" << readStep;
        QTest::newRow("Read: damaged header")
            << "Read" << true << "image, header damaged" << read
            << "The configuration read from the device is damaged: its header does not begin with \"download "
               "request\".\n\nThe rules were loaded as the device sent them. Check them before you Set them again."
            << "box" << "read" << readStep;
        QTest::newRow("Read: one record missing")
            << "Read" << true << "image with record bytes 24568" << QStringList{"began Read", "failed Read Incomplete"}
            << incomplete + " The table is as it was before Read." << "before" << "before" << givenBack;
        QTest::newRow("Read: half a record missing")
            << "Read" << true << "image with record bytes 24572" << QStringList{"began Read", "failed Read Incomplete"}
            << incomplete + " The table is as it was before Read." << "before" << "before" << givenBack;
        QTest::newRow("Read: one record too many")
            << "Read" << true << "image with record bytes 24584" << QStringList{"began Read", "failed Read Incomplete"}
            << incomplete + " The table is as it was before Read." << "before" << "before" << givenBack;
        QTest::newRow("Read: the box is silent")
            << "Read" << true << "nothing" << QStringList{"began Read", "failed Read NoAnswer"}
            << kSilentRead << "before" << "before" << givenBack;
        QTest::newRow("Read: the box falls silent half way")
            << "Read" << true << "first 12000 bytes, then nothing" << QStringList{"began Read", "failed Read StoppedSending"}
            << "The device stopped sending for 10 s while the configuration was being read. The table is as it was "
               "before Read." << "before" << "before" << givenBack;
        QTest::newRow("Read: the box vanishes at byte 9000")
            << "Read" << true << "first 9000 bytes, then gone" << QStringList{"began Read", "failed Read LineLost"}
            << "The device went away while the configuration was being read. The table is as it was before Read."
            << "before" << "before" << givenBack;
        QTest::newRow("Read: the box vanishes before it answers")
            << "Read" << true << "gone" << QStringList{"began Read", "failed Read LineLost"}
            << "The device went away while the configuration was being read. The table is as it was before Read."
            << "before" << "before" << givenBack;
        // Disconnect: nothing is said and nothing given back (Disconnect empties the table).
        QTest::newRow("Read: Disconnect half way")
            << "Read" << true << "first 9000 bytes, then the link closed"
            << QStringList{"began Read", "failed Read Abandoned"} << QString() << "empty" << "emptied" << givenBack;
        // Rows still queued when the table is emptied again stay out.
        QTest::newRow("Read: Disconnect before the rows are in")
            << "Read" << true << "image, the link closed as it ends" << QStringList{"began Read", "ended Read"}
            << QString() << "empty" << "emptied" << givenBack;
        QTest::newRow("Read: Read again before the rows are in")
            << "Read" << true << "image, Read again as it ends, image"
            << QStringList{"began Read", "ended Read", "began Read", "ended Read", "rows loaded"} << QString() << "box"
            << "read" << readStep;
        // A second Read while one waits gives back what the first one emptied.
        QTest::newRow("Read: a second Read while one waits")
            << "Read" << true << "nothing for 5 s, Read again, nothing"
            << QStringList{"began Read", "failed Read NoAnswer"} << kSilentRead << "before" << "before" << givenBack;
        // The box sends its table unasked after every settings command: it fills an empty
        // table and never piles onto the user's.
        QTest::newRow("settings command, empty table")
            << "settings" << false << "image" << QStringList{"ended Read", "rows loaded"} << QString() << "box"
            << "read" << QStringList();
        QTest::newRow("settings command, the user's table")
            << "settings" << true << "image" << QStringList() << QString() << "before" << "before" << QStringList();
        QTest::newRow("settings command, empty table, incomplete upload")
            << "settings" << false << "image with record bytes 24568" << QStringList{"failed Read Incomplete"}
            << incomplete << "empty" << "before" << QStringList();
        QTest::newRow("Set: confirmed")
            << "Set" << true << "download success" << QStringList{"began Set", "ended Set"} << QString() << "before"
            << "before" << QStringList();
        QTest::newRow("Set: the box is silent")
            << "Set" << true << "nothing" << QStringList{"began Set", "failed Set NoAnswer"}
            << "The device did not answer within 10 s after the configuration was sent; it did not confirm it. The "
               "device may not have stored the table. Connect again and Set once more."
            << "before" << "before" << QStringList();
        QTest::newRow("Set: the box vanishes")
            << "Set" << true << "gone" << QStringList{"began Set", "failed Set LineLost"}
            << "The device went away before it confirmed the configuration. The device may not have stored the "
               "table. Connect again and Set once more." << "before" << "before" << QStringList();
        QTest::newRow("Set: Disconnect")
            << "Set" << true << "the link closed" << QStringList{"began Set", "failed Set Abandoned"} << QString()
            << "before" << "before" << QStringList();
        // clang-format on
    }
    void transfers()
    {
        QFETCH(QString, command);
        QFETCH(bool, userTable);
        QFETCH(QString, port);
        QFETCH(QStringList, events);
        QFETCH(QString, message);
        QFETCH(QString, table);
        QFETCH(QString, names);
        QFETCH(QStringList, steps);

        if (userTable)
            fillUserTable();
        const QList<QStringList> before = tableTexts(*rules);
        const QByteArray aliasFile = readFileBytes(aliasFilePath());
        const QStringList aliasesBefore = aliases->store()->aliases();
        const QString remarkBefore = remarks->text(4, 0);

        startTransfer(command);
        if (QTest::currentTestFailed())
            return;
        playPort(port);
        if (QTest::currentTestFailed())
            return;
        // Everything said and queued has happened; nothing more comes later.
        VL_TRY_VERIFY2(this->events == events, qPrintable(this->events.join(", ")));
        QTest::qWait(20);
        clock->advance(60000);
        QCOMPARE(this->events, events);
        QCOMPARE(this->message, message);

        if (table == "box")
            QCOMPARE(tableTexts(*rules), boxTable());
        else if (table == "before")
            QCOMPARE(tableTexts(*rules), before);
        else
            QCOMPARE(rules->rowCount(), 0);
        // Rows read from the box keep a fixed "SN", rows given back what they had.
        if (rules->rowCount() > 1) {
            QCOMPARE(rules->isSnLocked(0), true);
            QCOMPARE(rules->isSnLocked(1), table == "box");
        }
        if (table == "box" && events.contains("began Read"))
            QCOMPARE(progressBytes, qint64(kImageSize));

        if (names == "before") {
            QCOMPARE(remarks->text(4, 0), remarkBefore);
            QCOMPARE(aliases->store()->aliases(), aliasesBefore);
            QCOMPARE(readFileBytes(aliasFilePath()), aliasFile);
        } else {
            QCOMPARE(remarks->text(4, 0), QString());
            QCOMPARE(remarks->rowCount(), kRuleRows);
            QCOMPARE(aliases->store()->aliases(), AliasStore::emptyList());
            QCOMPARE(readFileBytes(aliasFilePath()), names == "read" ? QByteArray(kDmxChannels, '\n') : aliasFile);
        }
        QCOMPARE(aliases->labelTimer()->isActive(), names != "emptied");
        QCOMPARE(this->steps->calls, steps);
        QVERIFY(!transfer->isReading());
        QVERIFY(!transfer->isSetting());
    }

    // Read's request and Set's image cannot be written on a closed line: nothing changes,
    // and nothing is said.
    void nothingWrittenOnAClosedLine()
    {
        fillUserTable();
        const QList<QStringList> before = tableTexts(*rules);
        box->close();
        QVERIFY(!transfer->startRead());
        QVERIFY(!transfer->startSet(buildTableImage(boxRecords())));
        QCOMPARE(events, QStringList({"began Read", "failed Read WriteFailed", "began Set", "failed Set WriteFailed"}));
        QCOMPARE(message, QString());
        QCOMPARE(tableTexts(*rules), before);
        QCOMPARE(remarks->text(4, 0), QString("kept"));
        QCOMPARE(steps->calls, QStringList({"begin Read", "end"}));
    }
};

QTEST_GUILESS_MAIN(TestTableTransfer)
#include "tst_tabletransfer.moc"
