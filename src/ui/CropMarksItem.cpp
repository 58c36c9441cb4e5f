#include "CropMarksItem.h"

#include "theme/Theme.h"

#include <QPainter>

CropMarksItem::CropMarksItem(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    connect(this, &CropMarksItem::changed, this, [this] { update(); });
}

void CropMarksItem::paint(QPainter *painter)
{
    painter->setRenderHint(QPainter::Antialiasing);
    // Flat ends keep each arm exactly `length` long; the mitred join fills the corner.
    painter->setPen(QPen(m_color, m_lineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    const qreal inset = m_lineWidth / 2;
    painter->drawPath(
        Theme::cropMarks(QRectF(0, 0, width(), height()).adjusted(inset, inset, -inset, -inset), m_length));
}

void CropMarksItem::setLength(qreal length)
{
    if (qFuzzyCompare(m_length, length))
        return;
    m_length = length;
    emit changed();
}

void CropMarksItem::setLineWidth(qreal width)
{
    if (qFuzzyCompare(m_lineWidth, width))
        return;
    m_lineWidth = width;
    emit changed();
}

void CropMarksItem::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    emit changed();
}
