// Segment checks and the join, on files the tests write themselves and
// with ffprobe as the independent judge of what the join wrote.
#include "MediaFiles.h"

#include "platform/media/FrameExtractor.h"
#include "platform/media/MediaAsset.h"
#include "recording/SegmentChecks.h"
#include "recording/SegmentJoin.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using MediaFiles::make;
using MediaFiles::video;
using Pair = SegmentPair;

namespace {

class Segments : public ::testing::Test {
protected:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString segment(const QString &name, const SyntheticVideo::Options &options) { return make(path(name), options); }
    QString garbage(const QString &name)
    {
        TestSupport::writeFile(path(name), QByteArray(4096, 'x'));
        return path(name);
    }

private:
    QTemporaryDir m_dir;
};

SyntheticVideo::Options videoAt(double seconds, int framesPerSecond)
{
    SyntheticVideo::Options options = video(seconds);
    options.framesPerSecond = framesPerSecond;
    return options;
}

} // namespace

// --- Which segments can be used, and how long each lasts ---

TEST_F(Segments, OnlySegmentsWithAReadableVideoTrackAreUsableInTheirOrder)
{
    const QString first = segment("trecho-0.mp4", video(1));
    const QString soundOnly = segment("trecho-1.mp4", video(0, {1.0}));
    const QString unreadable = garbage("trecho-2.mp4");
    const QString last = segment("trecho-3.mp4", video(1, {}));
    const QStringList usable
        = SegmentChecks::usableSegments({first, soundOnly, unreadable, path("nunca-escrito.mp4"), last});
    EXPECT_EQ(usable, QStringList({first, last}));
}

TEST_F(Segments, TargetIsTheWallClockButNeverLessThanTheFile)
{
    const MediaAsset asset = MediaAsset::open(segment("a.mp4", video(2)));
    EXPECT_EQ(*SegmentChecks::targetDuration(asset, 0), MediaTime::make(2, 1)); // no measurement
    EXPECT_EQ(*SegmentChecks::targetDuration(asset, 1.5), MediaTime::make(2, 1));
    const MediaTime longer = *SegmentChecks::targetDuration(asset, 2.3456);
    EXPECT_EQ(longer, MediaTime::make(1407, 600));
    EXPECT_EQ(longer.timeScale, 600);
    EXPECT_EQ(*SegmentChecks::targetDuration(asset, std::nan("")), MediaTime::make(2, 1));
    EXPECT_FALSE(SegmentChecks::targetDuration(MediaAsset::open(garbage("b.mp4")), 3).ok());
}

TEST_F(Segments, PictureEndingMoreThanAToleranceBeforeTheWallClockEndsEarly)
{
    EXPECT_TRUE(SegmentChecks::endsEarly({segment("a.mp4", videoAt(4.9, 30)), 5.0})); // 0.10 s short
    EXPECT_FALSE(SegmentChecks::endsEarly({segment("b.mp4", videoAt(4.96, 50)), 5.0})); // 0.04 s
    EXPECT_FALSE(SegmentChecks::endsEarly({segment("c.mp4", videoAt(4.95, 20)), 5.0})); // exactly 0.05 s
    EXPECT_FALSE(SegmentChecks::endsEarly({path("c.mp4"), 0})); // no measurement: its own length
    EXPECT_FALSE(SegmentChecks::endsEarly({garbage("d.mp4"), 5.0}));
    EXPECT_FALSE(SegmentChecks::endsEarly({segment("e.mp4", video(0, {1.0})), 5.0}));
}

TEST_F(Segments, DescribeListsDurationAndEveryTrackRange)
{
    const QString first = segment("a.mp4", video(1, {0.5, 0.3}));
    const QString second = segment("b.mp4", video(2));
    EXPECT_EQ(SegmentChecks::describe({first, second}).toStdString(),
        "dur=1.00 vide[0.00-1.00] soun[0.00-0.50] soun[0.00-0.30] | dur=2.00 vide[0.00-2.00] soun[0.00-0.50]");
    EXPECT_EQ(SegmentChecks::describe({garbage("c.mp4"), second}).toStdString(),
        "dur=-1.00 | dur=2.00 vide[0.00-2.00] soun[0.00-0.50]");
    EXPECT_EQ(SegmentChecks::describe({}), QString());
}

