// Joining a 10-minute 1080p recording made of three H.264+AAC segments:
// Velunta's join against `ffmpeg -f concat -c copy` on the same files, in
// the same run. Targets: at most 1.2x ffmpeg's time and 64 MB peak memory.
//   merge_bench [WORK_FOLDER]
// The segments are generated once (with ffmpeg's lavfi sources at a low frame
// rate) and kept in the work folder for later runs.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

constexpr int kSegments = 3;
constexpr int kSegmentSeconds = 200;

struct Run {
    int status = -1;
    double seconds = 0;
    long maxRssKb = 0;
};

// Runs a program to its end; the child's own peak memory comes from wait4.
Run runChild(const QStringList &command)
{
    std::vector<QByteArray> storage;
    for (const QString &part : command)
        storage.push_back(part.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &part : storage)
        argv.push_back(part.data());
    argv.push_back(nullptr);

    Run run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return run;
    int status = 0;
    rusage usage {};
    if (wait4(pid, &status, 0, &usage) < 0)
        return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    run.maxRssKb = usage.ru_maxrss;
    return run;
}

bool makeSegment(const QString &path, int index)
{
    if (QFileInfo(path).size() > 0)
        return true;
    std::printf("generating %s\n", qPrintable(path));
    std::fflush(stdout);
    // testsrc2 moves every frame, so every packet is a real-sized one.
    const Run run = runChild({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
        QStringLiteral("testsrc2=s=1920x1080:r=5:d=%1").arg(kSegmentSeconds), "-f", "lavfi", "-i",
        QStringLiteral("sine=f=%1:sample_rate=48000:d=%2").arg(440 + 110 * index).arg(kSegmentSeconds), "-c:v",
        "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-pix_fmt", "yuv420p", "-g", "300", "-c:a", "aac",
        "-ac", "2", "-b:a", "128k", path + ".part.mp4"});
    return run.status == 0 && QFile::rename(path + ".part.mp4", path);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath() + "/velunta-merge-bench";
    QDir().mkpath(work);
    const QDir folder(work);

    QStringList segments;
    QString list;
    for (int i = 0; i < kSegments; ++i) {
        const QString path = folder.filePath(QStringLiteral("trecho-%1.mp4").arg(i));
        if (!makeSegment(path, i)) {
            std::fprintf(stderr, "could not generate %s (is ffmpeg installed?)\n", qPrintable(path));
            return 2;
        }
        segments << path;
        list += QStringLiteral("file '%1'\n").arg(path);
    }
    QFile listFile(folder.filePath("list.txt"));
    if (!listFile.open(QIODevice::WriteOnly) || listFile.write(list.toUtf8()) < 0)
        return 2;
    listFile.close();

    const QString ffmpegOut = folder.filePath("ffmpeg-concat.mp4");
    const QString veluntaOut = folder.filePath("velunta-unido.mp4");
    const QStringList ffmpeg {"ffmpeg", "-v", "error", "-y", "-f", "concat", "-safe", "0", "-i", listFile.fileName(),
        "-c", "copy", ffmpegOut};
    QStringList join {QStringLiteral(MERGE_JOIN_PATH), veluntaOut};
    for (const QString &segment : segments)
        join << segment + QStringLiteral(":%1").arg(kSegmentSeconds);

    // One untimed round of each puts the segments in the page cache for both.
    if (runChild(ffmpeg).status != 0 || runChild(join).status != 0) {
        std::fprintf(stderr, "a warm-up join failed\n");
        return 2;
    }
    std::vector<double> ffmpegTimes, veluntaTimes;
    long ffmpegRss = 0, veluntaRss = 0;
    for (int round = 0; round < 5; ++round) {
        const Run a = runChild(ffmpeg);
        const Run b = runChild(join);
        if (a.status != 0 || b.status != 0) {
            std::fprintf(stderr, "a join failed\n");
            return 2;
        }
        ffmpegTimes.push_back(a.seconds);
        veluntaTimes.push_back(b.seconds);
        ffmpegRss = std::max(ffmpegRss, a.maxRssKb);
        veluntaRss = std::max(veluntaRss, b.maxRssKb);
    }

    const double ratio = median(veluntaTimes) / median(ffmpegTimes);
    const double input
        = double(QFileInfo(segments[0]).size() + QFileInfo(segments[1]).size() + QFileInfo(segments[2]).size())
        / (1024 * 1024);
    std::printf("input: %d segments, %d s, 1920x1080, %.0f MB\n", kSegments, kSegments * kSegmentSeconds, input);
    std::printf("ffmpeg concat -c copy: median %.3f s, peak RSS %.1f MB\n", median(ffmpegTimes), ffmpegRss / 1024.0);
    std::printf("velunta join:          median %.3f s, peak RSS %.1f MB\n", median(veluntaTimes), veluntaRss / 1024.0);
    std::printf("time ratio %.2f (target <= 1.20), peak memory %.1f MB (target <= 64)\n", ratio, veluntaRss / 1024.0);
    const bool met = ratio <= 1.2 && veluntaRss <= 64 * 1024;
    std::printf("%s\n", met ? "targets met" : "TARGETS MISSED");
    return met ? 0 : 1;
}
