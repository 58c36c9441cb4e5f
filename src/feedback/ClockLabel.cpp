#include "ClockLabel.h"

#include "TabularDigits.h"

#include <QPainter>

void ClockLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    TabularDigits::draw(painter, font(), contentsRect(), alignment(), text());
}
