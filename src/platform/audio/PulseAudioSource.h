#pragma once

#include "platform/AudioSource.h"

// Sound for recordings from PulseAudio (or PipeWire's Pulse server): one
// PulseAudioCapture connection per source, so that one failing leaves the
// other alone.
class PulseAudioSource : public AudioSource {
public:
    Result<std::unique_ptr<AudioStream>, PlatformError> open(SoundSource source, const QString &device, int sampleRate,
        int channels, OnChunk onChunk, OnFailure onFailure) override;
};
