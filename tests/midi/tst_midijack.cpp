// Real MIDI end to end: a private JACK server with the dummy driver, an RtMidi input on a
// virtual port, and the editor's MIDI output opened on that port. Checks the exact bytes
// that arrive, and that ports and servers vanishing under an open output harm nothing.

#include "jackreceiver.h"
#include "jackserver.h"
#include "midi/core/midimessage.h"
#include "midi/ui/midioutputpanel.h"
#include "midi/core/qmidiout.h"
#include "scripteddialogs.h"

#include <QComboBox>
#include <QPushButton>
#include <QtTest>

using namespace vl;
using vl::test::JackServer;
using Receiver = vl::test::JackReceiver;
using vl::test::ScriptedDialogs;

namespace {

const QByteArray kSentinel = QByteArray::fromHex("BF7F7F");  // control change 127 = 127, channel 16

}  // namespace

class TestMidiJack : public QObject {
    Q_OBJECT

    std::unique_ptr<JackServer> server;
    std::unique_ptr<Receiver> receiver;
    std::unique_ptr<QWidget> window;
    QComboBox *combo = nullptr;
    QPushButton *button = nullptr;
    MidiOutputPanel *panel = nullptr;

    bool selectPort(const QString &name)
    {
        panel->scanConnectionList();
        const int index = combo->findText(name);
        combo->setCurrentIndex(index);
        return index >= 0;
    }

    bool waitUntilConnected()
    {
        return receiver->waitUntilConnected(
            [this] { panel->midiOut()->sendMsg(int(midi::controlChangeMessage(16, 127, 127))); }, kSentinel);
    }

    // Everything the receiver got before a sentinel message sent after it.
    QList<QByteArray> receivedUpToSentinel()
    {
        panel->midiOut()->sendMsg(int(midi::controlChangeMessage(16, 127, 127)));
        QList<QByteArray> got;
        [&] { QTRY_VERIFY_WITH_TIMEOUT(receiver->messages().contains(kSentinel), 5000); }();
        got = receiver->messages();
        got.removeAll(kSentinel);
        receiver->clear();
        return got;
    }

private slots:
    void initTestCase()
    {
        if (JackServer::executable().isEmpty())
            QSKIP("jackd is not installed (Debian package jackd2): no MIDI ports to test against");
        server = std::make_unique<JackServer>();
        QString error;
        QVERIFY2(server->start(&error), qPrintable(error));

        receiver = std::make_unique<Receiver>("vltest-receiver");
        window = std::make_unique<QWidget>();
        combo = new QComboBox(window.get());
        button = new QPushButton("Connect", window.get());
        panel = new MidiOutputPanel(combo, button, window.get(), new QMidiOut(MidiSystem::Jack), window.get());
        panel->scanTimer()->stop();  // the tests refresh the list themselves

        QVERIFY2(selectPort(receiver->portName()), qPrintable(combo->currentText()));
        ScriptedDialogs scripted;
        button->click();
        QCOMPARE(scripted.messageTexts(), QStringList({"Successfully connected to MIDI device."}));
        QVERIFY(panel->midiConnected());
        QVERIFY(waitUntilConnected());
    }

    void cleanupTestCase()
    {
        window.reset();
        receiver.reset();
        server.reset();
    }

    void exactBytesArrive_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("warning");  // "Invalid Parameter" text, if any

