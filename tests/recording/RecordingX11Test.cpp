// Recordings on a real X server with PulseAudio: what ffprobe and ffmpeg (an
// independent reader and decoder) find in the files the recorder delivers.
#include "AudioChecks.h"
#include "PrivateSoundServer.h"
#include "platform/PlatformServices.h"
#include "platform/WindowLevel.h"
#include "platform/audio/PulseMicrophone.h"
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
#include <QTimer>
#include <gtest/gtest.h>

#include <map>

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

// A window that shows the next of 64 colours at every repaint, 30 times a
// second, so that each picture of it tells which repaint it shows.
class FlashingWindow : public QRasterWindow {
public:
    static constexpr int levels[4] = {40, 110, 180, 250};

    static QColor colourOf(int paint)
    {
        const int code = paint % 64;
        return QColor(levels[code % 4], levels[code / 4 % 4], levels[code / 16]);
    }

    // The colour code (0..63) of PIXEL, or -1 when it is none of them.
    static int codeOf(QRgb pixel)
    {
        int code = 0;
        const int channels[3] = {qRed(pixel), qGreen(pixel), qBlue(pixel)};
        for (int c = 2; c >= 0; --c) {
            const auto nearest = std::min_element(std::begin(levels), std::end(levels),
                [&](int a, int b) { return std::abs(a - channels[c]) < std::abs(b - channels[c]); });
            if (std::abs(*nearest - channels[c]) > 24)
                return -1;
            code = code * 4 + int(nearest - std::begin(levels));
        }
        return code;
    }

    FlashingWindow()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(33);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { update(); });
        m_timer.start();
    }

    int paints = 0;

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(QRect(QPoint(), size()), colourOf(paints++)); }

private:
    QTimer m_timer;
};

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

// How long a recording ran by the wall clock, its pauses left out.
class RunningTime {
public:
    RunningTime() { m_clock.start(); }
    // Lets the recording run for MS, counting the time.
    void runFor(int ms)
    {
        const qint64 from = m_clock.elapsed();
        ::runFor(ms);
        m_ran += m_clock.elapsed() - from;
    }
    double seconds() const { return m_ran / 1000.0; }

private:
    QElapsedTimer m_clock;
    qint64 m_ran = 0;
};

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

// A sound server module loaded for a test, unloaded when the object goes
// (or earlier, with unload()).
class PulseModule {
public:
    explicit PulseModule(const QStringList &arguments)
        : id(QString::fromUtf8(runTool("pactl", QStringList {"load-module"} + arguments).trimmed()))
    {
        bool number = false;
        id.toUInt(&number);
        if (!number)
            id.clear();
    }
    ~PulseModule() { unload(); }
    PulseModule(const PulseModule &) = delete;
    PulseModule &operator=(const PulseModule &) = delete;
    bool isLoaded() const { return !id.isEmpty(); }
    void unload()
    {
        if (!id.isEmpty())
            runTool("pactl", {"unload-module", id});
        id.clear();
    }

private:
    QString id;
};

// A low-latency reader on a null sink's monitor, so that the sink paces like
// hardware and a tone starts within milliseconds of its module.
class SinkKeeper {
public:
    explicit SinkKeeper(const QString &sink)
    {
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start("parec", {"--latency-msec=20", "-d", sink + ".monitor"});
        m_process.waitForStarted(10000);
    }
    ~SinkKeeper()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
};

// The wall-clock window (ms on CLOCK) in which a tone module started.
struct ToneStart {
    std::unique_ptr<PulseModule> module;
    qint64 before = 0;
    qint64 after = 0;
};

ToneStart startTone(const QElapsedTimer &clock, const QString &sink, int frequency)
{
    ToneStart tone;
    tone.before = clock.elapsed();
    tone.module = std::make_unique<PulseModule>(
        QStringList {"module-sine", "sink=" + sink, QStringLiteral("frequency=%1").arg(frequency)});
    tone.after = clock.elapsed();
    return tone;
}

