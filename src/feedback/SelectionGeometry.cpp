#include "SelectionGeometry.h"

#include <QGuiApplication>
#include <algorithm>
#include <cmath>

namespace SelectionGeometry {

QString hintText()
{
    return QStringLiteral("Arraste para selecionar · Esc para cancelar");
}

QFont labelFont()
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    return font;
}

QPointF clampToView(QPointF point, QSizeF view)
{
    return QPointF(std::clamp(point.x(), 0.0, view.width()), std::clamp(point.y(), 0.0, view.height()));
}

QRectF selectionRect(QPointF start, QPointF current)
{
    const qreal left = std::floor(std::min(start.x(), current.x()));
    const qreal top = std::floor(std::min(start.y(), current.y()));
    const qreal right = std::ceil(std::max(start.x(), current.x()));
    const qreal bottom = std::ceil(std::max(start.y(), current.y()));
    return QRectF(left, top, right - left, bottom - top);
}

bool isLargeEnough(const QRectF &selection)
{
    return selection.width() >= minimumSize && selection.height() >= minimumSize;
}

QRectF outlineRect(const QRectF &selection)
{
    return selection.adjusted(-0.5, -0.5, 0.5, 0.5);
}

QString sizeLabel(const QSizeF &points, qreal scale)
{
    // The small epsilon keeps 0.1 × 30 style products from landing one below.
    const auto pixels = [scale](qreal length) { return qint64(std::floor(length * scale + 1e-9)); };
    return QStringLiteral("%1 × %2").arg(pixels(points.width())).arg(pixels(points.height()));
}

QPointF sizeLabelPoint(const QRectF &selection, qreal viewHeight)
{
    const qreal lowerEdge = selection.y() + selection.height();
    if (lowerEdge + sizeLabelInset < viewHeight)
        return QPointF(selection.x(), lowerEdge + sizeLabelGap);
    return QPointF(selection.x(), lowerEdge - sizeLabelInset);
}

QRectF labelBox(QPointF at, QSizeF textSize, qreal viewWidth)
{
    const qreal width = textSize.width() + 2 * labelPaddingX;
    const qreal height = textSize.height() + 2 * labelPaddingY;
    // On a view narrower than the box, the left margin wins.
    const qreal x = std::max(labelMargin, std::min(at.x(), viewWidth - width - labelMargin));
    return QRectF(x, at.y(), width, height);
}

QPointF labelTextOrigin(const QRectF &box)
{
    return box.topLeft() + QPointF(labelPaddingX, labelPaddingY);
}

QPointF hintPoint(QSizeF textSize, QSizeF view)
{
    const qreal width = textSize.width() + 2 * labelPaddingX;
    const qreal height = textSize.height() + 2 * labelPaddingY;
    return QPointF(view.width() / 2 - width / 2, view.height() / 2 - height / 2);
}

CaptureTarget targetFor(DisplayId display, const QRectF &selection)
{
    return CaptureTarget {display, selection};
}

} // namespace SelectionGeometry
