#pragma once

#include "app/StatusMenu.h"
#include "core/ControllerPorts.h"

#include <QImage>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>

// The tray icon and its menu. The menu is rebuilt from its items function
// before it opens and whenever its inputs change (the controller's state, the
// save folder, any setting written anywhere), since trays that show the menu
// over D-Bus may never announce the opening.
class Preferences;

class StatusItem : public QObject, public StatusItemHost {
    Q_OBJECT
public:
    // The menu follows every change of PREFERENCES, which outlive the item.
    StatusItem(std::function<QList<StatusMenu::Item>()> items, std::function<void(StatusMenu::Action)> perform,
        Preferences &preferences, QObject *parent = nullptr);
    ~StatusItem() override;

    void showIdleIcon() override;
    void showRecordingIcon() override;
    // Rebuilds once the current event is handled: an action of the menu may
    // be what changed the inputs, and it must not be deleted under itself.
    void invalidate() override;

    QMenu *menu() const { return m_menu.get(); }
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }

    // The idle icon at SIZE pixels square: a light glyph in a dark outline,
    // since the tray does not tell whether its panel is dark or light.
    static QImage idleIconImage(int size);

private:
    void rebuild();

    std::function<QList<StatusMenu::Item>()> m_items;
    std::function<void(StatusMenu::Action)> m_perform;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QList<StatusMenu::Item> m_shown;
    QTimer m_rebuild;
};
