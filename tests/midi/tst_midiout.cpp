// MIDI output without a MIDI system: a scripted back end stands in for the ports, so the
// packing of short messages, the port list and Connect / Disconnect are checked exactly.

#include "common/core/scheduler.h"
#include "midi/ui/keyboardwidget.h"
#include "midi/ui/midikeybutton.h"
#include "midi/core/midimessage.h"
#include "midi/ui/midioutputpanel.h"
#include "midi/core/qmidiout.h"
#include "scripteddialogs.h"

#include <QComboBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QtTest>

using namespace vl;
using vl::test::ScriptedDialogs;

namespace {

// What the scripted ports saw; owned by the test, shared with the back end.
struct FakeMidi {
    QStringList ports;
    QStringList calls;  // "open 3", "close"
    QList<QByteArray> sent;
    bool refuseOpen = false;
};

class FakeBackend final : public MidiBackend {
public:
    explicit FakeBackend(FakeMidi *midi) : m(midi) {}
    QStringList portNames() override { return m->ports; }
    bool open(int id, QString *error) override
    {
        m->calls << QStringLiteral("open %1").arg(id);
        if (m->refuseOpen || id < 0 || id >= m->ports.size()) {
            *error = "refused";
            return false;
        }
        return true;
    }
    void close() override { m->calls << "close"; }
    bool send(const QByteArray &bytes, QString *) override
    {
        m->sent << bytes;
        return true;
    }

private:
    FakeMidi *m;
};

QStringList portNames(int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("Port %1").arg(i);
    return names;
}

QStringList comboData(const QComboBox &combo)
{
    QStringList data;
    for (int i = 0; i < combo.count(); ++i)
        data << combo.itemData(i).toString();
    return data;
}

}  // namespace

Q_DECLARE_METATYPE(vl::MidiSystem)

class TestMidiOut : public QObject {
    Q_OBJECT

    FakeMidi midi;
    ManualScheduler clock;  // the panel's port list refresh runs on it
    std::unique_ptr<QWidget> window;
    QComboBox *combo = nullptr;
    QPushButton *button = nullptr;
    MidiOutputPanel *panel = nullptr;
    KeyboardWidget *notes = nullptr;
    KeyboardWidget *aftertouch = nullptr;

    QMidiOut *fakeOut() { return new QMidiOut(std::make_unique<FakeBackend>(&midi)); }

    bool allKeysConnected(bool connected)
    {
        for (KeyboardWidget *k : {notes, aftertouch}) {
            for (MidiKeyButton *key : k->keys()) {
                if (key->outputConnected != connected)
                    return false;
            }
        }
        return true;
    }

private slots:
    void init()
    {
        midi = FakeMidi();
        midi.ports = QStringList{"Synth A", "Synth B", "Synth C"};
        installScheduler(&clock);
        window = std::make_unique<QWidget>();
        combo = new QComboBox(window.get());
        button = new QPushButton("Connect", window.get());
        notes = new KeyboardWidget(window.get());
        aftertouch = new KeyboardWidget(window.get());
        panel = new MidiOutputPanel(combo, button, window.get(), fakeOut(), window.get());
        panel->setKeyboards({notes, aftertouch});
    }
    void cleanup()
    {
        window.reset();
        installScheduler(nullptr);
    }

    void packedMessagesLeaveAsBytes_data()
    {
        QTest::addColumn<int>("packed");
        QTest::addColumn<QByteArray>("bytes");
        using namespace midi;
        // clang-format off
        QTest::newRow("note on") << int(noteMessage(1, 60, 100)) << QByteArray::fromHex("903C64");
        QTest::newRow("velocity 0 is a note off") << int(noteMessage(1, 60, 0)) << QByteArray::fromHex("803C00");
        QTest::newRow("note on, channel 16") << int(noteMessage(16, 127, 1)) << QByteArray::fromHex("9F7F01");
        QTest::newRow("control change") << int(controlChangeMessage(1, 7, 100)) << QByteArray::fromHex("B00764");
        QTest::newRow("aftertouch") << int(polyAftertouchMessage(2, 60, 20)) << QByteArray::fromHex("A13C14");
        QTest::newRow("program change has one data byte") << 0x7705C3 << QByteArray::fromHex("C305");
        QTest::newRow("clock has none") << 0xF8 << QByteArray::fromHex("F8");
        QTest::newRow("no status byte") << 0x643C << QByteArray();
        QTest::newRow("data byte with its top bit set") << 0x80BC90 << QByteArray();
        QTest::newRow("system exclusive") << 0x7F7EF0 << QByteArray();
        // clang-format on
    }
    void packedMessagesLeaveAsBytes()
    {
        QFETCH(int, packed);
        QFETCH(QByteArray, bytes);
        QMidiOut out(std::make_unique<FakeBackend>(&midi));
        QVERIFY(out.openDevice(0));
        QCOMPARE(out.sendMsg(packed), !bytes.isEmpty());
        QCOMPARE(midi.sent, bytes.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{bytes});
    }

