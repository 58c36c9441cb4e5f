#include "SegmentEncoder.h"

#include "platform/media/FFmpeg.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <QFile>
#include <algorithm>
#include <climits>
#include <libyuv/convert_from_argb.h>

using namespace Media;

namespace {

MediaError failed(int code, const char *what)
{
    return MediaError::fromCode(code, QString::fromLatin1(what));
}

} // namespace

struct SegmentEncoder::Picture::Data {
    Frame frame;
};

SegmentEncoder::Picture::Picture() = default;
SegmentEncoder::Picture::Picture(Picture &&) noexcept = default;
SegmentEncoder::Picture &SegmentEncoder::Picture::operator=(Picture &&) noexcept = default;
SegmentEncoder::Picture::~Picture() = default;

bool SegmentEncoder::Picture::isNull() const
{
    return !d || !d->frame;
}

Result<SegmentEncoder::Picture, MediaError> SegmentEncoder::Picture::fromImage(const QImage &image)
{
    using R = Result<Picture, MediaError>;
    if (image.isNull() || image.depth() != 32 || image.width() % 2 || image.height() % 2)
        return R::failure(failed(AVERROR(EINVAL), "picture"));
    Frame frame(av_frame_alloc());
    if (!frame)
        return R::failure(failed(AVERROR(ENOMEM), "picture"));
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = image.width();
    frame->height = image.height();
    const int rc = av_frame_get_buffer(frame.get(), 0);
    if (rc < 0)
        return R::failure(failed(rc, "picture"));
    // libyuv's ARGB is B, G, R, A in memory: QImage's RGB32 on little-endian
    // machines. BT.601 limited range, tagged as such by the encoder.
    libyuv::ARGBToI420(image.constBits(), int(image.bytesPerLine()), frame->data[0], frame->linesize[0], frame->data[1],
        frame->linesize[1], frame->data[2], frame->linesize[2], image.width(), image.height());
    Picture picture;
    picture.d = std::make_unique<Data>();
    picture.d->frame = std::move(frame);
    return picture;
}

struct SegmentEncoder::State {
    Settings settings;
    OutputContext output;
    CodecContext video;
    AVStream *videoStream = nullptr;
    Packet pendingVideo; // held until the next picture gives it its duration
    int64_t lastFrameIndex = -1;
    Frame lastPicture; // sent again to end a picture held on a still screen
    bool lastWasRepeat = false;

    struct AudioTrack {
        CodecContext encoder;
        AVStream *stream = nullptr;
        std::vector<std::vector<float>> planes; // not yet encoded, one vector per channel
        int64_t position = 0; // samples handed over
        int64_t encoded = 0; // samples sent to the encoder, on its own time line
        // Silence costs the encoder as much as sound. Once it has been fed
        // enough silent frames that its window holds nothing else, every
        // further silent frame gives the same packet: that packet is kept
        // and written again instead, and the encoder is not told. Its time
        // line then runs behind the track's by the samples skipped; its
        // window still holds silence, as the track's does, when sound comes back.
        int silentFramesFed = 0;
        Packet silentPacket;
        int64_t skipped = 0;
        int64_t lastWritten = INT64_MIN; // pts of the last packet written, on the track's time line
    };
    // Frames the encoder must have seen silent before its packets count as
    // pure silence: its window spans two frames, and one more for its look-ahead.
    static constexpr int settledSilentFrames = 3;

    std::vector<AudioTrack> audio;
    bool finished = false;
    bool broken = false;

    int write(AVPacket *packet, AVCodecContext *encoder, AVStream *stream)
    {
        packet->stream_index = stream->index;
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        return av_interleaved_write_frame(output.get(), packet);
    }

