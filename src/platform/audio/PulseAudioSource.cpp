#include "platform/audio/PulseAudioSource.h"

#include "platform/audio/PulseAudioCapture.h"

Result<std::unique_ptr<AudioStream>, PlatformError> PulseAudioSource::open(
    SoundSource source, const QString &device, int sampleRate, int channels, OnChunk onChunk, OnFailure onFailure)
{
    using R = Result<std::unique_ptr<AudioStream>, PlatformError>;
    const PulseAudioCapture::Source pulseSource = source == SoundSource::systemAudio
        ? PulseAudioCapture::Source::systemAudio
        : PulseAudioCapture::Source::microphone;
    auto opened = PulseAudioCapture::open(
        {pulseSource}, device.toStdString(), sampleRate, channels,
        [onChunk = std::move(onChunk)](const PulseAudioCapture::Chunk &chunk) {
            onChunk(AudioChunk {chunk.samples, chunk.frames, chunk.captureNanoseconds});
        },
        std::move(onFailure));
    if (!opened)
        return R::failure(opened.error());
    return R(std::move(*opened));
}
