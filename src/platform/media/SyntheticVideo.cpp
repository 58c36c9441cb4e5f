#include "SyntheticVideo.h"

#include "platform/media/FFmpeg.h"
#include "platform/media/MediaWriter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace Media;

namespace SyntheticVideo {

namespace {

using Encoded = std::vector<Sample>;

MediaError failed(int code, const char *what)
{
    return MediaError::fromCode(code, QString::fromLatin1(what));
}

// Drains every packet the encoder has ready into OUT, timed in its time base.
// Video packets get their duration by hand: libx264 leaves it 0.
int receivePackets(AVCodecContext *encoder, Encoded &out, int64_t fixedDuration)
{
    for (;;) {
        Packet packet(av_packet_alloc());
        if (!packet)
            return AVERROR(ENOMEM);
        const int rc = avcodec_receive_packet(encoder, packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return 0;
        if (rc < 0)
            return rc;
        if (fixedDuration > 0)
            packet->duration = fixedDuration;
        const SampleTiming timing {toMediaTime(packet->duration, encoder->time_base),
            toMediaTime(packet->pts, encoder->time_base), toMediaTime(packet->dts, encoder->time_base)};
        out.emplace_back(Sample::PacketOwner(packet.release()), timing, false);
    }
}

Result<CodecContext, MediaError> openVideoEncoder(const Options &options)
{
    using R = Result<CodecContext, MediaError>;
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return R::failure(failed(AVERROR_ENCODER_NOT_FOUND, "libx264"));
    CodecContext encoder(avcodec_alloc_context3(codec));
    if (!encoder)
        return R::failure(failed(AVERROR(ENOMEM), "libx264"));
    encoder->width = options.width;
    encoder->height = options.height;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = AVRational {1, options.framesPerSecond};
    encoder->framerate = AVRational {options.framesPerSecond, 1};
    // B-frames would give negative decode times and lose the last frame in a join.
    encoder->max_b_frames = 0;
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(encoder->priv_data, "preset", "ultrafast", 0);
    const int rc = avcodec_open2(encoder.get(), codec, nullptr);
    if (rc < 0)
        return R::failure(failed(rc, "libx264"));
    return encoder;
}

Result<Encoded, MediaError> encodeVideo(AVCodecContext *encoder, const Options &options)
{
    using R = Result<Encoded, MediaError>;
    // One ARGB picture with every byte the same, converted once and reused.
    std::vector<uint8_t> argb(size_t(options.width) * options.height * 4, options.pixelByte);
    Frame frame(av_frame_alloc());
    if (!frame)
        return R::failure(failed(AVERROR(ENOMEM), "frame"));
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = options.width;
    frame->height = options.height;
    int rc = av_frame_get_buffer(frame.get(), 0);
    if (rc < 0)
        return R::failure(failed(rc, "frame"));
    Scaler scaler(sws_getContext(options.width, options.height, AV_PIX_FMT_ARGB, options.width, options.height,
        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler)
        return R::failure(failed(AVERROR(EINVAL), "swscale"));
    const uint8_t *source[4] = {argb.data(), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {options.width * 4, 0, 0, 0};
    sws_scale(scaler.get(), source, sourceStride, 0, options.height, frame->data, frame->linesize);

    Encoded packets;
    const int64_t frames = std::llround(options.videoSeconds * options.framesPerSecond);
    for (int64_t k = 0; k < frames; ++k) {
        frame->pts = k;
        rc = avcodec_send_frame(encoder, frame.get());
        if (rc < 0)
            return R::failure(failed(rc, "libx264"));
        rc = receivePackets(encoder, packets, 1);
        if (rc < 0)
            return R::failure(failed(rc, "libx264"));
    }
    rc = avcodec_send_frame(encoder, nullptr);
    if (rc >= 0)
        rc = receivePackets(encoder, packets, 1);
    if (rc < 0)
        return R::failure(failed(rc, "libx264"));
    return packets;
}

Result<CodecContext, MediaError> openAudioEncoder(const Options &options)
{
    using R = Result<CodecContext, MediaError>;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        return R::failure(failed(AVERROR_ENCODER_NOT_FOUND, "aac"));
    CodecContext encoder(avcodec_alloc_context3(codec));
    if (!encoder)
        return R::failure(failed(AVERROR(ENOMEM), "aac"));
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->sample_rate = options.sampleRate;
    av_channel_layout_default(&encoder->ch_layout, options.channels);
    encoder->time_base = AVRational {1, options.sampleRate};
    encoder->bit_rate = 128000;
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int rc = avcodec_open2(encoder.get(), codec, nullptr);
    if (rc < 0)
        return R::failure(failed(rc, "aac"));
    return encoder;
}

// A short chime: two partials with a quick attack and an exponential decay.
float chime(int64_t sample, int sampleRate)
{
    const double t = double(sample) / sampleRate;
    const double envelope = std::min(1.0, t / 0.005) * std::exp(-t * 6.0);
    const double tone
        = 0.6 * std::sin(2 * std::numbers::pi * 880 * t) + 0.3 * std::sin(2 * std::numbers::pi * 1320 * t);
    return float(0.5 * envelope * tone);
}

Result<Encoded, MediaError> encodeAudio(AVCodecContext *encoder, const Options &options, double seconds)
{
    using R = Result<Encoded, MediaError>;
    Encoded packets;
    const int64_t total = std::llround(seconds * options.sampleRate);
    const int frameSize = encoder->frame_size > 0 ? encoder->frame_size : 1024;
    for (int64_t done = 0; done < total;) {
        const int count = int(std::min<int64_t>(frameSize, total - done));
        Frame frame(av_frame_alloc());
        if (!frame)
            return R::failure(failed(AVERROR(ENOMEM), "frame"));
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        frame->nb_samples = count;
        av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
        int rc = av_frame_get_buffer(frame.get(), 0);
        if (rc < 0)
            return R::failure(failed(rc, "frame"));
        for (int c = 0; c < encoder->ch_layout.nb_channels; ++c) {
            auto *channel = reinterpret_cast<float *>(frame->data[c]);
            for (int i = 0; i < count; ++i)
                channel[i] = chime(done + i, options.sampleRate);
        }
        frame->pts = done;
        done += count;
        rc = avcodec_send_frame(encoder, frame.get());
        if (rc >= 0)
            rc = receivePackets(encoder, packets, 0);
        if (rc < 0)
            return R::failure(failed(rc, "aac"));
    }
    int rc = avcodec_send_frame(encoder, nullptr);
    if (rc >= 0)
        rc = receivePackets(encoder, packets, 0);
    if (rc < 0)
        return R::failure(failed(rc, "aac"));
    return packets;
}

FormatDescription describe(const AVCodecContext *encoder, int *rc)
{
    CodecParameters parameters(avcodec_parameters_alloc());
    *rc = parameters ? avcodec_parameters_from_context(parameters.get(), encoder) : AVERROR(ENOMEM);
    return FormatDescription(parameters.get());
}

} // namespace

Result<Done, MediaError> write(const QString &path, const Options &options)
{
    using R = Result<Done, MediaError>;
    if (options.width <= 0 || options.height <= 0 || options.framesPerSecond <= 0 || options.sampleRate <= 0
        || options.channels <= 0 || options.videoSeconds < 0)
        return R::failure(failed(AVERROR(EINVAL), "options"));

    struct Track {
        int input = -1;
        Encoded samples;
        size_t next = 0;
    };
    std::vector<Track> tracks;
    auto writer = MediaWriter::create(path);
    if (!writer)
        return R::failure(writer.error());

    // One encoder's samples as a track of the file.
    const auto addTrack
        = [&](const CodecContext &encoder, Result<Encoded, MediaError> samples, const char *codec, int timeScale) -> R {
        if (!samples)
            return R::failure(samples.error());
        int rc = 0;
        const FormatDescription format = describe(encoder.get(), &rc);
        if (rc < 0)
            return R::failure(failed(rc, codec));
        auto input = writer->addInput(format, timeScale);
        if (!input)
            return R::failure(input.error());
        tracks.push_back({*input, std::move(*samples), 0});
        return Done {};
    };
    if (options.videoSeconds > 0) {
        auto encoder = openVideoEncoder(options);
        if (!encoder)
            return R::failure(encoder.error());
        auto added = addTrack(*encoder, encodeVideo(encoder->get(), options), "libx264", options.framesPerSecond);
        if (!added)
            return added;
    }
    for (const double seconds : options.audioTracks) {
        auto encoder = openAudioEncoder(options);
        if (!encoder)
            return R::failure(encoder.error());
        auto added = addTrack(*encoder, encodeAudio(encoder->get(), options, seconds), "aac", options.sampleRate);
        if (!added)
            return added;
    }

    if (auto started = writer->startWriting(); !started)
        return R::failure(started.error());
    // Interleave by decode time, as a real recording would be laid out.
    for (;;) {
        Track *earliest = nullptr;
        for (Track &track : tracks) {
            if (track.next >= track.samples.size())
                continue;
            if (!earliest
                || track.samples[track.next].timing().decodeTimeStamp
                    < earliest->samples[earliest->next].timing().decodeTimeStamp)
                earliest = &track;
        }
        if (!earliest)
            break;
        if (auto appended = writer->append(earliest->input, std::move(earliest->samples[earliest->next++])); !appended)
            return R::failure(appended.error());
    }
    return writer->finishWriting();
}

} // namespace SyntheticVideo
