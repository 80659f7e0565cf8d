#include "midikeybutton.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>
#include <cmath>

namespace vl {

const QColor MidiKeyButton::pressedMappedColor(QStringLiteral("#006837"));
const QColor MidiKeyButton::mappedColor(QStringLiteral("#8cc63f"));

MidiKeyButton::MidiKeyButton(int note, QWidget *parent)
    : QPushButton(parent), note(note), isWhite(isWhiteNote(note)), keyColor(baseColor())
{
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::NoFocus);
    if (note % 12 == 0)
        label = QStringLiteral("C%1").arg(note / 12);
}

bool MidiKeyButton::isWhiteNote(int note)
{
    switch (((note % 12) + 12) % 12) {
    case 0:
    case 2:
    case 4:
    case 5:
    case 7:
    case 9:
    case 11: return true;
    default: return false;
    }
}

int MidiKeyButton::velocityFromPosition(double y, double keyHeight)
{
    if (!(keyHeight > 0) || !std::isfinite(y))
        return 0;
    const double v = std::round(y / keyHeight * 127.0);  // halves away from zero
    return int(qBound(0.0, v, 127.0));
}

int MidiKeyButton::velocityAt(const QMouseEvent *event) const
{
    return velocityFromPosition(event->localPos().y(), height());
}

void MidiKeyButton::mousePressEvent(QMouseEvent *event)
{
    if (latching()) {
        const bool wasLatched = latched;
        latched = !latched;
        if (wasLatched) {  // this press lets the latch go; its release sends the note off
            QPushButton::mousePressEvent(event);
            return;
        }
    }
    if (mapped && !outputConnected) {
        emit noteOn(note, 0);  // tells the window there is no output to play to
        return;
    }
    update();
    velocity = velocityAt(event);
    emit noteOn(note, velocity);
    if (mapped) {
        keyColor = pressedMappedColor;
        update();
    }
    QPushButton::mousePressEvent(event);
}

void MidiKeyButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (latching() && !latched) {
        emit noteOff(note, 0);
        keyColor = mappedColor;
        update();
        QPushButton::mouseReleaseEvent(event);
        return;
    }
    if (mapped && !outputConnected)
        return;
    if (!latching()) {
        update();
        emit noteOff(note, velocity);
    }
    if (mapped && !holdMode) {
        keyColor = mappedColor;
        update();
    }
    QPushButton::mouseReleaseEvent(event);
}

void MidiKeyButton::mouseMoveEvent(QMouseEvent *event)
{
    // A latching key keeps the velocity of the press that latched it, and a mapped key
    // without an output sends nothing, as on its release.
    if (latching() || (mapped && !outputConnected)) {
        QPushButton::mouseMoveEvent(event);
        return;
    }
    velocity = velocityAt(event);
    emit noteOn(note, velocity);
    emit velocityChanged(note, velocity);
    if (mapped) {
        keyColor = pressedMappedColor;
        update();
    }
    QPushButton::mouseMoveEvent(event);
}

void MidiKeyButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect r = rect();
    const int w = r.width();
    const int h = r.height();

    QLinearGradient body(0, 0, 0, h);
    if (isWhite) {
        body.setColorAt(0.0, QColor(252, 252, 252));
        body.setColorAt(0.3, QColor(248, 248, 248));
        body.setColorAt(0.7, QColor(245, 245, 245));
        body.setColorAt(1.0, QColor(240, 240, 240));
    } else {
        body.setColorAt(0.0, QColor(40, 40, 40));
        body.setColorAt(0.2, QColor(30, 30, 30));
        body.setColorAt(0.7, QColor(20, 20, 20));
        body.setColorAt(1.0, QColor(15, 15, 15));
    }
    p.fillRect(r, body);

    // Fine grain across the key.
    p.save();
    p.setOpacity(isWhite ? 0.03 : 0.1);
    p.setPen(QPen(isWhite ? QColor(0, 0, 0, 20) : QColor(255, 255, 255, 10), 0.5));
    const int step = isWhite ? 3 : 2;
    for (int y = 0; y < h; y += step)
        p.drawLine(QPointF(0, y), QPointF(w, y));
    p.restore();

    QLinearGradient sides(0, 0, w, 0);
    sides.setColorAt(0.0, QColor(255, 255, 255, isWhite ? 80 : 40));
    sides.setColorAt(0.1, QColor(255, 255, 255, isWhite ? 20 : 15));
    sides.setColorAt(0.9, QColor(255, 255, 255, isWhite ? 20 : 15));
    sides.setColorAt(1.0, QColor(0, 0, 0, isWhite ? 40 : 50));
    p.fillRect(r, sides);

    QLinearGradient top(0, 0, 0, 15);
    top.setColorAt(0.0, QColor(255, 255, 255, isWhite ? 60 : 30));
    top.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.fillRect(QRect(0, 0, w, 15), top);

    if (keyColor != baseColor()) {
        p.save();
        p.setOpacity(0.5);
        p.fillRect(r, keyColor);
        p.restore();
        QRadialGradient glow(QRectF(r).center(), w * 0.8);
        QColor inner = keyColor;
        inner.setAlpha(30);
        QColor outer = keyColor;
        outer.setAlpha(0);
        glow.setColorAt(0.0, inner);
        glow.setColorAt(1.0, outer);
        p.fillRect(r, glow);
    }

    const QRect border = r.adjusted(0, 0, -1, -1);
    if (isWhite) {
        p.setPen(QPen(QColor(180, 180, 180), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(border);
        QLinearGradient bottom(0, h - 15, 0, h);
        bottom.setColorAt(0.0, QColor(0, 0, 0, 0));
        bottom.setColorAt(1.0, QColor(0, 0, 0, 40));
        p.fillRect(QRect(0, h - 15, w, 15), bottom);
    } else {
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(border);
        QLinearGradient gloss(0, 0, 0, 25);
        gloss.setColorAt(0.0, QColor(255, 255, 255, 50));
        gloss.setColorAt(0.5, QColor(255, 255, 255, 20));
        gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.fillRect(QRect(0, 0, w, 25), gloss);
    }

    if (!label.isEmpty()) {
        QFont font(QStringLiteral("Arial"), 8);
        font.setBold(true);
        p.setFont(font);
        const int align = Qt::AlignHCenter | Qt::AlignBottom;
        if (isWhite) {
            p.setPen(QColor(0, 0, 0, 20));
            p.drawText(QRect(0, h - 24, w, 24).translated(1, 1), align, label);
            p.setPen(QColor(100, 100, 100));
        } else {
            p.setPen(QColor(200, 200, 200));
        }
        p.drawText(QRect(0, h - 25, w, 25), align, label);
    }
}

}  // namespace vl
