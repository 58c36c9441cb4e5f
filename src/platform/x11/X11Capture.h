#pragma once

#include "core/Result.h"
#include "platform/PlatformError.h"
#include "platform/ScreenSource.h"

#include <QByteArray>
#include <QImage>
#include <memory>

// Reads the desktop's pixels without the windows a capture must not show.
//
// X11 has no "capture everything except these windows" request: a plain
// GetImage of the root returns whatever is on the glass, overlays included.
// With the Composite extension every top-level window renders into a pixmap
// of its own, so a capture can repaint the desktop itself, bottom to top,
// into an off-screen picture and simply skip the windows it must leave out:
//
// - The redirect (Automatic, so the server keeps drawing the screen as usual)
//   is made once, when this object connects, and kept for its whole life. A
//   redirect made just before a grab gives black first frames: the server
//   needs ~150 ms to re-expose the windows. It belongs to this connection, so
//   it ends when the connection does; it coexists with a compositing manager.
// - Reparenting window managers (openbox, xfwm, mutter, kwin) put each client
//   inside a frame window, and the root's children are those frames. An
//   excluded client is matched through its frame: walk its parents up to the
//   root.
// - A window's pixmap is named afresh for every grab: after a resize the old
//   one no longer matches the window.
// - Windows that are unmapped, InputOnly or not redirected (a compositing
//   manager's overlay window) have no pixmap; naming one fails, and such a
//   window is simply not painted. Windows can vanish between the tree query and
//   the painting: their errors are read and dropped.
// - Shaped windows (a ring-shaped frame, xeyes) are clipped to their bounding
//   shape so that their unshaped corners do not paint over what is below.
// - Behind everything: the wallpaper pixmap desktops publish in _XROOTPMAP_ID,
//   else black. A desktop whose wallpaper is a window is just another child.
// - Each window painted is a pass over its pixels in the server. Under an
//   opaque, unshaped window that covers the whole area nothing shows, so
//   painting starts there (a full-screen window, a maximised one).
//
// The finished picture is read with one MIT-SHM GetImage; a client in another
// IPC namespace cannot share memory with the server and falls back to a plain
// GetImage (several times slower at 1080p, still correct).
//
// The object owns its own X connection, so grabs never touch Qt's and can
// run on any thread; grabs are serialised.
class X11Capture {
public:
    // Connects to DISPLAY_NAME (empty: $DISPLAY), checks for Composite,
    // RENDER and XFixes, and starts the redirect.
    static Result<std::unique_ptr<X11Capture>, PlatformError> open(const QByteArray &displayName = {});
    ~X11Capture();

    X11Capture(const X11Capture &) = delete;
    X11Capture &operator=(const X11Capture &) = delete;

    // An opaque RGB32 image of exactly request.pixels' size, or the reason
    // there is none (for example the connection to the X server was lost).
    Result<QImage, PlatformError> grab(const GrabRequest &request);
    // The same, without the copy out of shared memory that costs a pass over
    // every pixel: the image may point into this capture's buffer, valid
    // until the next grab, and its unused fourth byte is not made opaque.
    // For a reader that converts the picture at once (a recording); the
    // off-screen picture it is composed in is kept for the next grab too.
    Result<QImage, PlatformError> grabBorrowed(const GrabRequest &request);

    // Whether the last read went through shared memory.
    bool usedSharedMemory() const;

private:
    X11Capture();
    struct Private;
    std::unique_ptr<Private> d;
};
