#pragma once

#include "platform/AudioSource.h"
#include "platform/FrameSource.h"
#include "recording/SegmentStream.h"

#include <chrono>
#include <cstdint>
#include <memory>

// Where captured audio goes on a segment's time line. Audio is written as one
// continuous run of samples (an AAC track has no gaps); the capture times
// the sound server gives only anchor that run to the picture's clock:
// the first chunk is placed exactly (silence before it, or samples from
// before the segment's start dropped), later chunks simply follow unless
// they have drifted more than `driftLimit` from where they belong, in which
// case silence fills the gap or the excess is skipped.
namespace AudioPlacement {

constexpr int64_t driftLimitNanoseconds = 60'000'000;

struct Step {
    int64_t silence = 0; // samples of silence to write first
    int64_t skip = 0; // samples of the chunk to leave out from its start
    bool operator==(const Step &) const = default;
};

// A chunk of FRAMES samples whose first was captured STARTNANOSECONDS after
// the segment's start, for a track holding POSITION samples at RATE.
// ANCHORED: an earlier chunk was placed already.
Step place(int64_t position, int64_t startNanoseconds, int64_t frames, int rate, bool anchored);

} // namespace AudioPlacement

// When captured sound is handed to the writer thread. The sound server
// sends a fragment every 20 ms or so; the writer takes them in batches, when
// it comes by for pictures, on its own every `writerPeriod`, or once
// `wakeAfter` of sound is waiting (a server that sends big fragments).
namespace AudioHandOff {

constexpr std::chrono::milliseconds writerPeriod {250};
constexpr std::chrono::milliseconds wakeAfter {200};

// Whether QUEUEDFRAMES samples (of all tracks together) at RATE are worth
// waking the writer for.
bool wakesWriter(int64_t queuedFrames, int rate);

} // namespace AudioHandOff

// The live segment stream: pictures of a desktop area from the platform's
// frame source (without the application's overlays, cursor drawn in)
// whenever it changed and at most maximumFrameRate a second, system audio
// and microphone from its audio source, all encoded into one MP4.
//
// Sound never ends a segment: a source that cannot be opened has its track
// left out or kept as silence (see SegmentSettings), and a source that goes
// away (the sound server stopped) leaves its track silent from there on while
// the picture goes on.
//
// Threads: the capture thread waits for changes and reads and converts
// pictures; the writer thread encodes and writes pictures and audio; the
// sound server delivers audio on its own. Picture and audio times are on one
// clock (the steady clock), counted from the first picture.
class SegmentWriter : public SegmentStream {
public:
    struct Statistics {
        int64_t captured = 0; // pictures read from the screen
        int64_t dropped = 0; // pictures the encoder could not keep up with
        int64_t encoded = 0;
    };

    // FRAMES and AUDIO outlive the writer.
    SegmentWriter(SegmentSettings settings, SegmentNotices notices, FrameSource &frames, AudioSource &audio);
    // Stops both threads; an unfinished file stays unfinished.
    ~SegmentWriter() override;

    QCoro::Task<Result<Done, PlatformError>> startCapture() override;
    QCoro::Task<Result<Done, PlatformError>> stopCapture() override;
    void setExcludedWindows(std::vector<NativeWindowId> windows) override;
    std::vector<AudioLoss> droppedAudio() const override;
    bool usesDefaultMicrophone() const override;

    Statistics statistics() const;

private:
    struct Private;
    std::shared_ptr<Private> d;
};

// Makes SegmentWriters over the platform's sources, which outlive it. What
// a source keeps for the segments of one recording (a screen cast) lasts
// until the recording ends.
class LiveSegmentCapture : public SegmentCaptureService {
public:
    LiveSegmentCapture(FrameSource &frames, AudioSource &audio);
    ~LiveSegmentCapture() override;
    Result<std::unique_ptr<SegmentStream>, PlatformError> makeStream(
        SegmentSettings settings, SegmentNotices notices) override;
    void recordingEnded() override;

private:
    FrameSource &frames() { return m_recording ? *m_recording : m_frames; }

    FrameSource &m_frames;
    std::unique_ptr<FrameSource> m_recording;
    AudioSource &m_audio;
};
