#include "UpdateLeftovers.h"

#include "UpdateEngine.h"
#include "core/Bundle.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>
#include <sys/stat.h>

namespace UpdateLeftovers {

namespace {

const QString helperName = QStringLiteral("VeluntaUpdateHelper");

// Both spellings of a path: as given, and with its links resolved.
QStringList spellings(const QString &path)
{
    QStringList forms {QDir::cleanPath(QFileInfo(path).absoluteFilePath())};
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty() && !forms.contains(canonical))
        forms.append(canonical);
    return forms;
}

// The helper's own line format, so that one log tells the whole story.
void appendLog(const QString &logFile, const QString &message)
{
    QDir().mkpath(QFileInfo(logFile).absolutePath());
    QFile file(logFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    file.write((stamp + QStringLiteral(" +0000 ") + message + QLatin1Char('\n')).toUtf8());
}

} // namespace

bool isStagedName(const QString &name)
{
    static const QRegularExpression staged(
        QStringLiteral("^\\.Velunta-update-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.app$"));
    return staged.match(name).hasMatch();
}

bool helperIsRunningFor(const QString &bundlePath)
{
    const QStringList targets = spellings(bundlePath);
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : processes) {
        bool numeric = false;
        pid.toLong(&numeric);
        if (!numeric)
            continue;
        QFile file(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QList<QByteArray> arguments = file.readAll().split('\0');
        if (arguments.isEmpty() || QFileInfo(QFile::decodeName(arguments.first())).fileName() != helperName)
            continue;
        const qsizetype at = arguments.indexOf("--target");
        if (at < 0 || at + 1 >= arguments.size())
            continue;
        const QStringList theirs = spellings(QFile::decodeName(arguments[at + 1]));
        for (const QString &path : theirs)
            if (targets.contains(path))
                return true;
    }
    return false;
}

QStringList sweep(const QString &bundlePath, const QString &logFile)
{
    if (bundlePath.isEmpty() || helperIsRunningFor(bundlePath))
        return {};
    const QString folder = QFileInfo(QDir::cleanPath(QFileInfo(bundlePath).absoluteFilePath())).path();
    const QStringList names
        = QDir(folder).entryList({QStringLiteral(".Velunta-update-*")}, QDir::AllEntries | QDir::Hidden | QDir::System);
    if (names.isEmpty())
        return {};
    QFile log(logFile);
    const QString history = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    QStringList removed;
    for (const QString &name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        struct stat st;
        if (!isStagedName(name) || ::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        // After a failed restore the old version lives on under this name
        // until someone recovers it by hand.
        if (history.contains(QStringLiteral("; ela está em ") + path + QLatin1Char('\n')))
            continue;
        if (UpdateEngine::removeTree(path)) {
            appendLog(logFile, QStringLiteral("sobra de uma atualização interrompida removida: ") + path);
            removed.append(path);
        }
    }
    return removed;
}

QString logFilePath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.startsWith(QLatin1Char('/')))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Velunta/update.log");
}

void sweepInBackground()
{
    const QString bundle = Bundle::main().path();
    if (bundle.isEmpty())
        return;
    const QString logFile = logFilePath();
    // Nobody waits for it: the global pool is drained before the process ends.
    [[maybe_unused]] auto done = QtConcurrent::run([bundle, logFile] { sweep(bundle, logFile); });
}

} // namespace UpdateLeftovers
