#pragma once

#include "core/Result.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/Sample.h"

#include <memory>

// Writes compressed samples into an MP4 file without re-encoding them, one
// input per output track. Samples are handed over in the order they should
// be interleaved in the file (by decode time across inputs). The moov atom
// is moved to the front when the file is finished, so players can start it
// before reading it to the end.
class MediaWriter {
public:
    // Creates (or replaces) the file at PATH.
    static Result<MediaWriter, MediaError> create(const QString &path);

    MediaWriter(MediaWriter &&) noexcept;
    MediaWriter &operator=(MediaWriter &&) noexcept;
    // Without finishWriting() the file stays incomplete and is removed.
    ~MediaWriter();

    // A track for samples of FORMAT; TIMESCALE is the tick rate wanted for
    // its time stamps (audio tracks always tick at their sample rate). TITLE
    // and ISDEFAULT are the track's name and whether players pick it by
    // themselves (see MediaTrack). Returns the input's number.
    Result<int, MediaError> addInput(
        const FormatDescription &format, int32_t timeScale, const QString &title = {}, bool isDefault = false);
    Result<Done, MediaError> startWriting();
    Result<Done, MediaError> append(int input, Sample sample);
    Result<Done, MediaError> finishWriting();

private:
    struct State;
    explicit MediaWriter(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};
