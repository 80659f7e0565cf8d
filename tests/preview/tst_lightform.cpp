// The light preview window: its panels following the rule table, the details button on
// the stage, the background picture, the MIDI message log and the port list, and the
// repaint pacing of the stage and the fader strip.

#include "midi/keyboardwidget.h"
#include "midi/midibackend.h"
#include "midi/midikeybutton.h"
#include "midi/midioutputpanel.h"
#include "midi/qmidiout.h"
#include "preview/addfixturedialog.h"
#include "preview/framelimiter.h"
#include "preview/lightform.h"
#include "preview/stagegeometry.h"
#include "preview/stageitems.h"
#include "previewrules.h"
#include "windowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGraphicsProxyWidget>
#include <QGraphicsView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

using namespace vl;
using namespace vl::test;

namespace {

// A MIDI system with the ports a test names.
struct FakePorts {
    QStringList names;
    QList<QByteArray> sent;
};

class FakeBackend final : public MidiBackend {
public:
    explicit FakeBackend(FakePorts *ports) : m(ports) {}
    QStringList portNames() override { return m->names; }
    bool open(int id, QString *error) override
    {
        if (id < 0 || id >= m->names.size()) {
            *error = QStringLiteral("no such port");
            return false;
        }
        return true;
    }
    void close() override {}
    bool send(const QByteArray &bytes, QString *) override
    {
        m->sent << bytes;
        return true;
    }

private:
    FakePorts *m;
};

using Rules = QList<Rule>;

}  // namespace

Q_DECLARE_METATYPE(Rules)

class TestLightForm : public WindowTest {
    Q_OBJECT

public:
    TestLightForm() { useManualClock(); }

private:
    FakePorts ports;
    std::unique_ptr<RuleModel> rules;
    std::unique_ptr<RemarkModel> remarks;

    std::unique_ptr<light_Form> makeWindow()
    {
        auto form = std::make_unique<light_Form>(nullptr, new QMidiOut(std::make_unique<FakeBackend>(&ports)));
        form->setRuleModel(rules.get());
        form->setRemarkModel(remarks.get());
        return form;
    }

    static void reload(light_Form &form)
    {
        form.rebuildRuleSnapshots();
        form.refreshCcFaders();
        form.markNoteKeys();
        form.markAtKeys();
    }

    // Controllers whose fader shows, and those of them that can be moved.
    static QList<int> shownFaders(const light_Form &form, bool enabledOnly)
    {
        QList<int> shown;
        for (const CcFader &f : form.ccFaders()) {
            const bool visible = !f.slider->isHidden() && !f.valueLabel->isHidden() && !f.numberLabel->isHidden();
            const bool enabled = f.slider->isEnabled() && f.valueLabel->isEnabled() && f.numberLabel->isEnabled();
            if (visible && (!enabledOnly || enabled))
                shown << f.controller;
        }
        return shown;
    }

    static QList<int> markedKeys(const KeyboardWidget *keyboard)
    {
        QList<int> marked;
        for (const MidiKeyButton *key : keyboard->keys()) {
            if (key->mapped) {
                marked << key->note;
                if (key->keyColor != MidiKeyButton::mappedColor)
                    marked << -1;  // marked without its colour
            } else if (key->keyColor != key->baseColor()) {
                marked << -2;  // coloured without being marked
            }
        }
        std::sort(marked.begin(), marked.end());
        return marked;
    }

