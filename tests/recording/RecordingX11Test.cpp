// Recordings on a real X server with PulseAudio: what ffprobe and ffmpeg (an
// independent reader and decoder) find in the files the recorder delivers.
#include "AudioChecks.h"
#include "PrivateSoundServer.h"
#include "platform/PlatformServices.h"
#include "platform/WindowLevel.h"
#include "recording/ScreenRecorder.h"
#include "recording/SegmentWriter.h"
#include "support/AwaitTask.h"
#include "support/ColouredWindow.h"
#include "support/DesktopGuards.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using TestSupport::ColouredWindow;

QByteArray runTool(const QString &program, const QStringList &arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(timeoutMs);
    return process.readAllStandardOutput() + process.readAllStandardError();
}

struct StreamInfo {
    QString type;
    QString codec;
    int width = 0;
    int height = 0;
    double duration = 0;
};

struct FileInfo {
    double duration = 0;
    std::vector<StreamInfo> streams;
    int count(const QString &type) const
    {
        return int(std::count_if(streams.begin(), streams.end(), [&](const StreamInfo &s) { return s.type == type; }));
    }
    const StreamInfo *first(const QString &type) const
    {
        for (const StreamInfo &s : streams)
            if (s.type == type)
                return &s;
        return nullptr;
    }
};

FileInfo probe(const QString &path)
{
    QProcess process;
    process.start("ffprobe", {"-v", "error", "-show_format", "-show_streams", "-of", "json", path});
    process.waitForFinished(30000);
    const QJsonObject root = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    FileInfo info;
    info.duration = root["format"].toObject()["duration"].toString().toDouble();
    for (const QJsonValue &value : root["streams"].toArray()) {
        const QJsonObject stream = value.toObject();
        info.streams.push_back({stream["codec_type"].toString(), stream["codec_name"].toString(),
            stream["width"].toInt(), stream["height"].toInt(), stream["duration"].toString().toDouble()});
    }
    return info;
}

// ffmpeg's mean volume of the first audio track in dB (-91 for silence).
double meanVolume(const QString &path, int track = 0)
{
    const QByteArray out = runTool("ffmpeg",
        {"-v", "info", "-nostats", "-i", path, "-map", QStringLiteral("0:a:%1").arg(track), "-af", "volumedetect", "-f",
            "null", "-"});
    const auto match = QRegularExpression(R"(mean_volume: (-?[0-9.]+) dB)").match(QString::fromUtf8(out));
    return match.hasMatch() ? match.captured(1).toDouble() : -200;
}

// Points this process's sound connections at ADDRESS while the object lives.
class PulseServerOverride {
public:
    explicit PulseServerOverride(const QString &address)
        : m_had(qEnvironmentVariableIsSet("PULSE_SERVER"))
        , m_old(qgetenv("PULSE_SERVER"))
    {
        qputenv("PULSE_SERVER", address.toUtf8());
    }
    ~PulseServerOverride()
    {
        if (m_had)
            qputenv("PULSE_SERVER", m_old);
        else
            qunsetenv("PULSE_SERVER");
    }

private:
    bool m_had;
    QByteArray m_old;
};

// Every coded picture of the file, decoded at its own size.
std::vector<QImage> decodeFrames(const QString &path, QSize size, double fps = 0)
{
    QStringList arguments {"-v", "error", "-i", path, "-map", "0:v:0"};
    if (fps > 0)
        arguments << "-vf" << QStringLiteral("fps=%1").arg(fps);
    else
        arguments << "-fps_mode"
                  << "passthrough";
    arguments << "-f"
              << "rawvideo"
              << "-pix_fmt"
              << "rgb24"
              << "-";
    QProcess process;
    process.start("ffmpeg", arguments);
    process.waitForFinished(120000);
    const QByteArray raw = process.readAllStandardOutput();
    const qsizetype frameBytes = qsizetype(size.width()) * size.height() * 3;
    std::vector<QImage> frames;
    for (qsizetype offset = 0; frameBytes > 0 && offset + frameBytes <= raw.size(); offset += frameBytes)
        frames.push_back(QImage(reinterpret_cast<const uchar *>(raw.constData() + offset), size.width(), size.height(),
            size.width() * 3, QImage::Format_RGB888)
                             .copy());
    return frames;
}