        // clang-format off
        QTest::newRow("note on") << "note" << 1 << 60 << 100 << QByteArray::fromHex("903C64") << "";
        QTest::newRow("note off") << "note" << 1 << 60 << 0 << QByteArray::fromHex("803C00") << "";
        QTest::newRow("control change") << "cc" << 1 << 7 << 100 << QByteArray::fromHex("B00764") << "";
        QTest::newRow("aftertouch") << "at" << 2 << 60 << 20 << QByteArray::fromHex("A13C14") << "";
        QTest::newRow("note on channel 17") << "note" << 17 << 60 << 100 << QByteArray() << "";
        QTest::newRow("note velocity 128") << "note" << 1 << 60 << 128 << QByteArray() << "";
        QTest::newRow("aftertouch channel 0") << "at" << 0 << 60 << 20 << QByteArray() << "";
        QTest::newRow("aftertouch pressure 128") << "at" << 1 << 60 << 128 << QByteArray() << "";
        QTest::newRow("cc channel 17") << "cc" << 17 << 7 << 100 << QByteArray()
                                       << "Channel number must be between 1 and 16!";
        QTest::newRow("cc controller 128") << "cc" << 1 << 128 << 100 << QByteArray()
                                           << "Controller number must be between 0 and 127!";
        QTest::newRow("cc value 128") << "cc" << 1 << 7 << 128 << QByteArray()
                                      << "Control value must be between 0 and 127!";
        QTest::newRow("cc: the channel is checked first") << "cc" << 0 << -1 << 999 << QByteArray()
                                                          << "Channel number must be between 1 and 16!";
        // clang-format on
    }
    void exactBytesArrive()
    {
        QFETCH(QString, kind);
        QFETCH(int, channel);
        QFETCH(int, number);
        QFETCH(int, value);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, warning);

        ScriptedDialogs scripted;
        if (kind == "note")
            panel->sendNoteMessage(channel, number, value);
        else if (kind == "at")
            panel->sendPolyAftertouch(channel, number, value);
        else
            panel->sendControlChange(channel, number, value);

        QCOMPARE(receivedUpToSentinel(), bytes.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{bytes});
        QCOMPARE(scripted.messageTexts(), warning.isEmpty() ? QStringList() : QStringList{warning});
        if (!warning.isEmpty()) {
            QCOMPARE(scripted.lastMessage().title, QString("Invalid Parameter"));
            QCOMPARE(scripted.lastMessage().kind, MessageKind::Warning);
        }
    }

    // The device on the open port goes away: its entry leaves the list, the panel stays
    // connected until the user disconnects, and sending does no harm.
    void openPortVanishes()
    {
        ScriptedDialogs scripted;
        button->click();
        QVERIFY(!panel->midiConnected());
        auto leaving = std::make_unique<Receiver>("vltest-leaving");
        QVERIFY(selectPort(leaving->portName()));
        button->click();
        QVERIFY(panel->midiConnected());

        leaving.reset();
        panel->scanConnectionList();
        QCOMPARE(combo->findText("vltest-leaving:in"), -1);
        QVERIFY(combo->findText(receiver->portName()) >= 0);
        for (int i = 0; i < 5000; ++i)
            panel->sendNoteMessage(1, i % 128, 100);
        QVERIFY(panel->midiConnected());

        button->click();
        QCOMPARE(scripted.lastMessage().text, QString("Disconnected MIDI device."));
        QVERIFY(selectPort(receiver->portName()));
        button->click();
        QVERIFY(panel->midiConnected());
        QVERIFY(waitUntilConnected());
        QCOMPARE(scripted.asked.size(), 4);
    }

    // The whole JACK server stops while a port is open. Sends must fail at once rather
    // than wait for a server that will never take them; a new server is found again.
    void serverVanishes()
    {
        QVERIFY(panel->midiConnected());
        server->stop();
        QTRY_VERIFY_WITH_TIMEOUT(panel->midiOut()->listDevices().isEmpty(), 5000);
        panel->scanConnectionList();
        QCOMPARE(combo->count(), 0);

        ScriptedDialogs scripted;
        for (int i = 0; i < 5000; ++i) {
            panel->sendNoteMessage(1, i % 128, 100);
            panel->sendPolyAftertouch(1, i % 128, 100);
            panel->sendControlChange(1, i % 128, 100);
        }
        QVERIFY(scripted.asked.isEmpty());
        QVERIFY(panel->midiConnected());

        combo->addItem("stale entry", "0");  // Disconnect needs a current item
        button->click();
        QVERIFY(!panel->midiConnected());
        QCOMPARE(scripted.lastMessage().text, QString("Disconnected MIDI device."));

        receiver.reset();
        server = std::make_unique<JackServer>();
        QString error;
        QVERIFY2(server->start(&error), qPrintable(error));
        receiver = std::make_unique<Receiver>("vltest-again");
        QVERIFY(selectPort(receiver->portName()));
        button->click();
        QVERIFY(panel->midiConnected());
        QVERIFY(waitUntilConnected());
        panel->sendNoteMessage(3, 61, 1);
        QCOMPARE(receivedUpToSentinel(), QList<QByteArray>{QByteArray::fromHex("923D01")});
    }
};

QTEST_MAIN(TestMidiJack)
#include "tst_midijack.moc"
