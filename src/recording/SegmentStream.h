#pragma once

#include "app/Result.h"
#include "platform/PlatformError.h"
#include "platform/ScreenSource.h"

#include <QCoroTask>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// What one segment records: the capture stream with its file writer. The
// recorder opens one per stretch between a start or resume and a pause or
// stop; the live one captures the X11 desktop and PulseAudio into an MP4.
struct SegmentSettings {
    QString path;
    DisplayId display = 0;
    // Desktop pixels read for every picture; also the picture's size (even).
    QRect pixels;
    std::vector<NativeWindowId> excludedWindows;
    bool showsCursor = true;
    int maximumFrameRate = 60;
    // Pictures captured but not yet encoded, at most.
    int queueDepth = 6;
    bool capturesSystemAudio = false;
    bool capturesMicrophone = false;
    // HEVC instead of H.264.
    bool usesHevc = false;
};

// What a stream reports about its segment. Called on the stream's own
// threads; the recorder hops to the GUI thread before acting on them.
struct SegmentNotices {
    // The file is complete on disk.
    std::function<void()> finished;
    // The file could not be written.
    std::function<void(PlatformError)> failed;
    // Capture ended by itself (the display went away, the sound server
    // stopped); the file is still finished as far as it got.
    std::function<void(PlatformError)> stopped;
};

class SegmentStream {
public:
    virtual ~SegmentStream() = default;
    // Starts capturing into the file. Resumes on the caller's thread.
    virtual QCoro::Task<Result<Done, PlatformError>> startCapture() = 0;
    // Ends capturing; the file is finished afterwards and `finished` or
    // `failed` follows. Resumes on the caller's thread.
    virtual QCoro::Task<Result<Done, PlatformError>> stopCapture() = 0;
    // The application's windows to leave out from now on (they change while
    // recording: the control bar and the frame appear after the start).
    virtual void setExcludedWindows(std::vector<NativeWindowId> windows) = 0;
};

// Makes segment streams. GUI thread.
class SegmentCaptureService {
public:
    virtual ~SegmentCaptureService() = default;
    virtual Result<std::unique_ptr<SegmentStream>, PlatformError> makeStream(
        SegmentSettings settings, SegmentNotices notices)
        = 0;
};
