#include "StatusItem.h"

#include "ui/Icons.h"
#include "ui/Theme.h"

#include <QActionGroup>
#include <QGuiApplication>
#include <QPalette>

StatusItem::StatusItem(std::function<QList<StatusMenu::Item>()> items,
                       std::function<void(StatusMenu::Action)> perform, QObject *parent)
    : QObject(parent)
    , m_items(std::move(items))
    , m_perform(std::move(perform))
    , m_menu(std::make_unique<QMenu>())
    , m_tray(std::make_unique<QSystemTrayIcon>())
{
    connect(m_menu.get(), &QMenu::aboutToShow, this, &StatusItem::rebuild);
    m_tray->setContextMenu(m_menu.get());
    // A left click opens the same menu as the right one.
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_menu->popup(QCursor::pos());
    });
    showIdleIcon();
    rebuild();
    m_tray->show();
}

StatusItem::~StatusItem() = default;

void StatusItem::showIdleIcon()
{
    m_tray->setIcon(Icons::symbol(QStringLiteral("camera.viewfinder"),
                                  QGuiApplication::palette().color(QPalette::WindowText)));
    m_tray->setToolTip(QStringLiteral("Velunta"));
}

void StatusItem::showRecordingIcon()
{
    m_tray->setIcon(Icons::symbol(QStringLiteral("record.circle.fill"), Theme::hudRec));
    m_tray->setToolTip(QStringLiteral("Gravando"));
}

void StatusItem::invalidate() { rebuild(); }

void StatusItem::rebuild()
{
    const QList<StatusMenu::Item> items = m_items();
    if (items == m_shown && !m_menu->isEmpty())
        return;
    m_shown = items;
    m_menu->clear();
    const QColor iconColor = m_menu->palette().color(QPalette::WindowText);
    for (const StatusMenu::Item &item : items) {
        if (item.isSeparator()) {
            m_menu->addSeparator();
            continue;
        }
        QAction *action = m_menu->addAction(item.title);
        if (!item.icon.isEmpty())
            action->setIcon(Icons::symbol(item.icon, iconColor));
        if (!item.shortcut.isEmpty())
            action->setShortcut(QKeySequence(item.shortcut));
        action->setCheckable(item.checkable);
        action->setChecked(item.checked);
        const StatusMenu::Action what = item.action;
        connect(action, &QAction::triggered, this, [this, what] { m_perform(what); });
    }
}
