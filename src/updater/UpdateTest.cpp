#include "UpdateTest.h"

#include "UpdateConfig.h"
#include "UpdateEngine.h"
#include "core/Bundle.h"
#include "core/Preferences.h"

#include <QCoroFuture>
#include <QDir>
#include <QFuture>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentRun>

namespace UpdateTest {

void writeReportLine(const QString &reportPath, const QString &line)
{
    QSaveFile file(reportPath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write((line + QLatin1Char('\n')).toUtf8());
    file.commit();
}

void writeRunningReport(const QString &reportPath, const Preferences &preferences)
{
    writeReportLine(reportPath,
        QStringLiteral("RODANDO build=%1 ignorada=%2")
            .arg(Bundle::main().build())
            .arg(preferences.skippedUpdateBuild()));
}

QCoro::Task<void> run(QString manifestURL, QString reportPath, bool install, bool isManual)
{
    // A fixed bucket and no skipped build, so that the run says the same on
    // every machine whatever its settings hold.
    constexpr int bucket = 50;
    constexpr qint64 skippedBuild = 0;
    constexpr int confirmTimeout = 8;

    const auto rejected = [&reportPath](const UpdateError &error) {
        writeReportLine(reportPath, QStringLiteral("REJEITADO ") + error.shortForm());
    };

    const std::optional<UpdateConfig> config = UpdateConfig::fromBundle();
    const QUrl url(manifestURL, QUrl::StrictMode);
    if (!config || !url.isValid() || url.isRelative()) {
        rejected(UpdateError::notConfigured);
        co_return;
    }

    // Judged as typed: the parsed URL no longer shows "HTTP:" or "127.1".
    if (!config->isAllowed(manifestURL)) {
        rejected(UpdateError::insecureURL);
        co_return;
    }
    auto fetching = UpdateEngine::fetchManifest(url, *config);
    const Result<UpdateManifest, UpdateError> manifest = co_await std::move(fetching);
    if (!manifest) {
        rejected(manifest.error());
        co_return;
    }

    const auto decision = UpdateEngine::decide(
        *manifest, UpdateEngine::currentBuild(), bucket, skippedBuild, UpdateEngine::systemVersion(), isManual);
    if (decision != UpdateEngine::Decision::offer) {
        writeReportLine(reportPath, QStringLiteral("SEM_OFERTA ") + UpdateEngine::decisionName(decision));
        co_return;
    }

    auto preparing = UpdateEngine::prepare(*manifest, *config, [](double) {});
    const Result<PreparedUpdate, UpdateError> prepared = co_await std::move(preparing);
    if (!prepared) {
        rejected(prepared.error());
        co_return;
    }
    const PreparedUpdate update = *prepared;

    if (!install) {
        writeReportLine(reportPath, QStringLiteral("VALIDO ") + QString::number(update.build));
        const QString workFolder = update.workFolder.toLocalFile();
        QFuture<bool> removing = QtConcurrent::run([workFolder] { return UpdateEngine::removeTree(workFolder); });
        co_await removing;
        co_return;
    }

    const QStringList relaunch {QStringLiteral("--update-report"), reportPath};
    QFuture<Result<Done, UpdateError>> launching = QtConcurrent::run(
        [update, relaunch] { return UpdateEngine::launchInstaller(update, confirmTimeout, relaunch); });
    const Result<Done, UpdateError> launched = co_await launching;
    if (!launched)
        rejected(launched.error());
}

} // namespace UpdateTest