// Times (s) of the decoded video frames whose mean brightness crosses from
// dark to light: where the marker window turned white.
std::vector<double> lightOnsets(const QString &path)
{
    const QString out = QString::fromUtf8(runTool("ffmpeg",
        {"-v", "info", "-nostats", "-i", path, "-map", "0:v:0", "-vf", "showinfo", "-f", "null", "-"}, 120000));
    std::vector<double> onsets;
    bool light = false;
    const QRegularExpression line(R"(pts_time:\s*([0-9.]+).*?mean:\[(\d+))");
    for (auto it = line.globalMatch(out); it.hasNext();) {
        const auto match = it.next();
        const bool nowLight = match.captured(2).toInt() > 128;
        if (nowLight && !light)
            onsets.push_back(match.captured(1).toDouble());
        light = nowLight;
    }
    return onsets;
}

// Where FREQUENCY starts in audio track TRACK, searched from FROM for 1.4 s
// (the tone must still play at the end of that): the middle of the first
// 10 ms window holding at least half the tone's steady level. -1 when it
// never does.
double toneOnset(const QString &path, int track, double from, int frequency)
{
    const std::vector<float> samples = AudioChecks::decode(path, track, from, 1.4);
    const size_t block = AudioChecks::decodeRate / 200;
    if (samples.size() < 40 * block)
        return -1;
    const std::vector<float> tail(samples.end() - ptrdiff_t(20 * block), samples.end());
    const double steady = AudioChecks::toneAmplitude(tail, frequency);
    if (steady < 0.01)
        return -1;
    // Two blocks at a time: a 5 ms window is too short to tell 440 from 880 well.
    for (size_t start = 0; start + 2 * block <= samples.size(); start += block / 4) {
        const std::vector<float> window(
            samples.begin() + ptrdiff_t(start), samples.begin() + ptrdiff_t(start + 2 * block));
        if (AudioChecks::toneAmplitude(window, frequency) > steady / 2)
            return from + double(start + block) / AudioChecks::decodeRate;
    }
    return -1;
}

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

    // Shows WINDOW at PLACE, in points from DISPLAY's top left corner;
    // whether it was exposed.
    static bool showOn(QWindow &window, const DisplayInfo &display, const QRect &place)
    {
        window.setGeometry(place.translated(display.frame.topLeft()));
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }

    // A recorder of this desktop's pictures and sound as the program makes
    // one, counting the stops it makes by itself.
    struct LiveRecorder {
        LiveRecorder()
            : service(*services().frames, *services().audio)
            , recorder(*services().screens, service)
        {
            recorder.onUnexpectedStop = [this] { ++unexpected; };
        }

        LiveSegmentCapture service;
        ScreenRecorder recorder;
        int unexpected = 0;
    };

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
        ASSERT_TRUE(showOn(kept, display, QRect(300, 300, 200, 150)));

        Tone tone;
        ASSERT_FALSE(tone.module.isEmpty());
        LiveRecorder live;
        ScreenRecorder &recorder = live.recorder;
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

