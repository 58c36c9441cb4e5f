// The recorder's rules with a fake segment service that writes small real
// MP4 files: segment names and folder, pause and resume, failures, the
// finish wait, unexpected stops and the delivery of the final file.
#include "recording/ScreenRecorder.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/SyntheticVideo.h"
#include "recording/SegmentFolder.h"
#include "recording/SegmentWriter.h"
#include "support/AwaitTask.h"
#include "support/FakeScreenSource.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

DisplayInfo display(DisplayId id, QSize points, double scale)
{
    DisplayInfo info;
    info.id = id;
    info.name = QStringLiteral("D%1").arg(id);
    info.frame = QRect(QPoint(0, 0), points);
    info.pixelGeometry = QRect(QPoint(0, 0), points * scale);
    info.scale = scale;
    return info;
}

struct FakeService;

// Writes a synthetic segment when stopped; the picture size can differ per
// segment so that a join has to fail.
class FakeStream : public SegmentStream {
public:
    FakeStream(FakeService &service, SegmentSettings settings, SegmentNotices notices)
        : m_service(service)
        , m_settings(std::move(settings))
        , m_notices(std::move(notices))
    {
    }
    QCoro::Task<Result<Done, PlatformError>> startCapture() override;
    QCoro::Task<Result<Done, PlatformError>> stopCapture() override;
    void setExcludedWindows(std::vector<NativeWindowId>) override { }
    std::vector<AudioLoss> droppedAudio() const override;

    FakeService &m_service;
    SegmentSettings m_settings;
    SegmentNotices m_notices;
};

struct FakeService : SegmentCaptureService {
    std::vector<SegmentSettings> made;
    int starts = 0;
    int stops = 0;
    std::vector<bool> startFails; // by start attempt
    bool reportsFinish = true;
    int width = 320; // of the next segment written
    std::vector<AudioLoss> dropped; // by every stream that starts
    SegmentNotices lastNotices;

    Result<std::unique_ptr<SegmentStream>, PlatformError> makeStream(
        SegmentSettings settings, SegmentNotices notices) override
    {
        made.push_back(settings);
        lastNotices = notices;
        auto stream = std::make_unique<FakeStream>(*this, std::move(settings), std::move(notices));
        return Result<std::unique_ptr<SegmentStream>, PlatformError>(std::move(stream));
    }
};

QCoro::Task<Result<Done, PlatformError>> FakeStream::startCapture()
{
    const int attempt = m_service.starts++;
    co_await QCoro::sleepFor(1ms);
    if (size_t(attempt) < m_service.startFails.size() && m_service.startFails[size_t(attempt)])
        co_return Result<Done, PlatformError>::failure({QStringLiteral("start refused")});
    co_return Done {};
}

std::vector<AudioLoss> FakeStream::droppedAudio() const
{
    return m_service.dropped;
}

QCoro::Task<Result<Done, PlatformError>> FakeStream::stopCapture()
{
    ++m_service.stops;
    SyntheticVideo::Options options;
    options.videoSeconds = 0.5;
    options.width = m_service.width;
    options.height = 180;
    options.audioTracks = {0.5};
    EXPECT_TRUE(SyntheticVideo::write(m_settings.path, options));
    if (m_service.reportsFinish)
        m_notices.finished();
    co_return Done {};
}

class ScreenRecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(out.isValid());
        ASSERT_TRUE(cache.isValid());
        m_cacheBefore = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
        screens.list = {display(7, QSize(1000, 800), 1.0)};
    }
    void TearDown() override { qputenv("XDG_CACHE_HOME", m_cacheBefore); }

    QString finalPath() const { return out.filePath(QStringLiteral("Gravação.mp4")); }
    QString cacheRoot() const { return cache.filePath(QStringLiteral("Velunta")); }

    QTemporaryDir out;
    QTemporaryDir cache;
    QByteArray m_cacheBefore;
    // Screens that cannot be grabbed: these tests never look at pixels.
    FakeScreenSource screens {PlatformError {QStringLiteral("no grabs here")}};
    FakeService service;
};

} // namespace

