#pragma once

#include "core/Result.h"
#include "platform/media/MediaError.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

// Encodes one recording segment into a fragmented MP4 (a fragment about every
// second, so that a file cut off at any moment plays up to its last complete
// fragment): captured screen pictures
// as H.264 (HEVC for pictures wider or taller than 4096 pixels) and any number
// of AAC audio tracks.
//
// Pictures arrive only when the screen changed, so the video is variable
// frame rate: every picture carries its own time, no B-frames are used
// (they would give negative decode times and lose the last frame when
// segments are joined), and each packet is held back until the next one is
// known so that it gets its real duration (libx264 leaves it 0). The last
// picture lasts until the end of the segment.
//
// Audio is continuous: samples are numbered from the segment's start and the
// caller places them (pads or skips) before handing them over.
//
// One thread at a time; encoding and muxing block.
class SegmentEncoder {
public:
    enum class VideoCodec { h264, hevc };

    struct AudioFormat {
        int sampleRate = 48000;
        int channels = 2;
        // The track's name in players' track menus (the stream's title); none when empty.
        QString title;
        // The track players pick by themselves. When no track says so, the
        // muxer makes the first one the default.
        bool isDefault = false;
    };

    struct Settings {
        QString path;
        // Even width and height.
        QSize size;
        VideoCodec codec = VideoCodec::h264;
        // The highest picture rate; picture times are multiples of 1/maximumFrameRate s.
        int maximumFrameRate = 60;
        std::vector<AudioFormat> audioTracks;
    };

    // A captured picture converted for the encoder; made on any thread.
    class Picture {
    public:
        Picture();
        Picture(Picture &&) noexcept;
        Picture &operator=(Picture &&) noexcept;
        ~Picture();
        // BGRX pixels (QImage RGB32) of exactly the encoder's size.
        static Result<Picture, MediaError> fromImage(const QImage &image);
        bool isNull() const;

    private:
        friend class SegmentEncoder;
        struct Data;
        std::unique_ptr<Data> d;
    };

    static VideoCodec codecFor(const QSize &size)
    {
        return std::max(size.width(), size.height()) > 4096 ? VideoCodec::hevc : VideoCodec::h264;
    }

    // Creates the file and writes its header.
    static Result<std::unique_ptr<SegmentEncoder>, MediaError> open(const Settings &settings);
    ~SegmentEncoder();

    // A picture shown from FRAMEINDEX / maximumFrameRate seconds after the
    // segment's start. Indices must increase.
    Result<Done, MediaError> addPicture(Picture picture, int64_t frameIndex);
    // Interleaved float samples for audio track TRACK, following the ones before.
    Result<Done, MediaError> addAudio(int track, const float *samples, int64_t frames);
    // Silence for audio track TRACK.
    Result<Done, MediaError> addSilence(int track, int64_t frames);
    // Samples already handed to audio track TRACK.
    int64_t audioPosition(int track) const;

    // Writes out what the file can hold so far as one complete fragment,
    // NOWNANOSECONDS after the segment's start: a picture held for its
    // duration for two seconds or more goes out lasting until then (the
    // same picture is encoded again from then on).
    Result<Done, MediaError> flush(int64_t nowNanoseconds);

    // Ends the segment at ENDNANOSECONDS after its start: audio is padded with
    // silence up to there, the last picture lasts until then, and the last
    // fragment is written.
    Result<Done, MediaError> finish(int64_t endNanoseconds);

private:
    SegmentEncoder();
    struct State;
    std::unique_ptr<State> d;
};
