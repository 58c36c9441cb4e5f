// Joining segment files into one recording without re-encoding.
//
// Every track of every segment is copied sample by sample into the output
// track of its kind and index (its lane), shifted by the segment's offset on
// the recording's time line, so that system audio, microphone and picture stay
// in step across pauses. Two things need care with FFmpeg that the copy would
// otherwise get wrong:
// - each AAC track starts with priming packets before time zero that players
//   skip; in a later segment they would land before the previous segment's
//   end and the muxer refuses the decreasing time stamps, so they are dropped;
// - an MP4 track has one sample description, so segments whose codec set-up
//   (extradata, size, rate) differs cannot share a lane: the join fails and the
//   recorder keeps the segments as separate parts instead.
// A lane's output track takes the first segment's track name and default
// flag, so the mix of system audio and microphone stays first and default.
// Samples go to the muxer in decode-time order across lanes, one at a time,
// so memory stays at a few samples per lane however long the recording is.
#include "recording/SegmentJoin.h"

#include "platform/media/MediaWriter.h"
#include "platform/media/Sample.h"
#include "platform/media/TrackReader.h"

#include <QHash>

#include <deque>
#include <numeric>
#include <optional>

namespace {

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

template <typename T> Result<T, RecordingError> fail(RecordingError error)
{
    return Result<T, RecordingError>::failure(std::move(error));
}

// Video tracks tick at a multiple of 600 where it fits, so that offsets
// measured in 1/600 s and the track's own stamps both stay exact.
int32_t videoTimeScale(int32_t trackTimeScale)
{
    const int64_t lcm = std::lcm(int64_t(trackTimeScale), int64_t(600));
    return lcm <= INT32_MAX ? int32_t(lcm) : trackTimeScale;
}

MediaTime decodeTime(const Sample &sample)
{
    const SampleTiming &timing = sample.timing();
    return timing.decodeTimeStamp.isValid() ? timing.decodeTimeStamp : timing.presentationTimeStamp;
}

// The last frame of a video lane lasts until the end of the recording.
void stretchToEnd(Sample &sample, const MediaTime &end)
{
    SampleTiming timing = sample.timing();
    const MediaTime shown = end - decodeTime(sample);
    if (!timing.duration.isValid() || shown > timing.duration) {
        timing.duration = shown;
        sample.setTiming(timing);
    }
}

// Moves LANE forward until it has a sample ready to write or is done.
Result<Done, RecordingError> advance(Lane &lane, const MediaTime &total)
{
    while (!lane.ready && !lane.isDone) {
        if (!lane.reader) {
            if (lane.parts.empty()) {
                if (lane.pending) {
                    stretchToEnd(*lane.pending, total);
                    lane.ready = std::move(lane.pending);
                    lane.pending.reset();
                } else {
                    lane.isDone = true;
                }
                continue;
            }
            Lane::Part part = std::move(lane.parts.front());
            lane.parts.pop_front();
            auto reader = TrackReader::start(part.asset, part.track);
            if (!reader)
                return fail<Done>(reader.error());
            lane.reader.emplace(std::move(*reader));
            lane.offset = part.offset;
            continue;
        }

        auto next = lane.reader->next();
        if (!next)
            return fail<Done>(next.error());
        if (!*next) {
            lane.reader.reset();
            continue;
        }
        Sample sample = std::move(**next);
        if (sample.size() < 1)
            continue;
        SampleTiming timing = sample.timing();
        if (!timing.presentationTimeStamp.isValid())
            return fail<Done>(MediaError::invalidData(
                QStringLiteral("sample without time stamp in %1").arg(lane.isVideo ? "video" : "audio")));
        // Priming of a segment that does not start the recording.
        if (sample.isDiscardable() && timing.presentationTimeStamp < MediaTime::zero()
            && lane.offset > MediaTime::zero())
            continue;
        timing.presentationTimeStamp += lane.offset;
        if (timing.decodeTimeStamp.isValid())
            timing.decodeTimeStamp += lane.offset;
        sample.setTiming(timing);

        if (lane.isVideo) {
            if (lane.pending)
                lane.ready = std::move(lane.pending);
            lane.pending = std::move(sample);
        } else {
            lane.ready = std::move(sample);
        }
    }
    return Done {};
}

} // namespace

Result<Done, RecordingError> SegmentJoin::join(const std::vector<SegmentPair> &pairs, const QString &outputPath)
{
    auto writer = MediaWriter::create(outputPath);
    if (!writer)
        return fail<Done>(writer.error());

    std::vector<Lane> lanes;
    QHash<QString, size_t> keys;
    MediaTime cursor = MediaTime::zero();
    for (size_t segment = 0; segment < pairs.size(); ++segment) {
        const MediaAsset asset = MediaAsset::open(pairs[segment].url);
        const auto target = SegmentChecks::targetDuration(asset, pairs[segment].measured);
        if (!target)
            return fail<Done>(target.error());
        for (const MediaType type : {MediaType::video, MediaType::audio}) {
            const auto tracks = asset.tracks(type);
            if (!tracks)
                return fail<Done>(tracks.error());
            for (size_t i = 0; i < tracks->size(); ++i) {
                const MediaTrack &track = (*tracks)[i];
                const QString key = rawString(type) + QLatin1Char('-') + QString::number(i);
                const auto formats = asset.formatDescriptions(track);
                if (!formats)
                    return fail<Done>(formats.error());
                if (formats->empty())
                    return fail<Done>(MediaError::invalidData(
                        QStringLiteral("%1: track %2 has no format description").arg(pairs[segment].url, key)));
                auto found = keys.constFind(key);
                if (found == keys.constEnd()) {
                    const bool isVideo = type == MediaType::video;
                    // The first segment names the lane's track and says which is the default.
                    const auto input = writer->addInput(formats->front(),
                        isVideo ? videoTimeScale(track.timeScale) : track.timeScale, track.title, track.isDefault);
                    if (!input)
                        return fail<Done>(input.error());
                    lanes.push_back(Lane {*input, isVideo, formats->front(), {}, {}, MediaTime::zero(), {}, {}, false});
                    found = keys.insert(key, lanes.size() - 1);
                } else if (!(formats->front() == lanes[*found].format)) {
                    return fail<Done>(MediaError::invalidData(
                        QStringLiteral("%1: track %2 (%3) is encoded with other settings than in the first segment")
                            .arg(pairs[segment].url, key, formats->front().codecName())));
                }
                lanes[*found].parts.push_back(Lane::Part {asset, track, cursor});
            }
        }
        cursor += *target;
    }
    if (lanes.empty())
        return fail<Done>(CaptureError::emptyRecording);

    if (auto started = writer->startWriting(); !started)
        return fail<Done>(started.error());

    // The pump: keep one sample ready per lane, write the earliest.
    for (;;) {
        Lane *earliest = nullptr;
        for (Lane &lane : lanes) {
            if (auto advanced = advance(lane, cursor); !advanced)
                return advanced;
            if (lane.ready && (!earliest || decodeTime(*lane.ready) < decodeTime(*earliest->ready)))
                earliest = &lane;
        }
        if (!earliest)
            break;
        Sample sample = std::move(*earliest->ready);
        earliest->ready.reset();
        if (auto appended = writer->append(earliest->input, std::move(sample)); !appended)
            return fail<Done>(appended.error());
    }

    if (auto finished = writer->finishWriting(); !finished)
        return fail<Done>(finished.error());
    return Done {};
}
