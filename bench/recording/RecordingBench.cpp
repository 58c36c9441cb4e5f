// Not a test: what recording costs. Run under the test desktop:
//   eval "$(scripts/test-desktop start)"; build/bench/recording/bench_recording [SECONDS]
//
// 1. 1920x1080 content changing 30 times a second (ffplay's testsrc2), system
//    audio on: pictures recorded a second, pictures dropped, CPU seconds a
//    picture for the recorder and the X server, against ffmpeg's x11grab
//    with the same encoders.
// 2. A still screen: the recorder's share of one core.
// 3. Stop of a one-segment one-minute recording until the file is in place.
// 4. What a crash loses: copies of the live segment taken at moments through
//    a recording (what a killed program leaves on disk), trimmed to their
//    whole fragments, against the time recorded then; busy and still screen.
#include "platform/PlatformServices.h"
#include "platform/media/MediaAsset.h"
#include "recording/ScreenRecorder.h"
#include "recording/SegmentChecks.h"
#include "recording/SegmentWriter.h"

#include <QApplication>
#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

template <typename T> T awaitTask(QCoro::Task<T> task)
{
    std::optional<T> result;
    QEventLoop loop;
    auto body = [&]() -> QCoro::Task<> {
        result.emplace(co_await std::move(task));
        loop.quit();
    };
    auto running = body();
    if (!result)
        loop.exec();
    return std::move(*result);
}

double selfCpu()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

