// The light preview window playing real MIDI: keys pressed and faders dragged with the
// mouse send their messages through a private JACK server (dummy driver) to a virtual
// input, which checks the exact bytes; the same events are logged, run through the rules
// and light the fixture clicked on the stage, which repaints in its new colour. Without an
// open port the keys and faders warn.

#include "jackreceiver.h"
#include "jackserver.h"
#include "midi/ui/keyboardwidget.h"
#include "midi/ui/midikeybutton.h"
#include "midi/core/midimessage.h"
#include "midi/ui/midioutputpanel.h"
#include "midi/core/qmidiout.h"
#include "preview/ui/fixturedetailsdialog.h"
#include "preview/core/framelimiter.h"
#include "preview/ui/lightform.h"
#include "preview/ui/stagecontroller.h"
#include "preview/ui/stageitems.h"
#include "previewrules.h"
#include "windowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGraphicsView>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QtTest>

using namespace vl;
using namespace vl::test;

namespace {

const QByteArray kSentinel = QByteArray::fromHex("BF7F7F");  // control change 127 = 127, channel 16

// The fixture on the stage: brightness on DMX 1, red on 2, green on 3.
const QString kLamp = QStringLiteral("Lamp");
const QPointF kLampAt(100, 100);

// Counts the stage's paints and what they covered.
class PaintWatch : public QObject {
public:
    int paints = 0;
    QRegion painted;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            painted += static_cast<QPaintEvent *>(event)->region();
        }
        return false;
    }
};

QRect sliderHandle(const QSlider *slider)
{
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.orientation = slider->orientation();
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.sliderValue = slider->value();
    opt.singleStep = slider->singleStep();
    opt.pageStep = slider->pageStep();
    opt.upsideDown = !slider->invertedAppearance();  // vertical: the maximum at the top
    opt.subControls = QStyle::SC_None;
    return slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider);
}

void dragTo(QWidget *widget, const QPoint &from, const QList<QPoint> &path)
{
    QTest::mousePress(widget, Qt::LeftButton, {}, from);
    for (const QPoint &p : path) {
        QMouseEvent move(QEvent::MouseMove, p, widget->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }
    QTest::mouseRelease(widget, Qt::LeftButton, {}, path.last());
}

}  // namespace

class TestPreviewMidi : public WindowTest {
    Q_OBJECT

public:
    TestPreviewMidi() { useManualClock(); }

private:
    std::unique_ptr<JackServer> server;
    std::unique_ptr<JackReceiver> receiver;
    std::unique_ptr<RuleModel> rules;
    std::unique_ptr<RemarkModel> remarks;
    std::unique_ptr<light_Form> form;

    // Everything the receiver got before a sentinel sent after it.
    QList<QByteArray> received()
    {
        form->midiPanel()->midiOut()->sendMsg(int(midi::controlChangeMessage(16, 127, 127)));
        [&] { QTRY_VERIFY_WITH_TIMEOUT(receiver->messages().contains(kSentinel), 10000); }();
        QList<QByteArray> got = receiver->messages();
        got.removeAll(kSentinel);
        receiver->clear();
        return got;
    }

    QStringList logRows() const
    {
        QStringList rows;
        for (const MidiLogRow &r : form->core().messageLog().rows())
            rows << QStringLiteral("%1 %2 ch%3 %4 = %5").arg(r.sn).arg(r.event).arg(r.channel).arg(r.number, r.value);
        return rows;
    }

    int level(int dmx) const { return form->core().registry().firstChannelValue(dmx); }

    void connectPort()
    {
        form->midiPanel()->scanConnectionList();
        const int index = form->comboBox->findText(receiver->portName());
        QVERIFY2(index >= 0, qPrintable(receiver->portName()));
        form->comboBox->setCurrentIndex(index);
        form->pushButton_5->click();
        QCOMPARE(dialogs->lastMessage().text, QStringLiteral("Successfully connected to MIDI device."));
        QVERIFY(form->midiPanel()->midiConnected());
        QVERIFY(receiver->waitUntilConnected(
            [this] { form->midiPanel()->midiOut()->sendMsg(int(midi::controlChangeMessage(16, 127, 127))); },
            kSentinel));
        dialogs->clear();
    }

    // A press at the bottom of a key: velocity 127.
    static void pressKey(MidiKeyButton *key) { QTest::mousePress(key, Qt::LeftButton, {}, QPoint(5, key->height())); }
    static void releaseKey(MidiKeyButton *key)
    {
        QTest::mouseRelease(key, Qt::LeftButton, {}, QPoint(5, key->height()));
    }

    FixtureItem *lamp() const { return form->stageController()->itemOf(kLamp); }
    QPoint lampOnView() const { return form->graphicsView->mapFromScene(kLampAt + QPointF(25, 25)); }

private slots:
    void initTestCase()
    {
        WindowTest::initTestCase();
        if (JackServer::executable().isEmpty())
            QSKIP("jackd is not installed (Debian package jackd2): no MIDI ports to test against");
        server = std::make_unique<JackServer>();
        QString error;
        QVERIFY2(server->start(&error), qPrintable(error));
        receiver = std::make_unique<JackReceiver>("vltest-preview");
    }
    void cleanupTestCase()
    {
        receiver.reset();
        server.reset();
    }