// Compressed colours are close, not exact.
int countNear(const QImage &image, QColor colour)
{
    int found = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            const uchar *p = line + 3 * x;
            found += std::abs(p[0] - colour.red()) < 40 && std::abs(p[1] - colour.green()) < 40
                && std::abs(p[2] - colour.blue()) < 40;
        }
    }
    return found;
}

bool isBlack(const QImage &frame)
{
    const QImage small
        = frame.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x) {
            const QRgb p = small.pixel(x, y);
            if (qRed(p) + qGreen(p) + qBlue(p) > 14)
                return false;
        }
    return true;
}

const QColor excludedMagenta(250, 0, 250);
const QColor keptGreen(20, 230, 40);

// Waits on the event loop (the recorder needs it) for MS milliseconds.
void runFor(int ms)
{
    QTest::qWait(ms);
}

void pauseRecorder(ScreenRecorder &recorder)
{
    awaitTask([&]() -> QCoro::Task<bool> {
        co_await recorder.pause();
        co_return true;
    }());
}

// A segment service whose second segment reads a narrower picture, so that
// the segments cannot share one video track and the join must fail.
class MismatchedSegments : public SegmentCaptureService {
public:
    MismatchedSegments(FrameSource &frames, AudioSource &audio)
        : m_live(frames, audio)
    {
    }

    Result<std::unique_ptr<SegmentStream>, PlatformError> makeStream(
        SegmentSettings settings, SegmentNotices notices) override
    {
        if (m_count++ == 1)
            settings.pixels.setWidth(settings.pixels.width() - 64);
        return m_live.makeStream(std::move(settings), std::move(notices));
    }

private:
    LiveSegmentCapture m_live;
    int m_count = 0;
};

