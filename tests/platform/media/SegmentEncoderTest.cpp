// The segment encoder's sound track: silence that stands in for a source that
// went away is encoded as it is handed over, and lasts exactly as asked.
#include "platform/media/SegmentEncoder.h"
#include "platform/media/MediaAsset.h"

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

} // namespace

TEST(SegmentEncoderSound, MinutesOfSilenceAfterTheSoundAreEncodedAsTheyComeAndLastToTheEnd)
{
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    SegmentEncoder::Settings settings;
    settings.path = out.filePath("trecho-0.mp4");
    settings.size = QSize(64, 48);
    settings.audioTracks = {{48000, 2}};
    auto opened = SegmentEncoder::open(settings);
    ASSERT_TRUE(opened) << opened.error().description.toStdString();
    SegmentEncoder &encoder = **opened;

    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    auto picture = SegmentEncoder::Picture::fromImage(image);
    ASSERT_TRUE(picture);
    ASSERT_TRUE(encoder.addPicture(std::move(*picture), 0));
    std::vector<float> tone(2 * 24000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * float(std::sin(double(i / 2) * 2 * M_PI * 440 / 48000));
    ASSERT_TRUE(encoder.addAudio(0, tone.data(), 24000));

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
