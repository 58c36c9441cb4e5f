// System audio from the test desktop's sound server, whose null sink a
// low-latency reader paces like hardware (a fragment every 20 ms): sound is
// handed over in a few batches a second, its times still fit its sample
// count, and the newest sample of a batch is about as old as the batch.
#include "platform/audio/PulseAudioCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int rate = 48000;

int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Arrival {
    int64_t calledAt = 0;
    int64_t capturedAt = 0;
    int64_t frames = 0;
};

TEST(PulseAudioCapture, SoundComesInBatchesWhoseTimesFitTheirSamples)
{
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr)
        GTEST_SKIP() << "needs the test desktop's sound server";
    std::mutex lock;
    std::vector<Arrival> arrivals;
    auto capture = PulseAudioCapture::open(
        {PulseAudioCapture::Source::systemAudio}, {}, rate, 2,
        [&](const PulseAudioCapture::Chunk &chunk) {
            std::lock_guard held(lock);
            arrivals.push_back({steadyNanoseconds(), chunk.captureNanoseconds, chunk.frames});
        },
        [](PlatformError) {});
    ASSERT_TRUE(capture) << qPrintable(capture.error().description);
    std::this_thread::sleep_for(3s);
    capture->reset();
    std::vector<Arrival> got;
    {
        std::lock_guard held(lock);
        got = arrivals;
    }
    // Nothing after the capture is gone.
    std::this_thread::sleep_for(300ms);
    {
        std::lock_guard held(lock);
        EXPECT_EQ(arrivals.size(), got.size());
    }
    ASSERT_FALSE(got.empty());

    // Chunks taken together arrive within a millisecond or so of each other.
    int batches = 0;
    int64_t frames = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        if (i == 0 || got[i].calledAt - got[i - 1].calledAt > 5'000'000)
            ++batches;
        frames += got[i].frames;
    }
    // Three seconds of sound, not 150 hand-overs of 20 ms.
    EXPECT_GT(frames, rate * 2);
    EXPECT_LE(batches, 25);

    int64_t position = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        const Arrival &arrival = got[i];
        // Continuous: where the samples before it put this chunk.
        const int64_t expected = got.front().capturedAt + position * 1'000'000'000 / rate;
        EXPECT_LT(std::llabs(arrival.capturedAt - expected), 40'000'000);
        // Never from the future, and the newest sample of a batch is fresh:
        // waiting for the batch does not age its times.
        const int64_t lastSample = arrival.capturedAt + arrival.frames * 1'000'000'000 / rate;
        EXPECT_LE(lastSample, arrival.calledAt + 1'000'000);
        const bool endsBatch = i + 1 == got.size() || got[i + 1].calledAt - arrival.calledAt > 5'000'000;
        if (endsBatch) {
            EXPECT_GT(lastSample, arrival.calledAt - 60'000'000);
        }
        position += arrival.frames;
    }
}

} // namespace
