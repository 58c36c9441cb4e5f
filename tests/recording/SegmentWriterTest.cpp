// The live segment writer over fake frame and audio sources: what reaches
// the file, and how the sources' failures reach the recorder. The encoding
// and the files are real.
#include "recording/SegmentWriter.h"
#include "AudioChecks.h"
#include "platform/NullPlatform.h"
#include "platform/media/FrameExtractor.h"
#include "platform/media/MediaAsset.h"
#include "recording/ScreenRecorder.h"
#include "recording/SegmentJoin.h"
#include "support/AwaitTask.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace {

int64_t steadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the fake frame streams do, shared with the test.
struct FrameScript {
    QColor colour = QColor(20, 200, 60);
    // After this many reads: the display goes away (or the read fails).
    int readsBeforeLoss = -1;
    bool lossIsReadFailure = false;
    std::optional<PlatformError> openFailure;
    // Reads (counted from 1) that found the screen drawn to meanwhile; they
    // show magenta.
    std::set<int> mixedReads;

    std::mutex mutex;
    std::vector<FrameArea> opened;
    std::vector<std::vector<NativeWindowId>> excludedPerRead;
    std::atomic<int> reads {0};
};

// A screen that changes all the time, until the script says it is gone.
class FakeFrameStream : public FrameStream {
public:
    FakeFrameStream(FrameScript &script, FrameArea area)
        : m_script(script)
        , m_area(std::move(area))
    {
    }

    Change waitForChange(std::chrono::milliseconds timeout) override
    {
        std::unique_lock lock(m_mutex);
        if (m_interrupted)
            return Change::interrupted;
        if (!m_script.lossIsReadFailure && lost())
            return Change::displayLost;
        // Some time passes between changes, as on a real screen.
        m_wake.wait_for(lock, std::min(timeout, std::chrono::milliseconds(5)), [this] { return m_interrupted; });
        return m_interrupted ? Change::interrupted : Change::changed;
    }

    void interrupt() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_interrupted = true;
        }
        m_wake.notify_all();
    }

    PlatformError lossReason() const override { return {QStringLiteral("A tela gravada foi desligada.")}; }

    Result<CapturedFrame, PlatformError> readFrame(const std::vector<NativeWindowId> &excludedWindows) override
    {
        {
            std::lock_guard lock(m_script.mutex);
            m_script.excludedPerRead.push_back(excludedWindows);
        }
        if (m_script.lossIsReadFailure && lost())
            return Result<CapturedFrame, PlatformError>::failure({QStringLiteral("A conexão com a tela caiu.")});
        const bool mixed = m_script.mixedReads.count(++m_script.reads) > 0;
        QImage image(m_area.pixels.size(), QImage::Format_RGB32);
        image.fill(mixed ? QColor(250, 0, 250) : m_script.colour);
        return CapturedFrame {image, steadyNow(), mixed};
    }

private:
    bool lost() const { return m_script.readsBeforeLoss >= 0 && m_script.reads >= m_script.readsBeforeLoss; }

    FrameScript &m_script;
    FrameArea m_area;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_interrupted = false;
};

class FakeFrameSource : public FrameSource {
public:
    FrameScript script;

    Result<std::unique_ptr<FrameStream>, PlatformError> open(const FrameArea &area) override
    {
        {
            std::lock_guard lock(script.mutex);
            script.opened.push_back(area);
        }
        if (script.openFailure)
            return Result<std::unique_ptr<FrameStream>, PlatformError>::failure(*script.openFailure);
        return Result<std::unique_ptr<FrameStream>, PlatformError>(std::make_unique<FakeFrameStream>(script, area));
    }
};

