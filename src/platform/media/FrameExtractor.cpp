#include "FrameExtractor.h"

#include "platform/media/FFmpeg.h"

#include <QFile>

using namespace Media;

struct FrameExtractor::State {
    InputContext context;
    CodecContext decoder;
    int streamIndex = -1;
    Frame current; // the last decoded frame, shown from its time stamp on
    Frame upcoming; // decoded after `current`, not yet reached
    bool draining = false;
    bool ended = false;
    bool positioned = false; // `current` came from a forward decode that may continue

    AVStream *stream() const { return context->streams[streamIndex]; }

    // Seeks to the key frame at or before TIMESTAMP (in the stream's time
    // base) and forgets what was decoded; FFmpeg's error code, or 0.
    int seek(int64_t timestamp)
    {
        const int rc = av_seek_frame(context.get(), streamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
        if (rc < 0)
            return rc;
        avcodec_flush_buffers(decoder.get());
        current.reset();
        upcoming.reset();
        draining = false;
        ended = false;
        positioned = false;
        return 0;
    }
};

FrameExtractor::FrameExtractor(std::unique_ptr<State> state)
    : m_state(std::move(state))
{
}
FrameExtractor::FrameExtractor(FrameExtractor &&) noexcept = default;
FrameExtractor &FrameExtractor::operator=(FrameExtractor &&) noexcept = default;
FrameExtractor::~FrameExtractor() = default;

Result<FrameExtractor, MediaError> FrameExtractor::open(const QString &path)
{
    using R = Result<FrameExtractor, MediaError>;
    auto state = std::make_unique<State>();
    MediaError error;
    state->context = openInput(path, &error, Probe::decode);
    if (!state->context)
        return R::failure(error);
    const AVCodec *codec = nullptr;
    const int index = av_find_best_stream(state->context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0)
        return R::failure(MediaError::fromCode(index));
    state->streamIndex = index;
    for (unsigned i = 0; i < state->context->nb_streams; ++i)
        state->context->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    state->decoder.reset(avcodec_alloc_context3(codec));
    if (!state->decoder)
        return R::failure(MediaError::fromCode(AVERROR(ENOMEM)));
    int rc = avcodec_parameters_to_context(state->decoder.get(), state->stream()->codecpar);
    if (rc < 0)
        return R::failure(MediaError::fromCode(rc));
    state->decoder->pkt_timebase = state->stream()->time_base;
    rc = avcodec_open2(state->decoder.get(), codec, nullptr);
    if (rc < 0)
        return R::failure(MediaError::fromCode(rc));
    return FrameExtractor(std::move(state));
}

QSize FrameExtractor::naturalSize() const
{
    const AVCodecParameters *parameters = m_state->stream()->codecpar;
    return {parameters->width, parameters->height};
}

namespace {

int64_t frameTime(const AVFrame *frame)
{
    return frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
}

// Decodes the next frame into a new AVFrame; none at the end of the stream.
Result<Frame, MediaError> decodeNext(AVFormatContext *context, AVCodecContext *decoder, int streamIndex, bool &draining)
{
    using R = Result<Frame, MediaError>;
    Frame frame(av_frame_alloc());
    Packet packet(av_packet_alloc());
    if (!frame || !packet)
        return R::failure(MediaError::fromCode(AVERROR(ENOMEM)));
    for (;;) {
        int rc = avcodec_receive_frame(decoder, frame.get());
        if (rc == 0)
            return frame;
        if (rc == AVERROR_EOF)
            return Frame();
        if (rc != AVERROR(EAGAIN))
            return R::failure(MediaError::fromCode(rc));
        if (draining)
            return Frame();
        rc = av_read_frame(context, packet.get());
        if (rc == AVERROR_EOF) {
            draining = true;
            avcodec_send_packet(decoder, nullptr);
            continue;
        }
        if (rc < 0)
            return R::failure(MediaError::fromCode(rc));
        if (packet->stream_index == streamIndex) {
            rc = avcodec_send_packet(decoder, packet.get());
            if (rc < 0 && rc != AVERROR_INVALIDDATA) {
                av_packet_unref(packet.get());
                return R::failure(MediaError::fromCode(rc));
            }
        }
        av_packet_unref(packet.get());
    }
}

Result<QImage, MediaError> toImage(const AVFrame *frame, QSize size, Qt::AspectRatioMode mode)
{
    using R = Result<QImage, MediaError>;
    const QSize natural(frame->width, frame->height);
    QSize target = size.isEmpty() ? natural : natural.scaled(size, mode);
    target = target.expandedTo(QSize(1, 1));
    Scaler scaler(sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), target.width(),
        target.height(), AV_PIX_FMT_RGBA, SWS_AREA, nullptr, nullptr, nullptr));
    if (!scaler)
        return R::failure(MediaError::fromCode(AVERROR(EINVAL), QStringLiteral("scaler")));
    QImage image(target, QImage::Format_RGBA8888);
    if (image.isNull())
        return R::failure(MediaError::fromCode(AVERROR(ENOMEM)));
    uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
    return image;
}

} // namespace

