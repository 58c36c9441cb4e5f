#pragma once

#include "core/Result.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/MediaError.h"
#include "platform/media/MediaTime.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

// A segment file and the wall-clock seconds it was recording (0: unknown).
struct SegmentPair {
    QString url;
    double measured = 0;
    bool operator==(const SegmentPair &) const = default;
};

// What the stop of a recording checks in its segment files before joining
// them. Every function reads files: call them off the GUI thread.
namespace SegmentChecks {

// How much earlier than its segment's length a picture may stop before
// a lone segment is re-written with its last frame held.
inline constexpr MediaTime tolerance = MediaTime::make(1, 20);

// The length of the part of an MP4 file that ends with a complete top-level
// box, a fragment counting only with its data: what a segment file cut off by
// a crash or a full disk can be trimmed to. 0 when not even the header is
// whole.
int64_t completeLength(QIODevice &file);
// Cuts a segment file back to its complete part (nothing to do for a file
// that was finished). False when the file cannot be read or written.
bool trimToCompleteFragments(const QString &path);

// The segments that hold at least one video track with pictures, in order.
QStringList usableSegments(const QStringList &segments);
// How long a segment lasts in the joined recording: its wall-clock length,
// but never less than its file.
Result<MediaTime, MediaError> targetDuration(const MediaAsset &asset, double measured);
// Whether the segment's picture stops more than `tolerance` before its length.
bool endsEarly(const SegmentPair &pair);
// A one-line account of segment files, for diagnostics.
QString describe(const QStringList &urls);

} // namespace SegmentChecks