    static void mouse(QWidget *target, QEvent::Type type, const QPoint &global)
    {
        QMouseEvent event(type, QPointF(5, 5), QPointF(global), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

private slots:
    void init()
    {
        WindowTest::init();
        ports = {};
        rules = std::make_unique<RuleModel>();
        remarks = std::make_unique<RemarkModel>();
    }
    void cleanup()
    {
        rules.reset();
        remarks.reset();
        WindowTest::cleanup();
    }

    void builtAsDesigned()
    {
        auto form = makeWindow();
        QCOMPARE(form->windowTitle(), QStringLiteral("Untitled"));
        QCOMPARE(form->size(), QSize(1366, 768));
        QVERIFY(form->pushButton_3->isHidden());
        QVERIFY(!form->pushButton_4->isHidden());
        QCOMPARE(form->fixtureDialog->windowTitle(), QStringLiteral("Add Fixture"));
        QCOMPARE(form->midiMessageDialog->windowTitle(), QStringLiteral("MIDI Message"));
        QVERIFY(!form->detailsProxy->isVisible());
        QCOMPARE(form->detailsProxy->size(), QSizeF(400, 300));
        QCOMPARE(form->ccFaders().size(), 128);
        QCOMPARE(form->comboBox_2->count(), 16);
        QCOMPARE(shownFaders(*form, false), QList<int>());
        QStringList entries;
        for (QAction *a : form->menuBar->actions().first()->menu()->actions())
            entries << a->text();
        QCOMPARE(entries, QStringList({"New Project", "Open Project", "Save Project", "Save Project As"}));
        QCOMPARE(form->menuBar->actions().first()->text(), QStringLiteral("File"));
        QCOMPARE(form->saveShortcut->key(), QKeySequence(QStringLiteral("Ctrl+C")));

        // The keyboards take the first screen's available width.
        const int w = QGuiApplication::screens().first()->availableGeometry().width();
        QCOMPARE(form->noteKeyboard->width(), w - 42);
        QCOMPARE(form->atKeyboard->height(), 95);
        QCOMPARE(form->widget_2->maximumWidth(), w);
    }

    void ctrlCSavesTheProject()
    {
        auto form = makeWindow();
        QSignalSpy saved(form.get(), &light_Form::saveProjectRequested);
        form->saveShortcut->activated();
        QCOMPARE(saved.count(), 1);
    }

    void fadersFollowTheRules_data()
    {
        QTest::addColumn<Rules>("table");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QList<int>>("shown");
        QTest::addColumn<QList<int>>("movable");

        QTest::newRow("ALL, enabled") << Rules{{"1", "CC", "7", "ALL", "", "", "", "", "ON"}} << 1 << QList<int>{7}
                                      << QList<int>{7};
        QTest::newRow("ALL, disabled") << Rules{{"1", "CC", "7", "ALL", "", "", "", "", "OFF"}} << 1
                                       << QList<int>{7} << QList<int>{};
        QTest::newRow("another channel") << Rules{{"1", "CC", "7", "1", "", "", "", "", "ON"}} << 2 << QList<int>{7}
                                         << QList<int>{};
        QTest::newRow("the later row decides")
            << Rules{{"1", "CC", "7", "1", "", "", "", "", "ON"}, {"2", "CC", "7", "2", "", "", "", "", "ON"}} << 1
            << QList<int>{7} << QList<int>{};
        QTest::newRow("a note names no fader") << Rules{{"1", "Note", "7 / G-2", "ALL", "", "", "", "", "ON"}} << 1
                                               << QList<int>{} << QList<int>{};
    }
    void fadersFollowTheRules()
    {
        QFETCH(Rules, table);
        QFETCH(int, channel);
        QFETCH(QList<int>, shown);
        QFETCH(QList<int>, movable);
        int row = 0;
        for (const Rule &r : table)
            setRule(*rules, row++, r);
        auto form = makeWindow();
        form->comboBox_2->setCurrentIndex(channel - 1);
        reload(*form);
        QCOMPARE(shownFaders(*form, false), shown);
        QCOMPARE(shownFaders(*form, true), movable);
    }

    void channelChangeRedecides()
    {
        setRules(*rules, {{"1", "CC", "7", "2", "", "", "", "", "ON"}, {"2", "Note", "60 / C3", "2", "", "", "", "", "ON"}});
        auto form = makeWindow();
        reload(*form);
        QCOMPARE(shownFaders(*form, true), QList<int>());
        QCOMPARE(markedKeys(form->noteKeyboard), QList<int>());
        form->comboBox_2->setCurrentIndex(1);
        QCOMPARE(shownFaders(*form, true), QList<int>{7});
        QCOMPARE(markedKeys(form->noteKeyboard), QList<int>{60});
    }

    void noteRuleMarksTheNoteKeyboardOnly()
    {
        setRules(*rules, {{"1", "Note", "60 / C3", "ALL", "", "", "", "", "ON"},
                          {"2", "Note", "60 / C3", "ALL", "", "", "", "", "OFF"},
                          {"3", "AT", "62 / D3", "ALL", "", "", "", "", "OFF"}});
        auto form = makeWindow();
        reload(*form);
        QCOMPARE(markedKeys(form->noteKeyboard), QList<int>{60});
        QCOMPARE(markedKeys(form->atKeyboard), QList<int>());

        // Edited away and reloaded: the key goes back to white.
        rules->setText(0, ColEnable, QStringLiteral("OFF"));
        reload(*form);
        QCOMPARE(markedKeys(form->noteKeyboard), QList<int>());
    }

    void holdAppliesToMarkedKeys()
    {
        setRules(*rules, {{"1", "Note", "60 / C3", "ALL", "", "", "", "", "ON"}});
        auto form = makeWindow();
        reload(*form);
        form->noteHoldBox->setChecked(true);
        QVERIFY(form->noteHold);
        QVERIFY(form->noteKeyboard->keyForNote(60)->holdMode);
        QVERIFY(!form->noteKeyboard->keyForNote(61)->holdMode);
        QVERIFY(!form->atKeyboard->keyForNote(60)->holdMode);

        // Hiding the Note keyboard's panel takes its Hold row along and keeps the state.
        form->checkBox_2->click();
        QVERIFY(form->widget_3->isHidden());
        QVERIFY(!form->noteHoldBox->isVisibleTo(form.get()));
        QVERIFY(form->noteHold);
        form->noteHoldBox->setChecked(false);
        QVERIFY(!form->noteKeyboard->keyForNote(60)->holdMode);
    }

    void showBoxesHideTheirPanels_data()
    {
        QTest::addColumn<int>("box");
        QTest::newRow("Show CC Fader") << 1;
        QTest::newRow("Show Note Keyboard") << 2;
        QTest::newRow("Show AT Keyboard") << 3;
    }
    void showBoxesHideTheirPanels()
    {
        QFETCH(int, box);
        auto form = makeWindow();
        QCheckBox *boxes[] = {form->checkBox, form->checkBox_2, form->checkBox_3};
        QWidget *panels[] = {form->widget_2, form->widget_3, form->widget_4};
        boxes[box - 1]->click();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(panels[i]->isHidden(), i == box - 1);
        boxes[box - 1]->click();
        QVERIFY(!panels[box - 1]->isHidden());
    }

    void recCombinLabelsTheKeysOfC()
    {
        auto form = makeWindow();
        auto labels = [&](const KeyboardWidget *k) {
            QStringList l;
            for (const MidiKeyButton *key : k->keys())
                if (!key->label.isEmpty())
                    l << QStringLiteral("%1=%2").arg(key->note).arg(key->label);
            return l;
        };
        form->rec_combin(2);
        const QStringList expected = {"0=C-1", "12=C0", "24=C1", "36=C2", "48=C3", "60=C4",
                                      "72=C5", "84=C6", "96=C7", "108=C8", "120=C9"};
        QCOMPARE(labels(form->noteKeyboard), expected);
        QCOMPARE(labels(form->atKeyboard), expected);
        form->rec_combin(4);
        QCOMPARE(labels(form->noteKeyboard), expected);
        form->rec_combin(1);
        QCOMPARE(labels(form->atKeyboard).first(), QStringLiteral("0=C-2"));
    }

    void detailsButtonPlace_data()
    {
        QTest::addColumn<qreal>("stageWidth");
        QTest::addColumn<QPointF>("button");
        QTest::newRow("1000 pixels") << 1000.0 << QPointF(740, 10);
        QTest::newRow("40 pixels") << 40.0 << QPointF(10, 10);
    }
    void detailsButtonPlace()
    {
        QFETCH(qreal, stageWidth);
        QFETCH(QPointF, button);
        auto form = makeWindow();
        form->detailsButton->setFixedSize(40, 30);
        form->positionDetailsPanel(QRectF(0, 0, stageWidth, 600));
        QCOMPARE(form->detailsButtonProxy->pos(), button);
        QCOMPARE(form->detailsProxy->pos(), button + QPointF(40, 0));
        QCOMPARE(form->detailsProxy->zValue(), 10.0);

        // An empty stage changes nothing.
        form->positionDetailsPanel(QRectF());
        QCOMPARE(form->detailsButtonProxy->pos(), button);
    }

    void detailsPanelOpensForAFixture()
    {
        auto form = makeWindow();
        LightFixture wash;
        wash.fixtureName = QStringLiteral("Wash");
        wash.selectedChannels = {FixtureChannel{1, 1, QStringLiteral("Dimmer"), 0}};
        form->core().registry().addFixture(wash);
        form->detailsButton->setFixedSize(40, 30);
        form->positionDetailsPanel(QRectF(0, 0, 1000, 600));

        // A name the registry does not hold changes nothing.
        form->showFixtureDetails(QStringLiteral("Spot"));
        QVERIFY(!form->detailsProxy->isVisible());
        form->showFixtureDetails(QStringLiteral("Wash"));
        QVERIFY(form->detailsProxy->isVisible());
        QCOMPARE(form->detailsProxy->pos(), QPointF(780, 10));
        QCOMPARE(form->detailsButton->iconSize(), QSize(32, 32));

        // Closed by the button, reopened by the refresh after a burst of rule edits.
        mouse(form->detailsButton, QEvent::MouseButtonPress, QPoint(10, 10));
        mouse(form->detailsButton, QEvent::MouseButtonRelease, QPoint(10, 10));
        QVERIFY(!form->detailsProxy->isVisible());
        form->refreshDetailsPanel();
        QVERIFY(form->detailsProxy->isVisible());
        form->core().registry().removeFixture(wash.fixtureName);
    }

    void detailsButtonClickAndDrag()
    {
        auto form = makeWindow();
        form->resize(1000, 700);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const QRectF visible = form->visibleStageRect();
        form->positionDetailsPanel(visible);
        const QPointF start = form->detailsButtonProxy->pos();
        const int d = QApplication::startDragDistance();
        const QPoint g(500, 300);

        // Moving no further than the start-drag distance is a click: the panel opens.
        mouse(form->detailsButton, QEvent::MouseButtonPress, g);
        mouse(form->detailsButton, QEvent::MouseMove, g + QPoint(d, -d));
        mouse(form->detailsButton, QEvent::MouseButtonRelease, g + QPoint(d, -d));
        QVERIFY(form->detailsProxy->isVisible());
        QCOMPARE(form->detailsButtonProxy->pos(), start);
        QCOMPARE(form->detailsButton->iconSize(), QSize(32, 32));

        // Further is a drag: button and panel move together, nothing toggles.
        mouse(form->detailsButton, QEvent::MouseButtonPress, g);
        mouse(form->detailsButton, QEvent::MouseMove, g + QPoint(-(d + 1), 0));
        mouse(form->detailsButton, QEvent::MouseMove, g + QPoint(-(d + 1) - 50, 20));
        mouse(form->detailsButton, QEvent::MouseButtonRelease, g + QPoint(-(d + 1) - 50, 20));
        QVERIFY(form->detailsProxy->isVisible());
        QCOMPARE(form->detailsButtonProxy->pos(), start + QPointF(-(d + 1) - 50, 20));
        QCOMPARE(form->detailsProxy->pos(), form->detailsButtonProxy->pos() + QPointF(form->detailsButton->width(), 0));

        // The button stays inside the visible stage; the panel may leave it.
        mouse(form->detailsButton, QEvent::MouseButtonPress, g);
        mouse(form->detailsButton, QEvent::MouseMove, g + QPoint(5000, 5000));
        mouse(form->detailsButton, QEvent::MouseButtonRelease, g + QPoint(5000, 5000));
        const QSizeF size = form->detailsButtonProxy->size();
        QCOMPARE(form->detailsButtonProxy->pos(),
                 QPointF(visible.right() - size.width(), visible.bottom() - size.height()));

        // A click closes the panel again.
        mouse(form->detailsButton, QEvent::MouseButtonPress, g);
        mouse(form->detailsButton, QEvent::MouseButtonRelease, g);
        QVERIFY(!form->detailsProxy->isVisible());
        QCOMPARE(form->detailsButton->iconSize(), QSize(23, 16));
    }

    void backgroundPicture()
    {
        QImage picture(200, 100, QImage::Format_RGB32);
        picture.fill(Qt::darkBlue);
        QVERIFY(picture.save(QStringLiteral("stage.png")));
        auto form = makeWindow();
        form->scene->setSceneRect(0, 0, 1000, 600);

        // A right press on the empty stage offers the one entry; the file dialog follows.
        QStringList offered;
        form->setMenuRunner([&](QMenu &menu, const QPoint &) {
            for (QAction *a : menu.actions())
                offered << a->text();
            return menu.actions().first();
        });
        dialogs->files << QStringLiteral("stage.png");
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(20, 20), QPointF(20, 20), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
        QVERIFY(QApplication::sendEvent(form->graphicsView, &press));
        QCOMPARE(offered, QStringList{"Select the background picture"});
        QCOMPARE(dialogs->asked.size(), 1);
        QCOMPARE(dialogs->asked.first().title(), QStringLiteral("选择图片"));

        QGraphicsItem *added = nullptr;
        for (QGraphicsItem *item : form->scene->items())
            if (item->zValue() == -1000)
                added = item;
        QVERIFY(added);
        QCOMPARE(added->pos(), QPointF(392, 242));

        // Cancelled: nothing more on the stage.
        const int items = form->scene->items().size();
        dialogs->files << QString();
        QVERIFY(QApplication::sendEvent(form->graphicsView, &press));
        QCOMPARE(form->scene->items().size(), items);
    }

    void messageLogNumbering()
    {
        auto form = makeWindow();
        for (int i = 0; i < 3; ++i)
            form->logMidiMessage(QStringLiteral("CC"), 1, QString::number(i), QStringLiteral("64"));
        QAbstractItemModel *log = form->midiMessageTable->model();
        QCOMPARE(log->rowCount(), 3);
        QCOMPARE(log->index(2, 0).data().toString(), QStringLiteral("3"));
        QCOMPARE(log->index(2, 3).data().toString(), QStringLiteral("2"));
        auto *clear = form->midiMessageDialog->findChild<QPushButton *>(QStringLiteral("clearButton"));
        QVERIFY(clear);
        QCOMPARE(clear->text(), QStringLiteral("Clear"));
        clear->click();
        QCOMPARE(log->rowCount(), 0);
        form->logMidiMessage(QStringLiteral("Note On"), 2, QStringLiteral("60"), QStringLiteral("100"));
        QCOMPARE(log->index(0, 0).data().toString(), QStringLiteral("1"));
        QCOMPARE(log->index(0, 2).data().toString(), QStringLiteral("2"));

        form->pushButton_7->click();
        QVERIFY(form->midiMessageDialog->isVisible());
        QVERIFY(!form->midiMessageDialog->isModal());
    }

    void portLabelBeforeAndAfterFirstRefresh()
    {
        ports.names = QStringList{QStringLiteral("Synth"), QStringLiteral("KVR-9000 MIDI 1")};
        auto form = makeWindow();
        QCOMPARE(form->comboBox->itemText(0), QStringLiteral("Synth"));
        QCOMPARE(form->comboBox->itemText(1), QStringLiteral("Nemora KVR-9000"));
        QCOMPARE(form->comboBox->itemData(1).toString(), QStringLiteral("1"));
        QVERIFY(!form->midiPanel()->midiConnected());
        clock->advance(1000);
        QCOMPARE(form->comboBox->itemText(1), QStringLiteral("KVR-9000 MIDI 1"));
    }

    void faderSendsAndLogs()
    {
        ports.names = QStringList{QStringLiteral("Synth")};
        setRules(*rules, {{"1", "CC", "7", "ALL", "", "", "", "", "ON"}});
        auto form = makeWindow();
        reload(*form);
        dialogs->buttons << QMessageBox::Ok;
        form->pushButton_5->click();
        QVERIFY(form->midiPanel()->midiConnected());
        form->ccFaders().at(7).slider->setValue(100);
        QCOMPARE(ports.sent, QList<QByteArray>{QByteArray::fromHex("b00764")});
        QCOMPARE(form->midiMessageTable->model()->rowCount(), 1);
        // The value label follows with the next frame.
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        QCOMPARE(form->ccFaders().at(7).valueLabel->text(), QStringLiteral("100"));
    }

    void fastFaderRepaintsAtFrameRate()
    {
        setRules(*rules, {{"1", "CC", "7", "ALL", "", "", "", "", "ON"}});
        auto form = makeWindow();
        reload(*form);
        QSlider *slider = form->ccFaders().at(7).slider;
        const int before = form->faderFrames()->frames();
        // 128 values within 64 ms of the clock: at most one frame per 20 ms.
        for (int v = 0; v < 128; ++v) {
            slider->setValue(v);
            if (v % 2)
                clock->advance(1);
        }
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        const int frames = form->faderFrames()->frames() - before;
        QVERIFY2(frames >= 1 && frames <= 5, qPrintable(QString::number(frames)));
        QCOMPARE(form->ccFaders().at(7).valueLabel->text(), QStringLiteral("127"));
        // The stage gathers its changes the same way.
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        const int stageBefore = form->stageFrames()->frames();
        for (int i = 0; i < 10; ++i) {
            form->scene->update(QRectF(10 * i, 10, 5, 5));
            QCoreApplication::processEvents();
        }
        QVERIFY(form->stageFrames()->pending());
        clock->advance(FrameLimiter::kDefaultIntervalMs);
        QCOMPARE(form->stageFrames()->frames() - stageBefore, 1);
        // Nothing changes, nothing is scheduled.
        QVERIFY(!form->faderFrames()->pending());
        QVERIFY(!form->stageFrames()->pending());
    }
};

QTEST_MAIN(TestLightForm)
#include "tst_lightform.moc"