Result<QImage, MediaError> FrameExtractor::frame(const MediaTime &time, QSize size, Qt::AspectRatioMode mode)
{
    using R = Result<QImage, MediaError>;
    State &s = *m_state;
    const AVStream *stream = s.stream();
    if (!time.isValid() || time < MediaTime::zero())
        return R::failure(MediaError::fromCode(AVERROR(EINVAL), QStringLiteral("time %1").arg(time.toString())));
    // Rounded down: a time just before a frame starts still shows the one before.
    const int64_t wanted = av_rescale_rnd(
        time.value, stream->time_base.den, int64_t(time.timeScale) * stream->time_base.num, AV_ROUND_DOWN);
    if (wanted < 0)
        return R::failure(MediaError::fromCode(AVERROR(EINVAL)));

    // Going back, or far ahead of where decoding stands: seek to the key
    // frame before the time and decode forward from there.
    const bool canContinue = s.positioned && s.current && frameTime(s.current.get()) <= wanted;
    if (!canContinue) {
        if (const int rc = s.seek(wanted); rc < 0)
            return R::failure(MediaError::fromCode(rc));
        s.positioned = true;
    }

    for (;;) {
        if (!s.upcoming && !s.ended) {
            auto next = decodeNext(s.context.get(), s.decoder.get(), s.streamIndex, s.draining);
            if (!next) {
                s.positioned = false;
                return R::failure(next.error());
            }
            if (*next)
                s.upcoming = std::move(*next);
            else
                s.ended = true;
        }
        if (s.upcoming && frameTime(s.upcoming.get()) <= wanted) {
            s.current = std::move(s.upcoming);
            continue;
        }
        break;
    }
    if (!s.current)
        return R::failure(
            MediaError::fromCode(AVERROR(EINVAL), QStringLiteral("no frame at %1 s").arg(time.seconds())));
    if (s.ended) {
        // Past the last frame only while that frame is still on screen.
        const AVFrame *last = s.current.get();
        int64_t end = frameTime(last) + (last->pkt_duration > 0 ? last->pkt_duration : 0);
        if (stream->duration != AV_NOPTS_VALUE)
            end = std::max<int64_t>(
                end, (stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0) + stream->duration);
        if (wanted >= end)
            return R::failure(
                MediaError::fromCode(AVERROR(EINVAL), QStringLiteral("no frame at %1 s").arg(time.seconds())));
    }
    return toImage(s.current.get(), size, mode);
}

Result<QImage, MediaError> FrameExtractor::firstFrame(QSize size, Qt::AspectRatioMode mode)
{
    using R = Result<QImage, MediaError>;
    State &s = *m_state;
    const int64_t start = s.stream()->start_time != AV_NOPTS_VALUE ? s.stream()->start_time : 0;
    if (const int rc = s.seek(start); rc < 0)
        return R::failure(MediaError::fromCode(rc));
    auto first = decodeNext(s.context.get(), s.decoder.get(), s.streamIndex, s.draining);
    if (!first)
        return R::failure(first.error());
    if (!*first)
        return R::failure(MediaError::fromCode(AVERROR_EOF, QStringLiteral("no video frame")));
    s.current = std::move(*first);
    s.positioned = true;
    return toImage(s.current.get(), size, mode);
}
