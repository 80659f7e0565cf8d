#pragma once

// One key of an on-screen piano keyboard. Presses, releases and drags become noteOn and
// noteOff signals whose velocity follows the pointer's height on the key: 0 at the top,
// 127 at the bottom. The window that hosts the keyboard sets the public state below and
// repaints the key.

#include <QColor>
#include <QPushButton>
#include <QString>

namespace vl {

class MidiKeyButton : public QPushButton {
    Q_OBJECT
public:
    explicit MidiKeyButton(int note, QWidget *parent = nullptr);

    static bool isWhiteNote(int note);
    // 0 at the top of a key `keyHeight` high, 127 at its bottom; halves round away from
    // zero and anything outside the key is clamped.
    static int velocityFromPosition(double y, double keyHeight);

    QColor baseColor() const { return isWhite ? QColor(Qt::white) : QColor(Qt::black); }
    // Latching behaviour applies to mapped keys only; an unmapped key with holdMode left
    // over from an earlier marking plays like any other key.
    bool latching() const { return holdMode && mapped; }

    int note;
    bool isWhite;
    bool latched = false;
    QString label;  // painted at the bottom of the key
    int velocity = 0;
    QColor keyColor;  // a highlight while it differs from baseColor()
    bool mapped = false;
    bool holdMode = false;
    bool outputConnected = false;

    static const QColor pressedMappedColor;  // "#006837"
    static const QColor mappedColor;         // "#8cc63f"

signals:
    void noteOn(int midiNote, int velocity);
    void noteOff(int midiNote, int velocity);
    void velocityChanged(int midiNote, int velocity);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int velocityAt(const QMouseEvent *event) const;
};

}  // namespace vl
