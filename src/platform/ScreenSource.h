#pragma once

#include "core/CaptureTarget.h"
#include "core/Result.h"
#include "platform/PlatformError.h"

#include <QCoroTask>
#include <QImage>
#include <QPoint>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// A native top-level window (an X11 window id).
using NativeWindowId = std::uint32_t;

// One screen as the window system lists it.
struct DisplayInfo {
    // None when the screen cannot be matched to an output (it is then never
    // a capture target).
    std::optional<DisplayId> id;
    // The output's name, e.g. "DUMMY0"; also the QScreen's name.
    QString name;
    // Qt global device-independent coordinates: top-left origin, y down.
    QRect frame;
    // The same area in pixels of the whole desktop (the X root window).
    QRect pixelGeometry;
    // Pixels per device-independent pixel (QScreen::devicePixelRatio).
    double scale = 1.0;
    bool primary = false;

    bool operator==(const DisplayInfo &) const = default;
};

// What one grab reads: a rectangle of the desktop in pixels, without the
// given windows (and the window-manager frames around them).
struct GrabRequest {
    QRect pixels;
    std::vector<NativeWindowId> excludedWindows;
    bool showsCursor = false;

    bool operator==(const GrabRequest &) const = default;
};

// What capture needs from the window system, and nothing about how.
// X11 and Wayland (through the desktop portal) provide it.
// Every member is called on the GUI thread.
class ScreenSource {
public:
    virtual ~ScreenSource() = default;

    // The screens in the window system's order (Qt's screen list).
    virtual std::vector<DisplayInfo> displays() const = 0;
    // The pointer in the same global coordinates as DisplayInfo::frame.
    virtual QPoint pointerPosition() const = 0;

    // Whether captures can see the screen at all (no prompt, never waits).
    virtual bool screenCaptureAllowed() const = 0;
    // Asks for access where the platform has such a thing; the answer.
    virtual bool requestScreenCapture() { return screenCaptureAllowed(); }
    // Whether the user's consent to share the screen is on record, so that
    // no capture stops to ask (no prompt, never waits). Only Wayland's
    // portal asks; elsewhere the same as screenCaptureAllowed().
    virtual bool screenCaptureConsented() const { return screenCaptureAllowed(); }
    // Why captures cannot see the screen, when the window system can say it
    // better than a request for permission (a missing portal); else empty.
    virtual QString accessProblem() const { return {}; }
    // Runs THEN once screenCaptureAllowed() gives the settled answer: at
    // once, or later where the window system is still being asked (until
    // then it answers allowed).
    virtual void whenAccessKnown(std::function<void()> then) { then(); }

    // The pixels of request.pixels, as an opaque RGB32 image of exactly that
    // size. Runs off the GUI thread; resumes on the caller's thread. Parts of
    // the rectangle outside the desktop come back in the background colour.
    virtual QCoro::Task<Result<QImage, PlatformError>> grab(GrabRequest request) = 0;
};

// The first display whose frame holds the pointer (left and top edges
// inside, right and bottom edges outside, so a point on the seam between two
// side-by-side screens belongs to the right-hand one), else the primary
// display; none when that display has no id or there is no display.
std::optional<DisplayId> displayUnderPointer(const ScreenSource &source);

// XWayland also reports xcb, so look at the session: an X11 capture there
// only sees X clients and would save black or partial images.
bool isWaylandSession(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