// --- The join ---

TEST_F(Segments, WallClockLongerThanTheFilePlacesTheNextSegmentAtTheWallClock)
{
    const QString first = segment("a.mp4", video(2.9, {2.9}));
    const QString second = segment("b.mp4", video(2.0, {2.0}));
    const QString joined = path("unido.mp4");
    ASSERT_TRUE(SegmentJoin::join({{first, 3.0}, {second, 2.0}}, joined).ok());

    const auto probe = MediaFiles::probe(joined);
    MediaFiles::expectWellFormed(probe);
    EXPECT_DOUBLE_EQ(probe.duration, 5.0);
    const auto videoStream = probe.streamsOf("video").at(0);
    const auto frames = probe.packetsOf(videoStream.index);
    ASSERT_EQ(frames.size(), size_t(87 + 60));
    EXPECT_DOUBLE_EQ(frames[87].seconds(frames[87].pts, videoStream), 3.0);
    // The first segment's last frame stays up across the gap; the very last reaches 5.0 s.
    EXPECT_DOUBLE_EQ(frames[86].seconds(frames[87].dts - frames[86].dts, videoStream), 3.0 - 86 / 30.0);
    EXPECT_DOUBLE_EQ(frames.back().seconds(frames.back().pts + frames.back().duration, videoStream), 5.0);

    const auto audioStream = probe.streamsOf("audio").at(0);
    const auto sound = probe.packetsOf(audioStream.index);
    // One priming packet at the very start, none where the second segment begins.
    EXPECT_EQ(std::count_if(sound.begin(), sound.end(), [](const auto &p) { return p.discard; }), 1);
    const auto secondStart
        = std::find_if(sound.begin(), sound.end(), [&](const auto &p) { return p.pts >= 3 * 44100; });
    ASSERT_NE(secondStart, sound.end());
    EXPECT_EQ(secondStart->pts, 3 * 44100);
}

TEST_F(Segments, LoneSegmentWhosePictureStopsEarlyIsStretchedToItsWallClock)
{
    const QString only = segment("a.mp4", video(3.5, {3.5}));
    ASSERT_TRUE(SegmentChecks::endsEarly({only, 4.0}));
    const QString joined = path("unido.mp4");
    ASSERT_TRUE(SegmentJoin::join({{only, 4.0}}, joined).ok());

    const auto probe = MediaFiles::probe(joined);
    MediaFiles::expectWellFormed(probe);
    EXPECT_DOUBLE_EQ(probe.duration, 4.0);
    const auto videoStream = probe.streamsOf("video").at(0);
    const auto frames = probe.packetsOf(videoStream.index);
    ASSERT_EQ(frames.size(), size_t(105));
    EXPECT_DOUBLE_EQ(frames.back().seconds(frames.back().duration, videoStream), 4.0 - 104 / 30.0);
    EXPECT_EQ(frames[103].duration, frames[0].duration); // only the last one is stretched
    EXPECT_FALSE(SegmentChecks::endsEarly({joined, 4.0}));

    // The held frame is what a player shows until the end.
    auto extractor = FrameExtractor::open(joined);
    ASSERT_TRUE(extractor.ok());
    const auto late = extractor->frame(MediaTime::make(3950, 1000), QSize(8, 8));
    ASSERT_TRUE(late.ok()) << late.error().description.toStdString();
    EXPECT_NEAR(qRed(late->pixel(4, 4)), 128, 8);
    EXPECT_FALSE(extractor->frame(MediaTime::make(4, 1)).ok());
}

