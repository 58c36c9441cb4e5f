#pragma once

#include <QByteArray>

namespace X11Server {

// Whether an X server answers at DISPLAYNAME (empty: $DISPLAY). Connects and
// disconnects at once; needs no QGuiApplication.
bool reachable(const QByteArray &displayName = {});

} // namespace X11Server
