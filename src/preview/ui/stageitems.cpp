#include "stageitems.h"

#include "preview/core/fixtureregistry.h"
#include "picturefile.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QWidget>

#include <cmath>

namespace vl {

StageHost::~StageHost() = default;

namespace {

// The name band: from 3 px under the fixture, 20 px high.
constexpr qreal kNameGap = 3.0;
constexpr qreal kNameHeight = 20.0;
// The outline is drawn with a 10 px pen on the rectangle, the fill 5 px inside it.
constexpr qreal kOutline = 10.0;
constexpr qreal kInset = 5.0;

qreal clampSize(qreal value, qreal min, qreal max)
{
    value = std::max(value, min);
    return std::min(value, max);
}

}  // namespace

// ---- FixtureItem ----

FixtureItem::FixtureItem(const QString &name, StageHost *host)
    : QGraphicsRectItem(0, 0, 50, 50), m_host(host), m_name(name), m_initialRect(0, 0, 50, 50)
{
    setPen(Qt::NoPen);
    setBrush(Qt::white);
    setFlags(ItemIsMovable | ItemIsSelectable);
    setAcceptHoverEvents(true);
}

void FixtureItem::setName(const QString &name)
{
    m_name = name;
    update();
}

void FixtureItem::setShowName(bool show)
{
    m_showName = show;
    update();
}

void FixtureItem::setPicturePath(const QString &path)
{
    if (path == m_picturePath)
        return;
    m_picturePath = path;
    m_picture = loadPicture(path);
    update();
}

void FixtureItem::setChannelBindings(const QMap<QString, int> &bindings)
{
    m_bindings = bindings;
    update();
}

void FixtureItem::setChannelBinding(const QString &key, int value) { m_bindings.insert(key, value); }

void FixtureItem::refreshColour()
{
    const GlobalData &registry = m_host ? m_host->registry() : GlobalData::instance();
    if (!m_paintedColour.isValid() || registry.fixtureColor(m_name) != m_paintedColour)
        update();
}

QFont FixtureItem::nameFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(10);
    return font;
}

QString FixtureItem::nameInBand(const QString &name, const QFontMetricsF &metrics, qreal width, bool *cut)
{
    if (metrics.horizontalAdvance(name) <= width) {
        if (cut)
            *cut = false;
        return name;
    }
    const qreal available = std::floor(width - metrics.horizontalAdvance(QStringLiteral(".")));
    QString text = name;
    while (!text.isEmpty() && metrics.horizontalAdvance(text) > available) {
        // Never leave half of a surrogate pair behind.
        const int n = text.size() >= 2 && text.at(text.size() - 1).isLowSurrogate()
                              && text.at(text.size() - 2).isHighSurrogate()
                          ? 2
                          : 1;
        text.chop(n);
    }
    if (cut)
        *cut = true;
    return text + QLatin1Char('.');
}

QRectF FixtureItem::boundingRect() const
{
    // The outline reaches half its pen outside the rectangle, the name band lies below it.
    const QRectF r = rect();
    return r.adjusted(-kOutline / 2, -kOutline / 2, kOutline / 2, kNameGap + kNameHeight);
}

QPainterPath FixtureItem::shape() const
{
    QPainterPath path;
    path.addRect(rect());
    return path;
}

void FixtureItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    const QRectF r = rect();
    const QRectF inner = r.adjusted(kInset, kInset, -kInset, -kInset);
    const GlobalData &registry = m_host ? m_host->registry() : GlobalData::instance();
    const QColor colour = registry.fixtureColor(m_name);
    m_paintedColour = colour;

    painter->save();
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    painter->drawRect(inner);

    if (!m_picture.isNull()) {
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawPixmap(inner, m_picture, QRectF(m_picture.rect()));
    }

    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(colour, kOutline, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter->drawRect(r);

    if (isSelected()) {
        painter->setPen(QPen(Qt::white, 2));
        painter->drawRect(inner);
    }

    if (m_showName) {
        const QRectF band(r.left(), r.bottom() + kNameGap, r.width(), kNameHeight);
        painter->setFont(nameFont());
        painter->setPen(Qt::white);
        bool cut = false;
        const QString text = nameInBand(m_name, QFontMetricsF(painter->font(), painter->device()), band.width(), &cut);
        painter->drawText(band, cut ? (Qt::AlignLeft | Qt::AlignVCenter) : Qt::AlignCenter, text);
    }
    painter->restore();
}

void FixtureItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    const qreal b = kBorderWidth;
    const QRectF r = rect();
    const QPointF p = event->pos();
    const bool nearRight = std::abs(r.right() - p.x()) < b;
    const bool nearLeft = std::abs(r.left() - p.x()) < b;
    const bool nearBottom = std::abs(r.bottom() - p.y()) < b;
    const bool nearTop = std::abs(r.top() - p.y()) < b;
    if (nearRight && nearBottom)
        setCursor(Qt::SizeFDiagCursor);
    else if ((nearRight || nearLeft) && p.y() > r.top() + b && p.y() < r.bottom() - b)
        setCursor(Qt::SizeHorCursor);
    else if ((nearBottom || nearTop) && p.x() > r.left() + b && p.x() < r.right() - b)
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();
    QGraphicsRectItem::hoverMoveEvent(event);
}

void FixtureItem::hoverLeaveEvent(QGraphicsSceneHoverEvent *event)
{
    unsetCursor();
    QGraphicsRectItem::hoverLeaveEvent(event);
}

bool FixtureItem::isOnResizeBorder(const QPointF &pos)
{
    m_resizingRight = m_resizingBottom = m_resizingLeft = m_resizingTop = false;
    const qreal b = kBorderWidth;
    const QRectF r = rect();
    const qreal x = pos.x();
    const qreal y = pos.y();
    const bool insideY = y > r.top() + b && y < r.bottom() - b;
    const bool insideX = x > r.left() + b && x < r.right() - b;
    if (std::abs(r.right() - x) < b && std::abs(r.bottom() - y) < b)
        m_resizingRight = m_resizingBottom = true;
    else if (std::abs(r.right() - x) < b && insideY)
        m_resizingRight = true;
    else if (std::abs(r.bottom() - y) < b && insideX)
        m_resizingBottom = true;
    else if (std::abs(r.left() - x) < b && insideY)
        m_resizingLeft = true;
    else if (std::abs(r.top() - y) < b && insideX)
        m_resizingTop = true;
    else
        return false;
    return true;
}

void FixtureItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && isOnResizeBorder(event->pos())) {
        m_resizing = true;
        m_pressPos = event->pos();
        m_resizeStartRect = rect();
        event->accept();
        return;
    }
    m_resizing = false;
    unsetCursor();
    QGraphicsRectItem::mousePressEvent(event);
}

void FixtureItem::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (!m_resizing) {
        QGraphicsRectItem::mouseMoveEvent(event);
        keepInsideStage();
        return;
    }
    const QPointF d = event->pos() - m_pressPos;
    const QRectF start = m_resizeStartRect;
    const qreal minW = 0.65 * m_initialRect.width();
    const qreal maxW = 100 * m_initialRect.width();
    const qreal minH = 0.65 * m_initialRect.height();
    const qreal maxH = 100 * m_initialRect.height();
    QRectF r = start;
    if (m_resizingRight && m_resizingBottom) {
        const qreal s = clampSize(start.width() + std::max(d.x(), d.y()), minW, maxW);
        r = QRectF(start.topLeft(), QSizeF(s, s));
    } else if (m_resizingRight) {
        r.setWidth(clampSize(start.width() + d.x(), minW, maxW));
    } else if (m_resizingBottom) {
        r.setHeight(clampSize(start.height() + d.y(), minH, maxH));
    } else if (m_resizingLeft) {
        const qreal w = clampSize(start.width() - d.x(), minW, maxW);
        r = QRectF(start.left() + (start.width() - w), start.top(), w, start.height());
    } else if (m_resizingTop) {
        const qreal h = clampSize(start.height() - d.y(), minH, maxH);
        r = QRectF(start.left(), start.top() + (start.height() - h), start.width(), h);
    }
    setRect(r);
}