// Every repaint of a window changing 30 times a second is one picture, and
// no picture mixes two repaints. Counted against the repaints that really
// happened, so that a loaded machine painting fewer still passes.
TEST_F(RecordingX11, EachRepaintIsOnePictureAndNoPictureMixesTwo)
{
    const DisplayInfo display = firstDisplay();
    ASSERT_TRUE(display.id);
    FlashingWindow window;
    window.setFlags(Qt::FramelessWindowHint);
    const QRect area(display.pixelGeometry.topLeft() + QPoint(100, 100), QSize(640, 360));
    ASSERT_TRUE(showOn(window, display, QRect(100, 100, 640, 360)));
    runFor(500);

    SegmentSettings settings;
    settings.path = out.filePath("cores.mp4");
    settings.display = *display.id;
    settings.pixels = area;
    settings.showsCursor = false;
    auto writer = std::make_unique<SegmentWriter>(settings, SegmentNotices {}, *services().frames, *services().audio);
    ASSERT_TRUE(awaitTask(writer->startCapture()));
    // Repaints are counted while the capture runs, not while it opens or
    // stops: a loaded machine takes a quarter of a second for either, and
    // the repaints then would count against pictures no one could take.
    const int paintsBefore = window.paints;
    QElapsedTimer clock;
    clock.start();
    runFor(4000);
    const double seconds = clock.elapsed() / 1000.0;
    const int paints = window.paints - paintsBefore;
    ASSERT_TRUE(awaitTask(writer->stopCapture()));
    window.hide();
    EXPECT_EQ(writer->statistics().dropped, 0);
    // The writer's thread finishes the file as it ends.
    writer.reset();

    const std::vector<QImage> frames = decodeFrames(settings.path, area.size());
    ASSERT_GE(frames.size(), 2u);
    std::vector<int> codes;
    for (size_t i = 0; i < frames.size(); ++i) {
        const int code = FlashingWindow::codeOf(frames[i].pixel(320, 180));
        ASSERT_GE(code, 0) << "picture " << i << " shows none of the colours";
        int other = 0;
        for (int y = 0; y < frames[i].height(); y += 4)
            for (int x = 0; x < frames[i].width(); x += 4)
                other += FlashingWindow::codeOf(frames[i].pixel(x, y)) != code;
        EXPECT_EQ(other, 0) << "picture " << i << " mixes two repaints";
        codes.push_back(code);
    }
    int repeated = 0;
    int skipped = 0;
    for (size_t i = 1; i < codes.size(); ++i) {
        const int step = (codes[i] - codes[i - 1] + 64) % 64;
        repeated += step == 0;
        skipped += std::max(0, step - 1);
    }
    const double pictures = double(frames.size());
    std::printf("%d repaints (%.1f a second), %d pictures (%.1f a second), %d repeated, %d repaints missed\n", paints,
        paints / seconds, int(frames.size()), pictures / seconds, repeated, skipped);
    EXPECT_LE(repeated, 1) << "a repaint gave more than one picture";
    EXPECT_LE(skipped, std::max(1, paints / 10)) << "repaints were missed";
    // Pictures a second as the repaints a second, within one.
    EXPECT_LE(std::abs(pictures - 1 - paints), seconds);
}

