#pragma once

#include "core/CaptureTarget.h"

#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

// Where everything the selection view draws goes, in view points (top-left
// origin, y down). No widgets here, so it can be checked on its own.
namespace SelectionGeometry {

// Smaller selections are dropped at mouse-up.
constexpr qreal minimumSize = 8;
constexpr qreal dimmingOpacity = 0.35;
constexpr qreal labelBoxOpacity = 0.75;
constexpr qreal labelCornerRadius = 6;
// The box is the text plus 8 points on each side and 4 above and below.
constexpr qreal labelPaddingX = 8;
constexpr qreal labelPaddingY = 4;
// Boxes keep this far from the view's left and right edges.
constexpr qreal labelMargin = 4;
// The size label sits this far below the selection...
constexpr qreal sizeLabelGap = 8;
// ...or, with no room below, this far above its lower edge, inside it.
constexpr qreal sizeLabelInset = 34;

QString hintText();
// Medium weight, 13 points; labels draw its digits at equal widths.
QFont labelFont();

// POINT moved into the view: x into 0…width, y into 0…height.
QPointF clampToView(QPointF point, QSizeF view);
// The smallest whole-point rectangle holding the drag from START to CURRENT,
// whichever way it went.
QRectF selectionRect(QPointF start, QPointF current);
bool isLargeEnough(const QRectF &selection);
// Where the 1-point outline is stroked: the selection grown by half a point,
// so the line lies just outside it.
QRectF outlineRect(const QRectF &selection);
// "W × H": the size in pixels, points times SCALE, each truncated.
QString sizeLabel(const QSizeF &points, qreal scale);
// Below the selection when it fits, else inside it above the lower edge.
QPointF sizeLabelPoint(const QRectF &selection, qreal viewHeight);
// The box of a label with text of TEXTSIZE meant to go at AT: x kept between
// the margins of a view VIEWWIDTH wide, y as given.
QRectF labelBox(QPointF at, QSizeF textSize, qreal viewWidth);
QPointF labelTextOrigin(const QRectF &box);
// The point that centres the hint's box in the view.
QPointF hintPoint(QSizeF textSize, QSizeF view);
// What a selection on DISPLAY captures: the rectangle is already in points
// from the screen's top-left corner.
CaptureTarget targetFor(DisplayId display, const QRectF &selection);

} // namespace SelectionGeometry
