#pragma once

#include "platform/ScreenSource.h"

#include <memory>
#include <optional>

// What full-screen overlays need from the window manager: the window the user
// was working in (so it gets the focus back afterwards) and whether a
// compositing manager is running (without one, a translucent window is drawn
// opaque and an overlay must paint the screen's pixels itself).
// GUI thread only.
class WindowManager {
public:
    virtual ~WindowManager() = default;

    // The window the window manager reports as active; none when it reports
    // none or keeps no such record.
    virtual std::optional<NativeWindowId> activeWindow() const = 0;
    // Asks the window manager to activate WINDOW, as a pager or task bar
    // would, so that focus-stealing rules let it through.
    virtual void activate(NativeWindowId window) = 0;
    virtual bool hasCompositingManager() const = 0;

    // The X11 manager when Qt runs on xcb, else one that knows no active
    // window and no compositor. Defined by the velunta_x11 library.
    static std::unique_ptr<WindowManager> create();
};