TEST_F(RecordingX11, PauseAndResumeGiveOneFileOfTheRunningStretches)
{
    const DisplayInfo display = firstDisplay();
    ASSERT_TRUE(display.id);
    ColouredWindow kept(keptGreen);
    ASSERT_TRUE(showOn(kept, display, QRect(200, 200, 300, 200)));
    std::optional<Tone> tone;
    if (hasSound)
        tone.emplace();

    LiveRecorder live;
    ScreenRecorder &recorder = live.recorder;
    const QString path = out.filePath("pausa.mp4");
    const CaptureTarget target {*display.id, QRectF(100, 100, 401, 301)};
    ASSERT_TRUE(awaitTask(recorder.start(target, path, {hasSound, false})));
    RunningTime running;
    running.runFor(2000);
    pauseRecorder(recorder);
    runFor(2000);
    auto resumed = awaitTask(recorder.resume());
    ASSERT_TRUE(resumed) << resumed.error().description().toStdString();
    running.runFor(2000);
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    EXPECT_EQ(*stopped, path);

    const FileInfo info = probe(path);
    ASSERT_EQ(info.count("video"), 1);
    EXPECT_EQ(info.first("video")->width, 400);
    EXPECT_EQ(info.first("video")->height, 300);
    EXPECT_NEAR(info.duration, running.seconds(), 0.2);
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
    LiveRecorder live;
    ScreenRecorder &recorder = live.recorder;
    const QString path = out.filePath("segunda.mp4");
    ASSERT_TRUE(awaitTask(recorder.start({*second.id, std::nullopt}, path, {false, false})));
    runFor(1500);
    const auto restore = qScopeGuard([] {
        runTool("xrandr", {"--output", "DUMMY1", "--mode", "1280x1024", "--pos", "1920x0"});
    });
    runTool("xrandr", {"--output", "DUMMY1", "--off"});
    for (int i = 0; i < 50 && live.unexpected == 0; ++i)
        runFor(100);
    EXPECT_EQ(live.unexpected, 1);
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
    ASSERT_TRUE(showOn(kept, display, QRect(200, 200, 300, 200)));

    LiveRecorder live;
    ScreenRecorder &recorder = live.recorder;
    const QString path = out.filePath("sem-som.mp4");
    auto started = awaitTask(recorder.start({*display.id, QRectF(100, 100, 401, 301)}, path, {true, true}));
    ASSERT_TRUE(started) << started.error().description().toStdString();
    RunningTime running;
    running.runFor(1500);
    pauseRecorder(recorder);
    runFor(500);
    ASSERT_TRUE(awaitTask(recorder.resume()));
    running.runFor(1500);
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    EXPECT_EQ(*stopped, path) << "the segments were joined";
    EXPECT_EQ(live.unexpected, 0);

    const FileInfo info = probe(path);
    ASSERT_EQ(info.count("video"), 1);
    EXPECT_EQ(info.count("audio"), 0);
    EXPECT_EQ(info.first("video")->width, 400);
    EXPECT_NEAR(info.duration, running.seconds(), 0.25);
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

    LiveRecorder live;
    ScreenRecorder &recorder = live.recorder;
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
    EXPECT_EQ(live.unexpected, 0) << "the picture goes on";
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

// System audio plays 440 Hz into the default sink, the default microphone
// (the test desktop's remapped monitor of velunta_mic) hears 880 Hz. Each
// stretch of the recording starts silent on a black window; then, at one
// moment, the window turns white and both tones start: that moment must
// land at the same time in the picture and in every sound track, in the
// first segment and after a pause.
TEST_F(RecordingX11, BothSourcesGiveAMixFirstThatStaysInStepWithThePictureAcrossAPause)
{
    if (!hasSound)
        GTEST_SKIP() << "needs a PulseAudio server";
    if (!runTool("pactl", {"list", "short", "sources"}).contains("velunta_mic_in"))
        GTEST_SKIP() << "needs the test desktop's microphone (scripts/test-desktop)";
    const DisplayInfo display = firstDisplay();
    ASSERT_TRUE(display.id);
    const SinkKeeper micKeeper("velunta_mic");
    // A sound server started moments ago (as the test desktop's is) hands new
    // record streams their first sound late for about two seconds, and the
    // keeper has only just set the microphone's pace.
    runFor(3000);
    // Counts its paints, so that a colour change is known to be on the screen.
    class MarkerWindow : public ColouredWindow {
    public:
        using ColouredWindow::ColouredWindow;
        int paints = 0;

    protected:
        void paintEvent(QPaintEvent *event) override
        {
            ColouredWindow::paintEvent(event);
            ++paints;
        }
    };
    MarkerWindow marker(Qt::black);
    marker.setFlags(Qt::FramelessWindowHint);
    ASSERT_TRUE(showOn(marker, display, QRect(80, 80, 400, 300)));
    const auto paint = [&](QColor colour) {
        marker.colour = colour;
        const int before = marker.paints;
        marker.update();
        EXPECT_TRUE(QTest::qWaitFor([&] { return marker.paints > before; }, 2000));
        QGuiApplication::sync();
    };

    LiveRecorder live;
    ScreenRecorder &recorder = live.recorder;
    const QString path = out.filePath("mistura.mp4");
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(awaitTask(recorder.start({*display.id, QRectF(100, 100, 320, 240)}, path, {true, true})));
    struct Marker {
        qint64 flip = 0;
        ToneStart system;
        ToneStart microphone;
    };
    std::vector<Marker> markers;
    const auto mark = [&] {
        Marker m;
        paint(Qt::white);
        m.flip = clock.elapsed();
        m.system = startTone(clock, "velunta_null", 440);
        m.microphone = startTone(clock, "velunta_mic", 880);
        markers.push_back(std::move(m));
    };
    runFor(1200);
    mark();
    runFor(1200);
    pauseRecorder(recorder);
    markers.back().system.module->unload();
    markers.back().microphone.module->unload();
    paint(Qt::black);
    runFor(600);
    ASSERT_TRUE(awaitTask(recorder.resume()));
    // The resumed segment's new record streams may get their first sound late
    // on a loaded machine: the marker comes once they run.
    runFor(2500);
    mark();
    runFor(1200);
    auto stopped = awaitTask(recorder.stop());
    ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
    ASSERT_EQ(markers.size(), 2u);
    EXPECT_TRUE(recorder.missingAudio().empty());

    // Three tracks, the mix first and the one players pick.
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-select_streams", "a", "-show_streams", "-of", "json", path});
    ffprobe.waitForFinished(30000);
    const QJsonArray streams = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object()["streams"].toArray();
    ASSERT_EQ(streams.size(), 3);
    const QStringList titles {"Sistema + microfone", "Sistema", "Microfone"};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject stream = streams[i].toObject();
        EXPECT_EQ(stream["tags"].toObject()["handler_name"].toString(), titles[i]);
        EXPECT_EQ(stream["disposition"].toObject()["default"].toInt(), i == 0 ? 1 : 0) << i;
    }

    // What each track holds once both tones play (a spectrum, not a level).
    const std::vector<double> flips = lightOnsets(path);
    ASSERT_EQ(flips.size(), 2u) << "the marker window turns white once in each stretch";
    for (size_t m = 0; m < flips.size(); ++m) {
        SCOPED_TRACE(m == 0 ? "before the pause" : "after the resume");
        const double steady = flips[m] + 0.4;
        const std::vector<float> mix = AudioChecks::decode(path, 0, steady, 0.5);
        const std::vector<float> system = AudioChecks::decode(path, 1, steady, 0.5);
        const std::vector<float> microphone = AudioChecks::decode(path, 2, steady, 0.5);
        ASSERT_GT(mix.size(), 20000u);
        const double level = AudioChecks::toneAmplitude(system, 440);
        EXPECT_GT(level, 0.01) << "the system tone is there";
        EXPECT_GT(AudioChecks::toneAmplitude(mix, 440), level / 2);
        EXPECT_GT(AudioChecks::toneAmplitude(mix, 880), level / 2);
        EXPECT_LT(AudioChecks::toneAmplitude(system, 880), level / 20);
        EXPECT_GT(AudioChecks::toneAmplitude(microphone, 880), level / 2);
        EXPECT_LT(AudioChecks::toneAmplitude(microphone, 440), level / 20);

        // In step with the picture: each tone starts where the picture says
        // it was started. The file's time of the flip anchors the wall
        // clock; a tone's module started somewhere between the two ends of
        // its pactl call.
        const struct {
            int track;
            int frequency;
            const ToneStart *start;
        } checks[] = {{0, 440, &markers[m].system}, {0, 880, &markers[m].microphone}, {1, 440, &markers[m].system},
            {2, 880, &markers[m].microphone}};
        std::map<int, double> onsets;
        for (const auto &check : checks) {
            const double onset = toneOnset(path, check.track, flips[m] - 0.5, check.frequency);
            ASSERT_GT(onset, 0) << "track " << check.track << " never plays " << check.frequency << " Hz";
            const double earliest = flips[m] + (check.start->before - markers[m].flip) / 1000.0;
            const double latest = flips[m] + (check.start->after - markers[m].flip) / 1000.0;
            std::printf("[ marker ] %zu track %d %d Hz: onset %.3f s, started %.3f..%.3f s\n", m, check.track,
                check.frequency, onset, earliest, latest);
            EXPECT_GT(onset, earliest - 0.04) << "track " << check.track << " is early";
            EXPECT_LT(onset, latest + 0.04) << "track " << check.track << " is late";
            onsets[check.track * 1000 + check.frequency] = onset;
        }
        // Among themselves the tracks are exact: the mix is made of the very
        // samples of the sources' tracks.
        EXPECT_NEAR(onsets[440], onsets[1440], 0.003);
        EXPECT_NEAR(onsets[880], onsets[2880], 0.003);
    }
    // `ffmpeg -i rec.mp4 -map 0:a:0`, what a browser or an mp3 export takes, holds both.
    const std::vector<float> first = AudioChecks::decode(path, 0, flips[1] + 0.3, 0.5);
    EXPECT_GT(AudioChecks::toneAmplitude(first, 440), 0.005);
    EXPECT_GT(AudioChecks::toneAmplitude(first, 880), 0.005);
}

