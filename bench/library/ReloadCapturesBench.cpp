// The library's folder scan over 10,000 captures, the size of a save folder
// after a few years of daily use. Target: 150 ms for a reload.
#include "core/Preferences.h"
#include "ui/AppModel.h"
#include "ui/LibraryModel.h"
#include "ui/LibraryScanner.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <ctime>

namespace {

QTemporaryDir &folderOfCaptures()
{
    static QTemporaryDir dir;
    static bool filled = false;
    if (!filled) {
        for (int i = 0; i < 10000; ++i) {
            const bool video = i % 5 == 0;
            const QString name
                = QStringLiteral("%1 2026-%2-%3 às 10.%4.%5%6")
                      .arg(video ? QStringLiteral("Gravação") : QStringLiteral("Print"))
                      .arg(1 + i % 12, 2, 10, QChar('0'))
                      .arg(1 + i % 28, 2, 10, QChar('0'))
                      .arg(i / 60 % 60, 2, 10, QChar('0'))
                      .arg(i % 60, 2, 10, QChar('0'))
                      .arg(video ? QStringLiteral(" (%1).mp4").arg(i) : QStringLiteral(" (%1).png").arg(i));
            QFile f(dir.filePath(name));
            f.open(QIODevice::WriteOnly);
        }
        filled = true;
    }
    return dir;
}

void scanFolder(benchmark::State &state)
{
    const QString path = folderOfCaptures().path();
    for (auto _ : state) {
        auto items = LibraryScanner::scanFolder(path);
        benchmark::DoNotOptimize(items);
        if (items.size() != 10000)
            state.SkipWithError("wrong number of captures");
    }
}
BENCHMARK(scanFolder)->Unit(benchmark::kMillisecond);

// The whole reload as the GUI sees it: scan off the thread, apply on it.
void reloadCaptures(benchmark::State &state)
{
    QTemporaryDir settings;
    Preferences preferences(settings.filePath("Velunta.conf"));
    AppModel model({.preferences = &preferences});
    for (auto _ : state) {
        preferences.setSaveFolder(state.iterations() % 2 ? folderOfCaptures().path() : folderOfCaptures().path() + "/");
        QCoro::waitFor(model.reloadCaptures());
        if (model.captures().size() != 10000)
            state.SkipWithError("wrong number of captures");
    }
}
BENCHMARK(reloadCaptures)->Unit(benchmark::kMillisecond);

// The library page's rows for 10,000 captures: filtering, day headings and
// rows of tiles, all on the GUI thread whenever the list or filter changes.
void libraryRows(benchmark::State &state)
{
    AppModel model({}, folderOfCaptures().path());
    QCoro::waitFor(model.reloadCaptures());
    LibraryModel library;
    library.setColumns(4);
    library.setSource(&model);
    int filter = 0;
    for (auto _ : state) {
        filter = (filter + 1) % 3;
        library.setFilter(filter);
        benchmark::DoNotOptimize(library.rowCount());
    }
}
BENCHMARK(libraryRows)->Unit(benchmark::kMillisecond);

// The library page's share of a reload after one capture left or came back:
// only the time its rows take on the GUI thread, not the scan. Captures are
// dated by their number, three an hour, so that they spread over 139 days.
void libraryRowsOnReload(benchmark::State &state)
{
    AppModel::Services services;
    services.captureDate = [](const QString &path) {
        const int number = path.section(QLatin1Char('('), -1).section(QLatin1Char(')'), 0, 0).toInt();
        return QDateTime(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC).addSecs(-qint64(number) * 1200);
    };
    AppModel model(services, folderOfCaptures().path());
    // CPU time of the GUI thread: the machine is shared, wall time is noise.
    const auto threadSeconds = [] {
        timespec now {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) + now.tv_nsec / 1e9;
    };
    double start = 0;
    QObject::connect(&model, &AppModel::capturesChanged, [&] { start = threadSeconds(); });
    QCoro::waitFor(model.reloadCaptures());
    LibraryModel library;
    library.setColumns(4);
    library.setSource(&model);
    double seconds = 0;
    QObject::connect(&model, &AppModel::capturesChanged, [&] { seconds = threadSeconds() - start; });
    const QString moving = model.captures().at(5000).path;
    for (auto _ : state) {
        if (QFile::exists(moving))
            QFile::remove(moving);
        else
            QFile(moving).open(QIODevice::WriteOnly);
        QCoro::waitFor(model.reloadCaptures());
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(libraryRowsOnReload)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
