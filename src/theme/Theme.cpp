#include "Theme.h"

#include <QGuiApplication>
#include <QPalette>

namespace Theme {

bool isDark(const QColor &windowColor)
{
    return windowColor.lightnessF() < 0.5;
}

bool systemIsDark()
{
    return isDark(QGuiApplication::palette().color(QPalette::Window));
}

QPainterPath cropMarks(const QRectF &r, qreal l)
{
    QPainterPath path;
    auto mark = [&path](QPointF a, QPointF corner, QPointF b) {
        path.moveTo(a);
        path.lineTo(corner);
        path.lineTo(b);
    };
    mark({r.left() + l, r.top()}, r.topLeft(), {r.left(), r.top() + l});
    mark({r.right() - l, r.top()}, r.topRight(), {r.right(), r.top() + l});
    mark({r.left() + l, r.bottom()}, r.bottomLeft(), {r.left(), r.bottom() - l});
    mark({r.right() - l, r.bottom()}, r.bottomRight(), {r.right(), r.bottom() - l});
    return path;
}

qreal filledButtonOpacity(bool isEnabled, bool isPressed, bool isHovered)
{
    if (!isEnabled)
        return 0.4;
    if (isPressed)
        return 0.75;
    return isHovered ? 0.88 : 1.0;
}

} // namespace Theme
