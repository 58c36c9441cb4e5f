#include "Preferences.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <functional>
#include <limits>

namespace {
constexpr auto hasCompletedOnboardingKey = "hasCompletedOnboarding";
constexpr auto onboardingStepKey = "onboardingStep";
constexpr auto capturesSystemAudioKey = "capturesSystemAudio";
constexpr auto capturesMicrophoneKey = "capturesMicrophone";
constexpr auto microphoneDeviceKey = "microphoneDevice";
constexpr auto copiesScreenshotsKey = "copiesScreenshots";
constexpr auto saveFolderKey = "saveFolder";
constexpr auto updateBucketKey = "updateBucket";
constexpr auto checksForUpdatesKey = "checksForUpdates";
constexpr auto usesBetaUpdatesKey = "usesBetaUpdates";
constexpr auto skippedUpdateBuildKey = "skippedUpdateBuild";
constexpr auto screenCastRestoreTokenKey = "screenCastRestoreToken";
constexpr auto screenCastRestoreTokensGroup = "screenCastRestoreTokens";
constexpr auto mainWindowFrameKey = "MainWindow/frame";

QString monitorKey(const QRect &monitor)
{
    return QStringLiteral("%1_%2_%3_%4").arg(monitor.x()).arg(monitor.y()).arg(monitor.width()).arg(monitor.height());
}

std::optional<QRect> monitorFromKey(const QString &key)
{
    const QStringList parts = key.split(QLatin1Char('_'));
    if (parts.size() != 4)
        return std::nullopt;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        const std::optional<qint64> number = Preferences::intFromStored(parts.at(i));
        if (!number || *number < std::numeric_limits<int>::min() || *number > std::numeric_limits<int>::max())
            return std::nullopt;
        numbers[i] = int(*number);
    }
    const QRect monitor(numbers[0], numbers[1], numbers[2], numbers[3]);
    if (monitor.isEmpty())
        return std::nullopt;
    return monitor;
}

} // namespace

