#include "StatusDot.h"

#include "theme/Theme.h"

#include <QPainter>

StatusDot::StatusDot(QWidget *parent)
    : QWidget(parent)
    , m_color(Theme::hudRec)
{
    // A press on the dot drags the bar like one on the background.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void StatusDot::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void StatusDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(rect()));
}