TEST(ScreenRecorderGeometry, EvenPixelSizesAndTheirSourceRectangle)
{
    ResolvedCapture resolved;
    resolved.display = display(1, QSize(1512, 982), 2.0);
    resolved.display.pixelGeometry.moveTo(1920, 0);
    resolved.scale = 2.0;
    auto geometry = ScreenRecorder::segmentGeometry(resolved, {1, QRectF(10, 20, 1001, 601)});
    EXPECT_EQ(geometry.pixels, QRect(1920 + 20, 40, 2002, 1202));
    EXPECT_FALSE(geometry.usesHevc);

    resolved.scale = 1.0;
    resolved.display.pixelGeometry = QRect(0, 0, 1512, 982);
    geometry = ScreenRecorder::segmentGeometry(resolved, {1, QRectF(100, 100, 401, 301)});
    EXPECT_EQ(geometry.pixels, QRect(100, 100, 400, 300));
    EXPECT_EQ(geometry.sourceRect, QRectF(100, 100, 400, 300));
    geometry = ScreenRecorder::segmentGeometry(resolved, {1, QRectF(0, 0, 1001, 601)});
    EXPECT_EQ(geometry.pixels.size(), QSize(1000, 600));
    // Tiny areas still record 2 x 2 pixels.
    geometry = ScreenRecorder::segmentGeometry(resolved, {1, QRectF(0, 0, 0.5, 1.5)});
    EXPECT_EQ(geometry.pixels.size(), QSize(2, 2));
}

TEST(ScreenRecorderGeometry, HevcOnlyAbove4096Pixels)
{
    ResolvedCapture resolved;
    resolved.display = display(1, QSize(2560, 1440), 2.0);
    resolved.scale = 2.0;
    EXPECT_TRUE(ScreenRecorder::segmentGeometry(resolved, {1, std::nullopt}).usesHevc);
    resolved.display = display(1, QSize(2048, 1152), 2.0);
    const auto geometry = ScreenRecorder::segmentGeometry(resolved, {1, std::nullopt});
    EXPECT_EQ(geometry.pixels.width(), 4096);
    EXPECT_FALSE(geometry.usesHevc);
}