double childrenCpu()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// CPU seconds of process PID so far (0 when it cannot be read).
double processCpu(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

qint64 xServerPid()
{
    QFile file(qEnvironmentVariable("VELUNTA_DESKTOP_STATE") + "/x.pid");
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
}

QString monitorSource()
{
    QProcess pactl;
    pactl.start("pactl", {"get-default-sink"});
    pactl.waitForFinished();
    return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed() + ".monitor";
}

int frameCount(const QString &path)
{
    QProcess probe;
    probe.start("ffprobe",
        {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries", "stream=nb_read_packets", "-of",
            "csv=p=0", path});
    probe.waitForFinished(60000);
    return probe.readAllStandardOutput().trimmed().toInt();
}

void wait(int ms)
{
    QTest::qWait(ms);
}

struct Cost {
    double seconds = 0;
    double recorder = 0;
    double xServer = 0;
    int frames = 0;
    int64_t dropped = 0;
};

Cost recordWithWriter(
    PlatformServices &services, const DisplayInfo &display, const QString &path, int seconds, bool audio)
{
    SegmentSettings settings;
    settings.path = path;
    settings.display = *display.id;
    settings.pixels = QRect(display.pixelGeometry.topLeft(),
        QSize(display.pixelGeometry.width() & ~1, display.pixelGeometry.height() & ~1));
    settings.capturesSystemAudio = audio;
    auto writer = std::make_unique<SegmentWriter>(settings, SegmentNotices {}, *services.frames, *services.audio);
    const qint64 x = xServerPid();
    Cost cost;
    const double cpu0 = selfCpu();
    const double x0 = processCpu(x);
    QElapsedTimer clock;
    clock.start();
    auto started = awaitTask(writer->startCapture());
    if (!started) {
        std::fprintf(stderr, "start failed: %s\n", qPrintable(started.error().description));
        return cost;
    }
    wait(seconds * 1000);
    awaitTask(writer->stopCapture());
    cost.seconds = clock.elapsed() / 1000.0;
    const auto stats = writer->statistics();
    // Finishing the file is part of the cost: the writer's thread ends with it.
    writer.reset();
    cost.dropped = stats.dropped;
    cost.recorder = selfCpu() - cpu0;
    cost.xServer = processCpu(x) - x0;
    cost.frames = int(stats.encoded);
    return cost;
}

// Seconds a crash at each of COUNT moments, about a second apart, would lose.
std::vector<double> crashLosses(
    PlatformServices &services, const DisplayInfo &display, const QString &folder, int count)
{
    SegmentSettings settings;
    settings.path = folder + "/trecho-0.mp4";
    settings.display = *display.id;
    settings.pixels = QRect(display.pixelGeometry.topLeft(),
        QSize(display.pixelGeometry.width() & ~1, display.pixelGeometry.height() & ~1));
    settings.capturesSystemAudio = true;
    SegmentWriter writer(settings, SegmentNotices {}, *services.frames, *services.audio);
    std::vector<double> losses;
    QElapsedTimer clock;
    clock.start();
    if (!awaitTask(writer.startCapture()))
        return losses;
    for (int i = 0; i < count; ++i) {
        // Moments that do not line up with the writer's seconds.
        wait(1000 + 137 * (i % 7));
        const double recorded = clock.elapsed() / 1000.0;
        const QString copy = folder + QStringLiteral("/crash-%1.mp4").arg(i);
        QFile::copy(settings.path, copy);
        SegmentChecks::trimToCompleteFragments(copy);
        const auto duration = MediaAsset::open(copy).duration();
        losses.push_back(recorded - (duration ? duration->seconds() : 0.0));
        QFile::remove(copy);
    }
    awaitTask(writer.stopCapture());
    return losses;
}

void printLosses(const char *what, const std::vector<double> &losses)
{
    if (losses.empty())
        return;
    double worst = 0;
    double sum = 0;
    for (const double loss : losses) {
        worst = std::max(worst, loss);
        sum += loss;
    }
    std::printf("crash loss, %s: %.2f s on average, %.2f s at worst (%zu moments)\n", what, sum / double(losses.size()),
        worst, losses.size());
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 20;
    PlatformServices services = PlatformServices::create();
    DisplayInfo display;
    for (const DisplayInfo &candidate : services.screens->displays())
        if (candidate.id && !display.id)
            display = candidate;
    if (!display.id) {
        std::fprintf(stderr, "needs an X display with an output (scripts/test-desktop start)\n");
        return 1;
    }
    QTemporaryDir out;
    const qint64 x = xServerPid();
    std::printf("display %dx%d, X server pid %lld, %d s a run\n", display.pixelGeometry.width(),
        display.pixelGeometry.height(), x, seconds);

    // 1. Animated content.
    QProcessEnvironment sdl = QProcessEnvironment::systemEnvironment();
    sdl.insert("SDL_RENDER_DRIVER", "software");
    sdl.insert("SDL_FRAMEBUFFER_ACCELERATION", "0");
    QProcess player;
    player.setProcessEnvironment(sdl);
    player.start("ffplay",
        {"-v", "error", "-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=30", "-an", "-noborder", "-left", "0", "-top",
            "0"});
    player.waitForStarted();
    wait(3000);
    const QString ours = out.filePath("velunta.mp4");
    const Cost velunta = recordWithWriter(services, display, ours, seconds, true);
    wait(500);
    const int written = frameCount(ours);
    std::printf("velunta: %d pictures in %.1f s (%.1f a second, %d in the file), %lld dropped\n", velunta.frames,
        velunta.seconds, velunta.frames / velunta.seconds, written, (long long)velunta.dropped);
    std::printf("velunta: CPU %.2f s recorder + %.2f s X server = %.1f ms a picture (%.1f ms without the X server)\n",
        velunta.recorder, velunta.xServer, 1000 * (velunta.recorder + velunta.xServer) / std::max(1, written),
        1000 * velunta.recorder / std::max(1, written));

    const QString theirs = out.filePath("ffmpeg.mp4");
    const double children0 = childrenCpu();
    const double x0 = processCpu(x);
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        {"-v", "error", "-y", "-f", "x11grab", "-framerate", "30", "-video_size", "1920x1080", "-i",
            qEnvironmentVariable("DISPLAY"), "-f", "pulse", "-i", monitorSource(), "-t", QString::number(seconds),
            "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-pix_fmt", "yuv420p", "-c:a", "aac",
            theirs});
    ffmpeg.waitForFinished(seconds * 1000 + 60000);
    const double ffmpegCpu = childrenCpu() - children0;
    const double ffmpegX = processCpu(x) - x0;
    const int theirFrames = frameCount(theirs);
    const std::vector<double> busyLosses = crashLosses(services, display, out.path(), 12);
    player.terminate();
    player.waitForFinished(3000);
    std::printf("ffmpeg x11grab: %d pictures, CPU %.2f s + %.2f s X server = %.1f ms a picture\n", theirFrames,
        ffmpegCpu, ffmpegX, 1000 * (ffmpegCpu + ffmpegX) / std::max(1, theirFrames));
    if (written > 0 && theirFrames > 0)
        std::printf("ratio (CPU a picture, both counting the X server): %.2f\n",
            ((velunta.recorder + velunta.xServer) / written) / ((ffmpegCpu + ffmpegX) / theirFrames));

    printLosses("busy screen", busyLosses);

    // 2. Still screen.
    wait(1000);
    const Cost still = recordWithWriter(services, display, out.filePath("still.mp4"), seconds, true);
    std::printf("still screen: %.1f %% of a core (recorder), %.1f %% (X server), %d pictures\n",
        100 * still.recorder / still.seconds, 100 * still.xServer / still.seconds, still.frames);

    printLosses("still screen", crashLosses(services, display, out.path(), 12));

    // 3. Stop of a one-minute recording.
    LiveSegmentCapture service(*services.frames, *services.audio);
    ScreenRecorder recorder(*services.screens, service);
    const QString final = out.filePath("Gravação.mp4");
    if (!awaitTask(recorder.start({*display.id, std::nullopt}, final, {true, false}))) {
        std::fprintf(stderr, "recorder did not start\n");
        return 1;
    }
    wait(60000);
    QElapsedTimer stopClock;
    stopClock.start();
    auto stopped = awaitTask(recorder.stop());
    const qint64 stopMs = stopClock.elapsed();
    std::printf("stop of a one-minute recording: %lld ms (%s, %.1f MB)\n", (long long)stopMs,
        stopped ? "saved" : qPrintable(stopped.error().description()), QFileInfo(final).size() / 1e6);
    return 0;
}
