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
//   window: its position is polled while waiting, about 60 times a second
//   while it moves and seldom once it has rested a second (PointerSchedule).
//   XInput 2's raw motion, which reaches the root window over any window
//   and through grabs, says when a resting pointer moves again; a server
//   without it is polled 20 times a second at rest.
// - Damage objects report once until their damage is subtracted: every
//   notice is subtracted at once, so that the watcher sees each burst of
//   drawing to its end. A change is reported only once the burst has settled
//   (a short gap, or a frame interval at most), so that one screen update
//   gives one picture and not one per request the client drew it with.
// - The picture is read on another connection, and the server interleaves
//   clients' requests: rearm() syncs with the server before the read, and
//   changedSinceRearm() after it tells whether drawing landed in between
//   (the picture may then mix two updates).
// - An output switched off (RandR: no CRTC any more, or gone) and a broken
//   connection to the server both mean the display is gone.
//
// The watcher owns its X connection. wait(), rearm() and changedSinceRearm()
// belong to one thread; interrupt() may be called from any thread.
class X11DamageWatcher {
public:
    enum class Event { changed, timedOut, interrupted, displayLost };

    // Watches AREA (desktop pixels) of the display with RandR output id OUTPUT.
    static Result<std::unique_ptr<X11DamageWatcher>, PlatformError> open(
        DisplayId output, QRect area, const QByteArray &displayName = {});
    ~X11DamageWatcher();

    X11DamageWatcher(const X11DamageWatcher &) = delete;
    X11DamageWatcher &operator=(const X11DamageWatcher &) = delete;

    // Returns with `changed` once something that changed since the last
    // rearm() has settled, else waits for a change, the time-out, interrupt()
    // or the display's loss.
    Event wait(std::chrono::milliseconds timeout);
    // Starts a new round of change reports; call it just before reading the
    // picture. Blocks for a round trip or a few.
    void rearm();
    // Whether anything changed since rearm(): call it after the read.
    bool changedSinceRearm();
    // Makes a waiting (or the next) wait() return `interrupted`.
    void interrupt();
    // Why the display counts as gone.
    PlatformError lossReason() const;

private:
    X11DamageWatcher();
    struct Private;
    std::unique_ptr<Private> d;
};
