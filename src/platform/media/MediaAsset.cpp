#include "MediaAsset.h"

#include "platform/media/FFmpeg.h"

#include <algorithm>
#include <optional>

using namespace Media;

QString rawString(MediaType type)
{
    return type == MediaType::video ? QStringLiteral("vide") : QStringLiteral("soun");
}

FormatDescription::FormatDescription(const AVCodecParameters *parameters)
{
    AVCodecParameters *copy = avcodec_parameters_alloc();
    if (copy && avcodec_parameters_copy(copy, parameters) < 0)
        avcodec_parameters_free(&copy);
    m_parameters = std::shared_ptr<const AVCodecParameters>(copy, [](const AVCodecParameters *p) {
        auto *owned = const_cast<AVCodecParameters *>(p);
        avcodec_parameters_free(&owned);
    });
}

QString FormatDescription::codecName() const
{
    return m_parameters ? QString::fromLatin1(avcodec_get_name(m_parameters->codec_id)) : QString();
}

bool FormatDescription::operator==(const FormatDescription &other) const
{
    const AVCodecParameters *a = m_parameters.get();
    const AVCodecParameters *b = other.m_parameters.get();
    if (!a || !b)
        return a == b;
    if (a->codec_type != b->codec_type || a->codec_id != b->codec_id || a->extradata_size != b->extradata_size)
        return false;
    if (a->extradata_size > 0 && !std::equal(a->extradata, a->extradata + a->extradata_size, b->extradata))
        return false;
    if (a->codec_type == AVMEDIA_TYPE_VIDEO)
        return a->width == b->width && a->height == b->height && a->format == b->format;
    if (a->codec_type == AVMEDIA_TYPE_AUDIO)
        return a->sample_rate == b->sample_rate && a->ch_layout.nb_channels == b->ch_layout.nb_channels;
    return true;
}

struct MediaAsset::State {
    QString path;
    InputContext context;
    std::optional<MediaError> openError;
};

MediaAsset MediaAsset::open(const QString &path)
{
    auto state = std::make_shared<State>();
    state->path = path;
    MediaError error;
    state->context = openInput(path, &error);
    if (!state->context)
        state->openError = error;
    return MediaAsset(std::move(state));
}

QString MediaAsset::path() const
{
    return m_state->path;
}

Result<AVFormatContext *, MediaError> MediaAsset::context() const
{
    if (m_state->openError)
        return Result<AVFormatContext *, MediaError>::failure(*m_state->openError);
    return m_state->context.get();
}

namespace {

bool isTrackOf(const AVStream *stream, MediaType type)
{
    if (type == MediaType::video)
        return stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
            && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
    return stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

std::optional<TimeRange> rangeOf(const AVStream *stream)
{
    const MediaTime duration = toMediaTime(stream->duration, stream->time_base);
    if (!duration.isValid() || duration.value < 0)
        return std::nullopt;
    MediaTime start = toMediaTime(stream->start_time, stream->time_base);
    if (!start.isValid())
        start = MediaTime::make(0, duration.timeScale);
    return TimeRange {start, duration};
}

} // namespace

Result<MediaTime, MediaError> MediaAsset::duration() const
{
    auto context = this->context();
    if (!context)
        return Result<MediaTime, MediaError>::failure(context.error());
    std::optional<MediaTime> end;
    for (unsigned i = 0; i < (*context)->nb_streams; ++i) {
        const AVStream *stream = (*context)->streams[i];
        if (!isTrackOf(stream, MediaType::video) && !isTrackOf(stream, MediaType::audio))
            continue;
        if (const auto range = rangeOf(stream); range && (!end || range->end() > *end))
            end = range->end();
    }
    if (end)
        return *end;
    if ((*context)->duration != AV_NOPTS_VALUE && (*context)->duration >= 0)
        return MediaTime::make((*context)->duration, AV_TIME_BASE);
    return Result<MediaTime, MediaError>::failure(
        MediaError::fromCode(AVERROR_INVALIDDATA, QStringLiteral("duration")));
}

Result<std::vector<MediaTrack>, MediaError> MediaAsset::tracks(MediaType type) const
{
    auto context = this->context();
    if (!context)
        return Result<std::vector<MediaTrack>, MediaError>::failure(context.error());
    std::vector<MediaTrack> tracks;
    for (unsigned i = 0; i < (*context)->nb_streams; ++i) {
        const AVStream *stream = (*context)->streams[i];
        if (!isTrackOf(stream, type) || stream->time_base.num <= 0 || stream->time_base.den <= 0)
            continue;
        tracks.push_back({int(i), type, toMediaTime(1, stream->time_base).timeScale, trackTitle(stream),
            (stream->disposition & AV_DISPOSITION_DEFAULT) != 0});
    }
    return tracks;
}

Result<TimeRange, MediaError> MediaAsset::timeRange(const MediaTrack &track) const
{
    auto context = this->context();
    if (!context)
        return Result<TimeRange, MediaError>::failure(context.error());
    if (track.streamIndex < 0 || unsigned(track.streamIndex) >= (*context)->nb_streams)
        return Result<TimeRange, MediaError>::failure(MediaError::fromCode(AVERROR_STREAM_NOT_FOUND));
    if (const auto range = rangeOf((*context)->streams[track.streamIndex]))
        return *range;
    return Result<TimeRange, MediaError>::failure(
        MediaError::fromCode(AVERROR_INVALIDDATA, QStringLiteral("track time range")));
}

Result<std::vector<FormatDescription>, MediaError> MediaAsset::formatDescriptions(const MediaTrack &track) const
{
    auto context = this->context();
    if (!context)
        return Result<std::vector<FormatDescription>, MediaError>::failure(context.error());
    if (track.streamIndex < 0 || unsigned(track.streamIndex) >= (*context)->nb_streams)
        return Result<std::vector<FormatDescription>, MediaError>::failure(
            MediaError::fromCode(AVERROR_STREAM_NOT_FOUND));
    const AVCodecParameters *parameters = (*context)->streams[track.streamIndex]->codecpar;
    if (parameters->codec_id == AV_CODEC_ID_NONE)
        return std::vector<FormatDescription> {};
    return std::vector<FormatDescription> {FormatDescription(parameters)};
}
