// Not a test: what recording costs on headless mutter. A full-screen window
// changes its whole 1920x1080 picture 30 times a second; Velunta's segment
// writer records the monitor through the ScreenCast portal while GStreamer
// (pipewiresrc ! videoconvert ! x264enc ultrafast/zerolatency ! mp4mux)
// reads the same PipeWire node in the same run. Prints CPU seconds a
// picture for each and their ratio. The compositor's own cost is in neither.
#include "platform/NullPlatform.h"
#include "platform/wayland/WaylandFrameSource.h"
#include "recording/SegmentWriter.h"
#include "support/AwaitTask.h"

#include <QApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <optional>
#include <set>
#include <sys/resource.h>

namespace {

double seconds(const timeval &value)
{
    return double(value.tv_sec) + double(value.tv_usec) / 1e6;
}

double cpu(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
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

std::set<int> videoSources()
{
    QProcess dump;
    dump.start("pw-dump", {});
    dump.waitForFinished(10000);
    std::set<int> nodes;
    for (const QJsonValue &value : QJsonDocument::fromJson(dump.readAllStandardOutput()).array()) {
        const QJsonObject object = value.toObject();
        if (object["type"].toString() == "PipeWire:Interface:Node"
            && (object["info"]["props"]["media.class"].toString() == "Stream/Output/Video"
                || object["info"]["props"]["media.class"].toString() == "Video/Source"))
            nodes.insert(object["id"].toInt());
    }
    return nodes;
}

// Starts the cast desktop and puts its environment into this process.
std::optional<QString> startDesktop()
{
    QProcess start;
    start.start(VELUNTA_TEST_DESKTOP, {"start", "--wayland"});
    start.waitForFinished(60000);
    if (start.exitCode() != 0) {
        std::fprintf(stderr, "%s\n", start.readAllStandardError().constData());
        return std::nullopt;
    }
    const QRegularExpression assignment(QStringLiteral("^export (\\w+)=(.*)$"));
    for (const QString &line : QString::fromUtf8(start.readAllStandardOutput()).split('\n')) {
        const auto match = assignment.match(line.trimmed());
        if (match.hasMatch())
            qputenv(match.captured(1).toUtf8().constData(), match.captured(2).toUtf8());
    }
    return qEnvironmentVariable("VELUNTA_DESKTOP_STATE");
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runSeconds = argc > 1 ? std::max(5, atoi(argv[1])) : 20;
    const std::optional<QString> state = startDesktop();
    if (!state) {
        std::fprintf(stderr, "the cast desktop did not start\n");
        return 1;
    }
    QProcess picture;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "wayland");
    picture.setProcessEnvironment(environment);
    picture.start(VELUNTA_MOVING_PICTURE, {QString::number(runSeconds + 60)});
    picture.waitForStarted();
    QTest::qWait(2000);

    QTemporaryDir out;
    PortalScreenCast portal(WaylandFrameSource::tokensIn(nullptr));
    // The cast desktop's one monitor, unscaled; this program's own screens
    // are not on it.
    const DisplayInfo monitor {1, "Meta-0", QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080), 1.0, true};
    WaylandFrameSource frames(&portal, [monitor] { return std::vector<DisplayInfo> {monitor}; });
    NullAudioSource audio;
    SegmentSettings settings;
    settings.path = out.filePath("velunta.mp4");
    settings.display = monitor.id.value_or(0);
    settings.pixels = QRect(0, 0, 1920, 1080);
    const std::set<int> before = videoSources();
    auto writer = std::make_unique<SegmentWriter>(settings, SegmentNotices {}, frames, audio);
    const double self0 = cpu(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    auto started = awaitTask(writer->startCapture());
    if (!started) {
        std::fprintf(stderr, "start failed: %s\n", qPrintable(started.error().description));
        QProcess::execute(VELUNTA_TEST_DESKTOP, {"stop", *state});
        return 1;
    }
    int node = 0;
    for (int id : videoSources())
        if (!before.count(id))
            node = id;

    const QString theirs = out.filePath("gstreamer.mp4");
    const double children0 = cpu(RUSAGE_CHILDREN);
    QProcess gst;
    gst.start("gst-launch-1.0",
        {"-q", "-e", "pipewiresrc", QStringLiteral("path=%1").arg(node), "!", "videoconvert", "!", "x264enc",
            "speed-preset=ultrafast", "tune=zerolatency", "!", "mp4mux", "!", "filesink", "location=" + theirs});
    gst.waitForStarted();
    QTest::qWait(runSeconds * 1000);
    ::kill(pid_t(gst.processId()), SIGINT); // -e: end the stream so that mp4mux finishes the file
    awaitTask(writer->stopCapture());
    const double wall = clock.elapsed() / 1000.0;
    const auto stats = writer->statistics();
    writer.reset(); // finishing the file is part of the cost
    const double ours = cpu(RUSAGE_SELF) - self0;
    gst.waitForFinished(60000);
    const double theirsCpu = cpu(RUSAGE_CHILDREN) - children0;

    const int ourFrames = frameCount(settings.path);
    const int theirFrames = frameCount(theirs);
    picture.terminate();
    picture.waitForFinished(3000);
    QProcess::execute(VELUNTA_TEST_DESKTOP, {"stop", *state});

    std::printf("node %d, %.1f s, 1920x1080 changing at 30 Hz\n", node, wall);
    std::printf("velunta: %lld read, %lld dropped, %d in the file; CPU %.2f s = %.2f ms a picture\n",
        (long long)stats.captured, (long long)stats.dropped, ourFrames, ours, 1000 * ours / std::max(1, ourFrames));
    std::printf("gstreamer: %d in the file; CPU %.2f s = %.2f ms a picture\n", theirFrames, theirsCpu,
        1000 * theirsCpu / std::max(1, theirFrames));
    if (ourFrames > 0 && theirFrames > 0)
        std::printf("ratio velunta/gstreamer (CPU a picture): %.2f\n", (ours / ourFrames) / (theirsCpu / theirFrames));
    return 0;
}
