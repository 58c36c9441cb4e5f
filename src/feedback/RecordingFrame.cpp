#include "RecordingFrame.h"

#include "platform/WindowLevel.h"
#include "platform/WindowManager.h"

#include <QPainter>
#include <QPainterPath>

RecordingFrameWindow::RecordingFrameWindow(const QRect &frame, bool translucent)
    // Override-redirect: the window manager would otherwise place it, keep it
    // on screen (the ring of an area at a screen edge lies partly outside)
    // and could stack full-screen windows above it.
    : QWidget(nullptr,
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint
            | Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_DeleteOnClose);
    if (translucent)
        setAttribute(Qt::WA_TranslucentBackground);
    else
        setAttribute(Qt::WA_NoSystemBackground);
    setWindowTitle(QStringLiteral("Velunta: recording frame"));
    setGeometry(frame);
    // The ring is a rectangle of whole points, so the shape is exact: only
    // the border exists, with or without a compositing manager.
    setMask(RecordingFrame::ringRegion(frame.size()));
    WindowLevel::set(this, WindowLevel::Level::floating);
    WindowLevel::setSharingNone(this);
}

void RecordingFrameWindow::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void RecordingFrameWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    QPainterPath ring;
    ring.setFillRule(Qt::OddEvenFill);
    ring.addRect(QRectF(rect()));
    ring.addRect(QRectF(rect()).adjusted(RecordingFrame::borderWidth, RecordingFrame::borderWidth,
        -RecordingFrame::borderWidth, -RecordingFrame::borderWidth));
    painter.fillPath(ring, m_color);
}

RecordingFrame::RecordingFrame(ScreenSource &screens, WindowManager *windowManager, QObject *parent)
    : QObject(parent)
    , m_screens(screens)
    , m_windowManager(windowManager)
    , m_placeable(WindowLevel::canPlaceWindows())
{
}

RecordingFrame::~RecordingFrame()
{
    hide();
}

QRectF RecordingFrame::outlineFrame(const QRectF &displayFrame, const QRectF &rect)
{
    return rect.translated(displayFrame.topLeft()).adjusted(-borderWidth, -borderWidth, borderWidth, borderWidth);
}

QRegion RecordingFrame::ringRegion(const QSize &size)
{
    const int border = int(borderWidth);
    const QRegion outer(QRect(QPoint(0, 0), size));
    return outer.subtracted(QRegion(QRect(QPoint(0, 0), size).adjusted(border, border, -border, -border)));
}

bool RecordingFrame::hasRing(const CaptureTarget &target, bool windowsPlaceable)
{
    return target.rect.has_value() && windowsPlaceable;
}

void RecordingFrame::show(const CaptureTarget &target)
{
    if (!hasRing(target, m_placeable))
        return;
    std::optional<DisplayInfo> display;
    for (const DisplayInfo &candidate : m_screens.displays()) {
        if (candidate.id && *candidate.id == target.displayID) {
            display = candidate;
            break;
        }
    }
    if (!display)
        return;

    const QRect frame = outlineFrame(QRectF(display->frame), *target.rect).toAlignedRect();
    const bool translucent = m_windowManager && m_windowManager->hasCompositingManager();
    auto *window = new RecordingFrameWindow(frame, translucent);
    window->show();
    window->raise();
    hide();
    m_window = window;
}

void RecordingFrame::hide()
{
    if (m_window)
        m_window->close();
    m_window = nullptr;
}

void RecordingFrame::setPaused(bool paused)
{
    if (m_window)
        m_window->setColor(paused ? SystemColors::orange : SystemColors::red);
}
