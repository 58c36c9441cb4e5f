#include "platform/x11/X11Server.h"

#include <xcb/xcb.h>

namespace X11Server {

bool reachable(const QByteArray &displayName)
{
    int screen = 0;
    xcb_connection_t *connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screen);
    const bool ok = connection && !xcb_connection_has_error(connection);
    if (connection)
        xcb_disconnect(connection);
    return ok;
}

} // namespace X11Server
