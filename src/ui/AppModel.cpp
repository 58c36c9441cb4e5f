#include "AppModel.h"

#include "core/Preferences.h"
#include "platform/MicrophoneAccess.h"
#include "platform/desktop/DesktopServices.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QtConcurrent>

AppModel::AppModel(Services services, std::optional<QString> saveFolder, std::optional<bool> hasScreenPermission,
    std::optional<int> microphoneStatus, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_scanner(m_services.captureDate)
    , m_previewFolder(std::move(saveFolder))
    , m_isPreview(m_previewFolder.has_value())
{
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
    if (m_services.microphone)
        connect(m_services.microphone, &MicrophoneAccess::inputsChanged, this, &AppModel::microphoneChoicesChanged);
    if (m_services.preferences && !m_isPreview)
        connect(m_services.preferences, &Preferences::saveFolderChanged, this, &AppModel::saveFolderChanged);
    if (m_services.preferences)
        connect(
            m_services.preferences, &Preferences::microphoneDeviceChanged, this, &AppModel::microphoneChoicesChanged);
}

QVariantList AppModel::microphoneChoices() const
{
    const auto entry = [](const QString &name, const QString &label) {
        return QVariantMap {{QStringLiteral("name"), name}, {QStringLiteral("label"), label}};
    };
    QVariantList choices {entry(QString(), QStringLiteral("Padrão do sistema"))};
    const QString chosen = m_services.preferences ? m_services.preferences->microphoneDevice() : QString();
    bool chosenIsThere = chosen.isEmpty();
    if (m_services.microphone) {
        for (const MicrophoneAccess::Input &input : m_services.microphone->inputs()) {
            choices.append(entry(input.name, input.description));
            chosenIsThere = chosenIsThere || input.name == chosen;
        }
    }
    if (!chosenIsThere)
        choices.append(entry(chosen, chosen));
    return choices;
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

QString AppModel::saveFolder() const
{
    if (m_previewFolder)
        return *m_previewFolder;
    return m_services.preferences ? m_services.preferences->saveFolder() : Preferences::defaultSaveFolder();
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

void AppModel::setUnavailableShortcuts(QList<Shortcut> shortcuts, QString note)
{
    m_unavailableShortcuts = std::move(shortcuts);
    m_shortcutsNote = std::move(note);
    emit unavailableShortcutsChanged();
}

QStringList AppModel::unavailableShortcutKeys() const
{
    QStringList keys;
    for (const Shortcut &shortcut : m_unavailableShortcuts)
        keys << shortcut.keys;
    return keys;
}

QCoro::Task<void> AppModel::reloadCaptures()
{
    QPointer<AppModel> self(this);
    // Named first, as with futures: g++ 12 mishandles co_await on a temporary.
    auto scanning = m_scanner.scan(saveFolder());
    std::optional<QList<CaptureItem>> items = co_await std::move(scanning);
    if (self && items)
        self->setCaptures(std::move(*items));
}

void AppModel::openSaveFolder()
{
    const QString folder = saveFolder();
    QDir().mkpath(folder);
    if (m_services.desktop)
        m_services.desktop->openUrl(QUrl::fromLocalFile(folder));
}

void AppModel::chooseSaveFolder()
{
    if (!m_services.desktop)
        return;
    const auto chosen = m_services.desktop->chooseFolder(saveFolder());
    if (!chosen || chosen->isEmpty())
        return;
    if (m_services.preferences)
        m_services.preferences->setSaveFolder(*chosen);
    if (m_previewFolder && *m_previewFolder != *chosen) {
        m_previewFolder = *chosen;
        emit saveFolderChanged();
    }
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

void AppModel::requestScreenCapture()
{
    if (m_isPreview)
        return;
    if (m_services.screenRequest)
        m_services.screenRequest();
    refreshPermissions();
}

QCoro::Task<void> AppModel::requestMicrophone()
{
    QPointer<AppModel> self(this);
    bool granted = false;
    if (m_services.microphone)
        granted = co_await m_services.microphone->requestAccess();
    if (!self)
        co_return;
    if (granted && self->m_services.preferences)
        self->m_services.preferences->setCapturesMicrophone(true);
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
