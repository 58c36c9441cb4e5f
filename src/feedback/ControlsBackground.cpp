#include "ControlsBackground.h"

#include "platform/WindowLevel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

namespace {

// A heads-up-display backdrop: dark whatever the desktop's appearance.
const QColor backdrop(30, 32, 36, 232);

QPainterPath roundedShape(const QSizeF &size, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), size), radius, radius);
    return path;
}

} // namespace

ControlsBackground::ControlsBackground(const QRect &frame, bool movable, bool translucent, bool placeable)
    // Override-redirect and never focusable: a click on the bar must not
    // activate Velunta, and the bar stays above full-screen windows too.
    : QWidget(nullptr,
        placeable ? Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint
                | Qt::WindowDoesNotAcceptFocus
                  // A top-level of its own (no parent to hang off): the
                  // compositor places it, stacks it and may give it the focus.
                  : Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , m_movable(movable || !placeable)
    , m_translucent(translucent || !placeable)
    , m_placeable(placeable)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setAttribute(Qt::WA_DeleteOnClose);
    if (m_translucent)
        setAttribute(Qt::WA_TranslucentBackground);
    // On Wayland the title names the window in the desktop's window list.
    setWindowTitle(placeable ? QStringLiteral("Velunta: recording controls") : QStringLiteral("Velunta: gravação"));
    setFixedSize(frame.size());
    if (placeable)
        move(frame.topLeft());
    // Without a compositing manager a translucent window is drawn opaque:
    // shape it so that the corners are really round.
    if (!m_translucent)
        setMask(QRegion(roundedShape(QSizeF(frame.size()), cornerRadius).toFillPolygon().toPolygon()));
    WindowLevel::set(this, WindowLevel::Level::floating);
    WindowLevel::setSharingNone(this);
}

void ControlsBackground::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.fillPath(roundedShape(QSizeF(size()), cornerRadius),
        m_translucent ? backdrop : QColor(backdrop.red(), backdrop.green(), backdrop.blue()));
}

void ControlsBackground::mousePressEvent(QMouseEvent *event)
{
    if (!m_placeable && event->button() == Qt::LeftButton && windowHandle()) {
        // A Wayland client cannot move its window: the compositor drags it.
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    if (m_movable && event->button() == Qt::LeftButton)
        m_dragOffset = event->globalPosition() - QPointF(pos());
    event->accept();
}

void ControlsBackground::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragOffset && (event->buttons() & Qt::LeftButton))
        move((event->globalPosition() - *m_dragOffset).toPoint());
    event->accept();
}

void ControlsBackground::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragOffset.reset();
    event->accept();
}
