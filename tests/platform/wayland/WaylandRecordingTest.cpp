// Recordings on headless mutter through the test portal's ScreenCast and
// PipeWire, with the real recorder and encoder; the files are read back with
// ffprobe and ffmpeg.
#include "CastDesktop.h"
#include "WaylandDesktop.h"
#include "core/Preferences.h"
#include "platform/NullPlatform.h"
#include "platform/wayland/PortalScreenCast.h"
#include "platform/wayland/WaylandFrameSource.h"
#include "recording/ScreenRecorder.h"
#include "recording/SegmentWriter.h"
#include "support/AwaitTask.h"
#include "support/FakeScreenSource.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

double durationOf(const QString &path)
{
    QProcess process;
    process.start("ffprobe", {"-v", "error", "-show_format", "-of", "json", path});
    process.waitForFinished(30000);
    return QJsonDocument::fromJson(process.readAllStandardOutput())
        .object()["format"]
        .toObject()["duration"]
        .toString()
        .toDouble();
}

// One frame a second, as RGB.
std::vector<QImage> framesOf(const QString &path, QSize size)
{
    QProcess process;
    process.start("ffmpeg",
        {"-v", "error", "-i", path, "-map", "0:v:0", "-vf", "fps=1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    process.waitForFinished(120000);
    const QByteArray raw = process.readAllStandardOutput();
    const qsizetype bytes = qsizetype(size.width()) * size.height() * 3;
    std::vector<QImage> frames;
    for (qsizetype offset = 0; offset + bytes <= raw.size(); offset += bytes)
        frames.push_back(QImage(reinterpret_cast<const uchar *>(raw.constData() + offset), size.width(), size.height(),
            size.width() * 3, QImage::Format_RGB888)
                             .copy());
    return frames;
}

void pauseRecorder(ScreenRecorder &recorder)
{
    awaitTask([&]() -> QCoro::Task<bool> {
        co_await recorder.pause();
        co_return true;
    }());
}

// Runs the event loop until the recorder has stopped by itself (STOPPED set
// by its onUnexpectedStop) or 10 s passed; whether it has.
bool stopsByItself(const bool &stopped)
{
    return TestSupport::waitUntil([&] { return stopped; }, 10000);
}

// The recorder as the program builds it on Wayland, on SCREENS through the
// test portal's ScreenCast, its restore tokens kept in PREFERENCES if any.
struct CastRecorder {
    CastRecorder(FakeScreenSource &screens, AudioSource &audio, Preferences *preferences = nullptr)
        : portal(WaylandFrameSource::tokensIn(preferences))
        , frames(&portal, [&screens] { return screens.list; })
        , service(frames, audio)
        , recorder(screens, service)
    {
    }

    PortalScreenCast portal;
    WaylandFrameSource frames;
    LiveSegmentCapture service;
    ScreenRecorder recorder;
};

class WaylandRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string tool = WaylandDesktop::missingTool({"mutter", "ffprobe", "ffmpeg"}); !tool.empty())
            GTEST_SKIP() << "needs " << tool;
        QString why;
        if (!CastDesktop::get(&why))
            GTEST_SKIP() << why.toStdString();
        startPicture();
        ASSERT_TRUE(out.isValid());
        screens.list.push_back({1, "Meta-0", QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080), 1.0, true});
        // A monitor beside it, which the test portal casts only when a test picks it.
        screens.list.push_back({2, "Meta-1", QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024), 1.0, false});
    }

    // The moving window, started once for the whole program.
    static void startPicture()
    {
        static QProcess *picture = nullptr;
        if (picture)
            return;
        picture = new QProcess;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "wayland");
        environment.remove("DISPLAY");
        picture->setProcessEnvironment(environment);
        picture->start(QStringLiteral(VELUNTA_MOVING_PICTURE), {"300"});
        picture->waitForStarted();
        QTest::qWait(1500);
    }

    QTemporaryDir out;
    FakeScreenSource screens;
    NullAudioSource audio;
};

