#include "platform/NullPlatform.h"
#include "platform/PlatformServices.h"
#include "platform/x11/X11HotKeys.h"
#include "platform/x11/X11ScreenSource.h"

#include <QGuiApplication>

PlatformServices PlatformServices::create()
{
    PlatformServices services;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto screens = X11ScreenSource::create();
        auto hotKeys = X11HotKeys::create();
        if (screens && hotKeys) {
            services.screens = std::move(*screens);
            services.hotKeys = std::move(hotKeys);
            services.backend = QStringLiteral("x11");
            return services;
        }
    }
    services.screens = std::make_unique<NullScreenSource>();
    services.hotKeys = std::make_unique<NullHotKeys>();
    services.backend = QStringLiteral("null");
    return services;
}
