#include "ScreenshotFile.h"

#include "core/OutputFile.h"

#include <QCoroFuture>
#include <QFile>
#include <QtConcurrent/QtConcurrentRun>
#include <optional>

namespace ScreenshotFile {

namespace {

// A plain write that refuses an existing file; the system's text on failure.
Result<Done, QString> writeNew(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Result<Done, QString>::failure(file.errorString());
    if (file.write(data) != data.size() || !file.flush()) {
        const QString error = file.errorString();
        file.close();
        file.remove(); // never leave half a PNG behind as if it were a capture
        return Result<Done, QString>::failure(error);
    }
    return Done {};
}

} // namespace

Result<QString, QString> write(const QByteArray &png, const NameSource &newName)
{
    using Outcome = Result<QString, QString>;
    Result<Done, QString> written = Result<Done, QString>::failure({});
    QString path;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        auto name = newName();
        if (!name)
            return Outcome::failure(name.error());
        path = *name;
        written = writeNew(path, png);
        // Only a name someone else took is worth another one; any other
        // failure would fail the same way again.
        if (written || !QFile::exists(path))
            break;
    }
    if (!written)
        return Outcome::failure(written.error());
    return path;
}

QCoro::Task<Result<QString, QString>> save(QByteArray png, QString folder)
{
    using Outcome = Result<QString, QString>;
    // The future is named before the co_await: g++ 12 destroys some
    // temporaries of a co_await expression twice.
    QFuture<std::optional<Outcome>> future = QtConcurrent::run([png, folder] {
        return std::optional<Outcome>(write(
            png, [&folder] { return OutputFile::newURL(QStringLiteral("Print"), QStringLiteral("png"), folder); }));
    });
    std::optional<Outcome> outcome = co_await future;
    co_return std::move(*outcome);
}

} // namespace ScreenshotFile