TEST_F(WaylandRecording, APausedRecordingIsOneFileOfTheRunningTimeWithMovingPictures)
{
    CastRecorder cast(screens, audio);
    ScreenRecorder &recorder = cast.recorder;
    const QString path = out.filePath("pausa.mp4");

    QElapsedTimer clock;
    clock.start();
    auto started = awaitTask(recorder.start({1, QRectF(200, 100, 640, 360)}, path, {false, false}));
    ASSERT_TRUE(started) << started.error().description().toStdString();
    qint64 running = -clock.elapsed();
    const uint dialogs = WaylandDesktop::castDialogs();
    EXPECT_EQ(WaylandDesktop::castSessions(), 1u);
    QTest::qWait(2500);
    running += clock.elapsed();
    pauseRecorder(recorder);
    QTest::qWait(1500);
    // One session for the whole recording: the desktop keeps showing that
    // the screen is shared, and a resume asks nothing.
    EXPECT_EQ(WaylandDesktop::castSessions(), 1u) << "the pause closed the screen cast";
    auto resumed = awaitTask(recorder.resume());
    ASSERT_TRUE(resumed) << resumed.error().description().toStdString();
    EXPECT_EQ(WaylandDesktop::castSessions(), 1u);
    EXPECT_EQ(WaylandDesktop::castDialogs(), dialogs);
    running -= clock.elapsed();
    QTest::qWait(2500);
    running += clock.elapsed();
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    EXPECT_EQ(*stopped, path);
    // The desktop shows that it is being shared while a session lives.
    EXPECT_EQ(WaylandDesktop::castSessionsAfterClosing(), 0u);

    EXPECT_NEAR(durationOf(path), running / 1000.0, 0.3) << recorder.segmentReport().toStdString();
    const std::vector<QImage> pictures = framesOf(path, QSize(640, 360));
    ASSERT_GE(pictures.size(), 4u);
    for (size_t i = 1; i < pictures.size(); ++i)
        EXPECT_NE(pictures[i], pictures[i - 1]) << "frame " << i << " did not move";
    // The window's colours, not mutter's black background.
    const QColor middle = pictures[1].pixelColor(320, 180);
    EXPECT_GT(middle.red() + middle.green() + middle.blue(), 100);
}

TEST_F(WaylandRecording, TheConsentIsAskedOnceAndTheTokenOutlivesTheProgram)
{
    QTemporaryDir settings;
    const QString ini = settings.filePath("Velunta.conf");
    const uint before = WaylandDesktop::castDialogs();
    QString firstToken;
    for (int run = 0; run < 2; ++run) {
        // A new Preferences and portal each time, as after a restart.
        Preferences preferences(ini);
        CastRecorder cast(screens, audio, &preferences);
        ScreenRecorder &recorder = cast.recorder;
        const QString path = out.filePath(QStringLiteral("vez-%1.mp4").arg(run));
        auto started = awaitTask(recorder.start({1, std::nullopt}, path, {false, false}));
        ASSERT_TRUE(started) << started.error().description().toStdString();
        QTest::qWait(1000);
        auto stopped = awaitTask(recorder.stop());
        ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
        EXPECT_GT(durationOf(path), 0.5);
        EXPECT_EQ(WaylandDesktop::castDialogs(), before + 1) << "after recording " << run;
        const auto kept = preferences.screenCastRestoreTokens();
        ASSERT_EQ(kept.size(), 1u) << "one monitor, one token";
        EXPECT_FALSE(kept[0].monitor.isEmpty());
        if (run == 0)
            firstToken = kept[0].token;
        else
            EXPECT_NE(kept[0].token, firstToken) << "a used token must be replaced";
        EXPECT_FALSE(kept[0].token.isEmpty());
    }
}

