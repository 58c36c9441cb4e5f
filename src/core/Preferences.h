#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>
#include <vector>

class QSettings;

// Everything Velunta keeps between runs, and the only code that touches the
// store (~/.config/Velunta/Velunta.conf). The tray run makes one and hands it
// to everything that reads or writes a setting, so a change made anywhere
// (tray menu, settings page, introduction, microphone grant) reaches every
// view through the property's signal.
//
// After a restart an INI file hands every value back as text, so the type
// rules work on the text too: a Boolean is exactly "true" or "false", an
// integer is decimal text, and a value of another type counts as absent.
class Preferences : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasCompletedOnboarding READ hasCompletedOnboarding WRITE setHasCompletedOnboarding NOTIFY
            hasCompletedOnboardingChanged)
    Q_PROPERTY(int onboardingStep READ onboardingStep WRITE setOnboardingStep NOTIFY onboardingStepChanged)
    Q_PROPERTY(bool capturesSystemAudio READ capturesSystemAudio WRITE setCapturesSystemAudio NOTIFY
            capturesSystemAudioChanged)
    Q_PROPERTY(
        bool capturesMicrophone READ capturesMicrophone WRITE setCapturesMicrophone NOTIFY capturesMicrophoneChanged)
    Q_PROPERTY(QString microphoneDevice READ microphoneDevice WRITE setMicrophoneDevice NOTIFY microphoneDeviceChanged)
    Q_PROPERTY(bool copiesScreenshots READ copiesScreenshots WRITE setCopiesScreenshots NOTIFY copiesScreenshotsChanged)
    Q_PROPERTY(QString saveFolder READ saveFolder WRITE setSaveFolder NOTIFY saveFolderChanged)
    Q_PROPERTY(int updateBucket READ updateBucket WRITE setUpdateBucket NOTIFY updateBucketChanged)
    Q_PROPERTY(bool checksForUpdates READ checksForUpdates WRITE setChecksForUpdates NOTIFY checksForUpdatesChanged)
    Q_PROPERTY(bool usesBetaUpdates READ usesBetaUpdates WRITE setUsesBetaUpdates NOTIFY usesBetaUpdatesChanged)
    Q_PROPERTY(
        int skippedUpdateBuild READ skippedUpdateBuild WRITE setSkippedUpdateBuild NOTIFY skippedUpdateBuildChanged)

public:
    // A restore token of the desktop's ScreenCast portal and the monitor it
    // brings back, as the portal placed that monitor's stream (logical
    // units). An empty monitor: a token kept when Velunta held only one, and
    // which monitor it brings back is not known.
    struct ScreenCastToken {
        QRect monitor;
        QString token;
        bool operator==(const ScreenCastToken &) const = default;
    };

    // The user's store.
    explicit Preferences(QObject *parent = nullptr);
    // The store in the INI file at PATH (tests, tools).
    explicit Preferences(const QString &iniPath, QObject *parent = nullptr);
    ~Preferences() override;

    // The file the store is kept in.
    QString fileName() const;

    // The type rules on a value as a store hands it back (typed, or as text
    // after a restart): nullopt when it is absent or of another type.
    static std::optional<bool> boolFromStored(const QVariant &value);
    static std::optional<qint64> intFromStored(const QVariant &value);
    static std::optional<QString> stringFromStored(const QVariant &value);

    // Uniform in [0, bound) from the system's secure generator, without modulo bias.
    static quint32 secureRandomBelow(quint32 bound);
    static QString defaultSaveFolder();

    bool hasCompletedOnboarding() const;
    void setHasCompletedOnboarding(bool value);
    // 0 to 3; anything else stored means the first step.
    int onboardingStep() const;
    void setOnboardingStep(int step);
    bool capturesSystemAudio() const;
    void setCapturesSystemAudio(bool value);
    bool capturesMicrophone() const;
    void setCapturesMicrophone(bool value);
    // The sound server's name of the input to record as the microphone;
    // empty for the system's default.
    QString microphoneDevice() const;
    void setMicrophoneDevice(const QString &name);
    bool copiesScreenshots() const;
    void setCopiesScreenshots(bool value);
    // As an absolute path (a relative stored path is taken against the
    // working directory). Not created here.
    QString saveFolder() const;
    void setSaveFolder(const QString &folder);
    // 0 to 99, drawn on first use and kept.
    int updateBucket();
    void setUpdateBucket(int bucket);
    bool checksForUpdates() const;
    void setChecksForUpdates(bool value);
    bool usesBetaUpdates() const;
    void setUsesBetaUpdates(bool value);
    int skippedUpdateBuild() const;
    void setSkippedUpdateBuild(qint64 build);
    // What the desktop's ScreenCast portal handed back to skip its consent
    // dialog next time, one token per monitor; empty when there is none.
    // Monitors are a group of keys "x_y_width_height"; the token of an
    // unknown monitor stays where the single token always was.
    std::vector<ScreenCastToken> screenCastRestoreTokens() const;
    void setScreenCastRestoreTokens(const std::vector<ScreenCastToken> &tokens);
    // The main window's frame; nullopt when absent or garbled.
    std::optional<QRect> mainWindowFrame() const;
    void setMainWindowFrame(const QRect &frame);

signals:
    void hasCompletedOnboardingChanged();
    void onboardingStepChanged();
    void capturesSystemAudioChanged();
    void capturesMicrophoneChanged();
    void microphoneDeviceChanged();
    void copiesScreenshotsChanged();
    void saveFolderChanged();
    void updateBucketChanged();
    void checksForUpdatesChanged();
    void usesBetaUpdatesChanged();
    void skippedUpdateBuildChanged();
    void screenCastRestoreTokensChanged();
    // After any of the signals above, for what shows several settings at once.
    void changed();

private:
    std::optional<bool> storedBool(const char *key) const;
    std::optional<qint64> storedInt(const char *key) const;
    std::optional<QString> storedString(const char *key) const;
    void write(const char *key, const QVariant &value);
    // Writes KEY and emits CHANGED when what the getter returns moved.
    template <typename Getter>
    void write(const char *key, const QVariant &value, Getter get, void (Preferences::*changedSignal)());

    std::unique_ptr<QSettings> m_store;
};