class RecordingX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        if (QStandardPaths::findExecutable("ffprobe").isEmpty())
            GTEST_SKIP() << "needs ffprobe";
        if (!services().screens)
            services() = PlatformServices::create();
        ASSERT_EQ(services().backend, QStringLiteral("x11"));
        ASSERT_TRUE(out.isValid());
        // Segment folders go into the cache: this test's own.
        qputenv("XDG_CACHE_HOME", out.filePath("cache").toLocal8Bit());
        hasSound = runTool("pactl", {"info"}).contains("Server Name");
    }

    static PlatformServices &services()
    {
        static PlatformServices instance;
        return instance;
    }

    DisplayInfo firstDisplay() const
    {
        for (const DisplayInfo &display : services().screens->displays())
            if (display.id)
                return display;
        return {};
    }

    // Plays a tone into the default sink while the object lives.
    struct Tone {
        QString module;
        Tone()
        {
            module = QString::fromUtf8(
                runTool("pactl", {"load-module", "module-sine", "sink=@DEFAULT_SINK@", "frequency=440"}).trimmed());
        }
        ~Tone()
        {
            if (!module.isEmpty())
                runTool("pactl", {"unload-module", module});
        }
    };

    // Records the whole first screen for about three seconds with a raised
    // magenta window (left out) and an ordinary green one (kept) on it.
    void recordsScreenWithToneAndWithoutOverlays()
    {
        if (!hasSound)
            GTEST_SKIP() << "needs a PulseAudio server";
        const DisplayInfo display = firstDisplay();
        ASSERT_TRUE(display.id);
        ColouredWindow kept(keptGreen);
        kept.setFlags(Qt::FramelessWindowHint);
        kept.setGeometry(display.frame.x() + 300, display.frame.y() + 300, 200, 150);
        kept.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&kept));

        Tone tone;
        ASSERT_FALSE(tone.module.isEmpty());
        LiveSegmentCapture service(*services().frames, *services().audio);
        ScreenRecorder recorder(*services().screens, service);
        const QString path = out.filePath("inteira.mp4");
        QElapsedTimer wallClock;
        wallClock.start();
        auto started = awaitTask(recorder.start({*display.id, std::nullopt}, path, {true, false}));
        ASSERT_TRUE(started) << started.error().description().toStdString();
        const QString folder = recorder.segmentsFolder();
        const qint64 startedAt = wallClock.elapsed();

        // Shown after the start, as the control bar is.
        ColouredWindow overlay(excludedMagenta);
        overlay.setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
        WindowLevel::set(&overlay, WindowLevel::Level::floating);
        WindowLevel::setSharingNone(&overlay);
        overlay.setGeometry(display.frame.x() + 600, display.frame.y() + 200, 240, 160);
        overlay.show();
        runFor(1000);
        // The raised window is really on screen: a grab that leaves nothing out sees it.
        GrabRequest everything;
        everything.pixels = display.pixelGeometry;
        auto plain = awaitTask(services().screens->grab(everything));
        ASSERT_TRUE(plain);
        EXPECT_GT(countNear(plain->convertToFormat(QImage::Format_RGB888), excludedMagenta), 20000);
        kept.setGeometry(display.frame.x() + 320, display.frame.y() + 320, 200, 150); // something changes
        runFor(2000);
        const qint64 stoppedAt = wallClock.elapsed();
        auto stopped = awaitTask(recorder.stop());
        ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
        EXPECT_EQ(*stopped, path);
        overlay.hide();
        kept.hide();

        const FileInfo info = probe(path);
        ASSERT_EQ(info.count("video"), 1);
        ASSERT_EQ(info.count("audio"), 1);
        EXPECT_EQ(info.first("video")->codec, "h264");
        EXPECT_EQ(info.first("audio")->codec, "aac");
        EXPECT_EQ(info.first("video")->width, display.pixelGeometry.width() & ~1);
        EXPECT_EQ(info.first("video")->height, display.pixelGeometry.height() & ~1);
        EXPECT_NEAR(info.duration, (stoppedAt - startedAt) / 1000.0, 0.2);
        EXPECT_NEAR(info.first("audio")->duration, info.first("video")->duration, 0.15);
        EXPECT_GT(meanVolume(path), -40.0) << "the tone is not in the recording";

        const QSize size(info.first("video")->width, info.first("video")->height);
        const std::vector<QImage> frames = decodeFrames(path, size);
        ASSERT_GE(frames.size(), 2u);
        int framesWithGreen = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(countNear(frames[i], excludedMagenta), 0) << "frame " << i << " shows the raised window";
            framesWithGreen += countNear(frames[i], keptGreen) > 20000;
        }
        EXPECT_EQ(framesWithGreen, int(frames.size())) << "the ordinary window is missing from frames";
        EXPECT_FALSE(QFileInfo::exists(folder));
    }

    QTemporaryDir out;
    bool hasSound = false;
};

} // namespace

TEST_F(RecordingX11, WholeScreenWithSystemAudio)
{
    recordsScreenWithToneAndWithoutOverlays();
}

