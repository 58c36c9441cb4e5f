#pragma once

#include "core/Result.h"
#include "platform/media/MediaError.h"
#include "platform/media/MediaTime.h"

#include <QImage>
#include <QSize>

#include <memory>

// Pictures from a video file's first video track: the frame shown at an
// exact time (no tolerance either way) or the first frame, decoded and scaled
// into an RGBA image. Decoding is real work: keep it off the GUI thread.
// Times asked in increasing order decode forward without seeking again.
class FrameExtractor {
public:
    static Result<FrameExtractor, MediaError> open(const QString &path);

    FrameExtractor(FrameExtractor &&) noexcept;
    FrameExtractor &operator=(FrameExtractor &&) noexcept;
    ~FrameExtractor();

    // The picture's size in pixels as stored.
    QSize naturalSize() const;
    // The frame on screen at TIME, scaled to SIZE (an empty size keeps the
    // natural size; KeepAspectRatio fits it inside SIZE).
    Result<QImage, MediaError> frame(
        const MediaTime &time, QSize size = {}, Qt::AspectRatioMode mode = Qt::IgnoreAspectRatio);
    Result<QImage, MediaError> firstFrame(QSize size = {}, Qt::AspectRatioMode mode = Qt::IgnoreAspectRatio);

private:
    struct State;
    explicit FrameExtractor(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};
