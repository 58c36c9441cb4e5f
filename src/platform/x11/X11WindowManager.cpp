#include "platform/x11/X11WindowManager.h"

#include "platform/x11/XcbPointers.h"

#include <QGuiApplication>
#include <cstring>
#include <xcb/xcb.h>

namespace {

class NullWindowManager : public WindowManager {
public:
    std::optional<NativeWindowId> activeWindow() const override { return std::nullopt; }
    void activate(NativeWindowId) override { }
    bool hasCompositingManager() const override { return false; }
};

// EWMH source indication for requests from pagers and task bars.
constexpr std::uint32_t sourcePager = 2;

} // namespace

std::unique_ptr<WindowManager> WindowManager::create()
{
    if (auto x11 = X11WindowManager::create())
        return x11;
    return std::make_unique<NullWindowManager>();
}

std::unique_ptr<X11WindowManager> X11WindowManager::create()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection || xcb_connection_has_error(connection))
        return nullptr;
    const int screen = screenNumber(qgetenv("DISPLAY"));
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && roots.rem > 1; ++i)
        xcb_screen_next(&roots);
    return std::unique_ptr<X11WindowManager>(new X11WindowManager(connection, roots.data->root, screen));
}

X11WindowManager::X11WindowManager(xcb_connection_t *connection, std::uint32_t root, int screen)
    : m_connection(connection)
    , m_root(root)
    , m_screen(screen)
{
}

int X11WindowManager::screenNumber(const QByteArray &displayName)
{
    const int colon = displayName.lastIndexOf(':');
    if (colon < 0)
        return 0;
    const int dot = displayName.indexOf('.', colon);
    if (dot < 0)
        return 0;
    bool ok = false;
    const int number = displayName.mid(dot + 1).toInt(&ok);
    return ok && number >= 0 ? number : 0;
}

std::uint32_t X11WindowManager::atom(const char *name) const
{
    auto reply = xcbReply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, false, std::uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : std::uint32_t(XCB_ATOM_NONE);
}

std::optional<NativeWindowId> X11WindowManager::activeWindow() const
{
    const std::uint32_t property = atom("_NET_ACTIVE_WINDOW");
    if (property == XCB_ATOM_NONE)
        return std::nullopt;
    auto reply = xcbReply(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, false, m_root, property, XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    const auto window = *static_cast<const std::uint32_t *>(xcb_get_property_value(reply.get()));
    if (window == XCB_WINDOW_NONE)
        return std::nullopt;
    return window;
}

void X11WindowManager::activate(NativeWindowId window)
{
    const std::uint32_t type = atom("_NET_ACTIVE_WINDOW");
    if (type == XCB_ATOM_NONE || window == XCB_WINDOW_NONE)
        return;
    // xcb sends exactly 32 bytes of the event.
    xcb_client_message_event_t message;
    std::memset(&message, 0, sizeof message);
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    message.data.data32[0] = sourcePager;
    message.data.data32[1] = XCB_CURRENT_TIME;
    message.data.data32[2] = XCB_WINDOW_NONE;
    xcb_send_event(m_connection, false, m_root,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char *>(&message));
    xcb_flush(m_connection);
}

bool X11WindowManager::hasCompositingManager() const
{
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(m_screen);
    const std::uint32_t selection = atom(name.constData());
    if (selection == XCB_ATOM_NONE)
        return false;
    auto reply = xcbReply(
        xcb_get_selection_owner_reply(m_connection, xcb_get_selection_owner(m_connection, selection), nullptr));
    return reply && reply->owner != XCB_WINDOW_NONE;
}
