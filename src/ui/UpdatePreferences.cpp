#include "UpdatePreferences.h"

#include "core/Settings.h"
#include "updater/RunningVersion.h"

#include <QQmlEngine>

namespace {
int typeId = -1;
}

UpdatePreferences::UpdatePreferences(QObject *parent)
    : QObject(parent)
    , m_installedVersion(versionText(UpdateEngine::currentVersion(), UpdateEngine::currentBuild()))
{
    refresh();
}

void UpdatePreferences::registerQmlType()
{
    if (typeId >= 0)
        return;
    typeId = qmlRegisterSingletonType<UpdatePreferences>(
        "Velunta", 1, 0, "UpdatePreferences", [](QQmlEngine *, QJSEngine *) { return new UpdatePreferences; });
}

UpdatePreferences *UpdatePreferences::instance(QQmlEngine &engine)
{
    registerQmlType();
    return engine.singletonInstance<UpdatePreferences *>(typeId);
}

QString UpdatePreferences::versionText(const QString &version, qint64 build)
{
    return QStringLiteral("%1 (%2)").arg(version).arg(build);
}

void UpdatePreferences::setChecksForUpdates(bool value)
{
    Settings::setValue(Settings::Key::checksForUpdates, value);
    if (value == m_checksForUpdates)
        return;
    m_checksForUpdates = value;
    emit checksForUpdatesChanged();
}

void UpdatePreferences::setUsesBetaUpdates(bool value)
{
    Settings::setValue(Settings::Key::usesBetaUpdates, value);
    if (value == m_usesBetaUpdates)
        return;
    m_usesBetaUpdates = value;
    emit usesBetaUpdatesChanged();
}

void UpdatePreferences::refresh()
{
    const bool checks = Settings::checksForUpdates();
    const bool beta = Settings::usesBetaUpdates();
    if (checks != m_checksForUpdates) {
        m_checksForUpdates = checks;
        emit checksForUpdatesChanged();
    }
    if (beta != m_usesBetaUpdates) {
        m_usesBetaUpdates = beta;
        emit usesBetaUpdatesChanged();
    }
}
