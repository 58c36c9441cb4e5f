#pragma once

#include "platform/ScreenSource.h"

#include <QString>
#include <vector>

class QWidget;
class QWindow;

// Window levels and sharing, recorded on the windows themselves so that a
// capture can tell which of the application's own top-level windows it shows:
// only visible ones at the normal level that are not marked unshareable.
// Everything else the application puts on screen (selection overlay,
// recording frame, control bar, toast, menus, tool tips) is left out of
// captures even while it is on screen.
//
// The level is bookkeeping only: the window's Qt flags (stay on top, tool,
// frameless...) are still set by whoever builds the window.
namespace WindowLevel {

enum class Level {
    normal,
    // Above ordinary windows: the toast, the control bar, the recording frame.
    floating,
    // Above everything, covering screens: the selection overlay.
    overlay,
};

void set(QWindow *window, Level level);
// Creates the widget's native window if it has none yet.
void set(QWidget *widget, Level level);
// The recorded level; a window without one counts as raised when its flags
// make it a popup, tool tip, splash or stay-on-top window.
Level of(const QWindow *window);

// Marks a window that captures must never show, whatever its level.
void setSharingNone(QWindow *window);
void setSharingNone(QWidget *widget);
bool isSharingNone(const QWindow *window);

// Whether captures keep this top-level window.
bool isCapturable(const QWindow *window);

// The native ids of the application's top-level windows that captures keep,
// in the application's window order. GUI thread only.
std::vector<NativeWindowId> capturableWindowIds();
// The native ids of every other top-level window of the application that has
// a native window. GUI thread only.
std::vector<NativeWindowId> excludedWindowIds();

// Whether the application places its own windows and keeps them out of
// captures on Qt's platform PLATFORMNAME (by default the running one). X11
// lets it do both. Wayland lets it do neither: the compositor places every
// window and a screen cast shows whatever is on screen, so floating panels
// become windows the user can move, or notices of the desktop's own.
bool canPlaceWindows(const QString &platformName);
bool canPlaceWindows();

} // namespace WindowLevel
