#pragma once

#include "app/Result.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/MediaTime.h"
#include "platform/media/Sample.h"
#include "platform/media/TrackReader.h"
#include "recording/RecordingError.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <vector>

// A screen recording is written as one MP4 file per stretch between a start
// or resume and a pause or stop (a segment). At the stop the segments are
// checked and joined, without re-encoding, into the recording's file.
//
// The segment checks and the join read and write files: they block, so
// callers run them off the GUI thread (co_await QtConcurrent::run(...)).
class ScreenRecorder {
public:
    // A segment file and the wall-clock seconds it was recording (0: unknown).
    struct SegmentPair {
        QString url;
        double measured = 0;
        bool operator==(const SegmentPair &) const = default;
    };

    // How much earlier than its segment's length a picture may stop before
    // a lone segment is re-written with its last frame held.
    static constexpr MediaTime tolerance = MediaTime::make(1, 20);

    // One output track of a join: the same kind of track at the same index
    // in every segment ("vide-0", "soun-1"), each placed at its segment's offset.
    struct Lane {
        struct Part {
            MediaAsset asset;
            MediaTrack track;
            MediaTime offset;
        };

        int input = -1;
        bool isVideo = false;
        FormatDescription format; // the first part's, which every part must share
        std::deque<Part> parts; // parts not yet opened, in segment order
        std::optional<TrackReader> reader; // the part being copied
        MediaTime offset = MediaTime::zero(); // offset of the part being copied
        std::optional<Sample> pending; // video: last retimed frame, held until the next is known
        std::optional<Sample> ready; // the next sample to write
        bool isDone = false;
    };

    // The segments that hold at least one video track, in order.
    static QStringList usableSegments(const QStringList &segments);
    // How long a segment lasts in the joined recording: its wall-clock length,
    // but never less than its file.
    static Result<MediaTime, MediaError> targetDuration(const MediaAsset &asset, double measured);
    // Whether the segment's picture stops more than `tolerance` before its length.
    static bool endsEarly(const SegmentPair &pair);
    // A one-line account of segment files, for diagnostics.
    static QString describe(const QStringList &urls);

    // Joins the segments into one MP4 at OUTPUTPATH: every sample copied with
    // its time stamps shifted so that each segment starts where the previous
    // one's target length ends; the last video frame held to the very end.
    // On failure no output file is left behind.
    static Result<Done, RecordingError> merge(const std::vector<SegmentPair> &pairs, const QString &outputPath);
};