Preferences::Preferences(QObject *parent)
    : QObject(parent)
    , m_store(std::make_unique<QSettings>(
          QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velunta"), QStringLiteral("Velunta")))
{
}

Preferences::Preferences(const QString &iniPath, QObject *parent)
    : QObject(parent)
    , m_store(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

Preferences::~Preferences() = default;

QString Preferences::fileName() const
{
    return m_store->fileName();
}

std::optional<bool> Preferences::boolFromStored(const QVariant &v)
{
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (v.typeId() == QMetaType::QString) {
        const QString text = v.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

std::optional<qint64> Preferences::intFromStored(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return v.toLongLong();
    case QMetaType::QString: {
        // Anchored at the very end: "$" would also match before a final line break.
        static const QRegularExpression decimal(QRegularExpression::anchoredPattern(QStringLiteral("[+-]?[0-9]+")));
        const QString text = v.toString();
        bool ok = false;
        const qint64 n = text.toLongLong(&ok);
        if (ok && decimal.match(text).hasMatch())
            return n;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> Preferences::stringFromStored(const QVariant &v)
{
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    return std::nullopt;
}

quint32 Preferences::secureRandomBelow(quint32 bound)
{
    // Reject the top partial range so every value is equally likely.
    const quint32 limit = std::numeric_limits<quint32>::max() - std::numeric_limits<quint32>::max() % bound;
    for (;;) {
        const quint32 draw = QRandomGenerator::system()->generate();
        if (draw < limit)
            return draw % bound;
    }
}

QString Preferences::defaultSaveFolder()
{
    const QStringList pictures = QStandardPaths::standardLocations(QStandardPaths::PicturesLocation);
    const QString base = pictures.isEmpty() ? QDir::homePath() : pictures.first();
    return QDir(base).filePath(QStringLiteral("Velunta"));
}

std::optional<bool> Preferences::storedBool(const char *key) const
{
    return boolFromStored(m_store->value(QLatin1String(key)));
}

std::optional<qint64> Preferences::storedInt(const char *key) const
{
    return intFromStored(m_store->value(QLatin1String(key)));
}

std::optional<QString> Preferences::storedString(const char *key) const
{
    return stringFromStored(m_store->value(QLatin1String(key)));
}

void Preferences::write(const char *key, const QVariant &value)
{
    m_store->setValue(QLatin1String(key), value);
    m_store->sync();
}

template <typename Getter>
void Preferences::write(const char *key, const QVariant &value, Getter get, void (Preferences::*changedSignal)())
{
    const auto before = get();
    write(key, value);
    if (get() == before)
        return;
    std::invoke(changedSignal, this);
    emit changed();
}

bool Preferences::hasCompletedOnboarding() const
{
    return storedBool(hasCompletedOnboardingKey).value_or(false);
}

void Preferences::setHasCompletedOnboarding(bool value)
{
    write(
        hasCompletedOnboardingKey, value, [this] { return hasCompletedOnboarding(); },
        &Preferences::hasCompletedOnboardingChanged);
}

int Preferences::onboardingStep() const
{
    const qint64 step = storedInt(onboardingStepKey).value_or(0);
    return step >= 0 && step <= 3 ? int(step) : 0;
}

void Preferences::setOnboardingStep(int step)
{
    write(
        onboardingStepKey, step, [this] { return onboardingStep(); }, &Preferences::onboardingStepChanged);
}

bool Preferences::capturesSystemAudio() const
{
    return storedBool(capturesSystemAudioKey).value_or(true);
}

void Preferences::setCapturesSystemAudio(bool value)
{
    write(
        capturesSystemAudioKey, value, [this] { return capturesSystemAudio(); },
        &Preferences::capturesSystemAudioChanged);
}

bool Preferences::capturesMicrophone() const
{
    return storedBool(capturesMicrophoneKey).value_or(false);
}

void Preferences::setCapturesMicrophone(bool value)
{
    write(
        capturesMicrophoneKey, value, [this] { return capturesMicrophone(); }, &Preferences::capturesMicrophoneChanged);
}

QString Preferences::microphoneDevice() const
{
    return storedString(microphoneDeviceKey).value_or(QString());
}

void Preferences::setMicrophoneDevice(const QString &name)
{
    write(
        microphoneDeviceKey, name, [this] { return microphoneDevice(); }, &Preferences::microphoneDeviceChanged);
}

bool Preferences::copiesScreenshots() const
{
    return storedBool(copiesScreenshotsKey).value_or(true);
}

void Preferences::setCopiesScreenshots(bool value)
{
    write(
        copiesScreenshotsKey, value, [this] { return copiesScreenshots(); }, &Preferences::copiesScreenshotsChanged);
}

QString Preferences::saveFolder() const
{
    if (auto stored = storedString(saveFolderKey); stored && !stored->isEmpty())
        return QDir::cleanPath(QDir::current().absoluteFilePath(*stored));
    return defaultSaveFolder();
}

void Preferences::setSaveFolder(const QString &folder)
{
    write(
        saveFolderKey, folder, [this] { return saveFolder(); }, &Preferences::saveFolderChanged);
}

int Preferences::updateBucket()
{
    if (auto stored = storedInt(updateBucketKey))
        return int(*stored);
    const int bucket = int(secureRandomBelow(100));
    write(updateBucketKey, bucket);
    return bucket;
}

void Preferences::setUpdateBucket(int bucket)
{
    const std::optional<qint64> before = storedInt(updateBucketKey);
    write(updateBucketKey, bucket);
    if (before == bucket)
        return;
    emit updateBucketChanged();
    emit changed();
}

bool Preferences::checksForUpdates() const
{
    return storedBool(checksForUpdatesKey).value_or(true);
}

void Preferences::setChecksForUpdates(bool value)
{
    write(
        checksForUpdatesKey, value, [this] { return checksForUpdates(); }, &Preferences::checksForUpdatesChanged);
}

bool Preferences::usesBetaUpdates() const
{
    return storedBool(usesBetaUpdatesKey).value_or(false);
}

void Preferences::setUsesBetaUpdates(bool value)
{
    write(
        usesBetaUpdatesKey, value, [this] { return usesBetaUpdates(); }, &Preferences::usesBetaUpdatesChanged);
}

int Preferences::skippedUpdateBuild() const
{
    return int(storedInt(skippedUpdateBuildKey).value_or(0));
}

void Preferences::setSkippedUpdateBuild(qint64 build)
{
    write(
        skippedUpdateBuildKey, build, [this] { return skippedUpdateBuild(); }, &Preferences::skippedUpdateBuildChanged);
}

std::vector<Preferences::ScreenCastToken> Preferences::screenCastRestoreTokens() const
{
    std::vector<ScreenCastToken> tokens;
    m_store->beginGroup(QLatin1String(screenCastRestoreTokensGroup));
    for (const QString &key : m_store->childKeys()) {
        const std::optional<QRect> monitor = monitorFromKey(key);
        const std::optional<QString> token = stringFromStored(m_store->value(key));
        if (monitor && token && !token->isEmpty())
            tokens.push_back({*monitor, *token});
    }
    m_store->endGroup();
    if (const std::optional<QString> unplaced = storedString(screenCastRestoreTokenKey);
        unplaced && !unplaced->isEmpty())
        tokens.push_back({QRect(), *unplaced});
    return tokens;
}

void Preferences::setScreenCastRestoreTokens(const std::vector<ScreenCastToken> &tokens)
{
    const std::vector<ScreenCastToken> before = screenCastRestoreTokens();
    m_store->remove(QLatin1String(screenCastRestoreTokensGroup));
    m_store->remove(QLatin1String(screenCastRestoreTokenKey));
    for (const ScreenCastToken &entry : tokens) {
        if (entry.token.isEmpty())
            continue;
        if (entry.monitor.isEmpty())
            m_store->setValue(QLatin1String(screenCastRestoreTokenKey), entry.token);
        else
            m_store->setValue(
                QLatin1String(screenCastRestoreTokensGroup) + QLatin1Char('/') + monitorKey(entry.monitor),
                entry.token);
    }
    m_store->sync();
    if (screenCastRestoreTokens() == before)
        return;
    emit screenCastRestoreTokensChanged();
    emit changed();
}

std::optional<QRect> Preferences::mainWindowFrame() const
{
    const QStringList parts = m_store->value(QLatin1String(mainWindowFrameKey)).toString().split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts.at(i).trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    return QRect(numbers[0], numbers[1], numbers[2], numbers[3]);
}

void Preferences::setMainWindowFrame(const QRect &frame)
{
    // Written often while the window moves: left to the store's own flush.
    m_store->setValue(QLatin1String(mainWindowFrameKey),
        QStringLiteral("%1,%2,%3,%4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height()));
}
