#include "AppModel.h"

#include "core/Settings.h"
#include "platform/audio/MicrophoneAccess.h"
#include "platform/desktop/DesktopServices.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QPointer>
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

AppModel::AppModel(Services services, std::optional<QString> saveFolder, std::optional<bool> hasScreenPermission,
    std::optional<int> microphoneStatus, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_updater(std::make_unique<Updater>(UpdateConfig::fromBundle()))
    , m_isPreview(saveFolder.has_value())
{
    m_saveFolder = saveFolder ? *saveFolder : Settings::saveFolder();
    if (hasScreenPermission)
        m_hasScreenPermission = *hasScreenPermission;
    else
        m_hasScreenPermission = m_services.screenPreflight && m_services.screenPreflight();
    if (microphoneStatus)
        m_microphoneStatus = *microphoneStatus;
    else if (m_services.microphone)
        m_microphoneStatus = m_services.microphone->status();

    if (m_services.microphone && !m_isPreview)
        connect(m_services.microphone, &MicrophoneAccess::statusChanged, this, &AppModel::refreshPermissions);
}

AppModel::~AppModel() = default;

void AppModel::setActions(Actions actions)
{
    m_actions = std::move(actions);
    emit actionsChanged();
}

void AppModel::setPage(Page page)
{
    if (m_page == page)
        return;
    m_page = page;
    emit pageChanged();
}

void AppModel::setCaptures(QList<CaptureItem> captures)
{
    if (m_captures == captures)
        return;
    m_captures = std::move(captures);
    emit capturesChanged();
}

void AppModel::setSaveFolder(const QString &folder)
{
    if (m_saveFolder == folder)
        return;
    m_saveFolder = folder;
    emit saveFolderChanged();
}

void AppModel::setHasScreenPermission(bool value)
{
    if (m_hasScreenPermission == value)
        return;
    m_hasScreenPermission = value;
    emit hasScreenPermissionChanged();
}

void AppModel::setMicrophoneStatus(int value)
{
    if (m_microphoneStatus == value)
        return;
    m_microphoneStatus = value;
    emit microphoneStatusChanged();
}

void AppModel::setBusy(bool busy)
{
    if (m_isBusy == busy)
        return;
    m_isBusy = busy;
    emit isBusyChanged();
}

void AppModel::setRecording(bool recording)
{
    if (m_isRecording == recording)
        return;
    m_isRecording = recording;
    emit isRecordingChanged();
}

void AppModel::setUnavailableShortcuts(QList<Shortcut> shortcuts)
{
    m_unavailableShortcuts = std::move(shortcuts);
    emit unavailableShortcutsChanged();
}

QStringList AppModel::unavailableShortcutKeys() const
{
    QStringList keys;
    for (const Shortcut &shortcut : m_unavailableShortcuts)
        keys << shortcut.keys;
    return keys;
}

QDateTime AppModel::creationDate(const QString &path)
{
    return dateAt(AT_FDCWD, QFile::encodeName(path).constData()).value_or(distantPast());
}

QList<CaptureItem> AppModel::scanFolder(
    const QString &folder, const std::function<QDateTime(const QString &path)> &captureDate)
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

void AppModel::sortNewestFirst(QList<CaptureItem> &items)
{
    std::stable_sort(
        items.begin(), items.end(), [](const CaptureItem &a, const CaptureItem &b) { return a.date > b.date; });
}

QCoro::Task<void> AppModel::reloadCaptures()
{
    const quint64 generation = ++m_scanGeneration;
    QPointer<AppModel> self(this);
    // Named first: g++ 12 miscompiles co_await on a temporary future.
    QFuture<QList<CaptureItem>> scan = QtConcurrent::run(&AppModel::scanFolder, m_saveFolder, m_services.captureDate);
    QList<CaptureItem> items = co_await scan;
    if (!self || generation != self->m_scanGeneration)
        co_return; // a newer scan is on its way
    self->setCaptures(std::move(items));
}

void AppModel::openSaveFolder()
{
    QDir().mkpath(m_saveFolder);
    if (m_services.desktop)
        m_services.desktop->openUrl(QUrl::fromLocalFile(m_saveFolder));
}

void AppModel::chooseSaveFolder()
{
    if (!m_services.desktop)
        return;
    const auto chosen = m_services.desktop->chooseFolder(m_saveFolder);
    if (!chosen || chosen->isEmpty())
        return;
    Settings::setValue(Settings::Key::saveFolder, *chosen);
    setSaveFolder(*chosen);
    reloadCaptures();
}

QCoro::Task<void> AppModel::trash(QString path)
{
    QPointer<AppModel> self(this);
    if (DesktopServices *desktop = m_services.desktop) {
        // Named first: g++ 12 miscompiles co_await on a temporary future.
        QFuture<bool> moved = QtConcurrent::run([desktop, path] { return desktop->moveToTrash(path); });
        co_await moved;
        if (!self)
            co_return;
    }
    self->reloadCaptures();
}

void AppModel::refreshPermissions()
{
    if (m_isPreview)
        return;
    if (m_services.screenPreflight)
        setHasScreenPermission(m_services.screenPreflight());
    if (m_services.microphone)
        setMicrophoneStatus(m_services.microphone->status());
}

QCoro::Task<void> AppModel::requestMicrophone()
{
    QPointer<AppModel> self(this);
    bool granted = false;
    if (m_services.microphone)
        granted = co_await m_services.microphone->requestAccess();
    if (!self)
        co_return;
    if (granted)
        Settings::setValue(Settings::Key::capturesMicrophone, true);
    self->refreshPermissions();
}

void AppModel::openCapture(const QString &path)
{
    if (m_services.desktop)
        m_services.desktop->openUrl(QUrl::fromLocalFile(path));
}

void AppModel::revealCapture(const QString &path)
{
    if (m_services.desktop)
        m_services.desktop->reveal(path);
}

QCoro::Task<bool> AppModel::copyCapture(QString path, bool isVideo)
{
    if (!m_services.desktop)
        co_return false;
    if (isVideo) {
        m_services.desktop->copyFile(path);
        co_return true;
    }
    QPointer<AppModel> self(this);
    // Named first: g++ 12 miscompiles co_await on a temporary future.
    QFuture<std::optional<QByteArray>> reading = QtConcurrent::run([path]() -> std::optional<QByteArray> {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return std::nullopt;
        return bytes;
    });
    const std::optional<QByteArray> png = co_await reading;
    if (!self || !png || !self->m_services.desktop)
        co_return false;
    self->m_services.desktop->copyImage(*png);
    co_return true;
}

void AppModel::openPrivacyPane(const QString &anchor)
{
    if (m_services.desktop)
        m_services.desktop->openPrivacyPane(anchor);
}