// A sound source playing a tone (whole periods in every 20 ms chunk) on its
// own thread; it can go away after some chunks, as a sound server that dies.
class FakeAudioStream : public AudioStream {
public:
    FakeAudioStream(int rate, int channels, double frequency, bool usesDefaultInstead, int chunksBeforeFailure,
        AudioSource::OnChunk onChunk, AudioSource::OnFailure onFailure)
        : m_usesDefaultInstead(usesDefaultInstead)
    {
        m_thread = std::thread([=, this] {
            const int64_t frames = rate / 50;
            std::vector<float> samples(size_t(frames * channels));
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = 0.5f * float(std::sin(2 * M_PI * frequency * double(i / size_t(channels)) / rate));
            for (int chunk = 0; !m_stop; ++chunk) {
                if (chunk == chunksBeforeFailure) {
                    onFailure({QStringLiteral("a conexão com o servidor de som caiu")});
                    return;
                }
                onChunk(AudioChunk {samples.data(), frames, steadyNow() - 20'000'000});
                std::this_thread::sleep_for(20ms);
            }
        });
    }
    ~FakeAudioStream() override
    {
        m_stop = true;
        m_thread.join();
    }
    bool usesDefaultInstead() const override { return m_usesDefaultInstead; }

private:
    bool m_usesDefaultInstead;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

class FakeAudioSource : public AudioSource {
public:
    std::map<SoundSource, PlatformError> refused;
    int chunksBeforeFailure = -1;
    std::vector<SoundSource> opened;
    std::vector<QString> devices; // asked for with each microphone
    // Inputs the server does not have: asking for one gives the default.
    std::vector<QString> absent;

    // System audio plays 450 Hz, the microphone 850 Hz (whole periods in a chunk).
    Result<std::unique_ptr<AudioStream>, PlatformError> open(SoundSource source, const QString &device, int sampleRate,
        int channels, OnChunk onChunk, OnFailure onFailure) override
    {
        opened.push_back(source);
        if (source == SoundSource::microphone)
            devices.push_back(device);
        if (auto found = refused.find(source); found != refused.end())
            return Result<std::unique_ptr<AudioStream>, PlatformError>::failure(found->second);
        const bool fallsBack = std::find(absent.begin(), absent.end(), device) != absent.end();
        return Result<std::unique_ptr<AudioStream>, PlatformError>(
            std::make_unique<FakeAudioStream>(sampleRate, channels, source == SoundSource::systemAudio ? 450.0 : 850.0,
                fallsBack, chunksBeforeFailure, std::move(onChunk), std::move(onFailure)));
    }
};

// What a segment's stream reported, gathered from its threads.
struct Reports {
    std::mutex mutex;
    bool finished = false;
    std::optional<PlatformError> failed;
    std::optional<PlatformError> stopped;
    std::vector<AudioLoss> lost;

    SegmentNotices notices()
    {
        SegmentNotices notices;
        notices.finished = [this] {
            std::lock_guard lock(mutex);
            finished = true;
        };
        notices.failed = [this](PlatformError error) {
            std::lock_guard lock(mutex);
            failed = error;
        };
        notices.stopped = [this](PlatformError error) {
            std::lock_guard lock(mutex);
            stopped = error;
        };
        notices.audioLost = [this](AudioLoss loss) {
            std::lock_guard lock(mutex);
            lost.push_back(loss);
        };
        return notices;
    }

    bool waitUntil(const std::function<bool()> &condition)
    {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard lock(mutex);
                if (condition())
                    return true;
            }
            QTest::qWait(10);
        }
        return false;
    }
};

size_t trackCount(const QString &path, MediaType type)
{
    const auto tracks = MediaAsset::open(path).tracks(type);
    return tracks ? tracks->size() : 0;
}

class SegmentWriterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(out.isValid()); }

    SegmentSettings settings(bool systemAudio = false, bool microphone = false)
    {
        SegmentSettings settings;
        settings.path = out.filePath(QStringLiteral("trecho-0.mp4"));
        settings.display = 7;
        settings.pixels = QRect(40, 30, 160, 120);
        settings.excludedWindows = {11, 12};
        settings.showsCursor = false;
        settings.capturesSystemAudio = systemAudio;
        settings.capturesMicrophone = microphone;
        return settings;
    }

    // Starts, records for MS milliseconds of the event loop, stops, and
    // waits for the file to be finished.
    void record(SegmentWriter &writer, int ms)
    {
        auto started = awaitTask(writer.startCapture());
        ASSERT_TRUE(started) << started.error().description.toStdString();
        QTest::qWait(ms);
        ASSERT_TRUE(awaitTask(writer.stopCapture()));
        ASSERT_TRUE(reports.waitUntil([this] { return reports.finished || reports.failed; }));
    }

    QTemporaryDir out;
    FakeFrameSource frames;
    FakeAudioSource audio;
    Reports reports;
};

} // namespace

