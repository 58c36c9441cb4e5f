#include "platform/wayland/WaylandOutputs.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <cstring>
#include <memory>
#include <wayland-client.h>

namespace {

struct Listing {
    struct Entry {
        wl_output *proxy = nullptr;
        QPoint position;
        QSize mode;
        bool turned = false;
    };
    std::vector<Entry> entries;
};

void onGeometry(
    void *data, wl_output *, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char *, const char *, int32_t turn)
{
    auto *entry = static_cast<Listing::Entry *>(data);
    entry->position = QPoint(x, y);
    // A quarter turn swaps the mode's sides on the desktop.
    entry->turned = turn == WL_OUTPUT_TRANSFORM_90 || turn == WL_OUTPUT_TRANSFORM_270
        || turn == WL_OUTPUT_TRANSFORM_FLIPPED_90 || turn == WL_OUTPUT_TRANSFORM_FLIPPED_270;
}

void onMode(void *data, wl_output *, uint32_t flags, int32_t width, int32_t height, int32_t)
{
    if (flags & WL_OUTPUT_MODE_CURRENT)
        static_cast<Listing::Entry *>(data)->mode = QSize(width, height);
}

void onDone(void *, wl_output *) { }
void onScale(void *, wl_output *, int32_t) { }
void onName(void *, wl_output *, const char *) { }
void onDescription(void *, wl_output *, const char *) { }

const wl_output_listener outputListener {onGeometry, onMode, onDone, onScale, onName, onDescription};

void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    if (std::strcmp(interface, wl_output_interface.name) != 0)
        return;
    auto *listing = static_cast<Listing *>(data);
    // Entries are listened to by address: reserve so that none moves.
    if (listing->entries.size() == listing->entries.capacity())
        return;
    listing->entries.emplace_back();
    Listing::Entry &entry = listing->entries.back();
    entry.proxy
        = static_cast<wl_output *>(wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 2u)));
    wl_output_add_listener(entry.proxy, &outputListener, &entry);
}

void onGlobalRemove(void *, wl_registry *, uint32_t) { }

const wl_registry_listener registryListener {onGlobal, onGlobalRemove};

struct DisplayCloser {
    void operator()(wl_display *display) const { wl_display_disconnect(display); }
};

} // namespace

namespace WaylandOutputs {

std::vector<DesktopUnits::Output> query()
{
    // A WAYLAND_SOCKET would be taken over by the connection: it is Qt's.
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_SOCKET"))
        return {};
    std::unique_ptr<wl_display, DisplayCloser> display(wl_display_connect(nullptr));
    if (!display)
        return {};
    Listing listing;
    listing.entries.reserve(64);
    wl_registry *registry = wl_display_get_registry(display.get());
    wl_registry_add_listener(registry, &registryListener, &listing);
    // The first round trip lists the globals, the second their first events.
    std::vector<DesktopUnits::Output> outputs;
    if (wl_display_roundtrip(display.get()) >= 0 && wl_display_roundtrip(display.get()) >= 0) {
        for (const Listing::Entry &entry : listing.entries)
            outputs.push_back({entry.position, entry.turned ? entry.mode.transposed() : entry.mode});
    }
    for (const Listing::Entry &entry : listing.entries)
        wl_output_destroy(entry.proxy);
    wl_registry_destroy(registry);
    return outputs;
}

std::vector<DisplayInfo> displays()
{
    struct Cache {
        QStringList screens;
        QElapsedTimer age;
        std::vector<DesktopUnits::Output> outputs;
    };
    static Cache cache;

    const QList<QScreen *> screens = QGuiApplication::screens();
    QStringList key;
    for (const QScreen *screen : screens) {
        const QRect frame = screen->geometry();
        key << QStringLiteral("%1 %2,%3 %4x%5 %6")
                   .arg(screen->name())
                   .arg(frame.x())
                   .arg(frame.y())
                   .arg(frame.width())
                   .arg(frame.height())
                   .arg(screen->devicePixelRatio());
    }
    // Only Qt's Wayland screens are the compositor's outputs.
    const bool onWayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    if (onWayland && (key != cache.screens || !cache.age.isValid() || cache.age.hasExpired(1000))) {
        cache.outputs = query();
        cache.screens = key;
        cache.age.start();
    }
    const std::vector<DesktopUnits::Output> none;
    const std::vector<DesktopUnits::Output> &outputs = onWayland ? cache.outputs : none;

    std::vector<QRect> frames;
    std::vector<double> densities;
    for (const QScreen *screen : screens) {
        frames.push_back(screen->geometry());
        densities.push_back(DesktopUnits::density(screen->geometry(), outputs, screen->devicePixelRatio()));
    }
    const std::vector<QRect> pixels = DesktopUnits::pixelLayout(frames, densities);

    std::vector<DisplayInfo> displays;
    const QScreen *primary = QGuiApplication::primaryScreen();
    for (qsizetype i = 0; i < screens.size(); ++i) {
        DisplayInfo display;
        display.id = idForName(screens[i]->name());
        display.name = screens[i]->name();
        display.frame = frames[size_t(i)];
        display.scale = densities[size_t(i)];
        display.primary = screens[i] == primary;
        display.pixelGeometry = pixels[size_t(i)];
        displays.push_back(display);
    }
    return displays;
}

DisplayId idForName(const QString &name)
{
    const QByteArray digest = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1);
    DisplayId id = 0;
    for (int i = 0; i < 4; ++i)
        id = (id << 8) | quint8(digest[i]);
    // 0 means "no display" to the rest of the program.
    return id == 0 ? 1 : id;
}

} // namespace WaylandOutputs
