#pragma once

#include "core/Result.h"
#include "platform/media/MediaError.h"
#include "platform/media/MediaTime.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

struct AVCodecParameters;
struct AVFormatContext;

enum class MediaType { video, audio };

// The four-character names media types have in reports: "vide", "soun".
QString rawString(MediaType type);

// How a track's samples are encoded: codec, its private set-up data
// (extradata) and picture or sound shape. Two segments can share an output
// track only when these are equal, since one MP4 track has one sample entry.
class FormatDescription {
public:
    explicit FormatDescription(const AVCodecParameters *parameters);

    const AVCodecParameters *parameters() const { return m_parameters.get(); }
    QString codecName() const;
    bool operator==(const FormatDescription &other) const;

private:
    std::shared_ptr<const AVCodecParameters> m_parameters;
};

struct MediaTrack {
    int streamIndex = -1;
    MediaType type = MediaType::video;
    int32_t timeScale = 0; // ticks per second of the track's own time stamps
    QString title; // the name players show in their track menus; may be empty
    bool isDefault = false; // the track players pick by themselves
};

// A media file opened for inspection. Opening never fails by itself: a file
// that cannot be read makes every load report why. Copies share one open
// file and must not be used by two threads at once. Everything here reads
// the disk: keep it off the GUI thread.
class MediaAsset {
public:
    static MediaAsset open(const QString &path);

    QString path() const;
    // The length of the file: where its last track ends.
    Result<MediaTime, MediaError> duration() const;
    // The tracks of one type in the order the file lists them.
    Result<std::vector<MediaTrack>, MediaError> tracks(MediaType type) const;
    Result<TimeRange, MediaError> timeRange(const MediaTrack &track) const;
    // The track's sample descriptions (an MP4 track has exactly one).
    Result<std::vector<FormatDescription>, MediaError> formatDescriptions(const MediaTrack &track) const;

private:
    struct State;
    explicit MediaAsset(std::shared_ptr<State> state)
        : m_state(std::move(state))
    {
    }
    Result<AVFormatContext *, MediaError> context() const;

    std::shared_ptr<State> m_state;
};
