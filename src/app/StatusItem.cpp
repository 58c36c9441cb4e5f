#include "StatusItem.h"

#include "core/Preferences.h"
#include "theme/Icons.h"
#include "theme/Theme.h"

#include <QActionGroup>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <cmath>
#include <numbers>

StatusItem::StatusItem(std::function<QList<StatusMenu::Item>()> items, std::function<void(StatusMenu::Action)> perform,
    Preferences &preferences, QObject *parent)
    : QObject(parent)
    , m_items(std::move(items))
    , m_perform(std::move(perform))
    , m_menu(std::make_unique<QMenu>())
    , m_tray(std::make_unique<QSystemTrayIcon>())
{
    m_rebuild.setSingleShot(true);
    m_rebuild.setInterval(0);
    connect(&m_rebuild, &QTimer::timeout, this, &StatusItem::rebuild);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &StatusItem::rebuild);
    // The menu shows three settings: whoever writes one (the settings page,
    // the introduction, the microphone grant, the menu itself), it follows.
    connect(&preferences, &Preferences::changed, this, &StatusItem::invalidate);
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

QImage StatusItem::idleIconImage(int size)
{
    const QString name = QStringLiteral("camera.viewfinder");
    // A pixel of outline at the usual 22-pixel tray size: enough to stand
    // out on a light panel without smothering the small glyph.
    const qreal outline = std::max(0.75, size / 22.0);
    const int inset = int(std::ceil(outline));
    const QSize glyphSize(size - 2 * inset, size - 2 * inset);
    const QImage light = Icons::render(name, QColor(0xf5, 0xf5, 0xf7), glyphSize);
    const QImage dark = Icons::render(name, QColor(0x1c, 0x1c, 0x1e), glyphSize);

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The outline: the dark glyph stamped all around the light one.
    constexpr int steps = 16;
    for (int i = 0; i < steps; ++i) {
        const qreal angle = 2 * std::numbers::pi * i / steps;
        painter.drawImage(QPointF(inset + outline * std::cos(angle), inset + outline * std::sin(angle)), dark);
    }
    painter.drawImage(QPoint(inset, inset), dark);
    painter.drawImage(QPoint(inset, inset), light);
    return image;
}

void StatusItem::showIdleIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(idleIconImage(size)));
    m_tray->setIcon(icon);
    m_tray->setToolTip(QStringLiteral("Velunta"));
}

void StatusItem::showRecordingIcon()
{
    m_tray->setIcon(Icons::symbol(QStringLiteral("record.circle.fill"), Theme::hudRec));
    m_tray->setToolTip(QStringLiteral("Gravando"));
}

void StatusItem::invalidate()
{
    m_rebuild.start();
}

void StatusItem::rebuild()
{
    m_rebuild.stop();
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
