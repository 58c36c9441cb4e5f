#include "platform/WindowLevel.h"

#include <QGuiApplication>
#include <QVariant>
#include <QWidget>
#include <QWindow>

namespace {

constexpr char levelProperty[] = "_velunta_window_level";
constexpr char sharingNoneProperty[] = "_velunta_sharing_none";

QWindow *nativeWindow(QWidget *widget)
{
    if (!widget)
        return nullptr;
    widget->winId();
    return widget->windowHandle();
}

bool raisedByFlags(const QWindow *window)
{
    const Qt::WindowFlags flags = window->flags();
    switch (window->type()) {
    case Qt::Popup:
    case Qt::ToolTip:
    case Qt::SplashScreen:
    case Qt::Drawer:
        return true;
    default:
        break;
    }
    return flags.testFlag(Qt::WindowStaysOnTopHint) || flags.testFlag(Qt::X11BypassWindowManagerHint);
}

} // namespace

namespace WindowLevel {

void set(QWindow *window, Level level)
{
    if (window)
        window->setProperty(levelProperty, static_cast<int>(level));
}

void set(QWidget *widget, Level level)
{
    set(nativeWindow(widget), level);
}

Level of(const QWindow *window)
{
    const QVariant recorded = window->property(levelProperty);
    if (recorded.isValid())
        return static_cast<Level>(recorded.toInt());
    return raisedByFlags(window) ? Level::floating : Level::normal;
}

void setSharingNone(QWindow *window)
{
    if (window)
        window->setProperty(sharingNoneProperty, true);
}

void setSharingNone(QWidget *widget)
{
    setSharingNone(nativeWindow(widget));
}

bool isSharingNone(const QWindow *window)
{
    return window->property(sharingNoneProperty).toBool();
}

bool isCapturable(const QWindow *window)
{
    return window->isVisible() && of(window) == Level::normal && !isSharingNone(window);
}

std::vector<NativeWindowId> capturableWindowIds()
{
    std::vector<NativeWindowId> ids;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->handle() && isCapturable(window))
            ids.push_back(static_cast<NativeWindowId>(window->winId()));
    }
    return ids;
}

std::vector<NativeWindowId> excludedWindowIds()
{
    std::vector<NativeWindowId> ids;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        // A window without a native one yet is on no screen; asking for its
        // id would create it.
        if (window->handle() && !isCapturable(window))
            ids.push_back(static_cast<NativeWindowId>(window->winId()));
    }
    return ids;
}

bool canPlaceWindows(const QString &platformName)
{
    return !platformName.startsWith(QLatin1String("wayland"));
}

bool canPlaceWindows()
{
    return canPlaceWindows(QGuiApplication::platformName());
}

} // namespace WindowLevel