TEST_F(WaylandRecording, ARefusedConsentIsAClearFailure)
{
    WaylandDesktop::castControl(QStringLiteral("SetRefusal"), {true});
    CastRecorder cast(screens, audio);
    ScreenRecorder &recorder = cast.recorder;
    auto started = awaitTask(recorder.start({1, std::nullopt}, out.filePath("recusa.mp4"), {false, false}));
    WaylandDesktop::castControl(QStringLiteral("SetRefusal"), {false});
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().description(), QStringLiteral("A gravação da tela não foi permitida."));
    EXPECT_FALSE(QFileInfo::exists(out.filePath("recusa.mp4")));
}

TEST_F(WaylandRecording, SharingEndedDuringAPauseStopsTheRecordingAtTheResumeAndKeepsWhatItGot)
{
    CastRecorder cast(screens, audio);
    ScreenRecorder &recorder = cast.recorder;
    bool stoppedByItself = false;
    recorder.onUnexpectedStop = [&] { stoppedByItself = true; };
    const QString path = out.filePath("fim-na-pausa.mp4");
    ASSERT_TRUE(awaitTask(recorder.start({1, QRectF(0, 0, 320, 240)}, path, {false, false})));
    QTest::qWait(1500);
    pauseRecorder(recorder);
    WaylandDesktop::castControl(QStringLiteral("StopAll"));
    QTest::qWait(500);
    EXPECT_FALSE(stoppedByItself);
    const uint dialogs = WaylandDesktop::castDialogs();
    // No new session behind the user's back: the one that ended is reported.
    auto resumed = awaitTask(recorder.resume());
    EXPECT_TRUE(!resumed || stopsByItself(stoppedByItself));
    EXPECT_EQ(WaylandDesktop::castDialogs(), dialogs);
    EXPECT_EQ(WaylandDesktop::castSessions(), 0u);
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    EXPECT_GT(durationOf(*stopped), 0.5);
    EXPECT_LT(durationOf(*stopped), 2.5);
}

TEST_F(WaylandRecording, AnAreaNotWhollyOnTheCastMonitorIsRefusedAndNothingIsSaved)
{
    PortalScreenCast portal(WaylandFrameSource::tokensIn(nullptr));
    WaylandFrameSource frames(&portal, [this] { return screens.list; });
    const std::vector<std::pair<CaptureTarget, QString>> targets {
        {{1, QRectF(1700, 100, 401, 301)}, "borda.mp4"}, // runs off the cast monitor
        {{2, QRectF(100, 100, 401, 301)}, "outra.mp4"}, // on the monitor beside it
        {{2, std::nullopt}, "outra-inteira.mp4"},
    };
    for (const auto &[target, name] : targets) {
        LiveSegmentCapture service(frames, audio);
        ScreenRecorder recorder(screens, service);
        const QString path = out.filePath(name);
        auto started = awaitTask(recorder.start(target, path, {false, false}));
        ASSERT_FALSE(started) << name.toStdString() << " was recorded";
        EXPECT_EQ(started.error().description(), WaylandFrameSource::areaOutsideText());
        auto stopped = awaitTask(recorder.stop());
        EXPECT_FALSE(stopped && QFileInfo::exists(*stopped)) << name.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path)) << name.toStdString();
    }
    EXPECT_EQ(WaylandDesktop::castSessionsAfterClosing(), 0u);
}

TEST_F(WaylandRecording, SharingEndedByTheDesktopStopsTheRecordingAndKeepsWhatItGot)
{
    CastRecorder cast(screens, audio);
    ScreenRecorder &recorder = cast.recorder;
    bool stoppedByItself = false;
    recorder.onUnexpectedStop = [&] { stoppedByItself = true; };
    const QString path = out.filePath("fim.mp4");
    ASSERT_TRUE(awaitTask(recorder.start({1, QRectF(0, 0, 320, 240)}, path, {false, false})));
    QTest::qWait(1500);
    WaylandDesktop::castControl(QStringLiteral("StopAll"));
    EXPECT_TRUE(stopsByItself(stoppedByItself));
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    // What came before the end, however slowly a loaded machine started.
    EXPECT_GT(durationOf(*stopped), 0.5);
    EXPECT_LT(durationOf(*stopped), 2.5);
}

} // namespace
