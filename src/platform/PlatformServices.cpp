#include "platform/PlatformServices.h"

#include "platform/NullPlatform.h"
#include "platform/audio/PulseAudioSource.h"
#include "platform/wayland/WaylandFrameSource.h"
#include "platform/x11/X11ClipboardProbe.h"
#include "platform/x11/X11FrameSource.h"
#include "platform/x11/X11HotKeys.h"
#include "platform/x11/X11ScreenSource.h"
#include "platform/x11/X11Server.h"

#include <QGuiApplication>

PlatformServices PlatformServices::create(Preferences *preferences)
{
    PlatformServices services;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Each service falls back on its own: a server without Composite
        // still has key grabs.
        if (auto screens = X11ScreenSource::create())
            services.screens = std::move(*screens);
        services.hotKeys = X11HotKeys::create();
        services.frames = std::make_unique<X11FrameSource>();
        services.clipboard = std::make_unique<X11ClipboardProbe>();
    }
    // Qt may run on XWayland there, where an X11 capture sees X clients only.
    if (isWaylandSession())
        services.frames = std::make_unique<WaylandFrameSource>(WaylandFrameSource::tokensIn(preferences));
    const bool complete = services.screens && services.hotKeys;
    if (!services.screens)
        services.screens = std::make_unique<NullScreenSource>();
    if (!services.hotKeys)
        services.hotKeys = std::make_unique<NullHotKeys>();
    if (!services.frames)
        services.frames = std::make_unique<NullFrameSource>();
    if (!services.clipboard)
        services.clipboard = std::make_unique<NullClipboardProbe>();
    services.audio = std::make_unique<PulseAudioSource>();
    services.backend = complete ? QStringLiteral("x11") : QStringLiteral("null");
    return services;
}

bool PlatformServices::displayReachable()
{
    return X11Server::reachable();
}
