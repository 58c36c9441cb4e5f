#include "FFmpeg.h"

#include <QFile>

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
