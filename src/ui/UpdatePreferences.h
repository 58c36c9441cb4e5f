#pragma once

#include <QObject>
#include <QString>

class QQmlEngine;

// The update section's two switches, bound to the settings store (each change
// is written at once; the beta channel takes effect at the next check), and
// the running version as the section shows it. A QML singleton,
// "UpdatePreferences" in module Velunta.
class UpdatePreferences : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool checksForUpdates READ checksForUpdates WRITE setChecksForUpdates NOTIFY checksForUpdatesChanged)
    Q_PROPERTY(bool usesBetaUpdates READ usesBetaUpdates WRITE setUsesBetaUpdates NOTIFY usesBetaUpdatesChanged)
    Q_PROPERTY(QString installedVersion READ installedVersion CONSTANT)

public:
    explicit UpdatePreferences(QObject *parent = nullptr);

    // Registers the singleton; call before an engine loads the settings page.
    static void registerQmlType();
    static UpdatePreferences *instance(QQmlEngine &engine);

    // "1.4.0 (57)".
    static QString versionText(const QString &version, qint64 build);

    bool checksForUpdates() const { return m_checksForUpdates; }
    void setChecksForUpdates(bool value);
    bool usesBetaUpdates() const { return m_usesBetaUpdates; }
    void setUsesBetaUpdates(bool value);
    QString installedVersion() const { return m_installedVersion; }

    // Picks up values written elsewhere.
    Q_INVOKABLE void refresh();

signals:
    void checksForUpdatesChanged();
    void usesBetaUpdatesChanged();

private:
    bool m_checksForUpdates = true;
    bool m_usesBetaUpdates = false;
    QString m_installedVersion;
};
