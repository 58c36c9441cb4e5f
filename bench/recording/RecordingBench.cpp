// Not a test: what recording costs. Run under the test desktop:
//   eval "$(scripts/test-desktop start)"; build/bench/recording/bench_recording [SECONDS] [RUNS]
// With --still first, only the still screen is measured (part 2's first figure).
//
// 1. 1920x1080 content changing 30 times a second (a window of this program,
//    run as a process of its own: text that scrolls and a box that moves, as
//    a desktop looks), system audio on, Velunta's recorder and then ffmpeg's x11grab with the same
//    encoder settings, RUNS times each (3 by default), medians printed:
//    CPU per second of recording (the recorder's process and the X server
//    together, in % of one core), pictures a second in the file, MB per
//    minute of recording.
// 2. A still screen, both again: % of one core; then with system audio and
//    microphone (three tracks: their mix first), and the mixing alone, a
//    second of sound at a time.
// 3. Stop of a one-segment one-minute recording until the file is in place.
// 4. What a crash loses: copies of the live segment taken at moments through
//    a recording (what a killed program leaves on disk), trimmed to their
//    whole fragments, against the time recorded then; busy and still screen.
#include "platform/PlatformServices.h"
#include "platform/media/MediaAsset.h"
#include "recording/AudioMix.h"
#include "recording/ScreenRecorder.h"
#include "recording/SegmentChecks.h"
#include "recording/SegmentWriter.h"
#include "support/AwaitTask.h"

#include <QApplication>
#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

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

// Sleeps in the event loop as the application does (QTest::qWait wakes
// every 10 ms, which would count in the still screen's figure).
void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One recording of SECONDS by either recorder: its costs, and the figures
// of the file it left.
struct Cost {
    double seconds = 0;
    double recorder = 0;
    double xServer = 0;
    int frames = 0;
    int64_t dropped = 0;
    qint64 bytes = 0;

    double cpuPercent() const { return seconds > 0 ? 100 * (recorder + xServer) / seconds : 0; }
    double picturesASecond() const { return seconds > 0 ? frames / seconds : 0; }
    double megabytesAMinute() const { return seconds > 0 ? bytes / 1e6 * 60 / seconds : 0; }
};

Cost recordWithWriter(PlatformServices &services, const DisplayInfo &display, const QString &path, int seconds,
    bool audio, bool microphone = false)
{
    SegmentSettings settings;
    settings.path = path;
    settings.display = *display.id;
    settings.pixels = QRect(display.pixelGeometry.topLeft(),
        QSize(display.pixelGeometry.width() & ~1, display.pixelGeometry.height() & ~1));
    settings.capturesSystemAudio = audio;
    settings.capturesMicrophone = microphone;
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
    cost.frames = frameCount(path);
    cost.bytes = QFileInfo(path).size();
    return cost;
}

// ffmpeg's x11grab at 30 pictures a second with the encoders Velunta uses
// (libx264 ultrafast, zero latency, CRF 23; AAC) and the default sink's monitor.
Cost recordWithFfmpeg(const QString &path, int seconds)
{
    const qint64 x = xServerPid();
    Cost cost;
    const double children0 = childrenCpu();
    const double x0 = processCpu(x);
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        {"-v", "error", "-y", "-f", "x11grab", "-framerate", "30", "-video_size", "1920x1080", "-i",
            qEnvironmentVariable("DISPLAY"), "-f", "pulse", "-i", monitorSource(), "-t", QString::number(seconds),
            "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-crf", "23", "-pix_fmt", "yuv420p",
            "-c:a", "aac", path});
    ffmpeg.waitForFinished(seconds * 1000 + 60000);
    cost.seconds = seconds;
    cost.recorder = childrenCpu() - children0;
    cost.xServer = processCpu(x) - x0;
    cost.frames = frameCount(path);
    cost.bytes = QFileInfo(path).size();
    return cost;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Medians {
    double cpu = 0;
    double pictures = 0;
    double megabytes = 0;
};

Medians medians(const std::vector<Cost> &runs)
{
    std::vector<double> cpu, pictures, megabytes;
    for (const Cost &run : runs) {
        cpu.push_back(run.cpuPercent());
        pictures.push_back(run.picturesASecond());
        megabytes.push_back(run.megabytesAMinute());
    }
    return {median(cpu), median(pictures), median(megabytes)};
}

void printRun(const char *who, int run, const Cost &cost)
{
    std::printf("  %s run %d: CPU %.1f %% of a core (%.2f s own + %.2f s X server in %.1f s), %.1f pictures a "
                "second, %.1f MB a minute%s\n",
        who, run, cost.cpuPercent(), cost.recorder, cost.xServer, cost.seconds, cost.picturesASecond(),
        cost.megabytesAMinute(), cost.dropped ? qPrintable(QStringLiteral(", %1 dropped").arg(cost.dropped)) : "");
}

// The animated content: a full-screen window that repaints 30 times a
// second, each picture a little different from the one before.
class Animation : public QRasterWindow {
public:
    Animation()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(33);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { update(); });
        m_timer.start();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(), size()), QColor(245, 245, 240));
        painter.setPen(QColor(30, 30, 40));
        const int line = painter.fontMetrics().height();
        for (int row = 0; row * line < height(); ++row)
            painter.drawText(20, (row + 1) * line,
                QStringLiteral("%1  linha %2 de um texto que rola devagar pela tela, como num terminal")
                    .arg(m_frame + row, 8)
                    .arg(row));
        const int x = (m_frame * 12) % std::max(1, width() - 300);
        painter.fillRect(x, height() / 3, 300, 200, QColor::fromHsv(m_frame * 3 % 360, 200, 220));
        ++m_frame;
    }

