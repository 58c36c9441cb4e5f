#include "recording/SegmentFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>
#include <unistd.h>

namespace SegmentFolder {

namespace {

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64 * 1024);
}

} // namespace

std::optional<Process> lookUpProcess(qint64 pid)
{
    if (pid <= 0)
        return std::nullopt;
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    const QByteArray stat = readSmallFile(base + QStringLiteral("stat"));
    // "PID (NAME) STATE PPID …": the name may hold spaces and brackets.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return std::nullopt;
    Process process;
    process.name = QString::fromUtf8(readSmallFile(base + QStringLiteral("comm"))).trimmed();
    process.hasEnded = fields[0] == "Z" || fields[0] == "X";
    process.startTime = fields[19].toULongLong();
    return process;
}

Owner currentOwner(const QString &finalPath)
{
    Owner owner;
    owner.pid = qint64(::getpid());
    if (const auto self = lookUpProcess(owner.pid))
        owner.startTime = self->startTime;
    owner.finalPath = finalPath;
    return owner;
}

QString currentProgramName()
{
    const auto self = lookUpProcess(qint64(::getpid()));
    return self ? self->name : QString();
}

bool isSegmentFolderName(const QString &name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^Velunta-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return pattern.match(name).hasMatch();
}

QString lockFileName()
{
    return QStringLiteral("dono.lock");
}

QByteArray lockText(const Owner &owner)
{
    return "pid=" + QByteArray::number(owner.pid) + "\nstart=" + QByteArray::number(owner.startTime)
        + "\nfile=" + owner.finalPath.toUtf8() + "\n";
}

std::optional<Owner> parseLock(const QByteArray &text)
{
    Owner owner;
    bool hasPid = false;
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1);
        bool ok = false;
        if (key == "pid") {
            owner.pid = value.trimmed().toLongLong(&ok);
            hasPid = ok && owner.pid > 0;
        } else if (key == "start") {
            owner.startTime = value.trimmed().toULongLong(&ok);
            if (!ok)
                owner.startTime = 0;
        } else if (key == "file") {
            owner.finalPath = QString::fromUtf8(value);
        }
    }
    if (!hasPid)
        return std::nullopt;
    return owner;
}

bool isOwnedByRunningProcess(const std::optional<Owner> &owner, const ProcessLookup &lookup, const QString &programName)
{
    if (!owner || owner->pid <= 0 || !lookup)
        return false;
    const auto process = lookup(owner->pid);
    if (!process || process->hasEnded)
        return false;
    // Another program now has the number: the owner is gone.
    if (programName.isEmpty() || process->name != programName)
        return false;
    return owner->startTime == 0 || owner->startTime == process->startTime;
}

std::optional<Owner> readLock(const QString &folder)
{
    const QString path = QDir(folder).filePath(lockFileName());
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return parseLock(readSmallFile(path));
}

QString cacheRoot()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return QDir(base).filePath(QStringLiteral("Velunta"));
}

QString saveFolderRoot(const QString &saveFolder)
{
    return QDir(saveFolder).filePath(QStringLiteral(".Velunta"));
}

QStringList roots(const QString &saveFolder)
{
    QStringList found {cacheRoot()};
    if (!saveFolder.isEmpty())
        found.append(saveFolderRoot(saveFolder));
    return found;
}

Result<QString, PlatformError> create(const QString &root, const Owner &owner)
{
    using R = Result<QString, PlatformError>;
    const auto failure = [](const QString &path) {
        return R::failure(PlatformError {QStringLiteral("Não foi possível criar a pasta temporária %1.").arg(path)});
    };
    const QString name = QStringLiteral("Velunta-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QDir parent(root);
    const QString staging = parent.filePath(QLatin1Char('.') + name);
    const QString folder = parent.filePath(name);
    if (!QDir().mkpath(root) || !QDir().mkdir(staging))
        return failure(folder);
    const auto privately = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QSaveFile lock(QDir(staging).filePath(lockFileName()));
    const bool locked = QFile::setPermissions(staging, privately) && lock.open(QIODevice::WriteOnly)
        && lock.write(lockText(owner)) >= 0 && lock.commit();
    if (!locked || !QDir().rename(staging, folder)) {
        QDir(staging).removeRecursively();
        return failure(folder);
    }
    return folder;
}

void remove(const QString &folder)
{
    if (folder.isEmpty())
        return;
    QDir(folder).removeRecursively();
    const QString root = QFileInfo(folder).absolutePath();
    // Only the save folder's hidden place goes with its last recording: the
    // cache folder may hold other things of Velunta's.
    if (QFileInfo(root).fileName() == QStringLiteral(".Velunta"))
        QDir().rmdir(root);
}

QStringList orphans(const QStringList &roots, const ProcessLookup &lookup, const QString &programName)
{
    QStringList found;
    for (const QString &root : roots) {
        const QDir dir(root);
        for (const QFileInfo &entry : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name)) {
            if (entry.isSymLink() || !isSegmentFolderName(entry.fileName()))
                continue;
            if (isOwnedByRunningProcess(readLock(entry.filePath()), lookup, programName))
                continue;
            found.append(entry.filePath());
        }
    }
    return found;
}

QStringList removeUnfinished(const QStringList &roots, qint64 minimumAgeSeconds)
{
    QStringList removed;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QString &root : roots) {
        const QDir dir(root);
        for (const QFileInfo &entry : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name)) {
            const QString name = entry.fileName();
            if (entry.isSymLink() || !name.startsWith(QLatin1Char('.')) || !isSegmentFolderName(name.mid(1)))
                continue;
            if (entry.lastModified().toUTC().secsTo(now) < minimumAgeSeconds)
                continue;
            const QDir folder(entry.filePath());
            const QFileInfoList inside
                = folder.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
            // Only the lock, written through a temporary file of its own.
            const bool onlyLock = std::all_of(inside.cbegin(), inside.cend(), [](const QFileInfo &file) {
                return file.isFile() && !file.isSymLink() && file.fileName().startsWith(lockFileName());
            });
            if (!onlyLock)
                continue;
            for (const QFileInfo &file : inside)
                QFile::remove(file.filePath());
            if (QDir().rmdir(entry.filePath()))
                removed.append(entry.filePath());
        }
    }
    return removed;
}

} // namespace SegmentFolder
