#pragma once

#include "core/Shortcut.h"
#include "ui/CaptureItem.h"
#include "ui/LibraryScanner.h"
#include "updater/Updater.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>

class DesktopServices;
class MicrophoneAccess;
class Preferences;

// The one observable object every window reads. Each field notifies on its own
// and only when its value really changes; `actions` and
// `unavailableShortcuts` notify on every assignment.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(int page READ pageIndex WRITE setPageIndex NOTIFY pageChanged)
    Q_PROPERTY(QList<CaptureItem> captures READ captures NOTIFY capturesChanged)
    Q_PROPERTY(QString saveFolder READ saveFolder NOTIFY saveFolderChanged)
    Q_PROPERTY(bool hasScreenPermission READ hasScreenPermission NOTIFY hasScreenPermissionChanged)
    Q_PROPERTY(QString screenProblem READ screenProblem NOTIFY hasScreenPermissionChanged)
    Q_PROPERTY(bool asksToShareScreen READ asksToShareScreen CONSTANT)
    Q_PROPERTY(int microphoneStatus READ microphoneStatus NOTIFY microphoneStatusChanged)
    Q_PROPERTY(QVariantList microphoneChoices READ microphoneChoices NOTIFY microphoneChoicesChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(QStringList unavailableShortcutKeys READ unavailableShortcutKeys NOTIFY unavailableShortcutsChanged)
    // Why no global shortcut works in this session at all; empty when they can.
    Q_PROPERTY(QString shortcutsNote READ shortcutsNote NOTIFY unavailableShortcutsChanged)
    Q_PROPERTY(bool isPreview READ isPreview CONSTANT)
    Q_PROPERTY(Updater *updater READ updater CONSTANT)

public:
    enum class Page { capture, library, settings };
    Q_ENUM(Page)

    struct Actions {
        std::function<void()> screenshotFull = [] {};
        std::function<void()> screenshotArea = [] {};
        std::function<void()> recordFull = [] {};
        std::function<void()> recordArea = [] {};
        std::function<void()> stopRecording = [] {};
        std::function<void()> finishOnboarding = [] {};
        std::function<void()> replayOnboarding = [] {};
    };

    // The platform behind the model; absent services do nothing (preview models).
    struct Services {
        DesktopServices *desktop = nullptr;
        MicrophoneAccess *microphone = nullptr;
        std::function<bool()> screenPreflight = {};
        // Why the screen cannot be seen, when the session can say (a missing
        // portal); empty otherwise.
        std::function<QString()> screenProblem = {};
        LibraryScanner::DateSource captureDate = {};
        // The run's settings: the save folder, and where a chosen folder or
        // a microphone grant is written.
        Preferences *preferences = nullptr;
        // The one updater of the run, owned by it; none: no updates.
        Updater *updater = nullptr;
        // Asks the system to let Velunta see the screen; whether it may now.
        std::function<bool()> screenRequest = {};
        // The system asks the user before it shares the screen (a Wayland
        // desktop's portal): the permission texts speak of that question.
        bool asksToShareScreen = false;
    };

    // A model given a save folder is a preview model of that folder: it
    // never asks the system for permissions after construction.
    explicit AppModel(Services services, std::optional<QString> saveFolder = std::nullopt,
        std::optional<bool> hasScreenPermission = std::nullopt, std::optional<int> microphoneStatus = std::nullopt,
        QObject *parent = nullptr);
    ~AppModel() override;

    const Actions &actions() const { return m_actions; }
    void setActions(Actions actions);

    Page page() const { return m_page; }
    void setPage(Page page);
    int pageIndex() const { return int(m_page); }
    void setPageIndex(int page) { setPage(Page(page)); }

    const QList<CaptureItem> &captures() const { return m_captures; }
    QString saveFolder() const;
    bool hasScreenPermission() const { return m_hasScreenPermission; }
    QString screenProblem() const { return m_services.screenProblem ? m_services.screenProblem() : QString(); }
    bool asksToShareScreen() const { return m_services.asksToShareScreen; }
    int microphoneStatus() const { return m_microphoneStatus; }
    // The settings page's "Dispositivo" list: "Padrão do sistema" (name
    // empty) first, then every input by description. A chosen input that is
    // not there now stays listed under its name, so that the choice shows.
    // Each entry: {name, label}.
    QVariantList microphoneChoices() const;
    bool isBusy() const { return m_isBusy; }
    void setBusy(bool busy);
    bool isRecording() const { return m_isRecording; }
    void setRecording(bool recording);
    const QList<Shortcut> &unavailableShortcuts() const { return m_unavailableShortcuts; }
    void setUnavailableShortcuts(QList<Shortcut> shortcuts, QString note = {});
    QString shortcutsNote() const { return m_shortcutsNote; }
    QStringList unavailableShortcutKeys() const;
    bool isPreview() const { return m_isPreview; }
    // The one updater of the run; the controller gives it its busy check and starts it.
    Updater *updater() const { return m_services.updater; }
    Preferences *preferences() const { return m_services.preferences; }

    // Rescans the save folder off the GUI thread; the newest scan's result is
    // the one applied. Awaiting is optional.
    QCoro::Task<void> reloadCaptures();
    Q_INVOKABLE void reload() { reloadCaptures(); }
    Q_INVOKABLE void openSaveFolder();
    Q_INVOKABLE void chooseSaveFolder();
    // Off the GUI thread: a trash on another file system copies the whole file.
    QCoro::Task<void> trash(QString path);
    Q_INVOKABLE void moveToTrash(const QString &path) { trash(path); }
    Q_INVOKABLE void refreshPermissions();
    // The system's question about sharing the screen (where it asks one),
    // then a refresh; the answer shows in a later refresh.
    Q_INVOKABLE void requestScreenCapture();
    QCoro::Task<void> requestMicrophone();
    Q_INVOKABLE void askForMicrophone() { requestMicrophone(); }
    Q_INVOKABLE void openPrivacyPane(const QString &anchor);

    // The window buttons: each runs its callback in `actions`.
    Q_INVOKABLE void screenshotFull() { m_actions.screenshotFull(); }
    Q_INVOKABLE void screenshotArea() { m_actions.screenshotArea(); }
    Q_INVOKABLE void recordFull() { m_actions.recordFull(); }
    Q_INVOKABLE void recordArea() { m_actions.recordArea(); }
    Q_INVOKABLE void stopRecording() { m_actions.stopRecording(); }
    Q_INVOKABLE void finishOnboarding() { m_actions.finishOnboarding(); }
    Q_INVOKABLE void replayOnboarding() { m_actions.replayOnboarding(); }

    // A library tile's menu: open, show in the file manager, copy (a
    // screenshot's PNG bytes, a recording's file reference). A screenshot that
    // cannot be read leaves the clipboard untouched.
    Q_INVOKABLE void openCapture(const QString &path);
    Q_INVOKABLE void revealCapture(const QString &path);
    QCoro::Task<bool> copyCapture(QString path, bool isVideo);
    Q_INVOKABLE void copyCaptureToClipboard(const QString &path, bool isVideo) { copyCapture(path, isVideo); }

signals:
    void actionsChanged();
    void pageChanged();
    void capturesChanged();
    void saveFolderChanged();
    void hasScreenPermissionChanged();
    void microphoneStatusChanged();
    void microphoneChoicesChanged();
    void isBusyChanged();
    void isRecordingChanged();
    void unavailableShortcutsChanged();

private:
    void setCaptures(QList<CaptureItem> captures);
    void setHasScreenPermission(bool value);
    void setMicrophoneStatus(int value);

    Services m_services;
    Actions m_actions;
    LibraryScanner m_scanner;
    Page m_page = Page::capture;
    QList<CaptureItem> m_captures;
    std::optional<QString> m_previewFolder;
    bool m_hasScreenPermission = false;
    int m_microphoneStatus = 0;
    bool m_isBusy = false;
    bool m_isRecording = false;
    QList<Shortcut> m_unavailableShortcuts;
    QString m_shortcutsNote;
    bool m_isPreview = false;
};