    void init()
    {
        WindowTest::init();
        rules = std::make_unique<RuleModel>();
        remarks = std::make_unique<RemarkModel>();
        // Note 60 lights DMX 1 as played; AT 62 toggles DMX 2 at 200; CC 7 fades DMX 3 in
        // by 10 a step.
        setRules(*rules, {{"1", "Note", "60 / C4", "ALL", "OFF", "OFF", "OFF", "OFF", "ON"},
                          {"2", "AT", "62 / D4", "ALL", "200", "OFF", "OFF", "ON", "ON"},
                          {"3", "CC", "7", "ALL", "OFF", "10", "OFF", "OFF", "ON"}});
        form = std::make_unique<light_Form>(nullptr, new QMidiOut(MidiSystem::Jack));
        form->setRuleModel(rules.get());
        form->setRemarkModel(remarks.get());
        // Tall enough for faders that move in steps.
        form->resize(1600, 1200);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->rebuildRuleSnapshots();
        form->refreshCcFaders();
        form->markNoteKeys();
        form->markAtKeys();
        form->setCoefficient(2.0);
        QCoreApplication::processEvents();

        // The lamp, as Add leaves it.
        GlobalData &registry = form->core().registry();
        LightFixture f;
        f.fixtureName = kLamp;
        f.selectedChannels = {FixtureChannel{1, 1, "Dimmer", 0}, FixtureChannel{2, 2, "Red", 0},
                              FixtureChannel{3, 3, "Green", 0}};
        f.brightnessChannel = 1;
        f.redChannel = 2;
        f.greenChannel = 3;
        registry.addFixture(f);
        const QMap<QString, int> roles{{"Brightness", 1}, {"Red", 2}, {"Green", 3}};
        form->core().stage().addRecord({kLamp, {{"1", 1, "Dimmer"}, {"2", 2, "Red"}, {"3", 3, "Green"}}, roles});
        form->stageController()->addFixtureItem(kLamp, roles, true, QString(), kLampAt);
    }
    void cleanup()
    {
        form.reset();
        rules.reset();
        remarks.reset();
        GlobalData &registry = GlobalData::instance();
        registry.clearFixtures();
        registry.clearSnMappings();
        registry.clearUsedSNs();
        if (receiver)
            receiver->clear();
        WindowTest::cleanup();
    }

