#include "stagegeometry.h"

#include <QPoint>
#include <QtGlobal>

namespace vl {

QPointF detailsButtonPosition(const QRectF &visible, qreal buttonWidth)
{
    const qreal w = visible.width();
    qreal x = w - buttonWidth - 0.22 * w;
    if (x < 0)
        x = 10;
    return {x, 10};
}

QPointF clampToStage(const QPointF &wanted, const QRectF &visible, const QSizeF &buttonSize)
{
    const qreal x = qMax(visible.left(), qMin(wanted.x(), visible.right() - buttonSize.width()));
    const qreal y = qMax(visible.top(), qMin(wanted.y(), visible.bottom() - buttonSize.height()));
    return {x, y};
}

bool exceedsDragDistance(const QPoint &moved, int dragDistance)
{
    return qAbs(moved.x()) > dragDistance || qAbs(moved.y()) > dragDistance;
}

QPointF backgroundPicturePosition(const QRectF &scene, const QRectF &bounds)
{
    return scene.center() - QPointF(bounds.width() / 2, bounds.height() / 2);
}

}  // namespace vl