TEST_F(Segments, ExtraAudioTrackInALaterSegmentOpensALaneAtThatSegmentsStart)
{
    const QString first = segment("a.mp4", video(1, {1.0}));
    const QString second = segment("b.mp4", video(1, {1.0, 0.5}));
    const QString joined = path("unido.mp4");
    ASSERT_TRUE(SegmentJoin::join({{first, 1.5}, {second, 1.0}}, joined).ok());

    const auto probe = MediaFiles::probe(joined);
    MediaFiles::expectWellFormed(probe);
    EXPECT_DOUBLE_EQ(probe.duration, 2.5);
    const auto audio = probe.streamsOf("audio");
    ASSERT_EQ(audio.size(), size_t(2));
    const auto lateLane = probe.packetsOf(audio[1].index);
    EXPECT_EQ(lateLane.front().pts, int64_t(1.5 * 44100));
    EXPECT_FALSE(lateLane.front().discard);
    EXPECT_NEAR(audio[1].start, 1.5, 1e-3);
    EXPECT_NEAR(audio[0].start, 0.0, 1e-3);
    EXPECT_EQ(
        SegmentChecks::describe({joined}).toStdString(), "dur=2.50 vide[0.00-2.50] soun[0.00-2.50] soun[1.50-2.00]");
}

TEST_F(Segments, TrackMissingFromOneSegmentLeavesAGapAndDoesNotShiftLaterSegments)
{
    const QString first = segment("a.mp4", video(1, {0.5}));
    const QString silent = segment("b.mp4", video(1, {}));
    const QString third = segment("c.mp4", video(1, {0.5}));
    const QString joined = path("unido.mp4");
    ASSERT_TRUE(SegmentJoin::join({{first, 1.2}, {silent, 1.3}, {third, 1.0}}, joined).ok());

    const auto probe = MediaFiles::probe(joined);
    MediaFiles::expectWellFormed(probe);
    EXPECT_DOUBLE_EQ(probe.duration, 3.5);
    const auto sound = probe.packetsOf(probe.streamsOf("audio").at(0).index);
    const auto third0 = std::find_if(sound.begin(), sound.end(), [](const auto &p) { return p.pts > 44100; });
    ASSERT_NE(third0, sound.end());
    EXPECT_EQ(third0->pts, int64_t(2.5 * 44100));
    const auto videoStream = probe.streamsOf("video").at(0);
    const auto frames = probe.packetsOf(videoStream.index);
    EXPECT_DOUBLE_EQ(frames[60].seconds(frames[60].pts, videoStream), 2.5);
}

TEST_F(Segments, JoinFailsWithoutLeavingAFileWhenASegmentCannotBeRead)
{
    const QString first = segment("a.mp4", video(1));
    const QString joined = path("unido.mp4");
    const auto missing = SegmentJoin::join({{first, 1}, {path("sumiu.mp4"), 1}}, joined);
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().mediaError());
    EXPECT_FALSE(missing.error().description().isEmpty());
    EXPECT_FALSE(QFile::exists(joined));
    EXPECT_FALSE(SegmentJoin::join({{first, 1}, {garbage("b.mp4"), 1}}, joined).ok());
    EXPECT_FALSE(QFile::exists(joined));
}

TEST_F(Segments, SegmentsEncodedDifferentlyCannotShareATrack)
{
    SyntheticVideo::Options wide = video(1);
    wide.width = 320;
    wide.height = 240;
    const QString joined = path("unido.mp4");
    const auto merged = SegmentJoin::join({{segment("a.mp4", video(1)), 1}, {segment("b.mp4", wide), 1}}, joined);
    EXPECT_FALSE(merged.ok());
    EXPECT_FALSE(QFile::exists(joined));
}

TEST_F(Segments, NothingToJoinIsAnEmptyRecording)
{
    const auto merged = SegmentJoin::join({}, path("unido.mp4"));
    ASSERT_FALSE(merged.ok());
    EXPECT_EQ(merged.error().captureError(), CaptureError(CaptureError::emptyRecording));
    EXPECT_EQ(merged.error().description(), QStringLiteral("A gravação terminou sem nenhum conteúdo."));
    EXPECT_FALSE(QFile::exists(path("unido.mp4")));
}

TEST_F(Segments, OutputThatCannotBeCreatedIsAnError)
{
    const QString first = segment("a.mp4", video(1));
    TestSupport::writeFile(path("arquivo"), "x");
    const auto merged = SegmentJoin::join({{first, 1}}, path("arquivo/unido.mp4"));
    ASSERT_FALSE(merged.ok());
    EXPECT_EQ(merged.error().description(), QStringLiteral("Not a directory"));
}