TEST(AudioPlacementTest, FirstChunkIsPlacedExactlyLaterOnesFollowUnlessTheyDrift)
{
    using AudioPlacement::place;
    using Step = AudioPlacement::Step;
    // 10 ms after the start: 480 samples of silence first.
    EXPECT_EQ(place(0, 10'000'000, 960, 48000, false), (Step {480, 0}));
    // 5 ms before the start: those samples are dropped.
    EXPECT_EQ(place(0, -5'000'000, 960, 48000, false), (Step {0, 240}));
    // Entirely before the start.
    EXPECT_EQ(place(0, -50'000'000, 960, 48000, false), (Step {0, 960}));
    // Jitter within 60 ms keeps the run continuous.
    EXPECT_EQ(place(48000, 1'050'000'000, 960, 48000, true), (Step {}));
    EXPECT_EQ(place(48000, 950'000'000, 960, 48000, true), (Step {}));
    // A gap of 100 ms (lost samples) is filled; 100 ms too many are skipped.
    EXPECT_EQ(place(48000, 1'100'000'000, 960, 48000, true), (Step {4800, 0}));
    EXPECT_EQ(place(48000, 900'000'000, 960, 48000, true), (Step {0, 960}));
}

TEST(AudioHandOffTest, TheWriterIsWokenForABatchOfSoundNotForEveryFragment)
{
    using AudioHandOff::wakesWriter;
    // A 20 ms fragment, or several, wait for the writer's own round.
    EXPECT_FALSE(wakesWriter(0, 48000));
    EXPECT_FALSE(wakesWriter(960, 48000));
    EXPECT_FALSE(wakesWriter(960 * 9, 48000));
    // 200 ms of sound, from one source or two together, wakes it.
    EXPECT_TRUE(wakesWriter(9600, 48000));
    EXPECT_TRUE(wakesWriter(2 * 4800, 48000));
    EXPECT_TRUE(wakesWriter(48000 * 2, 48000)); // a null sink's 2 s burst
    // The threshold is time, not samples.
    EXPECT_FALSE(wakesWriter(9600, 96000));
    EXPECT_TRUE(wakesWriter(19200, 96000));
    // The writer comes by on its own before the threshold is reached.
    EXPECT_LE(AudioHandOff::wakeAfter, AudioHandOff::writerPeriod);
}

TEST_F(ScreenRecorderTest, SegmentsLiveInALockedPrivateCacheFolderAndALoneSegmentIsJoined)
{
    ScreenRecorder recorder(screens, service);
    ASSERT_TRUE(awaitTask(recorder.start({7, QRectF(100, 100, 401, 301)}, finalPath(), {true, false})));
    const QString folder = recorder.segmentsFolder();
    EXPECT_EQ(QFileInfo(folder).absolutePath(), cacheRoot());
    EXPECT_TRUE(QFileInfo(folder).fileName().contains(
        QRegularExpression(QStringLiteral("^Velunta-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))));
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, QFileDevice::Permissions()) << "private";
    const auto lock = SegmentFolder::readLock(folder);
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->pid, QCoreApplication::applicationPid());
    EXPECT_EQ(lock->finalPath, finalPath());
    ASSERT_EQ(service.made.size(), 1u);
    EXPECT_EQ(service.made[0].path, QDir(folder).filePath("trecho-0.mp4"));
    EXPECT_EQ(service.made[0].pixels, QRect(100, 100, 400, 300));
    EXPECT_TRUE(service.made[0].capturesSystemAudio);
    EXPECT_FALSE(service.made[0].capturesMicrophone);

    QTest::qWait(600); // the wall clock outlasts the 0.5 s file
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    EXPECT_EQ(*stopped, finalPath());
    EXPECT_TRUE(QFileInfo::exists(finalPath()));
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(recorder.segmentReport().startsWith("dur=0.5"));
    // Joined, not moved: the wall clock's length, the index in front.
    EXPECT_NEAR(MediaAsset::open(finalPath()).duration()->seconds(), 0.6, 0.1);
    EXPECT_FALSE(recorder.stoppedForLackOfSpace());
}

TEST_F(ScreenRecorderTest, SegmentsGoBesideTheSaveFolderWhenOnlyItsDiskHasRoom)
{
    ScreenRecorder recorder(screens, service);
    const QString cache = cacheRoot();
    recorder.setFreeSpaceProbe([cache](const QString &path) -> std::optional<uint64_t> {
        return path.startsWith(cache) ? 1'000'000 : 10'000'000'000;
    });
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
    const QString folder = recorder.segmentsFolder();
    EXPECT_EQ(QFileInfo(folder).absolutePath(), out.filePath(".Velunta"));
    ASSERT_TRUE(awaitTask(recorder.stop()));
    EXPECT_TRUE(QFileInfo::exists(finalPath()));
    EXPECT_FALSE(QFileInfo::exists(out.filePath(".Velunta"))) << "the hidden place goes with the recording";
}

TEST_F(ScreenRecorderTest, NoRoomOnEitherDiskRefusesToStart)
{
    ScreenRecorder recorder(screens, service);
    recorder.setFreeSpaceProbe([](const QString &) -> std::optional<uint64_t> { return 20'000'000; });
    auto started = awaitTask(recorder.start({7, std::nullopt}, finalPath(), {}));
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().description(), QStringLiteral("O disco está cheio."));
    EXPECT_TRUE(recorder.stoppedForLackOfSpace());
    EXPECT_TRUE(service.made.empty());
}

TEST_F(ScreenRecorderTest, RunningOutOfRoomWhileRecordingIsAnUnexpectedStop)
{
    ScreenRecorder recorder(screens, service);
    uint64_t free = 10'000'000'000;
    recorder.setFreeSpaceProbe([&free](const QString &) -> std::optional<uint64_t> { return free; });
    recorder.setSpaceCheckInterval(30ms);
    int unexpected = 0;
    recorder.onUnexpectedStop = [&] { ++unexpected; };
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
    QTest::qWait(150);
    EXPECT_EQ(unexpected, 0);
    EXPECT_FALSE(recorder.stoppedForLackOfSpace());
    // Less than two minutes at the least rate.
    free = 30'000'000;
    EXPECT_TRUE(QTest::qWaitFor([&] { return unexpected > 0; }, 2000));
    EXPECT_TRUE(recorder.stoppedForLackOfSpace());
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << "what was written is saved";
    EXPECT_EQ(*stopped, finalPath());
}

TEST_F(ScreenRecorderTest, APausedRecordingDoesNotStopForSpace)
{
    ScreenRecorder recorder(screens, service);
    uint64_t free = 10'000'000'000;
    recorder.setFreeSpaceProbe([&free](const QString &) -> std::optional<uint64_t> { return free; });
    recorder.setSpaceCheckInterval(30ms);
    int unexpected = 0;
    recorder.onUnexpectedStop = [&] { ++unexpected; };
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
    awaitTask([&]() -> QCoro::Task<bool> {
        co_await recorder.pause();
        co_return true;
    }());
    free = 1000;
    QTest::qWait(200);
    EXPECT_EQ(unexpected, 0);
    EXPECT_TRUE(awaitTask(recorder.stop()));
}

TEST_F(ScreenRecorderTest, ADiskFullWhileWritingIsNotedBeforeTheFailure)
{
    ScreenRecorder recorder(screens, service);
    int unexpected = 0;
    recorder.onUnexpectedStop = [&] { ++unexpected; };
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
    service.lastNotices.outOfSpace();
    service.lastNotices.failed({QStringLiteral("O disco está cheio.")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return unexpected > 0; }, 2000));
    EXPECT_TRUE(recorder.stoppedForLackOfSpace());
    EXPECT_TRUE(awaitTask(recorder.stop()));
}

TEST_F(ScreenRecorderTest, PauseResumeAndStopWhilePausedJoinTheSegments)
{
    ScreenRecorder recorder(screens, service);
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
    awaitTask([&]() -> QCoro::Task<bool> {
        co_await recorder.pause();
        co_return true;
    }());
    EXPECT_TRUE(recorder.isPaused());
    ASSERT_TRUE(awaitTask(recorder.resume()));
    EXPECT_FALSE(recorder.isPaused());
    awaitTask([&]() -> QCoro::Task<bool> {
        co_await recorder.pause();
        co_return true;
    }());
    EXPECT_EQ(service.stops, 2);
    ASSERT_EQ(service.made.size(), 2u);
    EXPECT_TRUE(service.made[1].path.endsWith("/trecho-1.mp4"));

    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    EXPECT_EQ(service.stops, 2); // nothing was open at the stop
    const MediaAsset joined = MediaAsset::open(*stopped);
    auto duration = joined.duration();
    ASSERT_TRUE(duration);
    EXPECT_NEAR(duration->seconds(), 1.0, 0.1);
}

TEST_F(ScreenRecorderTest, AFailedStartIsNotListedAndItsNumberIsReused)
{
    service.startFails = {false, true, false};
    ScreenRecorder recorder(screens, service);
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
    awaitTask([&]() -> QCoro::Task<bool> {
        co_await recorder.pause();
        co_return true;
    }());
    auto failed = awaitTask(recorder.resume());
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().description(), QStringLiteral("start refused"));
    EXPECT_TRUE(recorder.isPaused());
    EXPECT_EQ(recorder.segments().size(), 1);
    ASSERT_TRUE(awaitTask(recorder.resume()));
    EXPECT_EQ(service.made[1].path, service.made[2].path);
    EXPECT_TRUE(service.made[2].path.endsWith("/trecho-1.mp4"));
    EXPECT_EQ(recorder.segments().size(), 2);
    EXPECT_TRUE(awaitTask(recorder.stop()));
}

TEST_F(ScreenRecorderTest, AJoinThatFailsLeavesNumberedPartsAndNoFolder)
{
    ScreenRecorder recorder(screens, service);
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
    for (int width : {320, 640}) {
        service.width = width; // segments with different set-ups cannot share a track
        awaitTask([&]() -> QCoro::Task<bool> {
            co_await recorder.pause();
            co_return true;
        }());
        ASSERT_TRUE(awaitTask(recorder.resume()));
    }
    service.width = 480;
    const QString folder = recorder.segmentsFolder();
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    const QString base = out.filePath(QStringLiteral("Gravação"));
    EXPECT_EQ(*stopped, base + " - parte 1.mp4");
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(QFileInfo::exists(base + QStringLiteral(" - parte %1.mp4").arg(i))) << i;
    EXPECT_FALSE(QFileInfo::exists(finalPath()));
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST_F(ScreenRecorderTest, AFinishThatNeverComesEndsAfterTheTimeOut)
{
    service.reportsFinish = false;
    ScreenRecorder recorder(screens, service);
    recorder.setFinishTimeout(300ms);
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
    QElapsedTimer clock;
    clock.start();
    auto stopped = awaitTask(recorder.stop());
    EXPECT_GE(clock.elapsed(), 280);
    ASSERT_TRUE(stopped);
}

TEST_F(ScreenRecorderTest, OnlyAStopDuringASegmentIsUnexpected)
{
    ScreenRecorder recorder(screens, service);
    int unexpected = 0;
    recorder.onUnexpectedStop = [&] { ++unexpected; };
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
    service.lastNotices.stopped({QStringLiteral("A tela gravada foi desligada.")});
    QTest::qWait(20);
    EXPECT_EQ(unexpected, 1);
    ASSERT_TRUE(awaitTask(recorder.stop()));
    service.lastNotices.stopped({QStringLiteral("late")});
    QTest::qWait(20);
    EXPECT_EQ(unexpected, 1);
}

TEST_F(ScreenRecorderTest, NoUsableSegmentGivesTheLastErrorOrEmptyRecording)
{
    ScreenRecorder recorder(screens, service);
    EXPECT_EQ(awaitTask(recorder.stop()).error().captureError(), CaptureError(CaptureError::emptyRecording));

    screens.list.clear();
    ScreenRecorder gone(screens, service);
    auto started = awaitTask(gone.start({7, std::nullopt}, finalPath(), {}));
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().captureError(), CaptureError(CaptureError::displayNotFound));
    const QString folder = gone.segmentsFolder();
    EXPECT_TRUE(QFileInfo::exists(folder));
    EXPECT_EQ(awaitTask(gone.stop()).error().captureError(), CaptureError(CaptureError::emptyRecording));
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST_F(ScreenRecorderTest, DestroyingARecorderRemovesItsFolder)
{
    QString folder;
    {
        ScreenRecorder recorder(screens, service);
        ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
        folder = recorder.segmentsFolder();
        ASSERT_TRUE(QFileInfo::exists(folder));
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(QDir(out.path()).isEmpty());
}

TEST_F(ScreenRecorderTest, ASoundSourceMissingAtTheStartIsLeftOutOfEverySegment)
{
    const AudioLoss noServer {SoundSource::systemAudio, {QStringLiteral("sem servidor de som")}};
    service.dropped = {noServer};
    ScreenRecorder recorder(screens, service);
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {true, true})));
    EXPECT_EQ(recorder.missingAudio(),
        (std::vector<ScreenRecorder::MissingAudio> {{SoundSource::systemAudio, false, noServer.reason}}));
    // The server is back by the resume: the recording's tracks stay as they were.
    service.dropped.clear();
    awaitTask([&]() -> QCoro::Task<bool> {
        co_await recorder.pause();
        co_return true;
    }());
    ASSERT_TRUE(awaitTask(recorder.resume()));
    ASSERT_EQ(service.made.size(), 2u);
    EXPECT_TRUE(service.made[0].capturesSystemAudio);
    EXPECT_FALSE(service.made[0].keepsMissingAudioAsSilence);
    EXPECT_FALSE(service.made[1].capturesSystemAudio);
    EXPECT_TRUE(service.made[1].capturesMicrophone);
    EXPECT_TRUE(service.made[1].keepsMissingAudioAsSilence);
    ASSERT_TRUE(awaitTask(recorder.stop()));
    EXPECT_EQ(recorder.missingAudio().size(), 1u);
}

TEST_F(ScreenRecorderTest, ASoundSourceLostWhileRecordingKeepsTheRecordingGoing)
{
    ScreenRecorder recorder(screens, service);
    int unexpected = 0;
    recorder.onUnexpectedStop = [&] { ++unexpected; };
    ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {true, true})));
    const PlatformError dropped {QStringLiteral("a conexão com o servidor de som caiu")};
    service.lastNotices.audioLost({SoundSource::microphone, dropped});
    // Lost again in a later segment (the server is still gone): one notice is enough.
    awaitTask([&]() -> QCoro::Task<bool> {
        co_await recorder.pause();
        co_return true;
    }());
    ASSERT_TRUE(awaitTask(recorder.resume()));
    service.lastNotices.audioLost({SoundSource::microphone, {QStringLiteral("sem servidor de som")}});
    service.lastNotices.audioLost({SoundSource::systemAudio, dropped});
    QTest::qWait(20);
    EXPECT_EQ(unexpected, 0);
    EXPECT_FALSE(recorder.isPaused());
    // Both tracks stay in every segment, so that the segments still join.
    EXPECT_TRUE(service.made[1].capturesSystemAudio);
    EXPECT_TRUE(service.made[1].capturesMicrophone);
    EXPECT_EQ(recorder.missingAudio(),
        (std::vector<ScreenRecorder::MissingAudio> {
            {SoundSource::systemAudio, true, dropped}, {SoundSource::microphone, true, dropped}}));
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped);
    EXPECT_EQ(*stopped, finalPath());
}