    // Every video packet ready, each written once its successor is known.
    int drainVideo()
    {
        for (;;) {
            Packet packet(av_packet_alloc());
            if (!packet)
                return AVERROR(ENOMEM);
            const int rc = avcodec_receive_packet(video.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return 0;
            if (rc < 0)
                return rc;
            packet->dts = packet->pts; // no B-frames: decode order is presentation order
            if (pendingVideo) {
                pendingVideo->duration = std::max<int64_t>(1, packet->pts - pendingVideo->pts);
                if (const int written = write(pendingVideo.get(), video.get(), videoStream); written < 0)
                    return written;
            }
            pendingVideo = std::move(packet);
        }
    }

    int drainAudio(AudioTrack &track)
    {
        for (;;) {
            Packet packet(av_packet_alloc());
            if (!packet)
                return AVERROR(ENOMEM);
            const int rc = avcodec_receive_packet(track.encoder.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return 0;
            if (rc < 0)
                return rc;
            if (track.silentFramesFed >= settledSilentFrames && !track.silentPacket) {
                track.silentPacket.reset(av_packet_clone(packet.get()));
                if (!track.silentPacket)
                    return AVERROR(ENOMEM);
            }
            packet->pts += track.skipped;
            packet->dts = packet->pts;
            track.lastWritten = packet->pts;
            if (const int written = write(packet.get(), track.encoder.get(), track.stream); written < 0)
                return written;
        }
    }

    // The kept silent packet again, right after the last packet written.
    int writeSilentPacket(AudioTrack &track, int frameSize)
    {
        Packet packet(av_packet_clone(track.silentPacket.get()));
        if (!packet)
            return AVERROR(ENOMEM);
        packet->pts = packet->dts = track.lastWritten + frameSize;
        packet->duration = frameSize;
        track.lastWritten = packet->pts;
        track.skipped += frameSize;
        return write(packet.get(), track.encoder.get(), track.stream);
    }

    // Sends whole encoder frames (and with FINAL the rest) of TRACK's queued samples.
    int encodeAudio(AudioTrack &track, bool final)
    {
        const int frameSize = track.encoder->frame_size > 0 ? track.encoder->frame_size : 1024;
        const int channels = track.encoder->ch_layout.nb_channels;
        size_t offset = 0;
        const size_t queued = track.planes.front().size();
        int rc = 0;
        while (queued - offset >= size_t(frameSize) || (final && offset < queued)) {
            const int count = int(std::min<size_t>(frameSize, queued - offset));
            bool silent = count == frameSize;
            for (int c = 0; c < channels && silent; ++c) {
                const float *samples = track.planes[c].data() + offset;
                silent = std::all_of(samples, samples + count, [](float sample) { return sample == 0.0f; });
            }
            if (silent && track.silentPacket && track.silentFramesFed >= settledSilentFrames) {
                if ((rc = writeSilentPacket(track, count)) < 0)
                    return rc;
                offset += count;
                continue;
            }
            track.silentFramesFed = silent ? track.silentFramesFed + 1 : 0;
            Frame frame(av_frame_alloc());
            if (!frame)
                return AVERROR(ENOMEM);
            frame->format = AV_SAMPLE_FMT_FLTP;
            frame->nb_samples = count;
            frame->sample_rate = track.encoder->sample_rate;
            if ((rc = av_channel_layout_copy(&frame->ch_layout, &track.encoder->ch_layout)) < 0)
                return rc;
            if ((rc = av_frame_get_buffer(frame.get(), 0)) < 0)
                return rc;
            for (int c = 0; c < channels; ++c)
                std::copy_n(track.planes[c].data() + offset, count, reinterpret_cast<float *>(frame->data[c]));
            frame->pts = track.encoded;
            track.encoded += count;
            offset += count;
            if ((rc = avcodec_send_frame(track.encoder.get(), frame.get())) < 0)
                return rc;
            if ((rc = drainAudio(track)) < 0)
                return rc;
        }
        for (auto &plane : track.planes)
            plane.erase(plane.begin(), plane.begin() + ptrdiff_t(offset));
        return 0;
    }
};

SegmentEncoder::SegmentEncoder()
    : d(std::make_unique<State>())
{
}

SegmentEncoder::~SegmentEncoder() = default;

Result<std::unique_ptr<SegmentEncoder>, MediaError> SegmentEncoder::open(const Settings &settings)
{
    using R = Result<std::unique_ptr<SegmentEncoder>, MediaError>;
    quietLogs();
    if (settings.size.width() < 2 || settings.size.height() < 2 || settings.size.width() % 2
        || settings.size.height() % 2 || settings.maximumFrameRate < 1 || settings.maximumFrameRate > 1000)
        return R::failure(failed(AVERROR(EINVAL), "segment"));
    std::unique_ptr<SegmentEncoder> encoder(new SegmentEncoder());
    State &s = *encoder->d;
    s.settings = settings;

    const QByteArray name = QFile::encodeName(settings.path);
    AVFormatContext *raw = nullptr;
    int rc = avformat_alloc_output_context2(&raw, nullptr, "mp4", name.constData());
    if (rc < 0 || !raw)
        return R::failure(failed(rc < 0 ? rc : AVERROR(ENOMEM), "mp4"));
    s.output.reset(raw);

    const bool hevc = settings.codec == VideoCodec::hevc;
    const char *videoName = hevc ? "libx265" : "libx264";
    const AVCodec *videoCodec = avcodec_find_encoder_by_name(videoName);
    if (!videoCodec)
        return R::failure(failed(AVERROR_ENCODER_NOT_FOUND, videoName));
    s.video.reset(avcodec_alloc_context3(videoCodec));
    if (!s.video)
        return R::failure(failed(AVERROR(ENOMEM), videoName));
    AVCodecContext *video = s.video.get();
    video->width = settings.size.width();
    video->height = settings.size.height();
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    // Picture k is shown at k / rate; the finer tick leaves room for a
    // segment end that falls between two pictures.
    video->time_base = AVRational {1, settings.maximumFrameRate * 1000};
    video->framerate = AVRational {settings.maximumFrameRate, 1};
    // x264's own default, counted in pictures. Keyframes are most of a
    // screen recording's size (a 1080p one weighs as much as thirty pictures
    // that follow it); at twice the highest rate, a 30 Hz source got one
    // every four seconds instead of eight.
    video->gop_size = 250;
    video->max_b_frames = 0;
    video->color_range = AVCOL_RANGE_MPEG;
    video->colorspace = AVCOL_SPC_SMPTE170M;
    video->color_primaries = AVCOL_PRI_BT709;
    video->color_trc = AVCOL_TRC_IEC61966_2_1;
    video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(video->priv_data, "preset", "ultrafast", 0);
    av_opt_set(video->priv_data, "tune", "zerolatency", 0);
    av_opt_set(video->priv_data, "crf", "23", 0);
    if (hevc)
        av_opt_set(video->priv_data, "x265-params", "log-level=error:bframes=0", 0);
    if ((rc = avcodec_open2(video, videoCodec, nullptr)) < 0)
        return R::failure(failed(rc, videoName));
    s.videoStream = avformat_new_stream(s.output.get(), nullptr);
    if (!s.videoStream)
        return R::failure(failed(AVERROR(ENOMEM), "mp4"));
    if ((rc = avcodec_parameters_from_context(s.videoStream->codecpar, video)) < 0)
        return R::failure(failed(rc, "mp4"));
    s.videoStream->time_base = video->time_base;
    if (hevc)
        s.videoStream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');

    const AVCodec *aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    for (const AudioFormat &format : settings.audioTracks) {
        if (!aac)
            return R::failure(failed(AVERROR_ENCODER_NOT_FOUND, "aac"));
        if (format.sampleRate < 8000 || format.channels < 1 || format.channels > 8)
            return R::failure(failed(AVERROR(EINVAL), "aac"));
        State::AudioTrack track;
        track.encoder.reset(avcodec_alloc_context3(aac));
        if (!track.encoder)
            return R::failure(failed(AVERROR(ENOMEM), "aac"));
        AVCodecContext *audio = track.encoder.get();
        audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
        audio->sample_rate = format.sampleRate;
        av_channel_layout_default(&audio->ch_layout, format.channels);
        audio->time_base = AVRational {1, format.sampleRate};
        audio->bit_rate = 64000 * format.channels;
        audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // The fast coder costs a third less CPU than the default
        // two-loop search, which matters on a still screen.
        av_opt_set(audio->priv_data, "aac_coder", "fast", 0);
        if ((rc = avcodec_open2(audio, aac, nullptr)) < 0)
            return R::failure(failed(rc, "aac"));
        track.stream = avformat_new_stream(s.output.get(), nullptr);
        if (!track.stream)
            return R::failure(failed(AVERROR(ENOMEM), "mp4"));
        if ((rc = avcodec_parameters_from_context(track.stream->codecpar, audio)) < 0)
            return R::failure(failed(rc, "mp4"));
        track.stream->time_base = audio->time_base;
        if (!format.title.isEmpty())
            setTrackTitle(track.stream, format.title);
        track.stream->disposition = format.isDefault ? AV_DISPOSITION_DEFAULT : 0;
        track.planes.resize(size_t(format.channels));
        s.audio.push_back(std::move(track));
    }

    if ((rc = avio_open(&s.output->pb, name.constData(), AVIO_FLAG_WRITE)) < 0)
        return R::failure(failed(rc, "mp4"));
    // Fragmented, so that a file cut off by a crash or a power cut plays up
    // to its last complete fragment: the index goes out with every fragment
    // instead of at the end. The caller closes a fragment about every second
    // (flush()), and every write leaves the buffer at once.
    AVDictionary *options = nullptr;
    av_dict_set(&options, "movflags", "+empty_moov+default_base_moof+frag_custom", 0);
    // Sound's priming stays before time zero, as in a regular file, instead
    // of every track being shifted by it.
    av_dict_set(&options, "use_editlist", "1", 0);
    s.output->flush_packets = 1;
    // Sound must not wait long for a picture on a still screen.
    s.output->max_interleave_delta = 500'000;
    rc = avformat_write_header(s.output.get(), &options);
    av_dict_free(&options);
    if (rc < 0)
        return R::failure(failed(rc, "mp4"));
    return encoder;
}

Result<Done, MediaError> SegmentEncoder::addPicture(Picture picture, int64_t frameIndex)
{
    using R = Result<Done, MediaError>;
    State &s = *d;
    // A picture read just before a repeat (flush()) comes a tick after it.
    if (s.lastWasRepeat && frameIndex <= s.lastFrameIndex)
        frameIndex = s.lastFrameIndex + 1;
    if (s.finished || s.broken || picture.isNull() || frameIndex <= s.lastFrameIndex
        || picture.d->frame->width != s.video->width || picture.d->frame->height != s.video->height)
        return R::failure(failed(AVERROR(EINVAL), "picture"));
    AVFrame *frame = picture.d->frame.get();
    frame->pts = frameIndex * 1000;
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_SMPTE170M;
    s.lastFrameIndex = frameIndex;
    s.lastWasRepeat = false;
    int rc = avcodec_send_frame(s.video.get(), frame);
    if (rc >= 0)
        rc = s.drainVideo();
    if (rc < 0) {
        s.broken = true;
        return R::failure(failed(rc, "video"));
    }
    s.lastPicture = std::move(picture.d->frame);
    return Done {};
}

Result<Done, MediaError> SegmentEncoder::addAudio(int track, const float *samples, int64_t frames)
{
    using R = Result<Done, MediaError>;
    State &s = *d;
    if (s.finished || s.broken || track < 0 || size_t(track) >= s.audio.size() || frames < 0)
        return R::failure(failed(AVERROR(EINVAL), "audio"));
    State::AudioTrack &t = s.audio[size_t(track)];
    const size_t channels = t.planes.size();
    for (size_t c = 0; c < channels; ++c) {
        std::vector<float> &plane = t.planes[c];
        plane.reserve(plane.size() + size_t(frames));
        for (int64_t i = 0; i < frames; ++i)
            plane.push_back(samples ? samples[size_t(i) * channels + c] : 0.0f);
    }
    t.position += frames;
    if (const int rc = s.encodeAudio(t, false); rc < 0) {
        s.broken = true;
        return R::failure(failed(rc, "aac"));
    }
    return Done {};
}

Result<Done, MediaError> SegmentEncoder::addSilence(int track, int64_t frames)
{
    // A second at a time: a long gap would otherwise be held in memory whole
    // before it is encoded.
    const int64_t slice
        = track >= 0 && size_t(track) < d->audio.size() ? d->audio[size_t(track)].encoder->sample_rate : 1;
    do {
        const int64_t now = std::min(frames, std::max<int64_t>(slice, 1));
        if (auto added = addAudio(track, nullptr, now); !added)
            return added;
        frames -= now;
    } while (frames > 0);
    return Done {};
}

int64_t SegmentEncoder::audioPosition(int track) const
{
    return track >= 0 && size_t(track) < d->audio.size() ? d->audio[size_t(track)].position : 0;
}

Result<Done, MediaError> SegmentEncoder::flush(int64_t nowNanoseconds)
{
    using R = Result<Done, MediaError>;
    State &s = *d;
    if (s.finished || s.broken)
        return R::failure(failed(AVERROR(EINVAL), "segment"));
    int rc = 0;
    // On a still screen the held picture would reach the file only with the
    // next change. The same picture again, shown from NOW, ends it there (a
    // skipped frame costs the encoder little). Writing it with a guessed
    // duration instead would leave a hole before the next picture, which a
    // fragmented file closes by pulling every later picture forward.
    const int64_t now = av_rescale(nowNanoseconds, s.video->time_base.den, 1000000000LL * s.video->time_base.num);
    const int64_t index = now / 1000;
    // Not more often than every two seconds: even an unchanged picture costs
    // a few milliseconds to encode at full size.
    if (s.pendingVideo && s.lastPicture && now - s.pendingVideo->pts >= 2 * s.video->time_base.den
        && index > s.lastFrameIndex) {
        s.lastPicture->pts = index * 1000;
        s.lastFrameIndex = index;
        s.lastWasRepeat = true;
        rc = avcodec_send_frame(s.video.get(), s.lastPicture.get());
        if (rc >= 0)
            rc = s.drainVideo();
    }
    if (rc >= 0)
        rc = av_interleaved_write_frame(s.output.get(), nullptr);
    if (rc >= 0)
        rc = av_write_frame(s.output.get(), nullptr);
    if (rc >= 0 && s.output->pb) {
        avio_flush(s.output->pb);
        rc = s.output->pb->error;
    }
    if (rc < 0) {
        s.broken = true;
        return R::failure(failed(rc, "mp4"));
    }
    return Done {};
}

Result<Done, MediaError> SegmentEncoder::finish(int64_t endNanoseconds)
{
    using R = Result<Done, MediaError>;
    State &s = *d;
    if (s.finished || s.broken)
        return R::failure(failed(AVERROR(EINVAL), "segment"));
    for (size_t i = 0; i < s.audio.size(); ++i) {
        State::AudioTrack &track = s.audio[i];
        const int64_t end = av_rescale(endNanoseconds, track.encoder->sample_rate, 1000000000);
        if (end > track.position) {
            if (auto padded = addSilence(int(i), end - track.position); !padded)
                return padded;
        }
        int rc = s.encodeAudio(track, true);
        if (rc >= 0)
            rc = avcodec_send_frame(track.encoder.get(), nullptr);
        if (rc >= 0)
            rc = s.drainAudio(track);
        if (rc < 0) {
            s.broken = true;
            return R::failure(failed(rc, "aac"));
        }
    }
    int rc = avcodec_send_frame(s.video.get(), nullptr);
    if (rc >= 0)
        rc = s.drainVideo();
    if (rc >= 0 && s.pendingVideo) {
        const int64_t end = av_rescale(endNanoseconds, s.video->time_base.den, 1000000000LL * s.video->time_base.num);
        s.pendingVideo->duration = std::max<int64_t>(1, end - s.pendingVideo->pts);
        rc = s.write(s.pendingVideo.get(), s.video.get(), s.videoStream);
        s.pendingVideo.reset();
    }
    if (rc >= 0)
        rc = av_write_trailer(s.output.get());
    if (rc >= 0)
        rc = avio_closep(&s.output->pb);
    if (rc < 0) {
        s.broken = true;
        return R::failure(failed(rc, "mp4"));
    }
    s.finished = true;
    return Done {};
}
