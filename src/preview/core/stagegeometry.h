#pragma once

// Where the details button and the details panel sit on the preview's stage, and how far
// a drag may take the button. Positions are scene coordinates; `visible` is the part of
// the scene the stage's view shows.

#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace vl {

// The details button's place on a stage whose visible part is `visible`: 22 % of the
// width in from the right edge, 10 pixels down; 10 pixels in from the left when the stage
// is too narrow for that. The panel opens right of the button.
QPointF detailsButtonPosition(const QRectF &visible, qreal buttonWidth);

// A button dragged to `wanted` stays inside the visible stage: its left and top edges no
// further than the visible left and top, its right and bottom edges no further than the
// visible right and bottom (the left and top edges win on a stage smaller than the button).
QPointF clampToStage(const QPointF &wanted, const QRectF &visible, const QSizeF &buttonSize);

// A press becomes a drag once the pointer has moved further than `dragDistance` along
// either axis.
bool exceedsDragDistance(const QPoint &moved, int dragDistance);

// Where a new background picture goes on a stage whose scene rectangle is `scene`: the
// scene's centre minus half the size of the item's bounding rectangle `bounds` (the
// picture grown by 8 pixels on each side).
QPointF backgroundPicturePosition(const QRectF &scene, const QRectF &bounds);

}  // namespace vl