TEST_F(RecordingX11, WholeScreenWithSystemAudioUnderACompositingManager)
{
    if (const QString missing = TestSupport::CompositingManagerRun::unavailable(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    TestSupport::CompositingManagerRun compositor;
    ASSERT_TRUE(compositor.start());
    recordsScreenWithToneAndWithoutOverlays();
}

TEST_F(RecordingX11, PauseAndResumeGiveOneFileOfTheRunningStretches)
{
    const DisplayInfo display = firstDisplay();
    ASSERT_TRUE(display.id);
    ColouredWindow kept(keptGreen);
    kept.setGeometry(display.frame.x() + 200, display.frame.y() + 200, 300, 200);
    kept.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&kept));
    std::optional<Tone> tone;
    if (hasSound)
        tone.emplace();

    LiveSegmentCapture service(*services().frames, *services().audio);
    ScreenRecorder recorder(*services().screens, service);
    const QString path = out.filePath("pausa.mp4");
    const CaptureTarget target {*display.id, QRectF(100, 100, 401, 301)};
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(awaitTask(recorder.start(target, path, {hasSound, false})));
    qint64 running = -clock.elapsed();
    runFor(2000);
    running += clock.elapsed();
    pauseRecorder(recorder);
    runFor(2000);
    auto resumed = awaitTask(recorder.resume());
    ASSERT_TRUE(resumed) << resumed.error().description().toStdString();
    running -= clock.elapsed();
    runFor(2000);
    running += clock.elapsed();
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    EXPECT_EQ(*stopped, path);

    const FileInfo info = probe(path);
    ASSERT_EQ(info.count("video"), 1);
    EXPECT_EQ(info.first("video")->width, 400);
    EXPECT_EQ(info.first("video")->height, 300);
    EXPECT_NEAR(info.duration, running / 1000.0, 0.2);
    if (hasSound) {
        ASSERT_EQ(info.count("audio"), 1);
        EXPECT_NEAR(info.first("audio")->duration, info.first("video")->duration, 0.15);
        EXPECT_GT(meanVolume(path), -40.0);
    }
    const std::vector<QImage> frames = decodeFrames(path, QSize(400, 300), 4);
    ASSERT_GE(frames.size(), 12u);
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_FALSE(isBlack(frames[i])) << "black frame " << i;
    EXPECT_TRUE(recorder.segmentReport().contains(" | ")) << recorder.segmentReport().toStdString();
}

TEST_F(RecordingX11, AJoinThatFailsLeavesNumberedParts)
{
    const DisplayInfo display = firstDisplay();
    ASSERT_TRUE(display.id);
    MismatchedSegments service(*services().frames, *services().audio);
    ScreenRecorder recorder(*services().screens, service);
    const QString path = out.filePath("Gravação 1.mp4");
    ASSERT_TRUE(awaitTask(recorder.start({*display.id, QRectF(0, 0, 401, 301)}, path, {false, false})));
    const QString folder = recorder.segmentsFolder();
    runFor(700);
    pauseRecorder(recorder);
    ASSERT_TRUE(awaitTask(recorder.resume()));
    runFor(700);
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    EXPECT_EQ(*stopped, out.filePath("Gravação 1 - parte 1.mp4"));
    EXPECT_EQ(probe(out.filePath("Gravação 1 - parte 1.mp4")).first("video")->width, 400);
    EXPECT_EQ(probe(out.filePath("Gravação 1 - parte 2.mp4")).first("video")->width, 336);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(QFileInfo::exists(folder));
}

// Runs on the two-screen desktop only (see test_recording_dual).
TEST_F(RecordingX11, ASecondScreenSwitchedOffEndsTheRecordingAndKeepsWhatItGot)
{
    DisplayInfo second;
    for (const DisplayInfo &display : services().screens->displays())
        if (display.id && display.name == QStringLiteral("DUMMY1"))
            second = display;
    if (!second.id)
        GTEST_SKIP() << "needs the two-screen desktop";
    LiveSegmentCapture service(*services().frames, *services().audio);
    ScreenRecorder recorder(*services().screens, service);
    int unexpected = 0;
    recorder.onUnexpectedStop = [&] { ++unexpected; };
    const QString path = out.filePath("segunda.mp4");
    ASSERT_TRUE(awaitTask(recorder.start({*second.id, std::nullopt}, path, {false, false})));
    runFor(1500);
    const auto restore = qScopeGuard([] {
        runTool("xrandr", {"--output", "DUMMY1", "--mode", "1280x1024", "--pos", "1920x0"});
    });
    runTool("xrandr", {"--output", "DUMMY1", "--off"});
    for (int i = 0; i < 50 && unexpected == 0; ++i)
        runFor(100);
    EXPECT_EQ(unexpected, 1);
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    const FileInfo info = probe(*stopped);
    ASSERT_EQ(info.count("video"), 1);
    EXPECT_EQ(info.first("video")->width, 1280);
    EXPECT_GT(info.duration, 1.3);
}