    void sendsOnlyShortMessagesToAnOpenPort()
    {
        QMidiOut out(std::make_unique<FakeBackend>(&midi));
        const int noteOn = int(midi::noteMessage(1, 60, 100));
        QVERIFY(!out.sendMsg(noteOn));
        QVERIFY(!out.sendMessage("short", noteOn));

        QVERIFY(out.openDevice(1));
        QVERIFY(!out.sendMessage("long", noteOn));
        QVERIFY(out.sendMessage("short", noteOn));
        QVERIFY(out.openDevice(2));  // the first port is closed first
        QCOMPARE(midi.calls, QStringList({"open 1", "close", "open 2"}));

        QVERIFY(!out.openDevice(7));
        QVERIFY(!out.isOpen());
        QVERIFY(!out.sendMsg(noteOn));
        QCOMPARE(midi.sent.size(), 1);
    }

    void portMapOrdersIdsAsText()
    {
        midi.ports = portNames(11);
        const QMap<QString, QString> devices = fakeOut()->listDevices();
        QCOMPARE(devices.keys(), QString("0 1 10 2 3 4 5 6 7 8 9").split(' '));
        QCOMPARE(devices.value("10"), QString("Port 10"));

        panel->scanConnectionList();
        QCOMPARE(comboData(*combo), devices.keys());
        QCOMPARE(combo->itemText(2), QString("Port 10"));
        combo->setCurrentIndex(2);
        ScriptedDialogs scripted;
        button->click();
        QCOMPARE(midi.calls, QStringList({"open 10"}));
    }

    // The refresh keeps the selected position, not the selected device.
    void refreshKeepsThePosition()
    {
        panel->scanConnectionList();
        combo->setCurrentIndex(1);
        midi.ports.prepend("Newcomer");
        panel->scanConnectionList();
        QCOMPARE(combo->count(), 4);
        QCOMPARE(combo->currentIndex(), 1);
        QCOMPARE(combo->currentText(), QString("Synth A"));

        combo->setCurrentIndex(3);
        midi.ports = QStringList{"Only"};
        panel->scanConnectionList();
        QCOMPARE(combo->currentIndex(), 0);

        QSignalSpy changes(combo, qOverload<int>(&QComboBox::currentIndexChanged));
        panel->scanConnectionList();  // nothing changed: the list is left alone
        QCOMPARE(changes.size(), 0);

        midi.ports.clear();
        panel->scanConnectionList();
        QCOMPARE(combo->count(), 0);
    }

    void startListNamesTheBox()
    {
        midi.ports = QStringList{"Synth A", "usb KVR-9000 MIDI 1"};
        panel->fillConnectionListAtStart();
        QCOMPARE(combo->itemText(1), QString("Nemora KVR-9000"));
        QCOMPARE(combo->itemData(1).toString(), QString("1"));
        // The refresh every second shows the plain names.
        QVERIFY(panel->scanTimer()->isActive());
        QCOMPARE(panel->scanTimer()->interval(), 1000);
        clock.advance(999);
        QCOMPARE(combo->itemText(1), QString("Nemora KVR-9000"));
        clock.advance(1);
        QCOMPARE(combo->itemText(1), QString("usb KVR-9000 MIDI 1"));
        midi.ports.removeFirst();
        clock.advance(1000);
        QCOMPARE(combo->count(), 1);
    }

