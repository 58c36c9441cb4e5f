#include "SelectionWindow.h"

#include "SelectionView.h"
#include "platform/WindowLevel.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>

SelectionWindow::SelectionWindow(const DisplayInfo &display, QImage still, bool translucent)
    : QWidget(nullptr,
        Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint
            | Qt::NoDropShadowWindowHint)
    , m_displayID(display.id.value_or(0))
    , m_frame(display.frame)
{
    // Never shown (no decorations, no task bar); it names the window for tools.
    setWindowTitle(QStringLiteral("Velunta: seleção"));
    if (translucent)
        setAttribute(Qt::WA_TranslucentBackground);
    else
        setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == display.name)
            setScreen(screen);
    }
    setGeometry(display.frame);
    setCursor(Qt::CrossCursor);
    if (!still.isNull())
        still.setDevicePixelRatio(qreal(still.width()) / std::max(1, display.frame.width()));
    m_view = new SelectionView(display.frame.size(), translucent ? QImage() : std::move(still), this);
    m_view->setPixelScale(display.scale);
    // The window exists natively from here on, with its level recorded so
    // that captures leave it out.
    WindowLevel::set(this, WindowLevel::Level::overlay);
    WindowLevel::setSharingNone(this);
}

void SelectionWindow::present()
{
    // A Wayland client cannot place its windows: full screen on the screen
    // and geometry set above is the nearest it can ask for, and Qt names
    // that screen's output in the request. The compositor decides.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        showFullScreen();
        return;
    }
    show();
    raise();
}

void SelectionWindow::becomeKey()
{
    m_isKey = true;
    activateWindow();
    m_view->setFocus(Qt::ActiveWindowFocusReason);
    tryKeyboardGrab(20);
}

void SelectionWindow::tryKeyboardGrab(int attemptsLeft)
{
    if (!m_isKey || !isVisible())
        return;
    QWindow *handle = windowHandle();
    // Fails while the window is not viewable yet or another client holds the
    // keyboard (a menu that is still open); both pass quickly.
    if (handle && handle->setKeyboardGrabEnabled(true)) {
        m_keyboardGrabbed = true;
        return;
    }
    if (attemptsLeft <= 1)
        return;
    QPointer<SelectionWindow> self(this);
    QTimer::singleShot(50, this, [self, attemptsLeft] {
        if (self)
            self->tryKeyboardGrab(attemptsLeft - 1);
    });
}

void SelectionWindow::resign()
{
    m_isKey = false;
    if (m_keyboardGrabbed) {
        if (QWindow *handle = windowHandle())
            handle->setKeyboardGrabEnabled(false);
        m_keyboardGrabbed = false;
    }
    hide();
}
