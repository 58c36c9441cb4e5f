#pragma once

#include "core/Result.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/Sample.h"

#include <memory>
#include <optional>

// Reads the compressed samples of one track of a file, in decode order,
// without decoding them. Each reader opens the file on its own and skips the
// other tracks' data, so several readers of one file do not get in each
// other's way and each holds about one sample in memory.
class TrackReader {
public:
    static Result<TrackReader, MediaError> start(const MediaAsset &asset, const MediaTrack &track);

    TrackReader(TrackReader &&) noexcept;
    TrackReader &operator=(TrackReader &&) noexcept;
    ~TrackReader();

    // The next sample, none at the end of the track, or why reading stopped
    // (including a file cut short: fewer samples than its index lists).
    Result<std::optional<Sample>, MediaError> next();

private:
    struct State;
    explicit TrackReader(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};
