// The sum of system audio and microphone that becomes a recording's first
// audio track: plain sums while quiet, never past full scale when loud, and
// exactly as long as its sources.
#include "recording/AudioMix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int rate = 48000;

std::vector<float> tone(double frequency, float amplitude, int64_t frames, int channels = 2)
{
    std::vector<float> samples(size_t(frames * channels));
    for (int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[size_t(i * channels + c)]
                = amplitude * float(std::sin(2 * std::numbers::pi * frequency * double(i) / rate));
    return samples;
}

float peak(const std::vector<float> &samples)
{
    float loudest = 0;
    for (const float s : samples)
        loudest = std::max(loudest, std::fabs(s));
    return loudest;
}

} // namespace

TEST(AudioMix, QuietSourcesAreSummedSampleForSample)
{
    AudioMix mix(2, 2, rate);
    const std::vector<float> a = tone(440, 0.25f, 4800);
    const std::vector<float> b = tone(880, 0.25f, 4800);
    mix.add(0, 0, a.data(), 4800);
    mix.add(1, 0, b.data(), 4800);
    std::vector<float> out;
    ASSERT_EQ(mix.take(out), 4800);
    ASSERT_EQ(out.size(), a.size());
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_FLOAT_EQ(out[i], a[i] + b[i]) << "sample " << i;
    EXPECT_FLOAT_EQ(mix.gain(), 1.0f);
}

TEST(AudioMix, LoudSourcesNeverPassTheCeilingAndTheGainComesBack)
{
    AudioMix mix(2, 2, rate);
    // Full scale in phase on both: a plain sum would reach 2.
    const std::vector<float> loud = tone(440, 1.0f, rate);
    mix.add(0, 0, loud.data(), rate);
    mix.add(1, 0, loud.data(), rate);
    std::vector<float> out;
    ASSERT_EQ(mix.take(out), rate);
    EXPECT_LE(peak(out), AudioMix::ceiling);
    EXPECT_GT(peak(out), 0.9f) << "the limiter only lowers what would clip";
    EXPECT_LT(mix.gain(), 0.6f);

    // A single spike, and NaN from a broken source.
    std::vector<float> spike(200, 0.1f);
    spike[50] = 40.0f;
    spike[51] = std::nanf("");
    mix.add(0, rate, spike.data(), 100);
    mix.add(1, rate, spike.data(), 100);
    out.clear();
    ASSERT_EQ(mix.take(out), 100);
    EXPECT_LE(peak(out), AudioMix::ceiling);
    for (const float s : out)
        ASSERT_TRUE(std::isfinite(s));

    // After two seconds of quiet the sum is plain again.
    const std::vector<float> quiet = tone(440, 0.1f, 2 * rate);
    mix.add(0, rate + 100, quiet.data(), 2 * rate);
    mix.add(1, rate + 100, quiet.data(), 2 * rate);
    out.clear();
    ASSERT_EQ(mix.take(out), 2 * rate);
    EXPECT_NEAR(mix.gain(), 1.0f, 0.001f);
    EXPECT_NEAR(peak({out.end() - 4800, out.end()}), 0.2f, 0.002f);
}

TEST(AudioMix, TheMixFollowsTheSourceThatIsBehindAndEndsWithBoth)
{
    AudioMix mix(2, 2, rate);
    const std::vector<float> a = tone(440, 0.3f, 1000);
    std::vector<float> out;
    mix.add(0, 0, a.data(), 1000);
    EXPECT_EQ(mix.take(out), 0) << "nothing from the microphone yet";
    mix.add(1, 0, a.data(), 400);
    EXPECT_EQ(mix.take(out), 400);
    // A gap in the second source is silence; its samples land where they belong.
    mix.add(1, 600, a.data(), 400);
    EXPECT_EQ(mix.take(out), 600);
    EXPECT_EQ(mix.position(), 1000);
    EXPECT_EQ(out.size(), 2000u);
    EXPECT_FLOAT_EQ(out[2 * 500], a[2 * 500]) << "only the first source in the gap";
    EXPECT_FLOAT_EQ(out[2 * 700], a[2 * 700] + a[2 * 100]);

    // Silence given as null, and the end levelled for both.
    mix.add(0, 1000, nullptr, 300);
    mix.fillTo(1500);
    EXPECT_EQ(mix.take(out), 500);
    EXPECT_EQ(mix.inputEnd(0), 1500);
    EXPECT_EQ(mix.inputEnd(1), 1500);
    EXPECT_EQ(out.size(), 3000u);
    EXPECT_FLOAT_EQ(peak({out.begin() + 2000, out.end()}), 0.0f);
}

TEST(AudioMix, SamplesAlreadyFilledAsSilenceAreLeftOut)
{
    AudioMix mix(2, 1, rate);
    std::vector<float> out;
    mix.fillTo(100);
    EXPECT_EQ(mix.take(out), 100);
    const std::vector<float> late(150, 0.5f);
    mix.add(0, 50, late.data(), 150); // the first 50 were given up as silence
    mix.add(1, 0, nullptr, 200);
    EXPECT_EQ(mix.take(out), 100);
    EXPECT_EQ(mix.inputEnd(0), 200);
    EXPECT_EQ(out.size(), 200u);
    EXPECT_FLOAT_EQ(out[150], 0.5f);
    mix.add(0, 0, late.data(), 100); // wholly in the past: nothing changes
    EXPECT_EQ(mix.inputEnd(0), 200);
    EXPECT_EQ(mix.take(out), 0);
}