TEST_F(RecordingX11, WithoutASoundServerThePictureIsRecordedAcrossPauses)
{
    const DisplayInfo display = firstDisplay();
    ASSERT_TRUE(display.id);
    // Nothing listens there.
    const PulseServerOverride nowhere("unix:" + out.filePath("no-server"));
    ColouredWindow kept(keptGreen);
    kept.setGeometry(display.frame.x() + 200, display.frame.y() + 200, 300, 200);
    kept.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&kept));

    LiveSegmentCapture service(*services().frames, *services().audio);
    ScreenRecorder recorder(*services().screens, service);
    int unexpected = 0;
    recorder.onUnexpectedStop = [&] { ++unexpected; };
    const QString path = out.filePath("sem-som.mp4");
    QElapsedTimer clock;
    clock.start();
    auto started = awaitTask(recorder.start({*display.id, QRectF(100, 100, 401, 301)}, path, {true, true}));
    ASSERT_TRUE(started) << started.error().description().toStdString();
    qint64 running = -clock.elapsed();
    runFor(1500);
    running += clock.elapsed();
    pauseRecorder(recorder);
    runFor(500);
    ASSERT_TRUE(awaitTask(recorder.resume()));
    running -= clock.elapsed();
    runFor(1500);
    running += clock.elapsed();
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    EXPECT_EQ(*stopped, path) << "the segments were joined";
    EXPECT_EQ(unexpected, 0);

    const FileInfo info = probe(path);
    ASSERT_EQ(info.count("video"), 1);
    EXPECT_EQ(info.count("audio"), 0);
    EXPECT_EQ(info.first("video")->width, 400);
    EXPECT_NEAR(info.duration, running / 1000.0, 0.25);
    const std::vector<ScreenRecorder::MissingAudio> missing = recorder.missingAudio();
    ASSERT_EQ(missing.size(), 2u);
    EXPECT_EQ(missing[0].source, SoundSource::systemAudio);
    EXPECT_EQ(missing[1].source, SoundSource::microphone);
    EXPECT_FALSE(missing[0].isPartial);
    EXPECT_FALSE(missing[1].isPartial);
    EXPECT_TRUE(missing[0].reason.description.startsWith("Não foi possível gravar o áudio"))
        << missing[0].reason.description.toStdString();
}

