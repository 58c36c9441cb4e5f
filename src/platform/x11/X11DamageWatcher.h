#pragma once

#include "core/Result.h"
#include "platform/PlatformError.h"
#include "platform/ScreenSource.h"

#include <QByteArray>
#include <QRect>
#include <QString>
#include <chrono>
#include <memory>

// Tells a recording when the picture of a desktop area may have changed, and
// when its display went away.
//
// X11 traps this class exists for:
// - Under a compositing manager (and with Velunta's own Composite redirect)
//   clients draw into off-screen pixmaps and the root window reports no
//   damage from them. Damage is therefore watched on every top-level window,
//   and on new ones as they appear (SubstructureNotify on the root).
// - Moving, mapping, unmapping or restacking a window changes the picture
//   without any damage when windows are composited: those events count too.
// - The cursor is drawn into recorded pictures, but moving it damages no
//   window: its position is polled (about 60 times a second) while waiting.
// - Damage objects report once until their damage is subtracted: rearm()
//   subtracts, and must be called just before reading the picture so that
//   any drawing after it is reported again.
// - An output switched off (RandR: no CRTC any more, or gone) and a broken
//   connection to the server both mean the display is gone.
//
// The watcher owns its X connection. wait() and rearm() belong to one thread;
// interrupt() may be called from any thread.
class X11DamageWatcher {
public:
    enum class Event { changed, timedOut, interrupted, displayLost };

    // Watches AREA (desktop pixels) of the display with RandR output id OUTPUT.
    static Result<std::unique_ptr<X11DamageWatcher>, PlatformError> open(
        DisplayId output, QRect area, const QByteArray &displayName = {});
    ~X11DamageWatcher();

    X11DamageWatcher(const X11DamageWatcher &) = delete;
    X11DamageWatcher &operator=(const X11DamageWatcher &) = delete;

    // Returns at once with `changed` when something changed since the last
    // rearm(), else waits for a change, the time-out, interrupt() or the
    // display's loss.
    Event wait(std::chrono::milliseconds timeout);
    // Starts a new round of change reports.
    void rearm();
    // Makes a waiting (or the next) wait() return `interrupted`.
    void interrupt();
    // Why the display counts as gone.
    PlatformError lossReason() const;

private:
    X11DamageWatcher();
    struct Private;
    std::unique_ptr<Private> d;
};
