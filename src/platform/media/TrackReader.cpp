#include "TrackReader.h"

#include "platform/media/FFmpeg.h"

using namespace Media;

void Sample::PacketDeleter::operator()(AVPacket *packet) const
{
    av_packet_free(&packet);
}

Sample::Sample(PacketOwner packet, SampleTiming timing, bool discardable)
    : m_packet(std::move(packet))
    , m_timing(timing)
    , m_discardable(discardable)
{
}

bool Sample::isKeyframe() const
{
    return m_packet && (m_packet->flags & AV_PKT_FLAG_KEY);
}

int Sample::size() const
{
    return m_packet ? m_packet->size : 0;
}

struct TrackReader::State {
    InputContext context;
    int streamIndex = -1;
    int64_t samplesRead = 0;
};

TrackReader::TrackReader(std::unique_ptr<State> state)
    : m_state(std::move(state))
{
}
TrackReader::TrackReader(TrackReader &&) noexcept = default;
TrackReader &TrackReader::operator=(TrackReader &&) noexcept = default;
TrackReader::~TrackReader() = default;

Result<TrackReader, MediaError> TrackReader::start(const MediaAsset &asset, const MediaTrack &track)
{
    auto state = std::make_unique<State>();
    MediaError error;
    state->context = openInput(asset.path(), &error);
    if (!state->context)
        return Result<TrackReader, MediaError>::failure(error);
    AVFormatContext *context = state->context.get();
    if (track.streamIndex < 0 || unsigned(track.streamIndex) >= context->nb_streams)
        return Result<TrackReader, MediaError>::failure(MediaError::fromCode(AVERROR_STREAM_NOT_FOUND));
    // Discarded streams are skipped by the demuxer without reading their bytes.
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = int(i) == track.streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    state->streamIndex = track.streamIndex;
    return TrackReader(std::move(state));
}

Result<std::optional<Sample>, MediaError> TrackReader::next()
{
    using R = Result<std::optional<Sample>, MediaError>;
    AVFormatContext *context = m_state->context.get();
    const AVStream *stream = context->streams[m_state->streamIndex];
    Packet packet(av_packet_alloc());
    if (!packet)
        return R::failure(MediaError::fromCode(AVERROR(ENOMEM)));
    for (;;) {
        const int rc = av_read_frame(context, packet.get());
        if (rc == AVERROR_EOF) {
            // A file cut short after its index was written (moov first) ends
            // early instead of failing: count against the index.
            const int expected = avformat_index_get_entries_count(stream);
            if (expected > 0 && m_state->samplesRead < expected)
                return R::failure(MediaError::fromCode(AVERROR_INVALIDDATA,
                    QStringLiteral("%1 of %2 samples readable").arg(m_state->samplesRead).arg(expected)));
            return std::optional<Sample>();
        }
        if (rc < 0)
            return R::failure(MediaError::fromCode(rc));
        if (packet->stream_index != m_state->streamIndex) {
            av_packet_unref(packet.get());
            continue;
        }
        ++m_state->samplesRead;
        if (packet->flags & AV_PKT_FLAG_CORRUPT)
            return R::failure(MediaError::fromCode(AVERROR_INVALIDDATA, QStringLiteral("corrupt sample")));
        const SampleTiming timing {toMediaTime(packet->duration, stream->time_base),
            toMediaTime(packet->pts, stream->time_base), toMediaTime(packet->dts, stream->time_base)};
        const bool discardable = packet->flags & AV_PKT_FLAG_DISCARD;
        return std::optional<Sample>(Sample(Sample::PacketOwner(packet.release()), timing, discardable));
    }
}