TEST_F(RecordingX11, TheSoundServerDyingKeepsThePictureAndTheSoundSoFar)
{
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty())
        GTEST_SKIP() << "needs pulseaudio";
    const DisplayInfo display = firstDisplay();
    ASSERT_TRUE(display.id);
    PrivateSoundServer server(out.filePath("pulse"));
    ASSERT_TRUE(server.start());
    const PulseServerOverride toPrivate(server.address());

    LiveSegmentCapture service(*services().frames, *services().audio);
    ScreenRecorder recorder(*services().screens, service);
    int unexpected = 0;
    recorder.onUnexpectedStop = [&] { ++unexpected; };
    const QString path = out.filePath("som-caiu.mp4");
    QElapsedTimer clock;
    clock.start();
    auto started = awaitTask(recorder.start({*display.id, QRectF(0, 0, 640, 480)}, path, {true, false}));
    ASSERT_TRUE(started) << started.error().description().toStdString();
    const qint64 startedAt = clock.elapsed();
    runFor(2000);
    server.kill();
    const double killedAt = (clock.elapsed() - startedAt) / 1000.0;
    runFor(2000);
    EXPECT_EQ(unexpected, 0) << "the picture goes on";
    EXPECT_FALSE(recorder.isPaused());
    // A later segment while the server is still gone has the same tracks.
    pauseRecorder(recorder);
    qint64 running = clock.elapsed() - startedAt;
    runFor(300);
    ASSERT_TRUE(awaitTask(recorder.resume()));
    running -= clock.elapsed();
    runFor(1000);
    running += clock.elapsed();
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    EXPECT_EQ(*stopped, path) << "the segments were joined";

    const FileInfo info = probe(path);
    ASSERT_EQ(info.count("video"), 1);
    ASSERT_EQ(info.count("audio"), 1);
    EXPECT_NEAR(info.duration, running / 1000.0, 0.25);
    EXPECT_NEAR(info.first("audio")->duration, info.first("video")->duration, 0.15);
    EXPECT_GT(AudioChecks::meanVolumeBetween(path, killedAt - 1.2, killedAt - 0.3), -40.0)
        << "the tone before the server died";
    EXPECT_NEAR(AudioChecks::trailingSilence(path), killedAt, 0.4)
        << "silence from the server's end to the end of the file";
    ASSERT_EQ(recorder.missingAudio().size(), 1u);
    EXPECT_EQ(recorder.missingAudio()[0].source, SoundSource::systemAudio);
    EXPECT_TRUE(recorder.missingAudio()[0].isPartial);
}

TEST_F(RecordingX11, AMissingDeviceLeavesOnlyItsTrackOut)
{
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty())
        GTEST_SKIP() << "needs pulseaudio";
    const DisplayInfo display = firstDisplay();
    ASSERT_TRUE(display.id);
    const CaptureTarget target {*display.id, QRectF(0, 0, 320, 240)};
    LiveSegmentCapture service(*services().frames, *services().audio);
    {
        // An output with a tone, and no microphone.
        PrivateSoundServer server(out.filePath("sem-microfone"));
        ASSERT_TRUE(server.start());
        const PulseServerOverride toPrivate(server.address());
        ScreenRecorder recorder(*services().screens, service);
        const QString path = out.filePath("sem-microfone.mp4");
        ASSERT_TRUE(awaitTask(recorder.start(target, path, {true, true})));
        runFor(1500);
        ASSERT_TRUE(awaitTask(recorder.stop()));
        const FileInfo info = probe(path);
        EXPECT_EQ(info.count("video"), 1);
        ASSERT_EQ(info.count("audio"), 1);
        EXPECT_GT(meanVolume(path), -40.0) << "the system audio is there";
        ASSERT_EQ(recorder.missingAudio().size(), 1u);
        EXPECT_EQ(recorder.missingAudio()[0].source, SoundSource::microphone);
        EXPECT_FALSE(recorder.missingAudio()[0].isPartial);
    }
    {
        // A server with no output at all.
        PrivateSoundServer server(out.filePath("sem-saida"));
        ASSERT_TRUE(server.start(PrivateSoundServer::Output::none));
        const PulseServerOverride toPrivate(server.address());
        ScreenRecorder recorder(*services().screens, service);
        const QString path = out.filePath("sem-saida.mp4");
        ASSERT_TRUE(awaitTask(recorder.start(target, path, {true, false})));
        runFor(1000);
        ASSERT_TRUE(awaitTask(recorder.stop()));
        const FileInfo info = probe(path);
        EXPECT_EQ(info.count("video"), 1);
        EXPECT_EQ(info.count("audio"), 0);
        ASSERT_EQ(recorder.missingAudio().size(), 1u);
        EXPECT_EQ(recorder.missingAudio()[0].source, SoundSource::systemAudio);
        EXPECT_EQ(recorder.missingAudio()[0].reason.description,
            QStringLiteral("Não foi possível gravar o áudio: nenhuma saída de som encontrada"));
    }
}