private:
    QTimer m_timer;
    int m_frame = 0;
};

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
    if (argc > 1 && QByteArray(argv[1]) == "--animate") {
        Animation animation;
        animation.setFlags(Qt::FramelessWindowHint);
        animation.setGeometry(QGuiApplication::primaryScreen()->geometry());
        animation.show();
        return app.exec();
    }
    // Each figure as soon as it is known: a run takes minutes.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const bool stillOnly = argc > 1 && QByteArray(argv[1]) == "--still";
    if (stillOnly) {
        --argc;
        ++argv;
    }
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
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    QTemporaryDir out;
    // With VELUNTA_BENCH_KEEP set, the files of the first part stay in a folder named on the way out.
    const bool keep = qEnvironmentVariableIsSet("VELUNTA_BENCH_KEEP");
    out.setAutoRemove(!keep);
    const qint64 x = xServerPid();
    std::printf("display %dx%d, X server pid %lld, %d s a run, %d runs each\n", display.pixelGeometry.width(),
        display.pixelGeometry.height(), x, seconds, runs);
    if (stillOnly) {
        std::printf("recording in process %lld\n", (long long)QCoreApplication::applicationPid());
        wait(1000);
        std::vector<Cost> still;
        for (int run = 0; run < runs; ++run) {
            still.push_back(recordWithWriter(services, display, out.filePath("still.mp4"), seconds, true));
            printRun("velunta", run, still.back());
        }
        std::printf(
            "still screen, median of %d runs: velunta %.2f %% of a core (own + X server)\n", runs, medians(still).cpu);
        return 0;
    }

    // 1. Animated content, the two recorders taking turns.
    QProcess player;
    player.start(QCoreApplication::applicationFilePath(), {"--animate"});
    player.waitForStarted();
    wait(3000);
    std::vector<Cost> ours, theirs;
    for (int run = 0; run < runs; ++run) {
        const QString path = out.filePath(QStringLiteral("velunta-%1.mp4").arg(run));
        ours.push_back(recordWithWriter(services, display, path, seconds, true));
        printRun("velunta", run, ours.back());
        if (!keep)
            QFile::remove(path);
        wait(500);
        const QString peer = out.filePath(QStringLiteral("ffmpeg-%1.mp4").arg(run));
        theirs.push_back(recordWithFfmpeg(peer, seconds));
        printRun("ffmpeg ", run, theirs.back());
        if (!keep)
            QFile::remove(peer);
        wait(500);
    }
    const std::vector<double> busyLosses = crashLosses(services, display, out.path(), 12);
    player.terminate();
    player.waitForFinished(3000);
    if (keep)
        std::printf("files kept in %s\n", qPrintable(out.path()));
    const Medians velunta = medians(ours);
    const Medians ffmpeg = medians(theirs);
    std::printf("content changing 30 times a second, medians of %d runs:\n", runs);
    std::printf(
        "  CPU a second of recording (own + X server): velunta %.1f %%, ffmpeg %.1f %% of a core (ratio %.2f)\n",
        velunta.cpu, ffmpeg.cpu, ffmpeg.cpu > 0 ? velunta.cpu / ffmpeg.cpu : 0);
    std::printf("  pictures a second: velunta %.1f, ffmpeg %.1f\n", velunta.pictures, ffmpeg.pictures);
    std::printf("  size: velunta %.1f MB a minute, ffmpeg %.1f MB a minute (ratio %.2f)\n", velunta.megabytes,
        ffmpeg.megabytes, ffmpeg.megabytes > 0 ? velunta.megabytes / ffmpeg.megabytes : 0);

    printLosses("busy screen", busyLosses);

    // 2. Still screen.
    wait(1000);
    std::vector<Cost> stillOurs, stillTheirs;
    for (int run = 0; run < runs; ++run) {
        stillOurs.push_back(recordWithWriter(services, display, out.filePath("still.mp4"), seconds, true));
        stillTheirs.push_back(recordWithFfmpeg(out.filePath("still-ffmpeg.mp4"), seconds));
    }
    std::printf("still screen, medians of %d runs: velunta %.2f %% of a core (own + X server, %d pictures), "
                "ffmpeg %.2f %%\n",
        runs, medians(stillOurs).cpu, stillOurs.back().frames, medians(stillTheirs).cpu);
    const Cost mixed = recordWithWriter(services, display, out.filePath("still-mixed.mp4"), seconds, true, true);
    std::printf("still screen, system audio and microphone mixed: velunta %.2f %% of a core (own + X server)\n",
        mixed.cpuPercent());
    {
        AudioMix mix(2, 2, 48000);
        std::vector<float> second(48000 * 2, 0.25f), out;
        const double cpu0 = selfCpu();
        for (int i = 0; i < 600; ++i) {
            mix.add(0, int64_t(i) * 48000, second.data(), 48000);
            mix.add(1, int64_t(i) * 48000, second.data(), 48000);
            out.clear();
            mix.take(out);
        }
        std::printf("mixing alone: %.3f %% of a core\n", 100 * (selfCpu() - cpu0) / 600);
    }

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