TEST_F(Segments, FullDiskIsAnErrorAndTheSegmentsStayIntact)
{
    const QString first = segment("a.mp4", video(2, {2.0}));
    const QByteArray before = TestSupport::readFile(first);
    const auto merged = SegmentJoin::join({{first, 2}}, "/dev/full");
    ASSERT_FALSE(merged.ok());
    EXPECT_EQ(merged.error().description(), QStringLiteral("No space left on device"));
    EXPECT_TRUE(QFileInfo::exists("/dev/full"));
    EXPECT_EQ(TestSupport::readFile(first), before);
}

TEST_F(Segments, TruncatedSegmentNeverYieldsAJoinThatClaimsSuccess)
{
    const QString whole = segment("inteiro.mp4", video(3, {3.0}));
    const QByteArray bytes = TestSupport::readFile(whole);
    const QString first = segment("a.mp4", video(1));
    for (const double fraction : {0.05, 0.3, 0.6, 0.95, 0.999}) {
        const QString cut = path(QStringLiteral("cortado-%1.mp4").arg(fraction));
        TestSupport::writeFile(cut, bytes.left(qsizetype(bytes.size() * fraction)));
        const QString joined = path("unido.mp4");
        const auto merged = SegmentJoin::join({{first, 1}, {cut, 3}}, joined);
        EXPECT_FALSE(merged.ok()) << fraction;
        EXPECT_FALSE(QFile::exists(joined)) << fraction;
        SegmentChecks::describe({cut}); // must not crash
        SegmentChecks::endsEarly({cut, 3});
    }
}

TEST_F(Segments, CorruptBytesNeverCrashAndASuccessfulJoinIsAReadableFile)
{
    const QString whole = segment("inteiro.mp4", video(2, {2.0}));
    const QByteArray bytes = TestSupport::readFile(whole);
    QRandomGenerator random(20261207);
    for (int round = 0; round < 30; ++round) {
        QByteArray damaged = bytes;
        for (int i = 0; i < 8; ++i)
            damaged[random.bounded(int(damaged.size()))] = char(random.bounded(256));
        const QString bad = path("estragado.mp4");
        TestSupport::writeFile(bad, damaged);
        const QString joined = path("unido.mp4");
        QFile::remove(joined);
        if (SegmentChecks::usableSegments({bad}).isEmpty())
            continue;
        SegmentChecks::describe({bad});
        if (SegmentJoin::join({{bad, 2}}, joined).ok())
            EXPECT_TRUE(MediaFiles::probe(joined).ok) << "round " << round;
        else
            EXPECT_FALSE(QFile::exists(joined)) << "round " << round;
    }
}

// --- Frames ---

TEST_F(Segments, FrameExtractorGivesTheFrameOnScreenAtATimeAndTheFirstFrame)
{
    SyntheticVideo::Options white = video(1);
    white.pixelByte = 0xff;
    auto extractor = FrameExtractor::open(segment("a.mp4", white));
    ASSERT_TRUE(extractor.ok());
    EXPECT_EQ(extractor->naturalSize(), QSize(640, 360));
    const auto first = extractor->firstFrame(QSize(64, 64), Qt::KeepAspectRatio);
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(first->size(), QSize(64, 36));
    EXPECT_GT(qGreen(first->pixel(10, 10)), 240);
    // Backwards, forwards and at the last frame's span.
    for (const auto &time : {MediaTime::make(9, 10), MediaTime::make(1, 10), MediaTime::make(599, 600)})
        EXPECT_TRUE(extractor->frame(time, QSize(32, 32)).ok()) << time.toString().toStdString();
    EXPECT_FALSE(extractor->frame(MediaTime::make(1, 1)).ok());
    EXPECT_FALSE(FrameExtractor::open(segment("b.mp4", video(0, {1.0}))).ok());
    EXPECT_FALSE(FrameExtractor::open(garbage("c.mp4")).ok());
}
