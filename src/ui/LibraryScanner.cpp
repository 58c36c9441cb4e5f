#include "LibraryScanner.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QtConcurrent>
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

// The date of a capture whose file system gives none.
const QDateTime &distantPast()
{
    static const QDateTime past(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    return past;
}

QDateTime fromStatx(const struct statx_timestamp &t)
{
    // UTC: converting 10,000 dates to local time costs more than the scan.
    return QDateTime::fromMSecsSinceEpoch(qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000, Qt::UTC);
}

// Birth time where the file system keeps one (tmpfs and some network file
// systems do not), else the modification time, never 1970 for everything.
std::optional<QDateTime> dateAt(int dirfd, const char *name, bool *isFolder = nullptr)
{
    struct statx info;
    if (statx(dirfd, name, AT_STATX_DONT_SYNC, STATX_TYPE | STATX_BTIME | STATX_MTIME, &info) != 0)
        return std::nullopt;
    if (isFolder)
        *isFolder = S_ISDIR(info.stx_mode);
    if ((info.stx_mask & STATX_BTIME) && info.stx_btime.tv_sec != 0)
        return fromStatx(info.stx_btime);
    if (info.stx_mask & STATX_MTIME)
        return fromStatx(info.stx_mtime);
    return std::nullopt;
}

} // namespace

LibraryScanner::LibraryScanner(DateSource captureDate)
    : m_captureDate(std::move(captureDate))
{
}

QCoro::Task<std::optional<QList<CaptureItem>>> LibraryScanner::scan(QString folder)
{
    const std::shared_ptr<quint64> generations = m_generation;
    const quint64 generation = ++*generations;
    // Named first: g++ 12 miscompiles co_await on a temporary future.
    QFuture<QList<CaptureItem>> scanning = QtConcurrent::run(&LibraryScanner::scanFolder, folder, m_captureDate);
    QList<CaptureItem> items = co_await scanning;
    if (generation != *generations)
        co_return std::nullopt; // a newer scan is on its way
    co_return items;
}

QDateTime LibraryScanner::creationDate(const QString &path)
{
    return dateAt(AT_FDCWD, QFile::encodeName(path).constData()).value_or(distantPast());
}

QList<CaptureItem> LibraryScanner::scanFolder(const QString &folder, const DateSource &captureDate)
{
    QList<CaptureItem> items;
    const QByteArray encoded = QFile::encodeName(folder);
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(encoded.constData()), &closedir);
    if (!dir)
        return items;

    // Sorted by name first so that equal dates keep a stable listing order.
    std::vector<std::pair<QString, bool>> kept;
    while (const dirent *entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot < 0)
            continue;
        const QStringView extension = QStringView(name).mid(dot + 1);
        if (name.startsWith(QLatin1String("Print"))
            && extension.compare(QLatin1String("png"), Qt::CaseInsensitive) == 0)
            kept.emplace_back(name, false);
        else if (name.startsWith(QStringLiteral("Gravação"))
            && extension.compare(QLatin1String("mp4"), Qt::CaseInsensitive) == 0)
            kept.emplace_back(name, true);
    }
    std::sort(kept.begin(), kept.end());

    const QString root = QDir(folder).absolutePath() + QLatin1Char('/');
    const int fd = dirfd(dir.get());
    items.reserve(qsizetype(kept.size()));
    for (const auto &[name, isVideo] : kept) {
        bool isFolder = false;
        const auto date = dateAt(fd, QFile::encodeName(name).constData(), &isFolder);
        if (isFolder)
            continue; // folders named like captures are not captures
        if (captureDate)
            items.append({root + name, captureDate(root + name), isVideo});
        else
            items.append({root + name, date.value_or(distantPast()), isVideo});
    }
    sortNewestFirst(items);
    return items;
}

void LibraryScanner::sortNewestFirst(QList<CaptureItem> &items)
{
    std::stable_sort(
        items.begin(), items.end(), [](const CaptureItem &a, const CaptureItem &b) { return a.date > b.date; });
}