void FixtureItem::keepInsideStage()
{
    QGraphicsScene *stage = scene();
    if (!stage)
        return;
    const QRectF bounds = stage->sceneRect();
    const auto keep = [&bounds](FixtureItem *item) {
        QRectF r = item->mapRectToScene(item->rect());
        qreal dx = 0;
        qreal dy = 0;
        if (r.left() < bounds.left())
            dx = bounds.left() - r.left();
        r.translate(dx, 0);
        if (r.right() > bounds.right())
            dx += bounds.right() - r.right();
        if (r.top() < bounds.top())
            dy = bounds.top() - r.top();
        r.translate(0, dy);
        if (r.bottom() > bounds.bottom())
            dy += bounds.bottom() - r.bottom();
        if (dx != 0 || dy != 0)
            item->moveBy(dx, dy);
    };
    // The move took every selected item along; none of them leaves the stage.
    keep(this);
    for (QGraphicsItem *item : stage->selectedItems())
        if (item != this && item->type() == Type)
            keep(static_cast<FixtureItem *>(item));
}

void FixtureItem::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_resizing) {
        m_resizing = false;
        m_resizingRight = m_resizingBottom = m_resizingLeft = m_resizingTop = false;
        unsetCursor();
        update();
        event->accept();
        return;
    }
    QGraphicsRectItem::mouseReleaseEvent(event);
    if (m_host)
        m_host->fixtureClicked(this);
    update();
}

void FixtureItem::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_host)
        m_host->fixtureDoubleClicked(this);
    QGraphicsRectItem::mouseDoubleClickEvent(event);
}

// ---- MyResizablePixmapItem ----

namespace {

constexpr qreal kHandleHalf = 4.0;  // handles are 8 × 8, bands 4 px to each side
constexpr qreal kPictureMargin = 8.0;

bool inSquare(const QPointF &p, const QPointF &centre)
{
    return QRectF(centre.x() - kHandleHalf, centre.y() - kHandleHalf, 2 * kHandleHalf, 2 * kHandleHalf).contains(p);
}

}  // namespace

MyResizablePixmapItem::MyResizablePixmapItem(const QPixmap &picture, QGraphicsItem *parent)
    : QGraphicsItem(parent), m_picture(picture),
      m_rect(picture.isNull() ? QRectF(0, 0, 100, 100) : QRectF(QPointF(0, 0), QSizeF(picture.size())))
{
    setAcceptHoverEvents(true);
    setFlags(ItemIsSelectable | ItemIsFocusable | ItemSendsGeometryChanges);
}

QRectF MyResizablePixmapItem::boundingRect() const
{
    if (m_rect.isValid() && m_rect.width() > 1 && m_rect.height() > 1)
        return m_rect.adjusted(-kPictureMargin, -kPictureMargin, kPictureMargin, kPictureMargin);
    return QRectF(0, 0, 100, 100);
}

MyResizablePixmapItem::Handle MyResizablePixmapItem::handleAt(const QPointF &p) const
{
    const QRectF r = m_rect;
    if (inSquare(p, r.topLeft()))
        return TopLeft;
    if (inSquare(p, r.topRight()))
        return TopRight;
    if (inSquare(p, r.bottomLeft()))
        return BottomLeft;
    if (inSquare(p, r.bottomRight()))
        return BottomRight;
    const qreal midX = r.center().x();
    const qreal midY = r.center().y();
    if (inSquare(p, QPointF(midX, r.top())))
        return Top;
    if (inSquare(p, QPointF(midX, r.bottom())))
        return Bottom;
    if (inSquare(p, QPointF(r.left(), midY)))
        return Left;
    if (inSquare(p, QPointF(r.right(), midY)))
        return Right;
    const bool bandY = p.y() > r.top() + kHandleHalf && p.y() < r.bottom() - kHandleHalf;
    const bool bandX = p.x() > r.left() + kHandleHalf && p.x() < r.right() - kHandleHalf;
    if (std::abs(p.x() - r.left()) <= kHandleHalf && bandY)
        return Left;
    if (std::abs(p.x() - r.right()) <= kHandleHalf && bandY)
        return Right;
    if (std::abs(p.y() - r.top()) <= kHandleHalf && bandX)
        return Top;
    if (std::abs(p.y() - r.bottom()) <= kHandleHalf && bandX)
        return Bottom;
    return NoHandle;
}

void MyResizablePixmapItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    switch (handleAt(event->pos())) {
    case TopLeft:
    case BottomRight: setCursor(Qt::SizeFDiagCursor); break;
    case TopRight:
    case BottomLeft: setCursor(Qt::SizeBDiagCursor); break;
    case Left:
    case Right: setCursor(Qt::SizeHorCursor); break;
    case Top:
    case Bottom: setCursor(Qt::SizeVerCursor); break;
    case NoHandle: setCursor(m_rect.contains(event->pos()) ? Qt::OpenHandCursor : Qt::ArrowCursor); break;
    }
    QGraphicsItem::hoverMoveEvent(event);
}

void MyResizablePixmapItem::hoverLeaveEvent(QGraphicsSceneHoverEvent *event)
{
    unsetCursor();
    QGraphicsItem::hoverLeaveEvent(event);
}

void MyResizablePixmapItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    m_handle = handleAt(event->pos());
    if (m_handle != NoHandle) {
        m_resizing = true;
        m_lastPos = event->pos();
        event->accept();
        return;
    }
    if (m_rect.contains(event->pos())) {
        m_dragging = true;
        m_pressScenePos = event->scenePos();
        m_pressItemPos = pos();
        if (!m_overrideCursor) {
            QApplication::setOverrideCursor(Qt::ClosedHandCursor);
            m_overrideCursor = true;
        }
        event->accept();
        return;
    }
    QGraphicsItem::mousePressEvent(event);
}

void MyResizablePixmapItem::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_resizing) {
        if (m_picture.isNull() || !m_rect.isValid() || m_rect.width() <= 1 || m_rect.height() <= 1)
            return;
        const QPointF d = event->pos() - m_lastPos;
        QRectF r = m_rect;
        switch (m_handle) {
        case Left: r.setLeft(r.left() + d.x()); break;
        case Right: r.setRight(r.right() + d.x()); break;
        case Top: r.setTop(r.top() + d.y()); break;
        case Bottom: r.setBottom(r.bottom() + d.y()); break;
        case TopLeft: r.setTopLeft(r.topLeft() + d); break;
        case TopRight: r.setTopRight(r.topRight() + d); break;
        case BottomLeft: r.setBottomLeft(r.bottomLeft() + d); break;
        case BottomRight: r.setBottomRight(r.bottomRight() + d); break;
        case NoHandle: break;
        }
        if (r.width() < kMinimumSize)
            r.setWidth(kMinimumSize);
        if (r.height() < kMinimumSize)
            r.setHeight(kMinimumSize);
        prepareGeometryChange();
        m_rect = r.normalized();
        m_lastPos = event->pos();
        update();
        return;
    }
    if (m_dragging) {
        setPos(event->scenePos() - m_pressScenePos + m_pressItemPos);
        return;
    }
    QGraphicsItem::mouseMoveEvent(event);
}

void MyResizablePixmapItem::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    m_resizing = false;
    m_dragging = false;
    m_handle = NoHandle;
    if (m_overrideCursor) {
        QApplication::restoreOverrideCursor();
        m_overrideCursor = false;
    }
    QGraphicsItem::mouseReleaseEvent(event);
}

void MyResizablePixmapItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    if (m_picture.isNull() || m_rect.width() < 1 || m_rect.height() < 1)
        return;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawPixmap(m_rect, m_picture, QRectF(m_picture.rect()));
    painter->restore();
}

// ---- ResizableGraphicsProxyWidget ----