TEST_F(SegmentWriterTest, PicturesAndSoundOfTheSourcesEndUpInTheFile)
{
    SegmentWriter writer(settings(true, true), reports.notices(), frames, audio);
    record(writer, 700);
    EXPECT_FALSE(reports.failed);
    EXPECT_FALSE(reports.stopped);
    ASSERT_EQ(frames.script.opened.size(), 1u);
    EXPECT_EQ(frames.script.opened[0], (FrameArea {7, QRect(40, 30, 160, 120), false}));
    EXPECT_EQ(audio.opened, (std::vector<SoundSource> {SoundSource::systemAudio, SoundSource::microphone}));

    const QString path = out.filePath(QStringLiteral("trecho-0.mp4"));
    EXPECT_EQ(trackCount(path, MediaType::video), 1u);
    EXPECT_EQ(trackCount(path, MediaType::audio), 3u);
    const auto duration = MediaAsset::open(path).duration();
    ASSERT_TRUE(duration);
    EXPECT_NEAR(duration->seconds(), 0.7, 0.25);
    // Every picture read was encoded (the queue is deep enough for 160 x 120).
    EXPECT_GT(writer.statistics().encoded, 10);
    EXPECT_EQ(writer.statistics().encoded + writer.statistics().dropped, writer.statistics().captured);

    auto extractor = FrameExtractor::open(path);
    ASSERT_TRUE(extractor);
    EXPECT_EQ(extractor->naturalSize(), QSize(160, 120));
    auto first = extractor->firstFrame();
    ASSERT_TRUE(first);
    const QColor centre = first->pixelColor(80, 60);
    EXPECT_NEAR(centre.red(), 20, 16);
    EXPECT_NEAR(centre.green(), 200, 16);
    EXPECT_NEAR(centre.blue(), 60, 16);
}

TEST_F(SegmentWriterTest, BothSourcesGiveTheirMixFirstThenEachOnItsOwn)
{
    SegmentWriter writer(settings(true, true), reports.notices(), frames, audio);
    record(writer, 1200);
    ASSERT_TRUE(reports.finished);
    const QString path = settings().path;
    const auto tracks = MediaAsset::open(path).tracks(MediaType::audio);
    ASSERT_TRUE(tracks);
    ASSERT_EQ(tracks->size(), 3u);
    EXPECT_EQ((*tracks)[0].title, QStringLiteral("Sistema + microfone"));
    EXPECT_EQ((*tracks)[1].title, QStringLiteral("Sistema"));
    EXPECT_EQ((*tracks)[2].title, QStringLiteral("Microfone"));
    EXPECT_TRUE((*tracks)[0].isDefault);
    EXPECT_FALSE((*tracks)[1].isDefault);
    EXPECT_FALSE((*tracks)[2].isDefault);

    // What an independent decoder hears in each, past the first chunks. A
    // loaded machine may leave gaps (silence) in the fake's sound: the tone
    // of 0.5 is asked for at half its level.
    const std::vector<float> mix = AudioChecks::decode(path, 0, 0.3, 0.6);
    const std::vector<float> system = AudioChecks::decode(path, 1, 0.3, 0.6);
    const std::vector<float> microphone = AudioChecks::decode(path, 2, 0.3, 0.6);
    ASSERT_GT(mix.size(), 20000u);
    EXPECT_GT(AudioChecks::toneAmplitude(mix, 450), 0.15);
    EXPECT_GT(AudioChecks::toneAmplitude(mix, 850), 0.15);
    EXPECT_GT(AudioChecks::toneAmplitude(system, 450), 0.15);
    EXPECT_LT(AudioChecks::toneAmplitude(system, 850), 0.03);
    EXPECT_LT(AudioChecks::toneAmplitude(microphone, 450), 0.03);
    EXPECT_GT(AudioChecks::toneAmplitude(microphone, 850), 0.15);

    // All three end together, with the picture.
    const MediaAsset asset = MediaAsset::open(path);
    const auto video = asset.tracks(MediaType::video);
    ASSERT_TRUE(video && video->size() == 1);
    const auto picture = asset.timeRange(video->front());
    ASSERT_TRUE(picture);
    for (const MediaTrack &track : *tracks) {
        const auto range = asset.timeRange(track);
        ASSERT_TRUE(range);
        EXPECT_NEAR(range->end().seconds(), picture->end().seconds(), 0.03) << track.title.toStdString();
    }
}

