// The library page over 10,000 captures, the way a user meets it: from the
// click on "Biblioteca" to its first frame on screen, then scrolling down the
// whole list, then switching the kind filter half way down. Targets: first
// frame within 500 ms; while scrolling and around a filter switch the GUI
// thread never away for more than 16 ms at a time.
//
//   build/bench/library/bench_library_page [CAPTURES]
//   eval "$(scripts/test-desktop start)"; build/bench/library/bench_library_page
//
// With DISPLAY set it draws on that X server, else offscreen; always with the
// software renderer, whose basic render loop draws on the GUI thread, so every
// frame's drawing counts against the 16 ms (QSG_RENDER_LOOP=threaded moves it
// to a thread of its own).
//
// The captures (real PNGs, a recording every 400th) are made once into
// $XDG_CACHE_HOME/velunta-bench (or ~/.cache) and reused by later runs.
//
// How long the GUI thread is away is measured from another thread: a watchdog
// posts an event to the GUI thread and times how long it waits to be handled,
// over and over, so that no timer of the GUI thread takes part. The frames'
// intervals come from frameSwapped.
#include "core/Preferences.h"
#include "platform/media/SyntheticVideo.h"
#include "ui/AppModel.h"
#include "ui/MainMenu.h"
#include "ui/MainWindow.h"
#include "ui/QmlUi.h"

#include <QApplication>
#include <QBuffer>
#include <QCoroTask>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <sys/time.h>
#include <thread>
#include <time.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

QQuickItem *findItem(QQuickItem *root, const QString &name)
{
    if (!root)
        return nullptr;
    if (root->objectName() == name)
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

QString cacheRoot()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/velunta-bench");
}

QByteArray pngOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A screenshot-like picture: a window, some text lines, a coloured bar.
QImage picture(int variant)
{
    QImage image(800, 500, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((variant * 37) % 360, 40, 235));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor::fromHsv((variant * 71) % 360, 160, 200));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(40 + variant * 7, 40, 500, 320), 12, 12);
    painter.setPen(Qt::black);
    for (int line = 0; line < 8; ++line)
        painter.drawText(
            QPointF(70 + variant * 7, 100 + line * 28), QStringLiteral("Linha %1 do print %2").arg(line).arg(variant));
    return image;
}

// COUNT captures spread over a year, a few a day, so that there are many
// days: made once, then found in the cache.
QString captureFolder(int count)
{
    const QString folder = QStringLiteral("%1/library-%2").arg(cacheRoot()).arg(count);
    if (QFile::exists(folder + QStringLiteral("/.complete")))
        return folder;
    std::fprintf(stderr, "making %d captures in %s (once)\n", count, qPrintable(folder));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    std::vector<QByteArray> pngs;
    for (int variant = 0; variant < 16; ++variant)
        pngs.push_back(pngOf(picture(variant)));
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < count; ++i) {
        const QDateTime date = now.addSecs(-qint64(i) * 3000);
        const bool video = i % 400 == 17;
        const QString stamp = date.toString(QStringLiteral("yyyy-MM-dd 'às' HH.mm.ss"));
        const QString path = video ? QStringLiteral("%1/Gravação %2 (%3).mp4").arg(folder, stamp).arg(i)
                                   : QStringLiteral("%1/Print %2 (%3).png").arg(folder, stamp).arg(i);
        if (video) {
            SyntheticVideo::Options options;
            options.videoSeconds = 0.2;
            options.audioTracks = {};
            options.pixelByte = static_cast<unsigned char>(0x30 + i % 0x80);
            if (!SyntheticVideo::write(path, options)) {
                std::fprintf(stderr, "could not write %s\n", qPrintable(path));
                std::exit(1);
            }
        } else {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(pngs[size_t(i) % pngs.size()]) < 0) {
                std::fprintf(stderr, "could not write %s\n", qPrintable(path));
                std::exit(1);
            }
        }
        const timeval times[2] = {{date.toSecsSinceEpoch(), 0}, {date.toSecsSinceEpoch(), 0}};
        ::utimes(QFile::encodeName(path).constData(), times);
    }
    QFile(folder + QStringLiteral("/.complete")).open(QIODevice::WriteOnly);
    return folder;
}

double threadCpuMs(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + now.tv_nsec / 1e6;
}

// Times from another thread how long the GUI thread leaves a posted event
// waiting: one event at a time, the next posted a millisecond after the last
// one was handled. Also how much of that wait the GUI thread spent working:
// on a loaded machine the wall time holds other programs' turns too.
class Watchdog : public QObject {
public:
    // Made on the GUI thread.
    Watchdog()
    {
        pthread_getcpuclockid(pthread_self(), &m_guiClock);
        m_thread = std::thread([this] { run(); });
    }
    ~Watchdog() override { stop(); }

    void stop()
    {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
    }
    // The stretches measured since the last call: wall time, GUI thread's CPU time.
    std::pair<std::vector<double>, std::vector<double>> take()
    {
        std::lock_guard lock(m_mutex);
        return {std::exchange(m_waits, {}), std::exchange(m_work, {})};
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != pingType())
            return QObject::event(event);
        m_handledAt.store(Clock::now().time_since_epoch().count());
        m_cpuAtHandling.store(threadCpuMs(CLOCK_THREAD_CPUTIME_ID));
        m_handled.release();
        return true;
    }

