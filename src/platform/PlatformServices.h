#pragma once

#include "platform/HotKeySource.h"
#include "platform/ScreenSource.h"

#include <QString>
#include <memory>

// The window-system backend, chosen once at start-up and handed to the logic
// as interfaces.
struct PlatformServices {
    std::unique_ptr<ScreenSource> screens;
    std::unique_ptr<HotKeySource> hotKeys;
    // "x11" when both services are X11 ones, else "null", for diagnostics.
    QString backend;

    // X11 when Qt runs on xcb: screens when the X server has what capture
    // needs (Composite, RENDER, XFixes), hot keys always; each service that
    // cannot be X11 is the null one. Call once,
    // after the QGuiApplication exists, on the GUI thread. The X11 screen
    // source starts redirecting the desktop's windows off-screen at once and
    // keeps doing so for its whole life. Defined by the velunta_x11 library.
    static PlatformServices create();
};
