// Segment checking: which segment files can be joined, how long each lasts,
// and a report of what they hold.
#include "recording/SegmentChecks.h"

#include <QFile>
#include <QFileInfo>

namespace SegmentChecks {

namespace {

uint64_t bigEndian(const QByteArray &bytes, qsizetype at, int count)
{
    uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

} // namespace

int64_t completeLength(QIODevice &file)
{
    const int64_t size = file.size();
    int64_t complete = 0;
    int64_t at = 0;
    bool hasMovie = false;
    // Only box headers are read: the walk seeks from one to the next.
    while (at + 8 <= size && file.seek(at)) {
        const QByteArray head = file.read(16);
        if (head.size() < 8)
            break;
        int64_t length = int64_t(bigEndian(head, 0, 4));
        int header = 8;
        if (length == 1) {
            if (head.size() < 16 || bigEndian(head, 8, 8) > uint64_t(INT64_MAX))
                break;
            length = int64_t(bigEndian(head, 8, 8));
            header = 16;
        }
        // 0 ("to the end of the file") is what a muxer writes before it knows.
        if (length < header || length > size - at)
            break;
        at += length;
        const QByteArray type = head.mid(4, 4);
        if (type == "moov")
            hasMovie = true;
        // A fragment's header counts only once its data is whole.
        if (type != "moof")
            complete = at;
    }
    return hasMovie ? complete : 0;
}

bool trimToCompleteFragments(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadWrite))
        return false;
    const int64_t complete = completeLength(file);
    return complete == file.size() || file.resize(complete);
}

QStringList usableSegments(const QStringList &segments)
{
    QStringList usable;
    for (const QString &url : segments) {
        // A segment cut off before its first fragment has a track and no picture.
        const MediaAsset asset = MediaAsset::open(url);
        const auto tracks = asset.tracks(MediaType::video);
        if (!tracks || tracks->empty())
            continue;
        const auto range = asset.timeRange(tracks->front());
        if (range && range->duration > MediaTime::zero())
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