    // Keys and a fader played with the mouse: exact bytes out, log rows, levels on the
    // fixture clicked last, and the stage repainting it in its new colour.
    void keysAndFaderPlayAndLight()
    {
        connectPort();
        // The lamp clicked on the stage: the keys light it from now on.
        QTest::mouseClick(form->graphicsView->viewport(), Qt::LeftButton, {}, lampOnView());
        QVERIFY(form->core().engine().hasCurrentFixture());
        QVERIFY(form->detailsProxy->isVisible());

        // AT 62: a toggling rule at a fixed 200; its release sends nothing and the light stays.
        MidiKeyButton *d = form->atKeyboard->keyForNote(62);
        QVERIFY(d->mapped);
        pressKey(d);
        releaseKey(d);
        QCOMPARE(received(), QList<QByteArray>{QByteArray::fromHex("A03E7F")});
        QCOMPARE(logRows(), QStringList{"1 AT ch1 62 = 127"});
        QCOMPARE(level(2), 200);

        // Fader 7 dragged to the top: every value on the way goes out and is logged; the
        // green fades in by 10 every 50 ms to twice the last value.
        QSlider *fader = form->ccFaders().at(7).slider;
        QVERIFY(fader->isVisible() && fader->isEnabled());
        const QPoint handle = sliderHandle(fader).center();
        QVERIFY2(fader->height() > 40, qPrintable(QString::number(fader->height())));
        dragTo(fader, handle, {handle - QPoint(0, 5), handle - QPoint(0, 10), handle - QPoint(0, fader->height())});
        QCOMPARE(fader->value(), 127);
        const QList<QByteArray> moves = received();
        QVERIFY2(moves.size() >= 2, qPrintable(QString::number(moves.size())));
        QCOMPARE(moves.last(), QByteArray::fromHex("B0077F"));
        const QStringList rows = logRows().mid(1);
        QCOMPARE(rows.size(), moves.size());
        for (int i = 0; i < moves.size(); ++i) {
            QCOMPARE(moves.at(i).left(2), QByteArray::fromHex("B007"));
            QCOMPARE(rows.at(i), QStringLiteral("%1 CC ch1 7 = %2").arg(i + 2).arg(int(quint8(moves.at(i).at(2)))));
        }
        QVERIFY(level(3) < 254);
        clock->advance(26 * 50);
        QCOMPARE(level(3), 254);

        // Note 60 at velocity 127 and coefficient 2: brightness 254 at once. The stage
        // repaints the lamp in (200, 254, 0) × 254 / 255 with its next frame.
        PaintWatch watch;
        form->graphicsView->viewport()->installEventFilter(&watch);
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        QCoreApplication::processEvents();
        watch.paints = 0;
        watch.painted = QRegion();
        MidiKeyButton *c = form->noteKeyboard->keyForNote(60);
        pressKey(c);
        QCOMPARE(received(), QList<QByteArray>{QByteArray::fromHex("903C7F")});
        QCOMPARE(logRows().last(), QStringLiteral("%1 Note On ch1 60 = 127").arg(rows.size() + 2));
        QCOMPARE(level(1), 254);
        QCOMPARE(lamp()->channelBindings().value("1"), 254);  // the clicked fixture keeps the level
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        QTRY_VERIFY(watch.painted.contains(lampOnView()));
        const QColor lit(199, 253, 0);
        QCOMPARE(form->core().registry().fixtureColor(kLamp), lit);
        QCOMPARE(form->graphicsView->viewport()->grab().toImage().pixelColor(lampOnView()), lit);
        // The fade's last step puts the same level again: nothing to repaint.
        watch.painted = QRegion();
        clock->advance(PreviewEngine::kFadeIntervalMs);
        QCoreApplication::processEvents();
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        QCoreApplication::processEvents();
        QVERIFY(!watch.painted.contains(lampOnView()));

        // Released: note off, dark again.
        watch.painted = QRegion();
        releaseKey(c);
        QCOMPARE(received(), QList<QByteArray>{QByteArray::fromHex("803C00")});
        QCOMPARE(logRows().last(), QStringLiteral("%1 Note Off ch1 60 = 0").arg(rows.size() + 3));
        QCOMPARE(level(1), 0);
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        QTRY_VERIFY(watch.painted.contains(lampOnView()));
        QCOMPARE(form->graphicsView->viewport()->grab().toImage().pixelColor(lampOnView()), QColor(Qt::black));
        form->graphicsView->viewport()->removeEventFilter(&watch);

        // The details panel follows: the DMX 1 row shows the remark and the level.
        const FixtureDetailsModel &details = form->core().details();
        QCOMPARE(details.index(0, 2).data().toString(), QStringLiteral("Dimmer:0"));
        QCOMPARE(details.index(1, 2).data().toString(), QStringLiteral("Red:200"));
        // ... and its green bar reads that level, not 0.
        QCOMPARE(ProgressBarDelegate::cellValue(details.index(1, 2).data().toString()), 200);

        // Another MIDI channel: the same keys on channel 3.
        form->comboBox_2->setCurrentIndex(2);
        pressKey(c);
        releaseKey(c);
        QCOMPARE(received(), QList<QByteArray>({QByteArray::fromHex("923C7F"), QByteArray::fromHex("823C00")}));
        QCOMPARE(logRows().last(), QStringLiteral("%1 Note Off ch3 60 = 0").arg(rows.size() + 5));
        QVERIFY(dialogs->asked.isEmpty());
    }

    // Hold on the Note keyboard: the first click latches the note on, the second lets it go.
    void heldKey()
    {
        connectPort();
        form->noteHoldBox->click();
        QVERIFY(form->noteHold);
        MidiKeyButton *c = form->noteKeyboard->keyForNote(60);
        pressKey(c);
        releaseKey(c);
        QCOMPARE(received(), QList<QByteArray>{QByteArray::fromHex("903C7F")});
        pressKey(c);
        QCOMPARE(received(), QList<QByteArray>());
        releaseKey(c);
        QCOMPARE(received(), QList<QByteArray>{QByteArray::fromHex("803C00")});
        QCOMPARE(logRows(), QStringList({"1 Note On ch1 60 = 127", "2 Note Off ch1 60 = 0"}));
    }

    // No port open: a mapped key warns and plays nothing; a fader warns from the output,
    // and its move is still logged and played into the rules.
    void withoutAPortTheyWarn()
    {
        QVERIFY(!form->midiPanel()->midiConnected());
        MidiKeyButton *c = form->noteKeyboard->keyForNote(60);
        pressKey(c);
        releaseKey(c);
        QCOMPARE(dialogs->messageTexts(),
                 QStringList{"The device is not connected. Unable to send control change message."});
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Connection Failed"));
        QCOMPARE(dialogs->lastMessage().kind, MessageKind::Warning);
        QVERIFY(logRows().isEmpty());

        dialogs->clear();
        form->ccFaders().at(7).slider->setValue(100);
        QCOMPARE(dialogs->messageTexts(),
                 QStringList{"Device is not connected, unable to send control change messages!"});
        QCOMPARE(dialogs->lastMessage().title, QStringLiteral("Connection Failed"));
        QCOMPARE(logRows(), QStringList{"1 CC ch1 7 = 100"});

        // Nothing reached the port meanwhile.
        QVERIFY(receiver->messages().isEmpty());
    }
};

QTEST_MAIN(TestPreviewMidi)
#include "tst_previewmidi.moc"
