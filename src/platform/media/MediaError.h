#pragma once

#include <QString>

// A failure of the media library, carrying its own text (FFmpeg's message for
// its error code, sometimes with what was being done) up to whoever shows or
// drops it.
struct MediaError {
    int code = 0; // FFmpeg's AVERROR value
    QString description;

    // The text FFmpeg gives for CODE, after an optional short context.
    static MediaError fromCode(int code, const QString &context = {});
    // A file that does not hold what it should, in the caller's own words.
    static MediaError invalidData(const QString &description);

    bool operator==(const MediaError &) const = default;
};
