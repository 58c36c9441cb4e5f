#include "platform/PlatformServices.h"

#include "platform/NullPlatform.h"
#include "platform/audio/PulseAudioSource.h"
#include "platform/audio/PulseMicrophone.h"
#include "platform/wayland/Portal.h"
#include "platform/wayland/WaylandFrameSource.h"
#include "platform/wayland/WaylandHotKeys.h"
#include "platform/wayland/WaylandScreenSource.h"
#include "platform/x11/X11ClipboardProbe.h"
#include "platform/x11/X11FrameSource.h"
#include "platform/x11/X11HotKeys.h"
#include "platform/x11/X11ScreenSource.h"
#include "platform/x11/X11Server.h"

#include <QDBusConnection>
#include <QGuiApplication>

using namespace std::chrono_literals;

PlatformServices PlatformServices::create(Preferences *preferences)
{
    PlatformServices services;
    bool complete = false;
    // The session first: XWayland also reports xcb, and an X11 capture there
    // sees only X clients and saves black or partial pictures.
    if (isWaylandSession()) {
        // Screens and shortcuts through the desktop portal. A session without
        // its Screenshot interface gets screens that refuse with a text
        // naming it; one without GlobalShortcuts keeps the command line. The
        // portal is asked in the background: a slow one must not hold up the
        // start, and both learn its answer when it comes.
        QDBusConnection bus = QDBusConnection::sessionBus();
        // Nothing waits on it, so it may take as long as a portal started
        // by D-Bus activation at login needs.
        auto portal = std::make_shared<PortalInterfaces>(bus, 25s);
        services.screens
            = std::make_unique<WaylandScreenSource>(bus, portal, WaylandFrameSource::tokensIn(preferences));
        services.hotKeys = std::make_unique<WaylandHotKeys>(bus, portal);
        services.frames = std::make_unique<WaylandFrameSource>(WaylandFrameSource::tokensIn(preferences));
        complete = true;
        services.backend = QStringLiteral("wayland");
    } else if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Each service falls back on its own: a server without Composite
        // still has key grabs.
        if (auto screens = X11ScreenSource::create())
            services.screens = std::move(*screens);
        services.hotKeys = X11HotKeys::create();
        services.frames = std::make_unique<X11FrameSource>();
        services.clipboard = std::make_unique<X11ClipboardProbe>();
    }
    if (services.backend.isEmpty()) {
        complete = services.screens && services.hotKeys;
        services.backend = complete ? QStringLiteral("x11") : QStringLiteral("null");
    } else if (!complete) {
        services.backend = QStringLiteral("null");
    }
    if (!services.screens)
        services.screens = std::make_unique<NullScreenSource>();
    if (!services.hotKeys)
        services.hotKeys = std::make_unique<NullHotKeys>();
    if (!services.frames)
        services.frames = std::make_unique<NullFrameSource>();
    if (!services.clipboard)
        services.clipboard = std::make_unique<NullClipboardProbe>();
    services.audio = std::make_unique<PulseAudioSource>();
    return services;
}

std::unique_ptr<MicrophoneAccess> PlatformServices::createMicrophone()
{
    return std::make_unique<PulseMicrophone>();
}

bool PlatformServices::displayReachable()
{
    return X11Server::reachable();
}
