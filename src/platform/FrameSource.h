#pragma once

#include "core/CaptureTarget.h"
#include "core/Result.h"
#include "platform/PlatformError.h"
#include "platform/ScreenSource.h"

#include <QImage>
#include <QRect>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

// One picture of a recorded area and when it was read.
struct CapturedFrame {
    // RGB32 (its fourth byte undefined), exactly the area's size. It may
    // share memory with the stream: valid until the next readFrame().
    QImage image;
    // Steady clock, the same clock as the sound's chunk times.
    int64_t captureNanoseconds = 0;
    // The area was drawn to while it was read: the picture may mix the
    // update before with the one after. The change is reported again.
    bool drawnDuringRead = false;
};

// A desktop area being recorded: notices that its picture may have changed
// (or that its display went away), and the picture itself on demand. The
// recorder decides when to read; a source that is pushed pictures (a screen
// cast stream) keeps the latest and reports it as a change.
//
// waitForChange() and readFrame() belong to one thread; interrupt() may be
// called from any thread.
class FrameStream {
public:
    enum class Change { changed, timedOut, interrupted, displayLost };

    virtual ~FrameStream() = default;

    // Returns at once with `changed` when something changed since the last
    // read, else waits for a change, the time-out, interrupt() or the loss of
    // the display.
    virtual Change waitForChange(std::chrono::milliseconds timeout) = 0;
    // Makes a waiting (or the next) waitForChange() return `interrupted`.
    virtual void interrupt() = 0;
    // Why the display counts as gone.
    virtual PlatformError lossReason() const = 0;
    // Starts a new round of change notices, then reads the picture without
    // the given windows (the application's own overlays), or says why there
    // is none (the window system went away).
    virtual Result<CapturedFrame, PlatformError> readFrame(const std::vector<NativeWindowId> &excludedWindows) = 0;
};

// What a recording reads: an area of one display, in desktop pixels.
struct FrameArea {
    DisplayId display = 0;
    QRect pixels;
    bool showsCursor = true;

    bool operator==(const FrameArea &) const = default;
};

// Opens frame streams for recordings.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Connects to the window system for one recorded area. Blocks: call it
    // off the GUI thread (any thread will do).
    virtual Result<std::unique_ptr<FrameStream>, PlatformError> open(const FrameArea &area) = 0;
    // A source for the segments of one recording, kept from its start to its
    // stop; null when each segment may as well open a stream of its own. A
    // screen cast that the desktop shows as shared is opened once this way,
    // so that a pause neither ends the sharing nor asks for it again.
    virtual std::unique_ptr<FrameSource> forOneRecording() { return nullptr; }
};
