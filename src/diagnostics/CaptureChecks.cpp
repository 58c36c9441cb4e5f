#include "CaptureChecks.h"

#include "capture/CaptureEngine.h"
#include "diagnostics/SelfTest.h"
#include "diagnostics/SelfTestReport.h"

#include <QCoroFuture>
#include <QDebug>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentRun>

using namespace std::chrono_literals;

namespace SelfTest {

namespace {

constexpr auto clipboardTimeout = 3s;

} // namespace

QCoro::Task<void> checkScreenshot(Context &context, QString name, CaptureTarget target)
{
    auto shooting = CaptureEngine::screenshot(context.screens, target);
    auto shot = co_await shooting;
    if (!shot) {
        context.report.record(failLine(name, shot.error().description()));
        co_return;
    }
    auto encoding = CaptureEngine::encodePng(shot->image, shot->scale);
    auto png = co_await encoding;
    if (!png) {
        context.report.record(failLine(name, png.error().description()));
        co_return;
    }
    const QString path = context.folder.filePath(name + QStringLiteral(".png"));
    const QByteArray bytes = *png;
    const auto save = [path, bytes]() -> QString {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            return file.errorString();
        return {};
    };
    QFuture<QString> saving = QtConcurrent::run(save);
    const QString error = co_await saving;
    if (!error.isEmpty()) {
        context.report.record(failLine(name, error));
        co_return;
    }
    context.report.record(QStringLiteral("OK %1: %2x%3").arg(name).arg(shot->image.width()).arg(shot->image.height()));
}

QCoro::Task<void> checkClipboard(Context &context)
{
    if (context.onWayland) {
        context.report.record(skipLine(QStringLiteral("clipboard"),
            QStringLiteral("a ida e volta pela seleção do X não existe numa sessão Wayland")));
        co_return;
    }
    const QList<QUrl> written {QUrl::fromLocalFile(QStringLiteral("/tmp/gravação de teste.mp4"))};
    ClipboardProbe *probe = context.platform.clipboard.get();
    const auto roundTrip = [probe, written] { return probe->roundTrip(written, clipboardTimeout); };
    QFuture<Result<QList<QUrl>, QString>> trip = QtConcurrent::run(roundTrip);
    const Result<QList<QUrl>, QString> read = co_await trip;
    if (read && *read == written) {
        context.report.record(QStringLiteral("OK clipboard: arquivo copiado"));
        co_return;
    }
    QString text;
    if (read)
        QDebug(&text).nospace() << *read;
    else
        text = QStringLiteral("nenhum (%1)").arg(read.error());
    context.report.record(QStringLiteral("FAIL clipboard: ") + text);
}

} // namespace SelfTest
