#pragma once

#include "core/Result.h"
#include "platform/AudioSource.h"
#include "platform/PlatformError.h"
#include "platform/ScreenSource.h"

#include <QCoroTask>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// A requested sound source a segment did not get, in whole or from some
// point on, and why.
struct AudioLoss {
    SoundSource source = SoundSource::systemAudio;
    PlatformError reason;
    bool operator==(const AudioLoss &) const = default;
};

// What one segment records: the capture stream with its file writer. The
// recorder opens one per stretch between a start or resume and a pause or
// stop; the live one records the platform's pictures and sound into an MP4.
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
    // The sound server's input to record as the microphone; empty for the default.
    QString microphoneDevice;
    // A requested sound source that cannot be opened: its track is left out
    // (the first segment, which settles the recording's tracks), or kept and
    // filled with silence (later segments: a join needs every segment to have
    // the same tracks).
    bool keepsMissingAudioAsSilence = false;
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
    // Just before `failed`, when the file could not be written for lack of
    // room on its disk.
    std::function<void()> outOfSpace;
    // Capture ended by itself (the display went away); the file is still
    // finished as far as it got. Sound going away does not end it (audioLost).
    std::function<void(PlatformError)> stopped;
    // A sound source went away during the segment, or was missing at its
    // start while its track was kept: the track holds silence from there on
    // and the picture goes on.
    std::function<void(AudioLoss)> audioLost;
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
    // After a successful start: the requested sound sources whose tracks the
    // file leaves out because they could not be opened.
    virtual std::vector<AudioLoss> droppedAudio() const { return {}; }
    // After a successful start: the microphone asked for was not there and
    // the system's default is recorded instead.
    virtual bool usesDefaultMicrophone() const { return false; }
};

// Makes segment streams. GUI thread.
class SegmentCaptureService {
public:
    virtual ~SegmentCaptureService() = default;
    virtual Result<std::unique_ptr<SegmentStream>, PlatformError> makeStream(
        SegmentSettings settings, SegmentNotices notices)
        = 0;
    // The recording stopped: what was kept for its segments (a screen cast)
    // can go.
    virtual void recordingEnded() { }
};
