// The segment encoder: silence that stands in for a sound source that went
// away is encoded as it is handed over, and a file cut off at any moment
// holds everything up to its last flush.
#include "platform/media/SegmentEncoder.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/TrackReader.h"
#include "recording/AudioChecks.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <sys/resource.h>
#include <vector>

namespace {

// The sanitizer's allocator keeps freed memory aside, so the peak says nothing there.
#if !defined(__SANITIZE_ADDRESS__)
#define VELUNTA_MEASURES_PEAK 1
#endif

[[maybe_unused]] long peakKilobytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A 64×48 segment in a folder of its own; a test sets what else it needs in
// SETTINGS before open().
class EncoderFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(out.isValid());
        settings.path = out.filePath("trecho-0.mp4");
        settings.size = QSize(64, 48);
    }

    // Opens the encoder as OPENED; false, with the reason recorded, when it
    // cannot.
    bool open()
    {
        auto encoder = SegmentEncoder::open(settings);
        if (!encoder) {
            ADD_FAILURE() << encoder.error().description.toStdString();
            return false;
        }
        opened = std::move(*encoder);
        return true;
    }

    QTemporaryDir out;
    SegmentEncoder::Settings settings;
    std::unique_ptr<SegmentEncoder> opened;
};

class SegmentEncoderSound : public EncoderFixture { };
class SegmentEncoderFragments : public EncoderFixture { };

// A picture of one colour at the fixture's size; a null one, which the
// encoder refuses, when it cannot be made.
SegmentEncoder::Picture picture(QColor colour)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(colour);
    auto made = SegmentEncoder::Picture::fromImage(image);
    if (!made) {
        ADD_FAILURE() << made.error().description.toStdString();
        return {};
    }
    return std::move(*made);
}

// FRAMES stereo frames of a 440 Hz tone at 48 kHz.
std::vector<float> tone(int64_t frames)
{
    std::vector<float> samples(size_t(2 * frames));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.5f * float(std::sin(double(i / 2) * 2 * M_PI * 440 / 48000));
    return samples;
}

std::vector<double> videoTimes(const QString &path)
{
    const MediaAsset asset = MediaAsset::open(path);
    std::vector<double> times;
    auto tracks = asset.tracks(MediaType::video);
    if (!tracks || tracks->empty())
        return times;
    auto reader = TrackReader::start(asset, tracks->front());
    EXPECT_TRUE(reader);
    while (reader) {
        auto next = reader->next();
        EXPECT_TRUE(next) << next.error().description.toStdString();
        if (!next || !*next)
            break;
        times.push_back((*next)->timing().presentationTimeStamp.seconds());
    }
    return times;
}

} // namespace

TEST_F(SegmentEncoderSound, MinutesOfSilenceAfterTheSoundAreEncodedAsTheyComeAndLastToTheEnd)
{
    settings.audioTracks = {{48000, 2, {}, false}};
    ASSERT_TRUE(open());
    SegmentEncoder &encoder = *opened;

    ASSERT_TRUE(encoder.addPicture(picture(Qt::darkCyan), 0));
    const std::vector<float> sound = tone(24000);
    ASSERT_TRUE(encoder.addAudio(0, sound.data(), 24000));

    // Two minutes of silence in one call: held whole before encoding, it
    // would take some 46 MB.
    [[maybe_unused]] const long before = peakKilobytes();
    const int64_t silence = 120 * 48000 + 123;
    ASSERT_TRUE(encoder.addSilence(0, silence));
#ifdef VELUNTA_MEASURES_PEAK
    EXPECT_LT(peakKilobytes() - before, 12 * 1024) << "kilobytes more at the peak";
#endif
    EXPECT_EQ(encoder.audioPosition(0), 24000 + silence);
    const int64_t endNanoseconds = (24000 + silence) * 1'000'000'000LL / 48000;
    ASSERT_TRUE(encoder.finish(endNanoseconds));

    const MediaAsset asset = MediaAsset::open(settings.path);
    auto audio = asset.tracks(MediaType::audio);
    ASSERT_TRUE(audio);
    ASSERT_EQ(audio->size(), 1u);
    auto range = asset.timeRange(audio->front());
    ASSERT_TRUE(range);
    EXPECT_NEAR(range->end().seconds(), endNanoseconds / 1e9, 0.03);
    auto video = asset.tracks(MediaType::video);
    ASSERT_TRUE(video && video->size() == 1u);
    EXPECT_NEAR(asset.timeRange(video->front())->end().seconds(), endNanoseconds / 1e9, 0.03);
}