TEST_F(SegmentWriterTest, AJoinKeepsTheThreeSoundTracksInStepWithTheirNames)
{
    std::vector<SegmentPair> pairs;
    for (int i = 0; i < 2; ++i) {
        Reports segmentReports;
        SegmentSettings segment = settings(true, true);
        segment.path = out.filePath(QStringLiteral("trecho-%1.mp4").arg(i));
        segment.keepsMissingAudioAsSilence = i > 0;
        SegmentWriter writer(segment, segmentReports.notices(), frames, audio);
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(awaitTask(writer.startCapture()));
        QTest::qWait(700);
        ASSERT_TRUE(awaitTask(writer.stopCapture()));
        const double measured = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ASSERT_TRUE(segmentReports.waitUntil([&] { return segmentReports.finished; }));
        pairs.push_back({segment.path, measured});
    }
    const QString joined = out.filePath(QStringLiteral("Gravação.mp4"));
    auto result = SegmentJoin::join(pairs, joined);
    ASSERT_TRUE(result) << result.error().description().toStdString();

    const MediaAsset asset = MediaAsset::open(joined);
    const auto tracks = asset.tracks(MediaType::audio);
    ASSERT_TRUE(tracks);
    ASSERT_EQ(tracks->size(), 3u);
    EXPECT_EQ((*tracks)[0].title, QStringLiteral("Sistema + microfone"));
    EXPECT_EQ((*tracks)[1].title, QStringLiteral("Sistema"));
    EXPECT_EQ((*tracks)[2].title, QStringLiteral("Microfone"));
    EXPECT_TRUE((*tracks)[0].isDefault);
    EXPECT_FALSE((*tracks)[1].isDefault);
    EXPECT_FALSE((*tracks)[2].isDefault);
    const auto video = asset.tracks(MediaType::video);
    ASSERT_TRUE(video && video->size() == 1);
    const auto picture = asset.timeRange(video->front());
    ASSERT_TRUE(picture);
    for (const MediaTrack &track : *tracks) {
        const auto range = asset.timeRange(track);
        ASSERT_TRUE(range);
        EXPECT_NEAR(range->end().seconds(), picture->end().seconds(), 0.05) << track.title.toStdString();
    }
    // The second segment's stretch: both tones in the mix, each in its own track.
    const double second = pairs[0].measured + 0.2;
    const std::vector<float> mix = AudioChecks::decode(joined, 0, second, 0.4);
    ASSERT_GT(mix.size(), 10000u);
    EXPECT_GT(AudioChecks::toneAmplitude(mix, 450), 0.15);
    EXPECT_GT(AudioChecks::toneAmplitude(mix, 850), 0.15);
    EXPECT_LT(AudioChecks::toneAmplitude(AudioChecks::decode(joined, 1, second, 0.4), 850), 0.03);
    EXPECT_LT(AudioChecks::toneAmplitude(AudioChecks::decode(joined, 2, second, 0.4), 450), 0.03);
}

TEST_F(SegmentWriterTest, AChosenMicrophoneIsAskedForAndItsAbsenceIsReported)
{
    SegmentSettings segment = settings(false, true);
    segment.microphoneDevice = QStringLiteral("alsa_input.usb-headset");
    {
        SegmentWriter writer(segment, reports.notices(), frames, audio);
        record(writer, 200);
        EXPECT_FALSE(writer.usesDefaultMicrophone());
        EXPECT_EQ(trackCount(segment.path, MediaType::audio), 1u) << "one source, one track";
    }
    audio.absent = {segment.microphoneDevice};
    Reports second;
    segment.path = out.filePath(QStringLiteral("trecho-1.mp4"));
    SegmentWriter writer(segment, second.notices(), frames, audio);
    ASSERT_TRUE(awaitTask(writer.startCapture()));
    EXPECT_TRUE(writer.usesDefaultMicrophone());
    ASSERT_TRUE(awaitTask(writer.stopCapture()));
    ASSERT_TRUE(second.waitUntil([&] { return second.finished; }));
    EXPECT_EQ(audio.devices, (std::vector<QString> {segment.microphoneDevice, segment.microphoneDevice}));
}

