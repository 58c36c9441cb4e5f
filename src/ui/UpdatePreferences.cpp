#include "UpdatePreferences.h"

#include "updater/RunningVersion.h"

#include <QQmlEngine>

UpdatePreferences::UpdatePreferences(QObject *parent)
    : QObject(parent)
    , m_installedVersion(versionText(UpdateEngine::currentVersion(), UpdateEngine::currentBuild()))
{
}

void UpdatePreferences::registerQmlType()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    qmlRegisterSingletonType<UpdatePreferences>(
        "Velunta", 1, 0, "UpdatePreferences", [](QQmlEngine *, QJSEngine *) { return new UpdatePreferences; });
}

QString UpdatePreferences::versionText(const QString &version, qint64 build)
{
    return QStringLiteral("%1 (%2)").arg(version).arg(build);
}
