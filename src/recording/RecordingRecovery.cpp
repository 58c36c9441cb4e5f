#include "recording/RecordingRecovery.h"

#include "core/OutputFile.h"
#include "recording/ScreenRecorder.h"
#include "recording/SegmentChecks.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtDebug>

#include <algorithm>

namespace RecordingRecovery {

namespace {

// trecho-0.mp4, trecho-1.mp4… in recording order (trecho-10 after trecho-9).
QStringList segmentsIn(const QString &folder)
{
    static const QRegularExpression pattern(QStringLiteral("^trecho-(\\d+)\\.mp4$"));
    std::vector<std::pair<qlonglong, QString>> numbered;
    for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files | QDir::NoSymLinks)) {
        const auto match = pattern.match(file.fileName());
        if (match.hasMatch())
            numbered.emplace_back(match.captured(1).toLongLong(), file.filePath());
    }
    std::sort(numbered.begin(), numbered.end());
    QStringList paths;
    for (const auto &[number, path] : numbered)
        paths.append(path);
    return paths;
}

QString withoutExtension(const QString &path)
{
    const QFileInfo info(path);
    return info.suffix().isEmpty() ? path : path.left(path.size() - info.suffix().size() - 1);
}

} // namespace

QString recoveredPath(const QString &finalPath, const QString &saveFolder, const QDateTime &started)
{
    QString base;
    if (!finalPath.isEmpty() && QFileInfo(QFileInfo(finalPath).absolutePath()).isDir())
        base = withoutExtension(finalPath);
    if (base.isEmpty()) {
        // The name a recording started then would have had.
        const QString folder = saveFolder.isEmpty() ? QDir::homePath() : saveFolder;
        const QString name = QStringLiteral("Gravação %1").arg(OutputFile::timestamp(started));
        base = QDir(folder).filePath(name);
    }
    QString path = base + QStringLiteral(" (recuperada).mp4");
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = base + QStringLiteral(" (recuperada %1).mp4").arg(n);
    return path;
}

QString recoverFolder(const QString &folder, const QString &saveFolder)
{
    const QStringList segments = segmentsIn(folder);
    // Whatever a segment held when its writer died ends with its last whole fragment.
    for (const QString &segment : segments)
        if (!SegmentChecks::trimToCompleteFragments(segment))
            qWarning("Velunta: could not trim %s", qPrintable(segment));
    if (SegmentChecks::usableSegments(segments).isEmpty()) {
        qWarning("Velunta: the recording in %s left nothing readable; its folder is removed", qPrintable(folder));
        SegmentFolder::remove(folder);
        return {};
    }
    const auto owner = SegmentFolder::readLock(folder);
    const QDateTime started = QFileInfo(segments.front()).lastModified();
    QDir().mkpath(saveFolder);
    const QString target = recoveredPath(owner ? owner->finalPath : QString(), saveFolder, started);
    // Lengths as the files have them: the wall clock died with the program.
    auto recovered = ScreenRecorder::deliver(segments, {}, target, std::nullopt, nullptr);
    if (!recovered) {
        // The save folder may be full or gone for now: the next start tries again.
        qWarning("Velunta: the recording in %s could not be recovered yet: %s", qPrintable(folder),
            qPrintable(recovered.error().description()));
        return {};
    }
    SegmentFolder::remove(folder);
    return *recovered;
}

QStringList recoverAll(const QStringList &roots, const QString &saveFolder, const SegmentFolder::ProcessLookup &lookup,
    const QString &programName)
{
    QStringList recovered;
    SegmentFolder::removeUnfinished(roots);
    for (const QString &folder : SegmentFolder::orphans(roots, lookup, programName)) {
        const QString path = recoverFolder(folder, saveFolder);
        if (!path.isEmpty())
            recovered.append(path);
    }
    return recovered;
}

} // namespace RecordingRecovery