// A second microphone (its own null sink, remapped as an input, loaded here
// under names of its own so that it never meets a desktop's --second-microphone)
// plays 880 Hz while the default one plays 660 Hz.
TEST_F(RecordingX11, AChosenMicrophoneIsRecordedAndWhenItGoesTheDefaultIsUsedAndSaidSo)
{
    if (!hasSound)
        GTEST_SKIP() << "needs a PulseAudio server";
    if (!runTool("pactl", {"list", "short", "sources"}).contains("velunta_mic_in"))
        GTEST_SKIP() << "needs the test desktop's microphone (scripts/test-desktop)";
    const DisplayInfo display = firstDisplay();
    ASSERT_TRUE(display.id);
    PulseModule sink(
        {"module-null-sink", "sink_name=velunta_test_mic", "sink_properties=device.description=Saida-do-teste"});
    ASSERT_TRUE(sink.isLoaded());
    const SinkKeeper keeper("velunta_test_mic");
    const SinkKeeper defaultKeeper("velunta_mic");
    PulseModule second({"module-remap-source", "master=velunta_test_mic.monitor", "source_name=velunta_test_mic_in",
        "source_properties=device.description=Microfone-de-teste-2"});
    ASSERT_TRUE(second.isLoaded());
    PulseModule tone({"module-sine", "sink=velunta_test_mic", "frequency=880"});
    PulseModule defaultTone({"module-sine", "sink=velunta_mic", "frequency=660"});
    ASSERT_TRUE(tone.isLoaded() && defaultTone.isLoaded());
    // A new sink hands its first sound late for about two seconds (as the
    // private server's start does); nothing outside tells when that has passed.
    runFor(2500);

    // The settings page's list: inputs by description, never a monitor.
    PulseMicrophone microphones;
    const auto listed = [&](const QString &name) {
        for (const MicrophoneAccess::Input &input : microphones.inputs())
            if (input.name == name)
                return true;
        return false;
    };
    ASSERT_TRUE(TestSupport::waitFor([&] {
        QCoreApplication::processEvents();
        return listed("velunta_test_mic_in");
    }));
    for (const MicrophoneAccess::Input &input : microphones.inputs()) {
        EXPECT_FALSE(input.name.endsWith(".monitor")) << input.name.toStdString();
        if (input.name == "velunta_test_mic_in") {
            EXPECT_EQ(input.description, QStringLiteral("Microfone-de-teste-2"));
        }
    }

    LiveSegmentCapture service(*services().frames, *services().audio);
    const auto record = [&](const QString &name, bool *usedDefault) {
        ScreenRecorder recorder(*services().screens, service);
        recorder.setMicrophoneDevice("velunta_test_mic_in");
        const QString path = out.filePath(name);
        EXPECT_TRUE(awaitTask(recorder.start({*display.id, QRectF(0, 0, 320, 240)}, path, {false, true})));
        runFor(2500);
        EXPECT_TRUE(awaitTask(recorder.stop()));
        *usedDefault = recorder.usesDefaultMicrophone();
        return AudioChecks::decode(path, 0, 1.2, 1.0);
    };
    bool usedDefault = true;
    const std::vector<float> chosen = record("escolhido.mp4", &usedDefault);
    EXPECT_FALSE(usedDefault);
    ASSERT_GT(chosen.size(), 20000u);
    const double level = AudioChecks::toneAmplitude(chosen, 880);
    EXPECT_GT(level, 0.01) << "the chosen microphone's tone";
    EXPECT_LT(AudioChecks::toneAmplitude(chosen, 660), level / 20) << "not the default's";

    second.unload();
    ASSERT_TRUE(TestSupport::waitFor([&] {
        QCoreApplication::processEvents();
        return !listed("velunta_test_mic_in");
    })) << "the list follows the sound server";
    const std::vector<float> fallback = record("padrao.mp4", &usedDefault);
    EXPECT_TRUE(usedDefault) << "the recorder says the default was used";
    ASSERT_GT(fallback.size(), 20000u);
    EXPECT_GT(AudioChecks::toneAmplitude(fallback, 660), 0.01);
    EXPECT_LT(AudioChecks::toneAmplitude(fallback, 880), AudioChecks::toneAmplitude(fallback, 660) / 20);
}
