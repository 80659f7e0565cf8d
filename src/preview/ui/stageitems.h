#pragma once

// What lies on the preview's stage: fixtures (FixtureItem), background pictures
// (MyResizablePixmapItem) and the proxy that embeds the fixture details panel
// (ResizableGraphicsProxyWidget). All three are moved and resized with the mouse.

#include <QColor>
#include <QGraphicsProxyWidget>
#include <QGraphicsRectItem>
#include <QMap>
#include <QPixmap>
#include <QString>

class QFontMetricsF;

namespace vl {

class FixtureItem;
class GlobalData;

// What a fixture item asks of the stage that holds it.
class StageHost {
public:
    virtual ~StageHost();
    // The registry the fixture's colour comes from.
    virtual const GlobalData &registry() const = 0;
    // The fixture was clicked (pressed and released without resizing).
    virtual void fixtureClicked(FixtureItem *item) = 0;
    // The fixture was double-clicked.
    virtual void fixtureDoubleClicked(FixtureItem *item) = 0;
};

// A fixture on the stage: a square filled with the fixture's colour, its picture inside,
// its name below. Dragged by its body; resized by its right and bottom edges, its
// bottom-right corner (which keeps it square), and its left and top edges, between 0.65
// and 100 times its first size.
class FixtureItem : public QGraphicsRectItem {
public:
    enum { Type = UserType + 1 };
    // The width of the band along the edges that resizes.
    static constexpr qreal kBorderWidth = 12.0;

    // `host` may be null: the item then paints from GlobalData::instance() and tells no one
    // about clicks.
    FixtureItem(const QString &name, StageHost *host);
    int type() const override { return Type; }

    QString name() const { return m_name; }
    void setName(const QString &name);
    bool showName() const { return m_showName; }
    void setShowName(bool show);
    QString picturePath() const { return m_picturePath; }
    void setPicturePath(const QString &path);
    // The picture drawn inside; null when the path names none that loads.
    QPixmap picture() const { return m_picture; }
    // Colour roles ("Brightness", "Red", "Green", "Blue") and, from the engine, DMX
    // channels as decimal text, each to a DMX channel or level.
    QMap<QString, int> channelBindings() const { return m_bindings; }
    void setChannelBindings(const QMap<QString, int> &bindings);
    // One entry (the engine's level of a DMX channel); nothing of it shows, so the item
    // does not repaint.
    void setChannelBinding(const QString &key, int value);
    // Repaints when the fixture's colour in the registry is not the one last painted, so a
    // level that changes nothing visible (a fade's last step, a channel of no colour role)
    // costs the stage no frame.
    void refreshColour();

    // The name as the band below a fixture of this width shows it: whole when it fits,
    // otherwise cut at the end to leave room for a "." that ends it (`cut` tells which).
    static QString nameInBand(const QString &name, const QFontMetricsF &metrics, qreal width, bool *cut);
    // The font of the name.
    static QFont nameFont();

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;

private:
    // Whether a press at `pos` resizes; sets the edges it moves.
    bool isOnResizeBorder(const QPointF &pos);
    // Moves this fixture back inside the stage's rectangle.
    void keepInsideStage();

    StageHost *m_host;
    QString m_name;
    bool m_showName = true;
    QString m_picturePath;
    QPixmap m_picture;
    QColor m_paintedColour;  // invalid until painted
    QMap<QString, int> m_bindings;
    QRectF m_initialRect;

    bool m_resizing = false;
    bool m_resizingRight = false;
    bool m_resizingBottom = false;
    bool m_resizingLeft = false;
    bool m_resizingTop = false;
    QPointF m_pressPos;
    QRectF m_resizeStartRect;
};

// A background picture: dragged by its body, resized by handles on its corners and edges
// (never below 20 × 20). A picture that did not load takes 100 × 100 and draws nothing.
class MyResizablePixmapItem : public QGraphicsItem {
public:
    enum { Type = UserType + 2 };
    // Handles: 1 left, 2 right, 3 top, 4 bottom, 5 top-left, 6 top-right, 7 bottom-left,
    // 8 bottom-right; 0 none.
    enum Handle { NoHandle = 0, Left, Right, Top, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };
    static constexpr qreal kMinimumSize = 20.0;

    explicit MyResizablePixmapItem(const QPixmap &picture, QGraphicsItem *parent = nullptr);
    int type() const override { return Type; }

    QPixmap picture() const { return m_picture; }
    // The picture's rectangle in item coordinates.
    QRectF rect() const { return m_rect; }
    // The handle under an item position.
    Handle handleAt(const QPointF &pos) const;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;

private:
    QPixmap m_picture;
    QRectF m_rect;
    Handle m_handle = NoHandle;
    bool m_resizing = false;
    bool m_dragging = false;
    bool m_overrideCursor = false;
    QPointF m_lastPos;
    QPointF m_pressScenePos;
    QPointF m_pressItemPos;
};

// The proxy that puts the fixture details panel on the stage. A press the panel's widgets
// take no interest in (its label, its margins) drags it; 10-pixel zones along its edges
// and corners resize it (never below 100 × 100).
class ResizableGraphicsProxyWidget : public QGraphicsProxyWidget {
    Q_OBJECT
public:
    enum { Type = UserType + 3 };
    // Handles: 1 left, 2 top, 3 right, 4 bottom, 5 top-left, 6 top-right, 7 bottom-left,
    // 8 bottom-right; 0 none.
    enum Handle { NoHandle = 0, Left, Top, Right, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };
    static constexpr qreal kZone = 10.0;
    static constexpr qreal kMinimumSize = 100.0;

    explicit ResizableGraphicsProxyWidget(QGraphicsItem *parent = nullptr);
    int type() const override { return Type; }
    Handle handleAt(const QPointF &pos) const;

protected:
    // The resize zones are ours; the rest of a window frame (its title bar) stays Qt's.
    Qt::WindowFrameSection windowFrameSectionAt(const QPointF &pos) const override;
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;

private:
    bool m_resizing = false;
    bool m_moving = false;  // dragged by a part of the panel that takes no clicks itself
    Handle m_handle = NoHandle;
    QPointF m_pressPos;
    QSizeF m_pressSize;
    QPointF m_pressItemPos;
};

}  // namespace vl
