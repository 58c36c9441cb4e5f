// The archive hash must keep up with a fast disk (target: 1 GB/s) without its
// memory growing with the file. Writes a 1 GiB file, hashes it twice (the
// second pass from the page cache), and reports speed and peak memory.
#include "updater/UpdateEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// CPU seconds of this process: on a shared machine the wall clock also
// counts the time other programs held the core.
double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) + QStringLiteral("/bench-XXXXXX") : QString());
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    const QString path = dir.filePath(QStringLiteral("archive.bin"));
    constexpr qint64 size = qint64(1) << 30;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "%s\n", qPrintable(file.errorString()));
            return 1;
        }
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < block.size(); ++i)
            block[i] = char((i * 2654435761u) >> 24);
        for (qint64 written = 0; written < size; written += block.size()) {
            block[0] = char(written >> 20); // no two blocks alike
            if (file.write(block) != block.size()) {
                std::fprintf(stderr, "%s\n", qPrintable(file.errorString()));
                return 1;
            }
        }
    }

    const long before = peakKiB();
    int status = 0;
    for (int pass = 1; pass <= 2; ++pass) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = cpuSeconds();
        const auto digest = UpdateEngine::sha256(path);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const double cpu = cpuSeconds() - cpuStart;
        if (!digest) {
            std::fprintf(stderr, "%s\n", qPrintable(digest.error().message()));
            return 1;
        }
        const double rate = double(size) / seconds / 1e9;
        const double cpuRate = double(size) / cpu / 1e9;
        std::printf("pass %d: %.3f s wall = %.2f GB/s, %.3f s CPU = %.2f GB/s (target 1 GB/s) %s\n", pass, seconds,
            rate, cpu, cpuRate, qPrintable(digest->left(16)));
        if (pass == 2 && cpuRate < 1.0)
            status = 2;
    }
    const long after = peakKiB();
    std::printf("peak memory %ld KiB before hashing, %ld KiB after (grew %ld KiB for a 1 GiB file)\n", before, after,
        after - before);
    return status;
}
