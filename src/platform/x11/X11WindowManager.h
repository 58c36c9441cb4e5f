#pragma once

#include "platform/WindowManager.h"

#include <cstdint>

struct xcb_connection_t;

// EWMH on Qt's own X connection.
//
// - The active window is the root's _NET_ACTIVE_WINDOW property. Setting the
//   X input focus ourselves would bypass the window manager, which then keeps
//   its own idea of the active window and its decorations; a client message
//   with source indication 2 ("pager") asks it instead, and window managers
//   honour such requests even under focus-stealing prevention.
// - A compositing manager announces itself by owning the selection
//   _NET_WM_CM_Sn, n being the X screen number (always 0 with RandR, where
//   all monitors share one X screen, but DISPLAY can name another).
class X11WindowManager : public WindowManager {
public:
    // None when Qt is not on xcb.
    static std::unique_ptr<X11WindowManager> create();

    std::optional<NativeWindowId> activeWindow() const override;
    void activate(NativeWindowId window) override;
    bool hasCompositingManager() const override;

    // The X screen number a DISPLAY name points at (":1.2" → 2; ":1" → 0).
    static int screenNumber(const QByteArray &displayName);

private:
    X11WindowManager(xcb_connection_t *connection, std::uint32_t root, int screen);
    std::uint32_t atom(const char *name) const;

    xcb_connection_t *m_connection;
    std::uint32_t m_root;
    int m_screen;
};
