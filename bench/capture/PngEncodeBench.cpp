// The PNG encode alone, on the screens a screenshot meets, against
// QImageWriter at zlib's default level: wall time, CPU time of all threads,
// and size against that reference (screenshots must stay within 1.05 times).
//
//   bench_png_encode [--runs N] [--threads T] [--level L]
//
// Needs no display (Qt's offscreen platform draws the text); under perf,
// a large --runs keeps the encoder busy long enough to sample.
#include "BenchScreens.h"
#include "capture/CaptureEngine.h"
#include "capture/PngEncoder.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImageWriter>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// User plus system time of every thread of the process.
double processCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

qsizetype zlibDefaultSize(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes.size();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"runs", "Encodes per screen.", "N", "21"});
    parser.addOption({"threads", "Encoder threads (0: one per core).", "T", "0"});
    parser.addOption({"level", "libdeflate level (0: the screenshots' own).", "L", "0"});
    parser.process(app);
    const int runs = std::max(3, parser.value("runs").toInt());
    const int threads = parser.value("threads").toInt();
    const int level = parser.value("level").toInt();

    QImage document(1920, 1080, QImage::Format_RGB32);
    document.fill(Qt::white);
    const QImage strokes = BenchScreens::denseStrokes();
    QPainter(&document).drawImage(QRect(60, 60, 1200, 900), strokes, QRect(60, 60, 1200, 900));
    // Nearly empty: where each band's own header and fresh window show most.
    QImage empty(1920, 1080, QImage::Format_RGB32);
    empty.fill(Qt::black);
    QPainter(&empty).fillRect(QRect(1700, 0, 220, 24), QColor(60, 60, 60));
    const struct {
        const char *name;
        QImage image;
    } screens[] = {
        {"busy desktop", BenchScreens::busyDesktop()},
        {"dense strokes", strokes},
        {"document", document},
        {"empty desktop", empty},
    };

    for (const auto &screen : screens) {
        std::vector<double> walls, cpus;
        qsizetype size = 0;
        for (int run = 0; run < runs; ++run) {
            const double cpuBefore = processCpuMs();
            QElapsedTimer timer;
            timer.start();
            qsizetype written = 0;
            if (threads == 0 && level == 0) {
                // The screenshots' own path and level.
                const auto png = CaptureEngine::pngData(screen.image, 1.0);
                written = png ? png->size() : 0;
            } else {
                PngEncoder::Options options;
                options.threads = threads;
                if (level > 0)
                    options.level = level;
                const auto png = PngEncoder::encode(screen.image, options);
                written = png ? png->size() : 0;
            }
            walls.push_back(double(timer.nsecsElapsed()) / 1e6);
            cpus.push_back(processCpuMs() - cpuBefore);
            if (written == 0) {
                std::fprintf(stderr, "%s: the encoder failed\n", screen.name);
                return 1;
            }
            size = written;
        }
        const qsizetype reference = zlibDefaultSize(screen.image);
        std::printf("%-14s median %.1f ms (min %.1f), CPU %.1f ms, %lld bytes, %.3fx zlib default (%lld)\n",
            screen.name, median(walls), *std::min_element(walls.begin(), walls.end()), median(cpus),
            static_cast<long long>(size), double(size) / double(reference), static_cast<long long>(reference));
    }
    return 0;
}
