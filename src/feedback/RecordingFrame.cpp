#include "RecordingFrame.h"

#include "platform/WindowLevel.h"
#include "platform/WindowManager.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWindow>

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
    m_ring = QRect(QPoint(0, 0), frame.size());
    // The ring is a rectangle of whole points, so the shape is exact: only
    // the border exists, with or without a compositing manager.
    setMask(RecordingFrame::ringRegion(frame.size()));
    WindowLevel::set(this, WindowLevel::Level::floating);
    WindowLevel::setSharingNone(this);
}

RecordingFrameWindow::RecordingFrameWindow(QScreen *screen, const QRect &ring)
    : QWidget(nullptr,
        Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
            | Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint)
    , m_ring(ring)
    , m_coversScreen(true)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_DeleteOnClose);
    // Every Wayland compositor blends: the rest of the screen shows through.
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Velunta: área gravada"));
    setScreen(screen);
    setGeometry(screen->geometry());
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
    ring.addRect(QRectF(m_ring));
    ring.addRect(QRectF(m_ring).adjusted(RecordingFrame::borderWidth, RecordingFrame::borderWidth,
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

RecordingFrame::Kind RecordingFrame::kindFor(const CaptureTarget &target, bool windowsPlaceable)
{
    if (!target.rect)
        return Kind::none;
    return windowsPlaceable ? Kind::ringWindow : Kind::screenWindow;
}

bool RecordingFrame::keepsScreenWindow(const QString &targetScreen, const QString &shownOn)
{
    return !shownOn.isEmpty() && shownOn == targetScreen;
}

void RecordingFrame::show(const CaptureTarget &target)
{
    const Kind kind = kindFor(target, m_placeable);
    if (kind == Kind::none)
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
    if (kind == Kind::screenWindow) {
        showOverScreen(display->name, frame);
        return;
    }
    const bool translucent = m_windowManager && m_windowManager->hasCompositingManager();
    auto *window = new RecordingFrameWindow(frame, translucent);
    window->show();
    window->raise();
    hide();
    m_window = window;
}

void RecordingFrame::showOverScreen(const QString &screenName, const QRect &frame)
{
    QScreen *screen = nullptr;
    for (QScreen *candidate : QGuiApplication::screens()) {
        if (candidate->name() == screenName)
            screen = candidate;
    }
    if (!screen)
        return;
    auto *window = new RecordingFrameWindow(screen, frame.translated(-screen->geometry().topLeft()));
    hide();
    m_window = window;
    window->showFullScreen();
    // The compositor has the last word on the screen (headless mutter with
    // Qt 6.4 puts every full-screen window on the first one): a ring on
    // another screen than the recorded one would frame the wrong place, so
    // then there is none. Qt follows the surface to the screen it entered.
    if (QWindow *handle = window->windowHandle()) {
        QPointer<RecordingFrame> self(this);
        QPointer<RecordingFrameWindow> shown(window);
        connect(handle, &QWindow::screenChanged, this, [self, shown, screenName](QScreen *now) {
            if (!self || !shown || self->m_window != shown)
                return;
            if (!keepsScreenWindow(screenName, now ? now->name() : QString()))
                self->hide();
        });
    }
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