TEST_F(ScreenRecorderTest, ClosingForRecoveryEndsTheSegmentAndLeavesTheFolderBehind)
{
    QString folder;
    {
        ScreenRecorder recorder(screens, service);
        ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
        folder = recorder.segmentsFolder();
        awaitTask([&]() -> QCoro::Task<bool> {
            co_await recorder.closeForRecovery();
            co_return true;
        }());
        EXPECT_EQ(service.stops, 1) << "the open segment is closed";
        EXPECT_TRUE(recorder.segmentsFolder().isEmpty());
    }
    // What the next start recovers: the closed segment and its owner's lock.
    EXPECT_TRUE(QFileInfo::exists(folder + "/trecho-0.mp4"));
    EXPECT_TRUE(SegmentFolder::readLock(folder).has_value());
    EXPECT_FALSE(QFileInfo::exists(finalPath()));
}

TEST_F(ScreenRecorderTest, ClosingForRecoveryWhilePausedKeepsEverySegment)
{
    QString folder;
    {
        ScreenRecorder recorder(screens, service);
        ASSERT_TRUE(awaitTask(recorder.start({7, std::nullopt}, finalPath(), {})));
        folder = recorder.segmentsFolder();
        awaitTask([&]() -> QCoro::Task<bool> {
            co_await recorder.pause();
            co_return true;
        }());
        ASSERT_TRUE(awaitTask(recorder.resume()));
        awaitTask([&]() -> QCoro::Task<bool> {
            co_await recorder.pause();
            co_await recorder.closeForRecovery();
            co_return true;
        }());
        EXPECT_EQ(service.stops, 2) << "nothing was open any more";
    }
    EXPECT_TRUE(QFileInfo::exists(folder + "/trecho-0.mp4"));
    EXPECT_TRUE(QFileInfo::exists(folder + "/trecho-1.mp4"));
}
