#pragma once

#include "platform/HotKeySource.h"
#include "platform/wayland/Portal.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QKeyCombination>
#include <QString>
#include <memory>

// Global shortcuts through the GlobalShortcuts portal: one session, bound
// once with every combination registered in the same turn of the event loop
// as its preferred trigger (the desktop may let the user pick others).
// Presses arrive as the portal's Activated signal.
class WaylandHotKeys : public HotKeySource {
    Q_OBJECT
public:
    // PORTAL: what the portal offers, perhaps still being asked. Without
    // GlobalShortcuts every combination is unavailable (the command-line
    // actions remain): answered at once when that is known, else reported
    // through becameUnavailable once it is.
    WaylandHotKeys(QDBusConnection bus, std::shared_ptr<PortalInterfaces> portal, QObject *parent = nullptr);
    // Closes the portal session: its shortcuts go with it.
    ~WaylandHotKeys() override;

    QList<int> registerShortcuts(const QList<QKeyCombination> &combinations) override;
    QString unavailableReason() const override;

    // The trigger as the portal writes it, e.g. "ALT+SHIFT+1".
    static QString triggerText(QKeyCombination combination);
    // The portal's id for the combination at INDEX, and back (-1 when not ours).
    static QString shortcutId(int index);
    static int indexOf(const QString &shortcutId);

private slots:
    void onActivated(
        const QDBusObjectPath &session, const QString &shortcutId, qulonglong timestamp, const QVariantMap &options);

private:
    void bindPending();
    void portalKnown();
    bool offered() const;

    QDBusConnection m_bus;
    std::shared_ptr<PortalInterfaces> m_portal;
    QList<QKeyCombination> m_combinations;
    QString m_session;
    bool m_bindScheduled = false;
    bool m_creating = false;
};