// Silent frames past the first few are written as one kept packet instead of
// being encoded: the track must still be one unbroken run of packets, and
// sound after the silence must come back at its place and sound the same.
TEST_F(SegmentEncoderSound, SoundAfterALongSilenceComesBackInPlaceAndThePacketsRunOn)
{
    settings.audioTracks = {{48000, 2, {}, false}};
    ASSERT_TRUE(open());
    SegmentEncoder &encoder = *opened;
    ASSERT_TRUE(encoder.addPicture(picture(Qt::darkCyan), 0));

    // Sound, then silence in uneven chunks (as the sound server hands it
    // over, zeros included), sound again, and silence to the end.
    const std::vector<float> first = tone(24000);
    ASSERT_TRUE(encoder.addAudio(0, first.data(), 24000));
    const std::vector<float> zeros(2 * 4801, 0.0f);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(encoder.addAudio(0, zeros.data(), 4801));
    ASSERT_TRUE(encoder.addSilence(0, 120000 - 20 * 4801));
    const std::vector<float> second = tone(24000);
    ASSERT_TRUE(encoder.addAudio(0, second.data(), 24000));
    ASSERT_TRUE(encoder.addSilence(0, 100000));
    const int64_t total = 24000 + 120000 + 24000 + 100000;
    ASSERT_TRUE(encoder.finish(total * 1'000'000'000LL / 48000));

    const MediaAsset asset = MediaAsset::open(settings.path);
    auto tracks = asset.tracks(MediaType::audio);
    ASSERT_TRUE(tracks && tracks->size() == 1u);
    auto reader = TrackReader::start(asset, tracks->front());
    ASSERT_TRUE(reader);
    std::optional<double> last;
    int packets = 0;
    for (;;) {
        auto next = reader->next();
        ASSERT_TRUE(next) << next.error().description.toStdString();
        if (!*next)
            break;
        const double at = (*next)->timing().presentationTimeStamp.seconds();
        // One AAC frame after the other (the encoder's priming packet is
        // read back at a place of its own).
        if (last && packets > 1) {
            ASSERT_NEAR(at - *last, 1024 / 48000.0, 1e-6) << "packet " << packets;
        }
        last = at;
        ++packets;
    }
    ASSERT_TRUE(last);
    EXPECT_NEAR(*last, total / 48000.0, 0.05);

    const std::vector<float> decoded = AudioChecks::decode(settings.path, 0);
    ASSERT_GE(decoded.size(), size_t(total - 2048));
    const auto slice = [&](double from, double to) {
        return std::vector<float>(decoded.begin() + ptrdiff_t(from * 48000), decoded.begin() + ptrdiff_t(to * 48000));
    };
    const double level = AudioChecks::toneAmplitude(slice(0.1, 0.4), 440);
    EXPECT_GT(level, 0.3);
    EXPECT_NEAR(AudioChecks::toneAmplitude(slice(3.1, 3.4), 440), level, 0.02 * level);
    float quiet = 0;
    for (const float sample : slice(0.6, 2.9))
        quiet = std::max(quiet, std::abs(sample));
    EXPECT_LT(quiet, 0.01f) << "the silence stays silent";
    // The second tone starts 3.0 s after the first, as handed over.
    const auto onset = [&](double from) {
        size_t at = size_t(from * 48000);
        while (at < decoded.size() && std::abs(decoded[at]) < 0.2f)
            ++at;
        return double(at) / 48000;
    };
    EXPECT_NEAR(onset(2.9) - onset(0), 3.0, 0.005) << "not a frame (21 ms) off";
}

// A copy taken at any moment stands for a file whose writer died then.
TEST_F(SegmentEncoderFragments, AFileCutOffAfterAFlushPlaysUpToThatFlush)
{
    settings.maximumFrameRate = 30;
    settings.audioTracks = {{48000, 2, {}, false}};
    ASSERT_TRUE(open());
    SegmentEncoder &encoder = *opened;

    // Two seconds of a busy screen, flushed at each second, then a little more.
    for (int frame = 0; frame < 75; ++frame) {
        ASSERT_TRUE(encoder.addPicture(picture(frame % 2 ? Qt::red : Qt::blue), frame));
        if (frame % 30 == 0) {
            ASSERT_TRUE(encoder.addSilence(0, 48000));
        }
        if (frame == 30 || frame == 60) {
            ASSERT_TRUE(encoder.flush(int64_t(frame) * 1'000'000'000 / 30));
        }
    }
    const QString cut = out.filePath("cortado.mp4");
    ASSERT_TRUE(QFile::copy(settings.path, cut));
    const std::vector<double> times = videoTimes(cut);
    ASSERT_GE(times.size(), 60u) << "every picture up to the last flush";
    EXPECT_LE(times.size(), 75u);
    EXPECT_NEAR(times[59], 59 / 30.0, 0.001);
    ASSERT_TRUE(encoder.finish(3'000'000'000));
}

TEST_F(SegmentEncoderFragments, AStillPictureReachesTheFileAndTheNextChangeKeepsItsTime)
{
    settings.maximumFrameRate = 60;
    ASSERT_TRUE(open());
    SegmentEncoder &encoder = *opened;

    ASSERT_TRUE(encoder.addPicture(picture(Qt::green), 0));
    // Nothing changes on screen: the held picture goes out with the flush.
    ASSERT_TRUE(encoder.flush(2'500'000'000));
    const QString cut = out.filePath("cortado.mp4");
    ASSERT_TRUE(QFile::copy(settings.path, cut));
    EXPECT_EQ(videoTimes(cut), std::vector<double>({0.0}));
    EXPECT_NEAR(MediaAsset::open(cut).duration()->seconds(), 2.5, 0.02);

    ASSERT_TRUE(encoder.addPicture(picture(Qt::black), 180));
    ASSERT_TRUE(encoder.finish(4'000'000'000));
    // The picture again from the flush on, then the change at its own time.
    const std::vector<double> times = videoTimes(settings.path);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_NEAR(times[1], 2.5, 0.001);
    EXPECT_NEAR(times[2], 3.0, 0.001) << "the change is not pulled back to the flush";
    EXPECT_NEAR(MediaAsset::open(settings.path).duration()->seconds(), 4.0, 0.02);
}
