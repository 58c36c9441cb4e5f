#pragma once

#include "app/ControllerServices.h"
#include "app/StatusMenu.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

// The tray icon and its menu. The menu is rebuilt from its items function
// before it opens and whenever its inputs change, since trays that show the
// menu over D-Bus may never announce the opening.
class StatusItem : public QObject, public StatusItemHost {
    Q_OBJECT
public:
    StatusItem(std::function<QList<StatusMenu::Item>()> items, std::function<void(StatusMenu::Action)> perform,
               QObject *parent = nullptr);
    ~StatusItem() override;

    void showIdleIcon() override;
    void showRecordingIcon() override;
    void invalidate() override;

    QMenu *menu() const { return m_menu.get(); }
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }

private:
    void rebuild();

    std::function<QList<StatusMenu::Item>()> m_items;
    std::function<void(StatusMenu::Action)> m_perform;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QList<StatusMenu::Item> m_shown;
};
