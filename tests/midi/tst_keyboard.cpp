// The on-screen keyboard driven with the mouse: key layout, velocity from the pointer's
// height, and the signals of normal, unconnected and latching keys.

#include "midi/ui/keyboardwidget.h"
#include "midi/ui/midikeybutton.h"

#include <QImage>
#include <QMouseEvent>
#include <QtTest>

using namespace vl;

namespace {

// 283 px high gives white keys 254 px high, so y / 254 * 127 = y / 2 exactly.
constexpr int kTestWidth = 75 * 20;
constexpr int kTestHeight = 283;

void moveTo(QWidget *key, int y)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(5, y), key->mapToGlobal(QPoint(5, y)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(key, &move);
}

}  // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

    std::unique_ptr<KeyboardWidget> keyboard;
    QStringList heard;  // "on 60 100", "off 60 0", in order

private slots:
    void init()
    {
        keyboard = std::make_unique<KeyboardWidget>();
        keyboard->setMinimumSize(0, 0);
        keyboard->resize(kTestWidth, kTestHeight);
        keyboard->show();
        QVERIFY(QTest::qWaitForWindowExposed(keyboard.get()));
        heard.clear();
        connect(keyboard.get(), &KeyboardWidget::noteOn, this,
                [this](int n, int v) { heard << QStringLiteral("on %1 %2").arg(n).arg(v); });
        connect(keyboard.get(), &KeyboardWidget::noteOff, this,
                [this](int n, int v) { heard << QStringLiteral("off %1 %2").arg(n).arg(v); });
    }
    void cleanup() { keyboard.reset(); }

    void buildsOneKeyPerNote()
    {
        KeyboardWidget k;
        QCOMPARE(k.whiteKeyCount, 75);
        QCOMPARE(k.whiteKeys.size(), 75);
        QCOMPARE(k.blackKeys.size(), 53);
        QCOMPARE(k.minimumSize(), QSize(3000, 150));
        for (int i = 1; i < k.whiteKeys.size(); ++i)
            QVERIFY(k.whiteKeys[i - 1]->note < k.whiteKeys[i]->note);
        QCOMPARE(k.keyForNote(0)->geometry(), QRect(0, 0, 40, 150));
        QCOMPARE(k.keyForNote(1)->geometry(), QRect(25, 0, 30, 90));
        QCOMPARE(k.keyForNote(2)->geometry(), QRect(40, 0, 40, 150));
        QCOMPARE(k.keyForNote(127)->geometry(), QRect(74 * 40, 0, 40, 150));

        QStringList labels;
        for (MidiKeyButton *key : k.keys()) {
            if (!key->label.isEmpty())
                labels << key->label;
            QCOMPARE(key->keyColor, key->isWhite ? QColor(Qt::white) : QColor(Qt::black));
            QCOMPARE(key->focusPolicy(), Qt::NoFocus);
        }
        QCOMPARE(labels, QString("C0 C1 C2 C3 C4 C5 C6 C7 C8 C9 C10").split(' '));
        QVERIFY(!k.keyForNote(128));
        QVERIFY(!k.keyForNote(60, true));
    }

    void layoutFollowsTheSize_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("note");
        QTest::addColumn<QRect>("geometry");
        // key width 20: black keys 15 wide, moved 12 px right of centre on the white key before
        // clang-format off
        QTest::newRow("C0 at width 20") << QSize(1500, 100) << 0 << QRect(0, 0, 20, 90);
        QTest::newRow("C#0 at width 20") << QSize(1500, 100) << 1 << QRect(15, 0, 15, 54);
        QTest::newRow("D#0 at width 20") << QSize(1500, 100) << 3 << QRect(35, 0, 15, 54);
        QTest::newRow("G10 at width 20") << QSize(1519, 100) << 127 << QRect(1480, 0, 20, 90);
        // the preview's keyboard on a 1920 px screen: 1878 x 95
        QTest::newRow("C5 in the preview") << QSize(1878, 95) << 60 << QRect(35 * 25, 0, 25, 85);
        QTest::newRow("C#5 in the preview") << QSize(1878, 95) << 61 << QRect(35 * 25 + 15, 0, 18, 51);
        // clang-format on
    }
    void layoutFollowsTheSize()
    {
        QFETCH(QSize, size);
        QFETCH(int, note);
        QFETCH(QRect, geometry);
        keyboard->resize(size);
        QCOMPARE(keyboard->keyForNote(note)->geometry(), geometry);
    }

    void velocityFollowsTheHeight_data()
    {
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("velocity");
        // clang-format off
        QTest::newRow("very top") << 0 << 0;
        QTest::newRow("half rounds up from 0.5") << 1 << 1;
        QTest::newRow("half rounds up from 1.5") << 3 << 2;
        QTest::newRow("middle") << 127 << 64;
        QTest::newRow("just above the bottom") << 253 << 127;
        QTest::newRow("bottom") << 254 << 127;
        // clang-format on
    }
    void velocityFollowsTheHeight()
    {
        QFETCH(int, y);
        QFETCH(int, velocity);
        MidiKeyButton *key = keyboard->keyForNote(60);
        QCOMPARE(key->height(), 254);
        QTest::mousePress(key, Qt::LeftButton, {}, QPoint(10, y));
        QTest::mouseRelease(key, Qt::LeftButton, {}, QPoint(10, y));
        QCOMPARE(heard, QStringList({QString("on 60 %1").arg(velocity), QString("off 60 %1").arg(velocity)}));
        QCOMPARE(key->velocity, velocity);
    }

    // Dragging streams note-ons; the pressed key keeps the moves even off its edges.
    void dragChangesTheVelocity()
    {
        MidiKeyButton *key = keyboard->keyForNote(61);
        QSignalSpy changed(key, &MidiKeyButton::velocityChanged);
        QTest::mousePress(key, Qt::LeftButton, {}, QPoint(5, 20));  // black key: 152 px high
        moveTo(key, 76);
        moveTo(key, 500);
        moveTo(key, -40);
        QTest::mouseRelease(key, Qt::LeftButton, {}, QPoint(5, -40));
        QCOMPARE(heard, QString("on 61 17|on 61 64|on 61 127|on 61 0|off 61 0").split('|'));
        QCOMPARE(changed.size(), 3);
        QCOMPARE(changed.last(), QVariantList({61, 0}));
    }

    void pressAndReleaseSignals_data()
    {
        QTest::addColumn<bool>("mapped");
        QTest::addColumn<bool>("hold");
        QTest::addColumn<bool>("output");
        QTest::addColumn<QString>("actions");  // press / move / release at a height
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("colorAfter");

        const QString twice = "p50 r50 p200 r200";
        // clang-format off
        QTest::newRow("plain key") << false << false << false << twice
                                   << "on 64 25|off 64 25|on 64 100|off 64 100" << "#ffffff";
        QTest::newRow("mapped key with output") << true << false << true << "p50 m100 r100"
                                                << "on 64 25|on 64 50|off 64 50" << "#8cc63f";
        QTest::newRow("mapped key without output") << true << false << false << "p50 m100 r100"
                                                   << "on 64 0" << "#8cc63f";
        QTest::newRow("hold: on at the first press, off at the second release")
            << true << true << true << "p50 m100 r100 p200 m220 r220" << "on 64 25|off 64 0" << "#8cc63f";
        QTest::newRow("hold while latched keeps the dark colour")
            << true << true << true << "p50 r50" << "on 64 25" << "#006837";
        QTest::newRow("hold without output") << true << true << false << twice << "on 64 0|off 64 0" << "#8cc63f";
        QTest::newRow("hold on an unmapped key plays normally")
            << false << true << true << twice << "on 64 25|off 64 25|on 64 100|off 64 100" << "#ffffff";
        // clang-format on
    }
    void pressAndReleaseSignals()
    {
        QFETCH(bool, mapped);
        QFETCH(bool, hold);
        QFETCH(bool, output);
        QFETCH(QString, actions);
        QFETCH(QString, expected);
        QFETCH(QString, colorAfter);

        MidiKeyButton *key = keyboard->keyForNote(64);
        key->mapped = mapped;
        key->holdMode = hold;
        key->outputConnected = output;
        if (mapped)
            key->keyColor = MidiKeyButton::mappedColor;
        for (const QString &action : actions.split(' ')) {
            const int y = action.mid(1).toInt();
            if (action[0] == 'p')
                QTest::mousePress(key, Qt::LeftButton, {}, QPoint(10, y));
            else if (action[0] == 'm')
                moveTo(key, y);
            else
                QTest::mouseRelease(key, Qt::LeftButton, {}, QPoint(10, y));
        }
        QCOMPARE(heard, expected.split('|'));
        QCOMPARE(key->keyColor.name(), colorAfter);
    }

    // A highlight shows only while the key's colour differs from its base colour.
    void highlightIsPainted()
    {
        auto centre = [](MidiKeyButton *key) {
            QImage image(key->size(), QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            key->render(&image);
            return QColor(image.pixel(image.width() / 2, image.height() / 2));
        };
        MidiKeyButton *white = keyboard->keyForNote(60);
        MidiKeyButton *black = keyboard->keyForNote(61);
        const QColor plainWhite = centre(white);
        const QColor plainBlack = centre(black);
        QVERIFY(plainWhite.lightness() > 220);
        QVERIFY(plainBlack.lightness() < 40);

        white->keyColor = MidiKeyButton::mappedColor;
        black->keyColor = MidiKeyButton::pressedMappedColor;
        const QColor markedWhite = centre(white);
        const QColor markedBlack = centre(black);
        QVERIFY(markedWhite.green() > markedWhite.red() + 20);
        QVERIFY(markedBlack.green() > markedBlack.red() + 20);
    }
};

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
