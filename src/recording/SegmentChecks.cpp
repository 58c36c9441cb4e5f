// Segment checking: which segment files can be joined, how long each lasts,
// and a report of what they hold.
#include "recording/SegmentChecks.h"

namespace SegmentChecks {

QStringList usableSegments(const QStringList &segments)
{
    QStringList usable;
    for (const QString &url : segments) {
        const auto tracks = MediaAsset::open(url).tracks(MediaType::video);
        if (tracks && !tracks->empty())
            usable.append(url);
    }
    return usable;
}

Result<MediaTime, MediaError> targetDuration(const MediaAsset &asset, double measured)
{
    const auto duration = asset.duration();
    if (!duration)
        return duration;
    const MediaTime wallClock = MediaTime::fromSeconds(measured, 600);
    // A measurement that is no number must not win over the file's length.
    if (wallClock.isValid() && wallClock >= *duration)
        return wallClock;
    return *duration;
}

bool endsEarly(const SegmentPair &pair)
{
    const MediaAsset asset = MediaAsset::open(pair.url);
    const auto target = targetDuration(asset, pair.measured);
    if (!target)
        return false;
    const auto tracks = asset.tracks(MediaType::video);
    if (!tracks || tracks->empty())
        return false;
    const auto range = asset.timeRange(tracks->front());
    if (!range)
        return false;
    return *target - range->end() > tolerance;
}

QString describe(const QStringList &urls)
{
    QStringList texts;
    for (const QString &url : urls) {
        const MediaAsset asset = MediaAsset::open(url);
        const auto duration = asset.duration();
        QString text = QString::asprintf("dur=%.2f", duration ? duration->seconds() : -1.0);
        for (const MediaType type : {MediaType::video, MediaType::audio}) {
            const auto tracks = asset.tracks(type);
            if (!tracks)
                continue;
            for (const MediaTrack &track : *tracks) {
                const auto range = asset.timeRange(track);
                if (!range)
                    continue;
                text += QStringLiteral(" %1").arg(rawString(type))
                    + QString::asprintf("[%.2f-%.2f]", range->start.seconds(), range->end().seconds());
            }
        }
        texts.append(text);
    }
    return texts.join(QStringLiteral(" | "));
}

} // namespace SegmentChecks
