#include "keyboardwidget.h"

#include "midikeybutton.h"

namespace vl {

namespace {
constexpr int kWhiteWidth = 40;
constexpr int kWhiteHeight = 150;
constexpr int kBlackWidth = 30;
constexpr int kBlackHeight = 90;
}  // namespace

KeyboardWidget::KeyboardWidget(QWidget *parent) : QWidget(parent) { buildKeys(); }

void KeyboardWidget::buildKeys()
{
    whiteKeys.clear();
    blackKeys.clear();
    whiteKeyCount = 0;
    int x = 0;
    for (int note = 0; note < kNotes; ++note) {
        auto *key = new MidiKeyButton(note, this);
        connect(key, &MidiKeyButton::noteOn, this, &KeyboardWidget::noteOn);
        connect(key, &MidiKeyButton::noteOff, this, &KeyboardWidget::noteOff);
        if (key->isWhite) {
            key->setGeometry(x, 0, kWhiteWidth, kWhiteHeight);
            whiteKeys.append(key);
            ++whiteKeyCount;
            x += kWhiteWidth;
        } else {
            // Centred on the boundary after the previous white key.
            key->setGeometry(x - kBlackWidth / 2, 0, kBlackWidth, kBlackHeight);
            key->raise();
            blackKeys.append(key);
        }
    }
    setMinimumSize(whiteKeyCount * kWhiteWidth, kWhiteHeight);
    for (MidiKeyButton *key : qAsConst(blackKeys))
        key->raise();
}

MidiKeyButton *KeyboardWidget::keyForNote(int note, bool mappedOnly) const
{
    for (const QList<MidiKeyButton *> *list : {&whiteKeys, &blackKeys}) {
        for (MidiKeyButton *key : *list) {
            if (key->note == note)
                return (!mappedOnly || key->mapped) ? key : nullptr;
        }
    }
    return nullptr;
}

void KeyboardWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutKeys();
}

void KeyboardWidget::layoutKeys()
{
    if (whiteKeyCount <= 0)
        whiteKeyCount = 52;
    const int n = whiteKeyCount;
    const int keyWidth = width() / n;
    const int whiteHeight = int(height() * 0.9);
    const int blackWidth = keyWidth * 3 / 4;
    const int blackHeight = whiteHeight * 3 / 5;

    for (int i = 0; i < whiteKeys.size(); ++i)
        whiteKeys[i]->setGeometry(i * keyWidth, 0, keyWidth, whiteHeight);

    // A black key is centred on the white key before it and moved a fixed 12 pixels to the
    // right, which puts it on the boundary when keys are about 24 pixels wide.
    int c = -keyWidth;
    int next = 0;
    for (int note = 0; note < kNotes; ++note) {
        if (MidiKeyButton::isWhiteNote(note)) {
            c += keyWidth;
        } else if (next < blackKeys.size()) {
            MidiKeyButton *key = blackKeys[next++];
            const int x = int(0.5 * keyWidth + c - blackWidth / 2 + 12.0);
            key->setGeometry(x, 0, blackWidth, blackHeight);
            key->raise();
        }
    }
}

}  // namespace vl
