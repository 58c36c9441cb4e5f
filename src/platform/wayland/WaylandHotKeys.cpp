#include "platform/wayland/WaylandHotKeys.h"

#include "core/Shortcut.h"
#include "platform/wayland/Portal.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QKeySequence>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// What the desktop's shortcut settings show for a combination: the title of
// Velunta's shortcut with those keys.
QString describe(QKeyCombination combination, int index)
{
    const QString keys = QKeySequence(combination).toString(QKeySequence::PortableText);
    for (const Shortcut &shortcut : Shortcut::all()) {
        if (QKeySequence(shortcut.keys) == QKeySequence(keys))
            return shortcut.title;
    }
    return QStringLiteral("Atalho %1 do Velunta").arg(index + 1);
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

WaylandHotKeys::WaylandHotKeys(QDBusConnection bus, std::shared_ptr<PortalInterfaces> portal, QObject *parent)
    : HotKeySource(parent)
    , m_bus(std::move(bus))
    , m_portal(std::move(portal))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    if (!m_portal->isKnown())
        connect(m_portal.get(), &PortalInterfaces::known, this, &WaylandHotKeys::portalKnown);
    if (m_portal->isKnown() && !offered())
        return;
    // The slot's types are looked up by name: QDBusObjectPath must be known
    // to the meta-type system before anything else registered it.
    qRegisterMetaType<QDBusObjectPath>();
    if (m_bus.isConnected()
        && !m_bus.connect(Portal::service, Portal::objectPath, Portal::globalShortcutsInterface,
            QStringLiteral("Activated"), this, SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap))))
        qWarning("Velunta: %s", qPrintable(m_bus.lastError().message()));
}

bool WaylandHotKeys::offered() const
{
    return m_portal->offers(Portal::globalShortcutsInterface);
}

void WaylandHotKeys::portalKnown()
{
    if (offered()) {
        if (!m_combinations.isEmpty() && !m_bindScheduled) {
            m_bindScheduled = true;
            QTimer::singleShot(0, this, &WaylandHotKeys::bindPending);
        }
        return;
    }
    QList<int> unavailable;
    for (int i = 0; i < m_combinations.size(); ++i)
        unavailable << i;
    if (!unavailable.isEmpty())
        emit becameUnavailable(unavailable);
}

WaylandHotKeys::~WaylandHotKeys()
{
    Portal::closeSession(m_bus, m_session);
}

QString WaylandHotKeys::unavailableReason() const
{
    if (!m_portal->isKnown() || offered())
        return {};
    return QStringLiteral("Esta sessão Wayland não oferece atalhos globais: nas configurações de teclado do sistema, "
                          "crie atalhos para os comandos velunta --screenshot, velunta --screenshot-area, "
                          "velunta --record e velunta --record-area.");
}

QString WaylandHotKeys::triggerText(QKeyCombination combination)
{
    QStringList parts;
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    if (modifiers & Qt::ControlModifier)
        parts << QStringLiteral("CTRL");
    if (modifiers & Qt::AltModifier)
        parts << QStringLiteral("ALT");
    if (modifiers & Qt::ShiftModifier)
        parts << QStringLiteral("SHIFT");
    if (modifiers & Qt::MetaModifier)
        parts << QStringLiteral("LOGO");
    parts << QKeySequence(combination.key()).toString(QKeySequence::PortableText);
    return parts.join(QLatin1Char('+'));
}

QString WaylandHotKeys::shortcutId(int index)
{
    return QStringLiteral("velunta-%1").arg(index + 1);
}

int WaylandHotKeys::indexOf(const QString &shortcutId)
{
    if (!shortcutId.startsWith(QLatin1String("velunta-")))
        return -1;
    bool ok = false;
    const int number = shortcutId.mid(8).toInt(&ok);
    return ok && number >= 1 ? number - 1 : -1;
}

QList<int> WaylandHotKeys::registerShortcuts(const QList<QKeyCombination> &combinations)
{
    const int first = int(m_combinations.size());
    m_combinations.append(combinations);
    if (m_portal->isKnown() && !offered()) {
        QList<int> unavailable;
        for (int i = first; i < m_combinations.size(); ++i)
            unavailable << i;
        return unavailable;
    }
    // The portal binds a session's shortcuts once: gather what comes in this
    // turn of the event loop (or before the portal's answer).
    if (m_portal->isKnown() && !m_bindScheduled) {
        m_bindScheduled = true;
        QTimer::singleShot(0, this, &WaylandHotKeys::bindPending);
    }
    return {};
}

void WaylandHotKeys::bindPending()
{
    if (m_session.isEmpty()) {
        if (m_creating)
            return;
        m_creating = true;
        auto *create = new PortalRequest(m_bus, QStringLiteral("Atalhos globais"), this);
        connect(create, &PortalRequest::finished, this, [this](const Portal::Answer &answer) {
            m_creating = false;
            if (!answer) {
                qWarning("Velunta: %s", qPrintable(answer.error().description));
                return;
            }
            m_session = answer->value(QStringLiteral("session_handle")).value<QDBusObjectPath>().path();
            if (m_session.isEmpty())
                m_session = answer->value(QStringLiteral("session_handle")).toString();
            bindPending();
        });
        create->start(Portal::globalShortcutsInterface, QStringLiteral("CreateSession"),
            {QVariantMap {{QStringLiteral("session_handle_token"), QStringLiteral("velunta")}}}, 30s);
        return;
    }
    m_bindScheduled = false;
    QList<PortalShortcut> shortcuts;
    for (int i = 0; i < m_combinations.size(); ++i) {
        const QVariantMap properties {{QStringLiteral("preferred_trigger"), triggerText(m_combinations[i])},
            {QStringLiteral("description"), describe(m_combinations[i], i)}};
        shortcuts.append({shortcutId(i), properties});
    }
    auto *bind = new PortalRequest(m_bus, QStringLiteral("Atalhos globais"), this);
    connect(bind, &PortalRequest::finished, this, [](const Portal::Answer &answer) {
        if (!answer)
            qWarning("Velunta: %s", qPrintable(answer.error().description));
    });
    bind->start(Portal::globalShortcutsInterface, QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString(), QVariantMap {}},
        30s);
}

void WaylandHotKeys::onActivated(
    const QDBusObjectPath &session, const QString &shortcutId, qulonglong, const QVariantMap &)
{
    if (session.path() != m_session)
        return;
    const int index = indexOf(shortcutId);
    if (index >= 0 && index < m_combinations.size())
        emit pressed(index);
}