private:
    static QEvent::Type pingType()
    {
        static const auto type = QEvent::Type(QEvent::registerEventType());
        return type;
    }

    void run()
    {
        while (m_running) {
            const Clock::time_point posted = Clock::now();
            const double cpuAtPosting = threadCpuMs(m_guiClock);
            QCoreApplication::postEvent(this, new QEvent(pingType()));
            while (!m_handled.tryAcquire(1, 50)) {
                if (!m_running)
                    return;
            }
            const Clock::time_point handled {Clock::duration(m_handledAt.load())};
            {
                std::lock_guard lock(m_mutex);
                m_waits.push_back(msBetween(posted, handled));
                m_work.push_back(m_cpuAtHandling.load() - cpuAtPosting);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::atomic<bool> m_running = true;
    std::atomic<Clock::rep> m_handledAt = 0;
    std::atomic<double> m_cpuAtHandling = 0;
    clockid_t m_guiClock {};
    QSemaphore m_handled;
    std::mutex m_mutex;
    std::vector<double> m_waits;
    std::vector<double> m_work;
    std::thread m_thread;
};

struct Stretches {
    double longest = 0;
    double p999 = 0;
    long long over = 0;
    size_t count = 0;
    std::vector<double> top;
};

Stretches summary(std::vector<double> waits, double limit)
{
    Stretches result;
    result.count = waits.size();
    std::sort(waits.begin(), waits.end(), std::greater<>());
    if (waits.empty())
        return result;
    result.longest = waits.front();
    result.p999 = waits[std::min(waits.size() - 1, waits.size() / 1000)];
    result.over = std::count_if(waits.begin(), waits.end(), [&](double wait) { return wait > limit; });
    result.top.assign(waits.begin(), waits.begin() + std::min<size_t>(5, waits.size()));
    return result;
}

QString joined(const std::vector<double> &values)
{
    QStringList texts;
    for (double value : values)
        texts << QString::number(value, 'f', 1);
    return texts.join(QStringLiteral(", "));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(100, atoi(argv[1])) : 10000;
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit());
    const QString folder = captureFolder(count);

    AppModel::Services services;
    services.captureDate = [](const QString &path) { return QFileInfo(path).lastModified().toUTC(); };
    AppModel model(services, folder, true, 0);
    QCoro::waitFor(model.reloadCaptures());
    // Connected before the page's models, so that it runs before they do.
    bool trashing = false;
    bool swapped = false;
    QElapsedTimer scanned;
    QObject::connect(&model, &AppModel::capturesChanged, &app, [&] {
        if (!trashing)
            return;
        scanned.start();
        swapped = false;
    });
    Preferences preferences(home.filePath("config/Velunta/Velunta.conf"));
    const std::unique_ptr<QQmlEngine> engine = QmlUi::createEngine(preferences);
    MainMenu menu;
    MainWindow window(*engine, preferences, model, &menu, MainWindow::Options {false});
    window.show();
    if (!QTest::qWaitForWindowExposed(window.window())) {
        std::fprintf(stderr, "the window never showed\n");
        return 1;
    }
    QTest::qWait(300);

    // Every frame's swap, from whichever thread renders.
    std::mutex framesMutex;
    std::vector<Clock::time_point> frames;
    QObject::connect(
        window.window(), &QQuickWindow::frameSwapped, &app,
        [&] {
            std::lock_guard lock(framesMutex);
            frames.push_back(Clock::now());
        },
        Qt::DirectConnection);

    // The click on "Biblioteca" to the first frame drawn with the page.
    QObject::connect(window.window(), &QQuickWindow::afterRendering, &app, [&] { swapped = true; });
    QElapsedTimer clock;
    clock.start();
    model.setPage(AppModel::Page::library);
    while (!swapped)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double firstFrame = clock.nsecsElapsed() / 1e6;

    QQuickItem *list = findItem(window.window()->contentItem(), QStringLiteral("libraryList"));
    if (!list) {
        std::fprintf(stderr, "no library list\n");
        return 1;
    }
    QTest::qWait(1000);

    // Scroll to the end in steps of 360 pixels every 16 ms, as a fast wheel
    // would, in the event loop (QTest::qWait sleeps between its rounds, which
    // the watchdog would count as time away).
    const double end = list->property("contentHeight").toDouble() - list->height();
    Watchdog watchdog;
    QTest::qWait(100);
    watchdog.take();
    {
        std::lock_guard lock(framesMutex);
        frames.clear();
    }
    QEventLoop scrolling;
    QTimer stepper;
    stepper.setTimerType(Qt::PreciseTimer);
    stepper.setInterval(16);
    int steps = 0;
    double y = 0;
    QObject::connect(&stepper, &QTimer::timeout, &app, [&] {
        y = std::min(y + 360, end);
        list->setProperty("contentY", y);
        ++steps;
        if (y >= end)
            scrolling.quit();
    });
    QElapsedTimer scrollClock;
    scrollClock.start();
    stepper.start();
    scrolling.exec();
    stepper.stop();
    QTest::qWait(0);
    const double scrollSeconds = scrollClock.elapsed() / 1000.0;
    const auto [waits, work] = watchdog.take();
    const Stretches away = summary(waits, 16.0);
    const Stretches busy = summary(work, 16.0);
    std::vector<double> frameGaps;
    {
        std::lock_guard lock(framesMutex);
        for (size_t i = 1; i < frames.size(); ++i)
            frameGaps.push_back(msBetween(frames[i - 1], frames[i]));
    }
    const Stretches frameStats = summary(frameGaps, 33.4);

    // Half way down: a filter change and back, and one capture trashed, each
    // to the next frame drawn.
    list->setProperty("contentY", end / 2);
    QTest::qWait(500);
    QObject *library = findItem(window.window()->contentItem(), QStringLiteral("libraryPage"))
                           ->property("libraryModel")
                           .value<QObject *>();
    const auto untilFrame = [&](const std::function<void()> &change) {
        swapped = false;
        QElapsedTimer timer;
        timer.start();
        change();
        while (!swapped)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        const double ms = timer.nsecsElapsed() / 1e6;
        QTest::qWait(300);
        return ms;
    };
    // Each switch, three times over: to its first frame, and the longest
    // stretch the GUI thread was away from the switch until 300 ms after
    // that frame (tiles, thumbnails and all), in wall and in its own CPU time.
    // Nearly every capture here is a screenshot: "Prints" keeps nearly all
    // of them, "Gravações" a few.
    struct Switch {
        const char *label;
        int filter;
        std::vector<double> toFrame;
        double away = 0;
        double busy = 0;
    };
    std::vector<Switch> switches {{"Prints", 1, {}, 0, 0}, {"Gravações", 2, {}, 0, 0}, {"Tudo", 0, {}, 0, 0}};
    for (int round = 0; round < 3; ++round) {
        for (Switch &to : switches) {
            QTest::qWait(50);
            watchdog.take();
            to.toFrame.push_back(untilFrame([&] { library->setProperty("filter", to.filter); }));
            const auto [switchWaits, switchWork] = watchdog.take();
            to.away = std::max(to.away, summary(switchWaits, 16.0).longest);
            to.busy = std::max(to.busy, summary(switchWork, 16.0).longest);
        }
    }
    // Hidden rather than deleted, so that the cached folder stays whole.
    const QString trashedPath = model.captures().at(count / 2).path;
    const QString hiddenPath = QFileInfo(trashedPath).path() + QStringLiteral("/.") + QFileInfo(trashedPath).fileName();
    QFile::rename(trashedPath, hiddenPath);
    double trashed = 0;
    {
        trashing = true;
        model.reloadCaptures();
        while (!scanned.isValid() || !swapped)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        trashed = scanned.nsecsElapsed() / 1e6;
    }
    QFile::rename(hiddenPath, trashedPath);
    watchdog.stop();

    std::printf("platform %s, software renderer, render loop %s\n", qPrintable(QGuiApplication::platformName()),
        qEnvironmentVariableIsEmpty("QSG_RENDER_LOOP") ? "basic" : qgetenv("QSG_RENDER_LOOP").constData());
    std::printf("captures: %d, list height: %.0f px, %d scroll steps in %.1f s\n", count, end, steps, scrollSeconds);
    std::printf("first frame of the library page: %.1f ms (target 500)\n", firstFrame);
    std::printf("GUI thread away while scrolling: %lld of %zu stretches over 16 ms (target: none), longest %.1f ms, "
                "99.9th percentile %.1f ms; longest five: %s\n",
        away.over, away.count, away.longest, away.p999, qPrintable(joined(away.top)));
    std::printf(
        "of which the GUI thread worked: %lld stretches over 16 ms, longest %.1f ms, 99.9th percentile %.1f ms; "
        "longest five: %s\n",
        busy.over, busy.longest, busy.p999, qPrintable(joined(busy.top)));
    std::printf("frames while scrolling: %zu, longest interval %.1f ms, %lld over 33.4 ms (two frames)\n",
        frameStats.count + 1, frameStats.longest, frameStats.over);
    for (Switch &to : switches) {
        std::sort(to.toFrame.begin(), to.toFrame.end());
        std::printf("half way down, filter to \"%s\": next frame in %.1f ms (median of %zu); longest GUI-thread "
                    "stretch %.1f ms wall, %.1f ms of its CPU (target 16)\n",
            to.label, to.toFrame[to.toFrame.size() / 2], to.toFrame.size(), to.away, to.busy);
    }
    std::printf("one capture trashed (from the end of the scan): %.1f ms\n", trashed);
    std::fflush(stdout);
    // The threaded software render loop can hang in its teardown at exit
    // (Qt 6.4); the numbers are out, nothing else is left to save.
    if (!qEnvironmentVariableIsEmpty("QSG_RENDER_LOOP"))
        std::_Exit(0);
    return 0;
}
