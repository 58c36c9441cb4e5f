#include "MediaWriter.h"

#include "platform/media/FFmpeg.h"

#include <QFile>
#include <QFileInfo>

using namespace Media;

struct MediaWriter::State {
    QString path;
    OutputContext context;
    bool started = false;
    bool finished = false;

    ~State()
    {
        if (!context || finished)
            return;
        // An unfinished MP4 has no index and no player can open it; do not
        // leave it behind looking like a recording.
        context.reset();
        // Only ever a regular file: the path may name a device (/dev/full).
        if (QFileInfo(path).isFile() && !QFileInfo(path).isSymLink())
            QFile::remove(path);
    }
};

MediaWriter::MediaWriter(std::unique_ptr<State> state)
    : m_state(std::move(state))
{
}
MediaWriter::MediaWriter(MediaWriter &&) noexcept = default;
MediaWriter &MediaWriter::operator=(MediaWriter &&) noexcept = default;
MediaWriter::~MediaWriter() = default;

Result<MediaWriter, MediaError> MediaWriter::create(const QString &path)
{
    using R = Result<MediaWriter, MediaError>;
    quietLogs();
    const QByteArray name = QFile::encodeName(path);
    AVFormatContext *raw = nullptr;
    int rc = avformat_alloc_output_context2(&raw, nullptr, "mp4", name.constData());
    if (rc < 0 || !raw)
        return R::failure(MediaError::fromCode(rc < 0 ? rc : AVERROR(ENOMEM)));
    OutputContext context(raw);
    rc = avio_open(&context->pb, name.constData(), AVIO_FLAG_WRITE);
    if (rc < 0)
        return R::failure(MediaError::fromCode(rc));
    auto state = std::make_unique<State>();
    state->path = path;
    state->context = std::move(context);
    return MediaWriter(std::move(state));
}

Result<int, MediaError> MediaWriter::addInput(
    const FormatDescription &format, int32_t timeScale, const QString &title, bool isDefault)
{
    using R = Result<int, MediaError>;
    if (m_state->started || !format.parameters())
        return R::failure(MediaError::fromCode(AVERROR(EINVAL)));
    AVStream *stream = avformat_new_stream(m_state->context.get(), nullptr);
    if (!stream)
        return R::failure(MediaError::fromCode(AVERROR(ENOMEM)));
    const int rc = avcodec_parameters_copy(stream->codecpar, format.parameters());
    if (rc < 0)
        return R::failure(MediaError::fromCode(rc));
    // The source's tag may belong to another container; let the muxer choose.
    stream->codecpar->codec_tag = 0;
    stream->time_base = AVRational {1, timeScale > 0 ? timeScale : 90000};
    if (!title.isEmpty())
        setTrackTitle(stream, title);
    stream->disposition = isDefault ? AV_DISPOSITION_DEFAULT : 0;
    return int(stream->index);
}

Result<Done, MediaError> MediaWriter::startWriting()
{
    AVDictionary *options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    const int rc = avformat_write_header(m_state->context.get(), &options);
    av_dict_free(&options);
    if (rc < 0)
        return Result<Done, MediaError>::failure(MediaError::fromCode(rc));
    m_state->started = true;
    return Done {};
}

Result<Done, MediaError> MediaWriter::append(int input, Sample sample)
{
    using R = Result<Done, MediaError>;
    AVFormatContext *context = m_state->context.get();
    if (!m_state->started || input < 0 || unsigned(input) >= context->nb_streams)
        return R::failure(MediaError::fromCode(AVERROR(EINVAL)));
    AVPacket *packet = sample.packet();
    if (!packet)
        return R::failure(MediaError::fromCode(AVERROR(EINVAL)));
    const AVRational timeBase = context->streams[input]->time_base;
    const SampleTiming &timing = sample.timing();
    if (!timing.presentationTimeStamp.isValid())
        return R::failure(MediaError::fromCode(AVERROR(EINVAL), QStringLiteral("sample without time stamp")));
    packet->stream_index = input;
    packet->pts = toTicks(timing.presentationTimeStamp, timeBase);
    packet->dts = timing.decodeTimeStamp.isValid() ? toTicks(timing.decodeTimeStamp, timeBase) : packet->pts;
    packet->duration = timing.duration.isValid() ? toTicks(timing.duration, timeBase) : 0;
    packet->time_base = timeBase;
    packet->pos = -1;
    const int rc = av_interleaved_write_frame(context, packet);
    if (rc < 0)
        return R::failure(MediaError::fromCode(rc));
    return Done {};
}

Result<Done, MediaError> MediaWriter::finishWriting()
{
    using R = Result<Done, MediaError>;
    if (!m_state->started)
        return R::failure(MediaError::fromCode(AVERROR(EINVAL)));
    int rc = av_write_trailer(m_state->context.get());
    if (rc < 0)
        return R::failure(MediaError::fromCode(rc));
    rc = avio_closep(&m_state->context->pb);
    if (rc < 0)
        return R::failure(MediaError::fromCode(rc));
    m_state->finished = true;
    return Done {};
}
