#pragma once

#include <QColor>
#include <QQuickPaintedItem>

// Corner marks suggesting a dragged selection. The marks lie on the item's
// rectangle inset by half the line width, so that a stroke centred on the
// marked rectangle is not cut off: place the item half a line width outside
// the rectangle to mark.
class CropMarksItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(qreal length READ length WRITE setLength NOTIFY changed)
    Q_PROPERTY(qreal lineWidth READ lineWidth WRITE setLineWidth NOTIFY changed)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY changed)

public:
    explicit CropMarksItem(QQuickItem *parent = nullptr);
    void paint(QPainter *painter) override;

    qreal length() const { return m_length; }
    void setLength(qreal length);
    qreal lineWidth() const { return m_lineWidth; }
    void setLineWidth(qreal width);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);

signals:
    void changed();

private:
    qreal m_length = 14;
    qreal m_lineWidth = 3;
    QColor m_color = Qt::black;
};