ResizableGraphicsProxyWidget::ResizableGraphicsProxyWidget(QGraphicsItem *parent) : QGraphicsProxyWidget(parent)
{
    setFlags(ItemIsMovable | ItemIsSelectable);
    setAcceptHoverEvents(true);
}

ResizableGraphicsProxyWidget::Handle ResizableGraphicsProxyWidget::handleAt(const QPointF &p) const
{
    const QRectF r = boundingRect();
    const bool right = p.x() >= r.right() - kZone;
    const bool left = p.x() <= r.left() + kZone;
    const bool bottom = p.y() >= r.bottom() - kZone;
    const bool top = p.y() <= r.top() + kZone;
    if (right && bottom)
        return BottomRight;
    if (left && bottom)
        return BottomLeft;
    if (right && top)
        return TopRight;
    if (left && top)
        return TopLeft;
    if (right)
        return Right;
    if (left)
        return Left;
    if (bottom)
        return Bottom;
    if (top)
        return Top;
    return NoHandle;
}

Qt::WindowFrameSection ResizableGraphicsProxyWidget::windowFrameSectionAt(const QPointF &pos) const
{
    return handleAt(pos) == NoHandle ? QGraphicsProxyWidget::windowFrameSectionAt(pos) : Qt::NoSection;
}

void ResizableGraphicsProxyWidget::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    QGraphicsProxyWidget::hoverMoveEvent(event);
    switch (handleAt(event->pos())) {
    case BottomRight:
    case TopLeft: setCursor(Qt::SizeFDiagCursor); break;
    case BottomLeft:
    case TopRight: setCursor(Qt::SizeBDiagCursor); break;
    case Left:
    case Right: setCursor(Qt::SizeHorCursor); break;
    case Top:
    case Bottom: setCursor(Qt::SizeVerCursor); break;
    case NoHandle: setCursor(Qt::ArrowCursor); break;
    }
}

void ResizableGraphicsProxyWidget::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    m_handle = handleAt(event->pos());
    if (m_handle != NoHandle && event->button() == Qt::LeftButton) {
        m_resizing = true;
        m_pressPos = event->scenePos();
        m_pressSize = size();
        m_pressItemPos = pos();
        event->accept();
        return;
    }
    m_handle = NoHandle;
    QGraphicsProxyWidget::mousePressEvent(event);
    if (!event->isAccepted() && event->button() == Qt::LeftButton) {
        m_moving = true;
        QGraphicsItem::mousePressEvent(event);
        event->accept();
    }
}

void ResizableGraphicsProxyWidget::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_moving) {
        QGraphicsItem::mouseMoveEvent(event);
        return;
    }
    if (!m_resizing) {
        QGraphicsProxyWidget::mouseMoveEvent(event);
        return;
    }
    const QPointF d = event->scenePos() - m_pressPos;
    qreal w = m_pressSize.width();
    qreal h = m_pressSize.height();
    qreal x = m_pressItemPos.x();
    qreal y = m_pressItemPos.y();
    switch (m_handle) {
    case Left:
        w -= d.x();
        x += d.x();
        break;
    case Top:
        h -= d.y();
        y += d.y();
        break;
    case Right: w += d.x(); break;
    case Bottom: h += d.y(); break;
    case TopLeft:
        w -= d.x();
        h -= d.y();
        x += d.x();
        y += d.y();
        break;
    case TopRight:
        w += d.x();
        h -= d.y();
        y += d.y();
        break;
    case BottomLeft:
        w -= d.x();
        h += d.y();
        x += d.x();
        break;
    case BottomRight:
        w += d.x();
        h += d.y();
        break;
    case NoHandle: break;
    }
    resize(std::max(w, kMinimumSize), std::max(h, kMinimumSize));
    setPos(x, y);
}

void ResizableGraphicsProxyWidget::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_resizing) {
        m_resizing = false;
        m_handle = NoHandle;
        event->accept();
        return;
    }
    if (m_moving) {
        m_moving = false;
        QGraphicsItem::mouseReleaseEvent(event);
        return;
    }
    QGraphicsProxyWidget::mouseReleaseEvent(event);
}

}  // namespace vl
