#pragma once

#include "core/Result.h"
#include "platform/PlatformError.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// Where a recording's sound comes from; each source has a track of its own.
enum class SoundSource { systemAudio, microphone };

// Interleaved float samples of one sound stream, valid only during the call.
struct AudioChunk {
    // Null: a hole in the stream, to be filled with silence.
    const float *samples = nullptr;
    int64_t frames = 0;
    // Steady clock time of the first sample.
    int64_t captureNanoseconds = 0;
};

// A running sound capture; destroying it stops it, and no chunk or notice
// comes after the destructor returns.
class AudioStream {
public:
    virtual ~AudioStream() = default;
    // The input asked for was not there and the system's default is recorded instead.
    virtual bool usesDefaultInstead() const { return false; }
};

// Records the sound sources of a recording from the sound server.
class AudioSource {
public:
    using OnChunk = std::function<void(const AudioChunk &)>;
    using OnFailure = std::function<void(PlatformError)>;

    virtual ~AudioSource() = default;

    // Starts recording SOURCE at SAMPLERATE with CHANNELS interleaved and
    // waits (a few seconds at most) until it runs. For the microphone, DEVICE
    // names the sound server's input to record (empty: the default; when it
    // is not there, the default too, and the stream says so). Blocks: call it
    // off the GUI thread. Chunks, and at most one failure notice after the
    // last chunk, come on the sound server's own thread while the stream lives.
    virtual Result<std::unique_ptr<AudioStream>, PlatformError> open(
        SoundSource source, const QString &device, int sampleRate, int channels, OnChunk onChunk, OnFailure onFailure)
        = 0;
};
