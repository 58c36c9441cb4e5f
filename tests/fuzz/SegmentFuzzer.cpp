// Segment files as the join reads them back: FFmpeg's MP4 demuxer with the
// recorder's checks and the join on top.
#include "FuzzSupport.h"

#include "recording/SegmentChecks.h"
#include "recording/SegmentJoin.h"

#include <QFile>

extern "C" {
#include <libavutil/log.h>
}

// FFmpeg's complaints about broken files, thousands a minute, would cost
// more than the reading; the media library sets its own log level, so the
// messages are dropped at the callback.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    av_log_set_callback([](void *, int, const char *, va_list) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString segment = Fuzz::freshPath(QStringLiteral("segment.mp4"));
    const QString output = Fuzz::freshPath(QStringLiteral("joined.mp4"));
    if (!Fuzz::writeFile(segment, Fuzz::bytes(data, size)))
        Fuzz::fail("write segment", __FILE__, __LINE__);

    const QStringList usable = SegmentChecks::usableSegments({segment});
    SegmentChecks::describe({segment});
    SegmentChecks::endsEarly({segment, 0.5});
    // The same segment twice, as after a pause: two parts in every lane.
    const auto joined = SegmentJoin::join({{segment, 0.5}, {segment, 0}}, output);
    FUZZ_CHECK(usable.isEmpty() || usable == QStringList {segment});
    // A failed join leaves no output behind.
    FUZZ_CHECK(QFile::exists(output) == bool(joined));

    QFile::remove(segment);
    QFile::remove(output);
    return 0;
}