TEST_F(SegmentWriterTest, APictureDrawnToWhileReadIsReadAgainOnceOnly)
{
    // The first read is mixed and read again; of two mixed reads in a row the
    // second is kept, so that a screen that never settles is still recorded.
    frames.script.mixedReads = {1, 3, 4};
    SegmentWriter writer(settings(), reports.notices(), frames, audio);
    record(writer, 300);
    ASSERT_FALSE(reports.failed);
    ASSERT_GT(frames.script.reads, 5);
    EXPECT_EQ(writer.statistics().captured, frames.script.reads - 2);

    auto extractor = FrameExtractor::open(out.filePath(QStringLiteral("trecho-0.mp4")));
    ASSERT_TRUE(extractor);
    auto first = extractor->firstFrame();
    ASSERT_TRUE(first);
    EXPECT_NEAR(first->pixelColor(80, 60).green(), 200, 16) << "the mixed first read was kept";
}

TEST_F(SegmentWriterTest, EveryReadLeavesOutTheWindowsLastGiven)
{
    SegmentWriter writer(settings(), reports.notices(), frames, audio);
    auto started = awaitTask(writer.startCapture());
    ASSERT_TRUE(started);
    QTest::qWait(150);
    writer.setExcludedWindows({99});
    const int readsBefore = frames.script.reads;
    QTest::qWait(150);
    ASSERT_TRUE(awaitTask(writer.stopCapture()));
    std::lock_guard lock(frames.script.mutex);
    const auto &reads = frames.script.excludedPerRead;
    ASSERT_GT(int(reads.size()), readsBefore + 1);
    EXPECT_EQ(reads.front(), (std::vector<NativeWindowId> {11, 12}));
    EXPECT_EQ(reads.back(), (std::vector<NativeWindowId> {99}));
}

TEST_F(SegmentWriterTest, AFrameSourceThatCannotOpenFailsTheStartWithItsOwnText)
{
    frames.script.openFailure = PlatformError {QStringLiteral("O servidor X recusou o redirecionamento das janelas.")};
    SegmentWriter writer(settings(true, false), reports.notices(), frames, audio);
    auto started = awaitTask(writer.startCapture());
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().description, QStringLiteral("O servidor X recusou o redirecionamento das janelas."));
    EXPECT_TRUE(audio.opened.empty()) << "no sound is recorded for a picture that never comes";
    EXPECT_FALSE(QFileInfo::exists(out.filePath(QStringLiteral("trecho-0.mp4"))));
}

TEST_F(SegmentWriterTest, TheDisplayGoingAwayStopsTheSegmentAndKeepsWhatItGot)
{
    for (const bool readFails : {false, true}) {
        SCOPED_TRACE(readFails ? "the read fails" : "the display is lost");
        Reports reports;
        FakeFrameSource frames;
        frames.script.readsBeforeLoss = 15;
        frames.script.lossIsReadFailure = readFails;
        SegmentSettings segment = settings();
        segment.path = out.filePath(readFails ? QStringLiteral("falha.mp4") : QStringLiteral("perdida.mp4"));
        SegmentWriter writer(segment, reports.notices(), frames, audio);
        ASSERT_TRUE(awaitTask(writer.startCapture()));
        ASSERT_TRUE(reports.waitUntil([&] { return reports.stopped.has_value(); }));
        EXPECT_EQ(reports.stopped->description,
            readFails ? QStringLiteral("A conexão com a tela caiu.") : QStringLiteral("A tela gravada foi desligada."));
        ASSERT_TRUE(awaitTask(writer.stopCapture()));
        ASSERT_TRUE(reports.waitUntil([&] { return reports.finished || reports.failed; }));
        EXPECT_TRUE(reports.finished);
        EXPECT_EQ(writer.statistics().captured, 15);
        EXPECT_EQ(trackCount(segment.path, MediaType::video), 1u);
    }
}

