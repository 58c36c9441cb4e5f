#include "FFmpeg.h"

#include <QFile>
#include <QStringList>

#include <cstring>
#include <mutex>

MediaError MediaError::fromCode(int code, const QString &context)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    const QString message = QString::fromUtf8(text);
    return {code, context.isEmpty() ? message : context + QStringLiteral(": ") + message};
}

MediaError MediaError::invalidData(const QString &description)
{
    return {AVERROR_INVALIDDATA, description};
}

namespace Media {

void quietLogs()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

void setTrackTitle(AVStream *stream, const QString &title)
{
    const QByteArray text = title.toUtf8();
    av_dict_set(&stream->metadata, "title", text.constData(), 0);
    av_dict_set(&stream->metadata, "handler_name", text.constData(), 0);
}

QString trackTitle(const AVStream *stream)
{
    if (const AVDictionaryEntry *title = av_dict_get(stream->metadata, "title", nullptr, 0))
        return QString::fromUtf8(title->value);
    const AVDictionaryEntry *handler = av_dict_get(stream->metadata, "handler_name", nullptr, 0);
    if (!handler)
        return {};
    const QString name = QString::fromUtf8(handler->value);
    // What muxers write when nobody named the track.
    static const QStringList generic {QStringLiteral("SoundHandler"), QStringLiteral("VideoHandler"),
        QStringLiteral("Core Media Audio"), QStringLiteral("Core Media Video")};
    return generic.contains(name) ? QString() : name;
}

InputContext openInput(const QString &path, MediaError *error, Probe probe)
{
    quietLogs();
    AVFormatContext *raw = nullptr;
    const QByteArray name = QFile::encodeName(path);
    int rc = avformat_open_input(&raw, name.constData(), nullptr, nullptr);
    if (rc < 0) {
        *error = MediaError::fromCode(rc);
        return nullptr;
    }
    InputContext context(raw);
    if (probe == Probe::headerOnly && std::strstr(context->iformat->name, "mp4"))
        return context;
    rc = avformat_find_stream_info(context.get(), nullptr);
    if (rc < 0) {
        *error = MediaError::fromCode(rc);
        return nullptr;
    }
    return context;
}

MediaTime toMediaTime(int64_t ticks, AVRational timeBase)
{
    if (ticks == AV_NOPTS_VALUE || timeBase.num <= 0 || timeBase.den <= 0)
        return MediaTime::invalid();
    if (timeBase.num == 1)
        return MediaTime::make(ticks, timeBase.den);
    // Time bases like 1001/30000: ticks * num over den stays exact in 64 bits
    // for any real file length.
    return MediaTime::make(ticks * timeBase.num, timeBase.den);
}

int64_t toTicks(const MediaTime &time, AVRational timeBase)
{
    return av_rescale_rnd(
        time.value, int64_t(timeBase.den), int64_t(time.timeScale) * timeBase.num, AVRounding(AV_ROUND_NEAR_INF));
}

} // namespace Media
