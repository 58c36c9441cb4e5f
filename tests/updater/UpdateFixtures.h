#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <QDir>
#include <QEventLoop>
#include <QPair>
#include <QString>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>

namespace Fixtures {

// Writes an XML Info.plist; each value is the XML of one plist value
// ("<string>…</string>", "<true/>").
void writeInfoPlist(const QString &file, const QList<QPair<QString, QString>> &entries);

QString string(const QString &text);

// A bundle folder PATH (X.app) with an Info.plist, a small program and a
// resource; with HELPERSCRIPT, also Contents/Helpers/VeluntaUpdateHelper.
void makeBundle(
    const QString &path, const QString &identifier, const QString &build, const QByteArray &helperScript = {});

// A ZIP of the bundle folder with every mode exactly as it is on disk,
// unlike the publisher, which packs the installed modes.
bool packAsIs(const QString &bundle, const QString &archive);

// Entries named VeluntaUpdate-* in FOLDER.
QStringList workFolders(const QString &folder);

// Runs the event loop until TASK is done (or a minute has passed).
template <typename T> T await(QCoro::Task<T> task)
{
    std::optional<T> result;
    QEventLoop loop;
    auto run = [&]() -> QCoro::Task<> {
        result.emplace(co_await std::move(task));
        loop.quit();
    };
    auto running = run();
    if (!result) {
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!result) {
        ADD_FAILURE() << "the task did not finish within a minute";
        std::abort();
    }
    return std::move(*result);
}

} // namespace Fixtures
