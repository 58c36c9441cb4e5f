#include "SelfTestContext.h"

#include "capture/CaptureEngine.h"
#include "diagnostics/SelfTest.h"

#include <QCoroFuture>
#include <QCoroTimer>
#include <QFile>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

using namespace std::chrono_literals;

namespace SelfTest {

QString failLine(const QString &name, const QString &why)
{
    return QStringLiteral("FAIL ") + name + QStringLiteral(": ") + why;
}

QCoro::Task<void> removeFile(QString path)
{
    const auto remove = [path] { QFile::remove(path); };
    QFuture<void> removing = QtConcurrent::run(remove);
    co_await removing;
}

QCoro::Task<Result<int, QString>> magentaCountWithoutExclusion(ScreenSource &screens, CaptureTarget target)
{
    using Answer = Result<int, QString>;
    const auto resolved = CaptureEngine::resolve(screens, target);
    if (!resolved)
        co_return Answer::failure(resolved.error().description());
    const QRectF points = CaptureEngine::sourceRect(*resolved, target);
    GrabRequest request;
    request.pixels = CaptureEngine::pixelRect(*resolved, points);
    request.showsCursor = false;
    auto grabbing = screens.grab(request);
    auto grabbed = co_await grabbing;
    if (!grabbed)
        co_return Answer::failure(grabbed.error().description);
    const QImage image = std::move(*grabbed);
    const QSize size = points.size().toSize();
    const auto count = [image, size] { return magentaCount(image.size() == size ? image : image.scaled(size)); };
    QFuture<int> counting = QtConcurrent::run(count);
    const int found = co_await counting;
    co_return found;
}

QCoro::Task<void> sleepAtLeast(std::chrono::milliseconds duration)
{
    const auto until = std::chrono::steady_clock::now() + duration;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left <= 0ms)
            co_return;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        timer.start(left);
        co_await timer;
    }
}

QCoro::Task<bool> waitFor(std::function<bool()> condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            co_return false;
        co_await QCoro::sleepFor(20ms);
    }
    co_return true;
}

} // namespace SelfTest
