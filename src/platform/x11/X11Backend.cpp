#include "platform/NullPlatform.h"
#include "platform/PlatformServices.h"
#include "platform/x11/X11HotKeys.h"
#include "platform/x11/X11ScreenSource.h"

#include <QGuiApplication>

PlatformServices PlatformServices::create()
{
    PlatformServices services;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Each service falls back on its own: a server without Composite
        // still has key grabs.
        if (auto screens = X11ScreenSource::create())
            services.screens = std::move(*screens);
        services.hotKeys = X11HotKeys::create();
    }
    const bool complete = services.screens && services.hotKeys;
    if (!services.screens)
        services.screens = std::make_unique<NullScreenSource>();
    if (!services.hotKeys)
        services.hotKeys = std::make_unique<NullHotKeys>();
    services.backend = complete ? QStringLiteral("x11") : QStringLiteral("null");
    return services;
}
