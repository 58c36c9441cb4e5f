#pragma once

#include "core/Result.h"
#include "platform/AudioSource.h"
#include "platform/PlatformError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Records system audio and the microphone from PulseAudio (or PipeWire's
// Pulse server) for a recording, as float samples with the time each chunk
// was captured.
//
// - System audio is the default sink's monitor source; the microphone is the
//   input asked for by name when the server has it (never a monitor), else
//   the default source unless that is a monitor, else the first real input.
// - Streams ask for 20 ms fragments and deliberately not for adjusted
//   latency: on a null sink that flag gave a 2-second start delay.
// - Without a low-latency client a null sink may hand over up to 2 s of
//   audio at once, so a chunk's time cannot be its arrival time: whenever
//   data arrives, everything readable is taken, and the last sample read is
//   taken to have been captured now; earlier samples are placed before it at
//   the sample rate. Callers keep a continuous sample count and use these
//   times only to anchor it (see the recorder's audio placement).
// - While recording, sound is taken about five times a second rather than
//   as each fragment arrives (the wake-ups were most of what a still screen
//   cost); the times stay right, since everything that came is read first.
class PulseAudioCapture : public AudioStream {
public:
    enum class Source { systemAudio, microphone };

    // Interleaved samples of one stream, valid only during the call.
    struct Chunk {
        int stream = 0; // index into the sources given to open()
        const float *samples = nullptr; // null: a hole in the stream, to be filled with silence
        int64_t frames = 0;
        int64_t captureNanoseconds = 0; // steady clock time of the first sample
    };
    using OnChunk = std::function<void(const Chunk &)>;
    using OnFailure = std::function<void(PlatformError)>;

    // Connects and starts one record stream per source; waits (a few seconds
    // at most) until all run. MICROPHONE names the input wanted for the
    // microphone (empty: the default). Chunks and the one failure notice are
    // delivered on the sound server's thread until the object is destroyed.
    static Result<std::unique_ptr<PulseAudioCapture>, PlatformError> open(std::vector<Source> sources,
        const std::string &microphone, int sampleRate, int channels, OnChunk onChunk, OnFailure onFailure);
    ~PulseAudioCapture() override;

    bool usesDefaultInstead() const override;

    PulseAudioCapture(const PulseAudioCapture &) = delete;
    PulseAudioCapture &operator=(const PulseAudioCapture &) = delete;

private:
    PulseAudioCapture();
    struct Private;
    std::unique_ptr<Private> d;
};
