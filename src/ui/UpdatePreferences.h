#pragma once

#include <QObject>
#include <QString>

class QQmlEngine;

// The running version as the settings page's update section shows it (the
// section's switches are bound to the run's Preferences). A QML singleton,
// "UpdatePreferences" in module Velunta.
class UpdatePreferences : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString installedVersion READ installedVersion CONSTANT)

public:
    explicit UpdatePreferences(QObject *parent = nullptr);

    // Registers the singleton; call before an engine loads the settings page.
    static void registerQmlType();

    // "1.4.0 (57)".
    static QString versionText(const QString &version, qint64 build);

    QString installedVersion() const { return m_installedVersion; }

private:
    QString m_installedVersion;
};