TEST_F(SegmentWriterTest, ASoundSourceThatCannotOpenIsLeftOutOrKeptSilent)
{
    const PlatformError noMicrophone {QStringLiteral("Não foi possível gravar o áudio: nenhum microfone encontrado")};
    audio.refused = {{SoundSource::microphone, noMicrophone}};
    {
        // The first segment settles the tracks: the microphone's is left out.
        SegmentWriter writer(settings(true, true), reports.notices(), frames, audio);
        record(writer, 300);
        EXPECT_EQ(writer.droppedAudio(), (std::vector<AudioLoss> {{SoundSource::microphone, noMicrophone}}));
        EXPECT_TRUE(reports.lost.empty());
        EXPECT_EQ(trackCount(settings().path, MediaType::audio), 1u);
    }
    {
        // A later one keeps the track, silent, and says so.
        Reports later;
        SegmentSettings segment = settings(true, true);
        segment.path = out.filePath(QStringLiteral("trecho-1.mp4"));
        segment.keepsMissingAudioAsSilence = true;
        SegmentWriter writer(segment, later.notices(), frames, audio);
        ASSERT_TRUE(awaitTask(writer.startCapture()));
        QTest::qWait(300);
        ASSERT_TRUE(awaitTask(writer.stopCapture()));
        ASSERT_TRUE(later.waitUntil([&] { return later.finished; }));
        EXPECT_TRUE(writer.droppedAudio().empty());
        EXPECT_EQ(later.lost, (std::vector<AudioLoss> {{SoundSource::microphone, noMicrophone}}));
        // The mix of system audio and the silent microphone, then each.
        EXPECT_EQ(trackCount(segment.path, MediaType::audio), 3u);
    }
}

TEST_F(SegmentWriterTest, ASoundSourceThatDiesIsReportedAndThePictureGoesOn)
{
    audio.chunksBeforeFailure = 5;
    SegmentWriter writer(settings(true, false), reports.notices(), frames, audio);
    record(writer, 600);
    EXPECT_FALSE(reports.stopped);
    ASSERT_EQ(reports.lost.size(), 1u);
    EXPECT_EQ(reports.lost[0].source, SoundSource::systemAudio);
    EXPECT_EQ(reports.lost[0].reason.description, QStringLiteral("a conexão com o servidor de som caiu"));
    const QString path = settings().path;
    EXPECT_EQ(trackCount(path, MediaType::audio), 1u);
    const auto duration = MediaAsset::open(path).duration();
    ASSERT_TRUE(duration);
    EXPECT_GT(duration->seconds(), 0.45) << "the picture went on after the sound stopped";
}

// The recorder over the null platform: its start fails with the frame
// source's text and leaves no segment behind.
TEST_F(SegmentWriterTest, TheNullPlatformsErrorReachesTheRecorder)
{
    class OneScreen : public NullScreenSource {
    public:
        std::vector<DisplayInfo> displays() const override
        {
            DisplayInfo display;
            display.id = 7;
            display.frame = display.pixelGeometry = QRect(0, 0, 640, 480);
            return {display};
        }
    };
    OneScreen screens;
    NullFrameSource nullFrames;
    NullAudioSource nullAudio;
    LiveSegmentCapture service(nullFrames, nullAudio);
    ScreenRecorder recorder(screens, service);
    auto started
        = awaitTask(recorder.start({7, std::nullopt}, out.filePath(QStringLiteral("Gravação.mp4")), {true, true}));
    ASSERT_FALSE(started);
    EXPECT_EQ(
        started.error().description(), QStringLiteral("Nenhuma tela que o Velunta consiga gravar está disponível."));
    EXPECT_TRUE(recorder.segments().isEmpty());
    EXPECT_FALSE(awaitTask(recorder.stop()));
    EXPECT_TRUE(QDir(out.path()).isEmpty());
}