    void connectAndDisconnect()
    {
        ScriptedDialogs scripted;
        button->click();  // the list is still empty
        QCOMPARE(scripted.lastMessage().kind, MessageKind::Warning);
        QCOMPARE(scripted.lastMessage().title, QString("MIDI"));
        QCOMPARE(scripted.lastMessage().text, QString("No device selected."));
        QVERIFY(midi.calls.isEmpty());

        panel->scanConnectionList();
        combo->setCurrentIndex(1);
        button->click();
        QCOMPARE(midi.calls, QStringList({"open 1"}));
        QVERIFY(panel->midiConnected());
        QCOMPARE(button->text(), QString("Disconnect"));
        QVERIFY(!combo->isEnabled());
        QVERIFY(allKeysConnected(true));
        QCOMPARE(scripted.lastMessage().kind, MessageKind::Information);
        QCOMPARE(scripted.lastMessage().parent, window.get());
        QCOMPARE(scripted.lastMessage().text, QString("Successfully connected to MIDI device."));

        button->click();
        QCOMPARE(midi.calls.last(), QString("close"));
        QVERIFY(!panel->midiConnected());
        QCOMPARE(button->text(), QString("Connect"));
        QVERIFY(combo->isEnabled());
        QVERIFY(allKeysConnected(false));
        QCOMPARE(scripted.lastMessage().kind, MessageKind::Information);
        QCOMPARE(scripted.lastMessage().text, QString("Disconnected MIDI device."));

        midi.refuseOpen = true;
        button->click();
        QVERIFY(!panel->midiConnected());
        QCOMPARE(button->text(), QString("Connect"));
        QVERIFY(combo->isEnabled());
        QVERIFY(allKeysConnected(false));
        QCOMPARE(scripted.lastMessage().kind, MessageKind::Critical);
        QCOMPARE(scripted.lastMessage().title, QString("MIDI"));
        QCOMPARE(scripted.lastMessage().text, QString("Failed to connect to MIDI device."));
        QCOMPARE(scripted.asked.size(), 4);
    }

    // Without a MIDI system (no ALSA sequencer device, no JACK server) there are simply no
    // ports; nothing waits for a server or tries to start one.
    void noMidiSystemMeansNoPorts_data()
    {
        QTest::addColumn<MidiSystem>("system");
        // clang-format off
        QTest::newRow("JACK without a server") << MidiSystem::Jack;
        if (!QFileInfo::exists("/dev/snd/seq"))
            QTest::newRow("ALSA without a sequencer") << MidiSystem::AlsaSequencer;
        // clang-format on
    }
    void noMidiSystemMeansNoPorts()
    {
        QFETCH(MidiSystem, system);
        const QByteArray previous = qgetenv("JACK_DEFAULT_SERVER");
        const auto restore = qScopeGuard([&] {
            if (previous.isNull())
                qunsetenv("JACK_DEFAULT_SERVER");
            else
                qputenv("JACK_DEFAULT_SERVER", previous);
        });
        qputenv("JACK_DEFAULT_SERVER",
                QByteArray("vltest-absent-") + QByteArray::number(QCoreApplication::applicationPid()));
        auto *out = new QMidiOut(system);
        QVERIFY(out->listDevices().isEmpty());
        QVERIFY(!out->openDevice(0));
        QVERIFY(!out->sendMsg(int(midi::noteMessage(1, 60, 100))));

        MidiOutputPanel realPanel(combo, button, window.get(), out);
        realPanel.scanConnectionList();
        QCOMPARE(combo->count(), 0);
        combo->addItem("gone", "0");
        ScriptedDialogs scripted;
        realPanel.on_pushButton_5_clicked();
        QCOMPARE(scripted.messageTexts(), QStringList({"Failed to connect to MIDI device."}));
    }

    void sendingWithoutAPortWarns()
    {
        ScriptedDialogs scripted;
        panel->sendNoteMessage(1, 60, 100);
        panel->sendControlChange(1, 7, 100);
        panel->sendPolyAftertouch(1, 60, 20);  // silently dropped
        const QString text = "Device is not connected, unable to send control change messages!";
        QCOMPARE(scripted.messageTexts(), QStringList({text, text}));
        QCOMPARE(scripted.lastMessage().title, QString("Connection Failed"));
        QCOMPARE(scripted.lastMessage().kind, MessageKind::Warning);
        QVERIFY(midi.sent.isEmpty());
    }
};

QTEST_MAIN(TestMidiOut)
#include "tst_midiout.moc"
