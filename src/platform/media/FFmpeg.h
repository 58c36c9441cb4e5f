#pragma once

// Owners for FFmpeg's C handles, so that every path out of a function frees
// them. Only the media layer includes this.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

#include "MediaError.h"
#include "MediaTime.h"

#include <QString>

#include <memory>

namespace Media {

struct InputContextDeleter {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
using InputContext = std::unique_ptr<AVFormatContext, InputContextDeleter>;

struct OutputContextDeleter {
    void operator()(AVFormatContext *context) const
    {
        if (!context)
            return;
        if (context->pb && !(context->oformat->flags & AVFMT_NOFILE))
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
using OutputContext = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

struct CodecContextDeleter {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct PacketDeleter {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;

struct FrameDeleter {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;

struct ScalerDeleter {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};
using Scaler = std::unique_ptr<SwsContext, ScalerDeleter>;

struct CodecParametersDeleter {
    void operator()(AVCodecParameters *parameters) const { avcodec_parameters_free(&parameters); }
};
using CodecParameters = std::unique_ptr<AVCodecParameters, CodecParametersDeleter>;

// FFmpeg reports progress and statistics on stderr by default; Velunta
// writes no log, so only errors get through. Called by every entry point.
void quietLogs();

// Opens PATH for reading. An MP4 header describes every track completely;
// other formats, and callers that DECODE, also get FFmpeg's stream probing,
// which reads and decodes the first packets.
enum class Probe { headerOnly, decode };
InputContext openInput(const QString &path, MediaError *error, Probe probe = Probe::headerOnly);

// A track's name as players show it. FFmpeg's MP4 muxer writes a stream's
// title as the track's udta "name" but its demuxer does not read that back;
// the handler name, which it does read, carries the same text.
void setTrackTitle(AVStream *stream, const QString &title);
// The name set by setTrackTitle (or another writer's title); empty when the
// track has only a muxer's generic handler name.
QString trackTitle(const AVStream *stream);

// A time in a stream's time base as an exact media time (or invalid for AV_NOPTS_VALUE).
MediaTime toMediaTime(int64_t ticks, AVRational timeBase);
// A media time in ticks of TIMEBASE, rounded to the nearest tick.
int64_t toTicks(const MediaTime &time, AVRational timeBase);

} // namespace Media
