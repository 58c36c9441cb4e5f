#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <optional>

class QSettings;

// Everything Velunta keeps between runs, in one QSettings store
// (~/.config/Velunta/Velunta.conf). After a restart an INI file hands every
// value back as text, so the type rules below work on the text too: a Boolean
// is exactly "true" or "false", an integer is decimal text.
namespace Settings {

namespace Key {
inline constexpr auto hasCompletedOnboarding = "hasCompletedOnboarding";
inline constexpr auto onboardingStep = "onboardingStep";
inline constexpr auto capturesSystemAudio = "capturesSystemAudio";
inline constexpr auto capturesMicrophone = "capturesMicrophone";
inline constexpr auto copiesScreenshots = "copiesScreenshots";
inline constexpr auto saveFolder = "saveFolder";
inline constexpr auto updateBucket = "updateBucket";
inline constexpr auto checksForUpdates = "checksForUpdates";
inline constexpr auto usesBetaUpdates = "usesBetaUpdates";
inline constexpr auto skippedUpdateBuild = "skippedUpdateBuild";
} // namespace Key

// The process-wide store, created on first use.
QSettings &store();

// The type rules on a value as a store hands it back (typed, or as text
// after a restart): nullopt when it is absent or of another type.
std::optional<bool> boolFromStored(const QVariant &value);
std::optional<qint64> intFromStored(const QVariant &value);
std::optional<QString> stringFromStored(const QVariant &value);

// Typed reads: nullopt when the key is absent or holds another type.
std::optional<bool> storedBool(const char *key);
std::optional<qint64> storedInt(const char *key);
std::optional<QString> storedString(const char *key);

bool boolValue(const char *key, bool fallback);
qint64 intValue(const char *key, qint64 fallback);
void setValue(const char *key, const QVariant &value);

// The save folder as an absolute path (a relative stored path is taken
// against the working directory). Not created here.
QString saveFolder();
QString defaultSaveFolder();
int updateBucket();
bool capturesSystemAudio();
bool capturesMicrophone();
bool copiesToClipboard();
bool hasCompletedOnboarding();
int onboardingStep();
bool checksForUpdates();
bool usesBetaUpdates();
int skippedUpdateBuild();

// Uniform in [0, bound) from the system's secure generator, without modulo bias.
quint32 secureRandomBelow(quint32 bound);

// Tells about every value written through setValue, from wherever in the
// process, so that what shows a setting (the tray menu, the windows'
// toggles) follows it without each writer having to know them.
class Notifier : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
signals:
    void changed(const QString &key);
};
Notifier &notifier();

} // namespace Settings
