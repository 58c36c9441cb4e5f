#include "Settings.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

namespace Settings {

QSettings &store()
{
    static QSettings settings(
        QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velunta"), QStringLiteral("Velunta"));
    return settings;
}

std::optional<bool> boolFromStored(const QVariant &v)
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

std::optional<qint64> intFromStored(const QVariant &v)
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

std::optional<QString> stringFromStored(const QVariant &v)
{
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    return std::nullopt;
}

std::optional<bool> storedBool(const char *key)
{
    return boolFromStored(store().value(QLatin1String(key)));
}
std::optional<qint64> storedInt(const char *key)
{
    return intFromStored(store().value(QLatin1String(key)));
}
std::optional<QString> storedString(const char *key)
{
    return stringFromStored(store().value(QLatin1String(key)));
}

bool boolValue(const char *key, bool fallback)
{
    return storedBool(key).value_or(fallback);
}
qint64 intValue(const char *key, qint64 fallback)
{
    return storedInt(key).value_or(fallback);
}

void setValue(const char *key, const QVariant &value)
{
    store().setValue(QLatin1String(key), value);
    store().sync();
    emit notifier().changed(QLatin1String(key));
}

Notifier &notifier()
{
    static Notifier instance;
    return instance;
}

QString defaultSaveFolder()
{
    const QStringList pictures = QStandardPaths::standardLocations(QStandardPaths::PicturesLocation);
    const QString base = pictures.isEmpty() ? QDir::homePath() : pictures.first();
    return QDir(base).filePath(QStringLiteral("Velunta"));
}

QString saveFolder()
{
    if (auto stored = storedString(Key::saveFolder); stored && !stored->isEmpty())
        return QDir::cleanPath(QDir::current().absoluteFilePath(*stored));
    return defaultSaveFolder();
}

quint32 secureRandomBelow(quint32 bound)
{
    // Reject the top partial range so every value is equally likely.
    const quint32 limit = std::numeric_limits<quint32>::max() - std::numeric_limits<quint32>::max() % bound;
    for (;;) {
        const quint32 draw = QRandomGenerator::system()->generate();
        if (draw < limit)
            return draw % bound;
    }
}

int updateBucket()
{
    if (auto stored = storedInt(Key::updateBucket))
        return int(*stored);
    const int bucket = int(secureRandomBelow(100));
    setValue(Key::updateBucket, bucket);
    return bucket;
}

bool capturesSystemAudio()
{
    return boolValue(Key::capturesSystemAudio, true);
}
bool capturesMicrophone()
{
    return boolValue(Key::capturesMicrophone, false);
}
bool copiesToClipboard()
{
    return boolValue(Key::copiesScreenshots, true);
}
bool hasCompletedOnboarding()
{
    return boolValue(Key::hasCompletedOnboarding, false);
}

int onboardingStep()
{
    const qint64 step = intValue(Key::onboardingStep, 0);
    return step >= 0 && step <= 3 ? int(step) : 0;
}

bool checksForUpdates()
{
    return boolValue(Key::checksForUpdates, true);
}
bool usesBetaUpdates()
{
    return boolValue(Key::usesBetaUpdates, false);
}
int skippedUpdateBuild()
{
    return int(intValue(Key::skippedUpdateBuild, 0));
}

} // namespace Settings
