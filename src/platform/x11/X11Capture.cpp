#include "platform/x11/X11Capture.h"

#include "platform/x11/XcbPointers.h"

#include <QPainter>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unordered_map>
#include <unordered_set>
#include <xcb/composite.h>
#include <xcb/render.h>
#include <xcb/shape.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace {

PlatformError connectionLost()
{
    return {QStringLiteral("A conexão com a tela X11 foi perdida.")};
}

// A root child worth painting, with its outer geometry.
struct Candidate {
    xcb_window_t window = 0;
    xcb_visualid_t visual = 0;
    int x = 0;
    int y = 0;
    int border = 0;
    int width = 0;
    int height = 0;
    bool shaped = false;
    xcb_pixmap_t pixmap = 0;
    xcb_void_cookie_t named {};
};

} // namespace

struct X11Capture::Private {
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    xcb_visualid_t rootVisual = 0;
    uint8_t rootDepth = 0;
    bool lsbFirst = true;
    std::unordered_map<xcb_visualid_t, xcb_render_pictformat_t> visualFormats;
    std::unordered_map<xcb_render_pictformat_t, bool> formatHasAlpha;
    xcb_render_pictformat_t rgb24Format = 0;
    xcb_render_pictformat_t argb32Format = 0;
    xcb_atom_t rootPixmapAtom = 0;
    xcb_atom_t wmStateAtom = 0;

    bool hasShape = false;
    bool shmPossible = false;
    xcb_shm_seg_t shmSegment = 0;
    void *shmAddress = nullptr;
    size_t shmSize = 0;
    bool usedSharedMemory = false;

    std::mutex mutex;

    ~Private()
    {
        releaseSharedMemory();
        if (connection)
            xcb_disconnect(connection);
    }

    bool broken() const { return xcb_connection_has_error(connection) != 0; }

    void releaseSharedMemory()
    {
        if (shmAddress) {
            if (connection && !broken())
                xcb_shm_detach(connection, shmSegment);
            shmdt(shmAddress);
            shmAddress = nullptr;
            shmSize = 0;
        }
    }

    // Errors of unchecked requests arrive as events; this connection selects
    // no events, so everything queued is a stale error of a vanished window.
    void dropQueuedErrors()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection))
            std::free(event);
    }

    xcb_render_pictformat_t formatForDepth(uint8_t depth) const
    {
        if (depth == 32)
            return argb32Format;
        if (depth == rootDepth) {
            auto found = visualFormats.find(rootVisual);
            return found == visualFormats.end() ? 0 : found->second;
        }
        return depth == 24 ? rgb24Format : 0;
    }

    bool loadFormats()
    {
        auto formats = xcbReply(
            xcb_render_query_pict_formats_reply(connection, xcb_render_query_pict_formats(connection), nullptr));
        if (!formats)
            return false;
        for (auto it = xcb_render_query_pict_formats_formats_iterator(formats.get()); it.rem;
             xcb_render_pictforminfo_next(&it)) {
            const xcb_render_pictforminfo_t &info = *it.data;
            if (info.type != XCB_RENDER_PICT_TYPE_DIRECT)
                continue;
            formatHasAlpha[info.id] = info.direct.alpha_mask != 0;
            const bool rgb = info.direct.red_shift == 16 && info.direct.red_mask == 0xff && info.direct.green_shift == 8
                && info.direct.green_mask == 0xff && info.direct.blue_shift == 0 && info.direct.blue_mask == 0xff;
            if (!rgb)
                continue;
            if (info.depth == 24 && info.direct.alpha_mask == 0)
                rgb24Format = info.id;
            if (info.depth == 32 && info.direct.alpha_mask == 0xff && info.direct.alpha_shift == 24)
                argb32Format = info.id;
        }
        for (auto screens = xcb_render_query_pict_formats_screens_iterator(formats.get()); screens.rem;
             xcb_render_pictscreen_next(&screens)) {
            for (auto depths = xcb_render_pictscreen_depths_iterator(screens.data); depths.rem;
                 xcb_render_pictdepth_next(&depths)) {
                for (auto visuals = xcb_render_pictdepth_visuals_iterator(depths.data); visuals.rem;
                     xcb_render_pictvisual_next(&visuals))
                    visualFormats[visuals.data->visual] = visuals.data->format;
            }
        }
        return rgb24Format != 0 && argb32Format != 0;
    }

    // The top-level (a child of the root) that holds each excluded window: the
    // window itself, or the window manager's frame around it. A window
    // embedded in another client (a tray icon inside the panel) is part of
    // that client's picture: an ancestor with WM_STATE is a client, not a
    // frame, and nothing is left out for it.
    std::unordered_set<xcb_window_t> topLevelsOf(const std::vector<NativeWindowId> &windows)
    {
        std::unordered_set<xcb_window_t> topLevels;
        for (NativeWindowId window : windows) {
            xcb_window_t current = window;
            for (int depth = 0; depth < 64 && current != 0; ++depth) {
                auto tree = xcbReply(xcb_query_tree_reply(connection, xcb_query_tree(connection, current), nullptr));
                if (!tree)
                    break; // gone: nothing of it is on screen
                if (tree->parent == root || tree->parent == 0) {
                    topLevels.insert(current);
                    break;
                }
                if (isClient(tree->parent))
                    break;
                current = tree->parent;
            }
        }
        return topLevels;
    }

    bool isClient(xcb_window_t window)
    {
        if (!wmStateAtom)
            return false;
        auto state = xcbReply(xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, wmStateAtom, XCB_ATOM_ANY, 0, 0), nullptr));
        return state && state->type != XCB_NONE;
    }

    bool ensureSharedMemory(size_t size)
    {
        if (!shmPossible)
            return false;
        if (shmAddress && shmSize >= size)
            return true;
        releaseSharedMemory();
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0) {
            shmPossible = false;
            return false;
        }
        void *address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void *>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            shmPossible = false;
            return false;
        }
        const xcb_shm_seg_t segment = xcb_generate_id(connection);
        auto error = xcbReply(xcb_request_check(connection, xcb_shm_attach_checked(connection, segment, id, 0)));
        // Marked for removal at once: the segment goes away with the last
        // detach, even if this process dies.
        shmctl(id, IPC_RMID, nullptr);
        if (error) {
            // Typically a server in another IPC namespace.
            shmdt(address);
            shmPossible = false;
            return false;
        }
        shmSegment = segment;
        shmAddress = address;
        shmSize = size;
        return true;
    }

    // Copies the server's BGRX rows into an RGB32 image, forcing the unused
    // byte to opaque as QImage expects.
    QImage toImage(const uint8_t *data, int width, int height) const
    {
        QImage image(width, height, QImage::Format_RGB32);
        if (image.isNull())
            return image;
        const size_t stride = size_t(width) * 4;
        for (int y = 0; y < height; ++y) {
            const auto *source = reinterpret_cast<const uint32_t *>(data + stride * size_t(y));
            auto *target = reinterpret_cast<uint32_t *>(image.scanLine(y));
            if (lsbFirst) {
                for (int x = 0; x < width; ++x)
                    target[x] = source[x] | 0xff000000u;
            } else {
                for (int x = 0; x < width; ++x)
                    target[x] = __builtin_bswap32(source[x]) | 0xff000000u;
            }
        }
        return image;
    }

    void drawCursor(QImage &image, const QRect &area)
    {
        auto cursor
            = xcbReply(xcb_xfixes_get_cursor_image_reply(connection, xcb_xfixes_get_cursor_image(connection), nullptr));
        if (!cursor || cursor->width == 0 || cursor->height == 0)
            return;
        // XFixes gives premultiplied ARGB in 32-bit words.
        const QImage sprite(reinterpret_cast<const uchar *>(xcb_xfixes_get_cursor_image_cursor_image(cursor.get())),
            cursor->width, cursor->height, int(cursor->width) * 4, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.drawImage(QPoint(cursor->x - cursor->xhot - area.x(), cursor->y - cursor->yhot - area.y()), sprite);
    }

    // One grab, in phases: the windows to paint, their pixmaps named, the
    // desktop composed off-screen, the composed picture read back.
    Result<QImage, PlatformError> grab(const GrabRequest &request, bool borrowed);

    // The root's viewable children over the area, bottom to top, without the
    // skipped ones, and the published wallpaper. None: the server is gone.
    struct Scene {
        std::vector<Candidate> candidates;
        xcb_pixmap_t wallpaper = 0;
        xcb_get_geometry_cookie_t wallpaperGeometry {};
        uint8_t wallpaperDepth = 0;
    };
    std::optional<Scene> listWindows(const QRect &area, const std::unordered_set<xcb_window_t> &skipped);
    // Names a pixmap for every candidate (0 where it has none) and learns the
    // wallpaper's depth.
    void namePixmaps(Scene &scene);
    // The off-screen picture the desktop is repainted into: black, the
    // wallpaper, then every window clipped to its shape. Frees the windows'
    // pixmaps.
    struct Canvas {
        xcb_pixmap_t pixmap = 0;
        xcb_render_picture_t picture = 0;
    };
    Canvas canvas;
    QSize canvasSize;
    const Canvas &compose(const Scene &scene, const QRect &area);
    // The topmost window that hides the whole area under it: opaque, not
    // shaped, with a pixmap.
    std::optional<size_t> coveringWindow(const Scene &scene, const QRect &area) const;
    // The one window that shows in the whole area (it covers it and nothing
    // is painted over it), whose pixmap can be read as it is; else none.
    const Candidate *onlyVisibleWindow(const Scene &scene, const QRect &area) const;
    // SIZE pixels of SOURCE from ORIGIN as an image, through shared memory
    // when the server can; null when they could not be read.
    QImage read(xcb_drawable_t source, QPoint origin, QSize size, bool borrowed);
};

X11Capture::X11Capture()
    : d(std::make_unique<Private>())
{
}

X11Capture::~X11Capture() = default;

Result<std::unique_ptr<X11Capture>, PlatformError> X11Capture::open(const QByteArray &displayName)
{
    using Answer = Result<std::unique_ptr<X11Capture>, PlatformError>;
    std::unique_ptr<X11Capture> capture(new X11Capture());
    Private &p = *capture->d;
    int screenNumber = 0;
    p.connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber);
    if (p.broken())
        return Answer::failure({QStringLiteral("Não foi possível conectar à tela X11.")});

    const xcb_setup_t *setup = xcb_get_setup(p.connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return Answer::failure({QStringLiteral("A tela X11 não tem nenhum monitor.")});
    p.root = screens.data->root;
    p.rootVisual = screens.data->root_visual;
    p.rootDepth = screens.data->root_depth;
    p.lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;

    // Depth 24 must be stored in 32 bits a pixel for the copy below.
    bool depth24Is32Bits = false;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats)) {
        if (formats.data->depth == 24 && formats.data->bits_per_pixel == 32)
            depth24Is32Bits = true;
    }

    xcb_prefetch_extension_data(p.connection, &xcb_composite_id);
    xcb_prefetch_extension_data(p.connection, &xcb_render_id);
    xcb_prefetch_extension_data(p.connection, &xcb_xfixes_id);
    xcb_prefetch_extension_data(p.connection, &xcb_shm_id);
    xcb_prefetch_extension_data(p.connection, &xcb_shape_id);
    const auto present = [&](xcb_extension_t *extension) {
        const xcb_query_extension_reply_t *reply = xcb_get_extension_data(p.connection, extension);
        return reply && reply->present;
    };
    if (!present(&xcb_composite_id) || !present(&xcb_render_id) || !present(&xcb_xfixes_id) || !depth24Is32Bits)
        return Answer::failure(
            {QStringLiteral("O servidor X não oferece o que a captura precisa (Composite, RENDER e XFixes).")});

    // Each extension wants its version negotiated before first use.
    auto composite = xcbReply(
        xcb_composite_query_version_reply(p.connection, xcb_composite_query_version(p.connection, 0, 4), nullptr));
    auto render = xcbReply(
        xcb_render_query_version_reply(p.connection, xcb_render_query_version(p.connection, 0, 11), nullptr));
    auto xfixes
        = xcbReply(xcb_xfixes_query_version_reply(p.connection, xcb_xfixes_query_version(p.connection, 5, 0), nullptr));
    if (!composite || (composite->major_version == 0 && composite->minor_version < 2) || !render || !xfixes
        || xfixes->major_version < 2 || !p.loadFormats())
        return Answer::failure(
            {QStringLiteral("O servidor X não oferece o que a captura precisa (Composite, RENDER e XFixes).")});

    p.hasShape = present(&xcb_shape_id);
    if (present(&xcb_shm_id)) {
        auto shm = xcbReply(xcb_shm_query_version_reply(p.connection, xcb_shm_query_version(p.connection), nullptr));
        p.shmPossible = shm != nullptr;
    }

    auto redirected = xcbReply(xcb_request_check(p.connection,
        xcb_composite_redirect_subwindows_checked(p.connection, p.root, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
    if (redirected)
        return Answer::failure({QStringLiteral("O servidor X recusou o redirecionamento das janelas.")});

    const auto intern = [&](const char *name) -> xcb_atom_t {
        auto atom = xcbReply(xcb_intern_atom_reply(
            p.connection, xcb_intern_atom(p.connection, 0, uint16_t(std::strlen(name)), name), nullptr));
        return atom ? atom->atom : 0;
    };
    p.rootPixmapAtom = intern("_XROOTPMAP_ID");
    p.wmStateAtom = intern("WM_STATE");
    if (p.broken())
        return Answer::failure(connectionLost());
    return Answer(std::move(capture));
}

Result<QImage, PlatformError> X11Capture::grab(const GrabRequest &request)
{
    std::lock_guard lock(d->mutex);
    return d->grab(request, false);
}

Result<QImage, PlatformError> X11Capture::grabBorrowed(const GrabRequest &request)
{
    std::lock_guard lock(d->mutex);
    return d->grab(request, true);
}

bool X11Capture::usedSharedMemory() const
{
    std::lock_guard lock(d->mutex);
    return d->usedSharedMemory;
}

Result<QImage, PlatformError> X11Capture::Private::grab(const GrabRequest &request, bool borrowed)
{
    using Answer = Result<QImage, PlatformError>;
    const QRect area = request.pixels;
    if (area.isEmpty())
        return Answer::failure({QStringLiteral("A área a capturar está vazia.")});
    if (area.width() > 32767 || area.height() > 32767)
        return Answer::failure({QStringLiteral("A área a capturar é grande demais.")});
    if (broken())
        return Answer::failure(connectionLost());

    std::optional<Scene> scene = listWindows(area, topLevelsOf(request.excludedWindows));
    if (!scene)
        return Answer::failure(connectionLost());
    namePixmaps(*scene);
    if (broken())
        return Answer::failure(connectionLost());
    QImage image;
    if (const Candidate *alone = onlyVisibleWindow(*scene, area)) {
        // Nothing to compose: the picture is read straight from the window's own pixmap.
        image = read(alone->pixmap, area.topLeft() - QPoint(alone->x, alone->y), area.size(), borrowed);
        for (const Candidate &candidate : scene->candidates)
            if (candidate.pixmap)
                xcb_free_pixmap(connection, candidate.pixmap);
    } else {
        compose(*scene, area);
        image = read(canvas.pixmap, QPoint(), area.size(), borrowed);
    }
    // A recording keeps its canvas; a screenshot does not hold the server's memory.
    if (!borrowed && canvas.pixmap) {
        xcb_render_free_picture(connection, canvas.picture);
        xcb_free_pixmap(connection, canvas.pixmap);
        canvas = {};
    }

    if (!image.isNull() && request.showsCursor)
        drawCursor(image, area);
    xcb_flush(connection);
    dropQueuedErrors();
    if (broken())
        return Answer::failure(connectionLost());
    if (image.isNull())
        return Answer::failure({QStringLiteral("Não foi possível ler a imagem da tela.")});
    return Answer(std::move(image));
}

std::optional<X11Capture::Private::Scene> X11Capture::Private::listWindows(
    const QRect &area, const std::unordered_set<xcb_window_t> &skipped)
{
    // The stacking order, bottom to top, and what each window is.
    auto tree = xcbReply(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree)
        return std::nullopt;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int childCount = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_window_attributes_cookie_t> attributeCookies(childCount);
    std::vector<xcb_get_geometry_cookie_t> geometryCookies(childCount);
    std::vector<xcb_shape_query_extents_cookie_t> shapeCookies(hasShape ? childCount : 0);
    for (int i = 0; i < childCount; ++i) {
        attributeCookies[i] = xcb_get_window_attributes(connection, children[i]);
        geometryCookies[i] = xcb_get_geometry(connection, children[i]);
        if (hasShape)
            shapeCookies[i] = xcb_shape_query_extents(connection, children[i]);
    }
    const bool asksWallpaper = rootPixmapAtom != 0;
    const xcb_get_property_cookie_t wallpaperCookie = asksWallpaper
        ? xcb_get_property(connection, 0, root, rootPixmapAtom, XCB_ATOM_PIXMAP, 0, 1)
        : xcb_get_property_cookie_t {0};

    Scene scene;
    for (int i = 0; i < childCount; ++i) {
        auto attributes = xcbReply(xcb_get_window_attributes_reply(connection, attributeCookies[i], nullptr));
        auto geometry = xcbReply(xcb_get_geometry_reply(connection, geometryCookies[i], nullptr));
        auto shape = hasShape ? xcbReply(xcb_shape_query_extents_reply(connection, shapeCookies[i], nullptr)) : nullptr;
        if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE
            || attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT || skipped.count(children[i]))
            continue;
        Candidate candidate;
        candidate.window = children[i];
        candidate.visual = attributes->visual;
        candidate.x = geometry->x;
        candidate.y = geometry->y;
        candidate.border = geometry->border_width;
        candidate.width = geometry->width + 2 * geometry->border_width;
        candidate.height = geometry->height + 2 * geometry->border_width;
        candidate.shaped = shape && shape->bounding_shaped;
        if (!QRect(candidate.x, candidate.y, candidate.width, candidate.height).intersects(area))
            continue;
        scene.candidates.push_back(candidate);
    }

    if (asksWallpaper) {
        auto property = xcbReply(xcb_get_property_reply(connection, wallpaperCookie, nullptr));
        if (property && property->type == XCB_ATOM_PIXMAP && property->format == 32
            && xcb_get_property_value_length(property.get()) >= 4)
            scene.wallpaper = *static_cast<const xcb_pixmap_t *>(xcb_get_property_value(property.get()));
    }
    // The published wallpaper may be stale (its owner gone): ask for its
    // depth, answered while the pixmaps are named.
    if (scene.wallpaper)
        scene.wallpaperGeometry = xcb_get_geometry(connection, scene.wallpaper);
    return scene;
}

void X11Capture::Private::namePixmaps(Scene &scene)
{
    // Checked and pipelined: a window that has none (unmapped meanwhile, or a
    // compositor's unredirected overlay) answers an error and is left out.
    for (Candidate &candidate : scene.candidates) {
        candidate.pixmap = xcb_generate_id(connection);
        candidate.named = xcb_composite_name_window_pixmap_checked(connection, candidate.window, candidate.pixmap);
    }
    if (scene.wallpaper) {
        auto geometry = xcbReply(xcb_get_geometry_reply(connection, scene.wallpaperGeometry, nullptr));
        scene.wallpaperDepth = geometry ? geometry->depth : 0;
    }
    for (Candidate &candidate : scene.candidates) {
        if (auto error = xcbReply(xcb_request_check(connection, candidate.named)))
            candidate.pixmap = 0;
    }
}

std::optional<size_t> X11Capture::Private::coveringWindow(const Scene &scene, const QRect &area) const
{
    for (size_t i = scene.candidates.size(); i-- > 0;) {
        const Candidate &candidate = scene.candidates[i];
        const auto format = visualFormats.find(candidate.visual);
        if (!candidate.pixmap || candidate.shaped || format == visualFormats.end())
            continue;
        const auto alpha = formatHasAlpha.find(format->second);
        const bool opaque = alpha != formatHasAlpha.end() && !alpha->second;
        if (opaque && QRect(candidate.x, candidate.y, candidate.width, candidate.height).contains(area))
            return i;
    }
    return std::nullopt;
}

const X11Capture::Private::Canvas &X11Capture::Private::compose(const Scene &scene, const QRect &area)
{
    // What lies under an opaque window over the whole area is never seen:
    // painting it would cost the server a pass over every pixel each.
    const std::optional<size_t> cover = coveringWindow(scene, area);
    // Kept from grab to grab while recording: the server clears every new
    // pixmap, another pass over every pixel.
    if (canvas.pixmap && canvasSize != area.size()) {
        xcb_render_free_picture(connection, canvas.picture);
        xcb_free_pixmap(connection, canvas.pixmap);
        canvas = {};
    }
    if (!canvas.pixmap) {
        canvas.pixmap = xcb_generate_id(connection);
        xcb_create_pixmap(connection, 24, canvas.pixmap, root, uint16_t(area.width()), uint16_t(area.height()));
        canvas.picture = xcb_generate_id(connection);
        xcb_render_create_picture(connection, canvas.picture, canvas.pixmap, rgb24Format, 0, nullptr);
        canvasSize = area.size();
    }
    const xcb_rectangle_t whole {0, 0, uint16_t(area.width()), uint16_t(area.height())};
    if (!cover)
        xcb_render_fill_rectangles(
            connection, XCB_RENDER_PICT_OP_SRC, canvas.picture, xcb_render_color_t {0, 0, 0, 0xffff}, 1, &whole);

    if (!cover && scene.wallpaper && formatForDepth(scene.wallpaperDepth)) {
        const xcb_render_picture_t picture = xcb_generate_id(connection);
        const uint32_t repeat = XCB_RENDER_REPEAT_NORMAL;
        xcb_render_create_picture(
            connection, picture, scene.wallpaper, formatForDepth(scene.wallpaperDepth), XCB_RENDER_CP_REPEAT, &repeat);
        xcb_render_composite(connection, XCB_RENDER_PICT_OP_SRC, picture, XCB_RENDER_PICTURE_NONE, canvas.picture,
            int16_t(area.x()), int16_t(area.y()), 0, 0, 0, 0, uint16_t(area.width()), uint16_t(area.height()));
        xcb_render_free_picture(connection, picture);
    }

    const xcb_xfixes_region_t shape = xcb_generate_id(connection);
    for (size_t i = 0; i < scene.candidates.size(); ++i) {
        const Candidate &candidate = scene.candidates[i];
        if (!candidate.pixmap)
            continue;
        if (cover && i < *cover) {
            xcb_free_pixmap(connection, candidate.pixmap);
            continue;
        }
        auto format = visualFormats.find(candidate.visual);
        if (format != visualFormats.end()) {
            const xcb_render_picture_t picture = xcb_generate_id(connection);
            const uint32_t includeInferiors = XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS;
            xcb_render_create_picture(
                connection, picture, candidate.pixmap, format->second, XCB_RENDER_CP_SUBWINDOW_MODE, &includeInferiors);
            // The bounding shape is relative to the window's inside corner.
            xcb_xfixes_create_region_from_window(connection, shape, candidate.window, XCB_SHAPE_SK_BOUNDING);
            xcb_xfixes_set_picture_clip_region(connection, canvas.picture, shape,
                int16_t(candidate.x + candidate.border - area.x()), int16_t(candidate.y + candidate.border - area.y()));
            const auto alpha = formatHasAlpha.find(format->second);
            const bool translucent = alpha != formatHasAlpha.end() && alpha->second;
            xcb_render_composite(connection, translucent ? XCB_RENDER_PICT_OP_OVER : XCB_RENDER_PICT_OP_SRC, picture,
                XCB_RENDER_PICTURE_NONE, canvas.picture, 0, 0, 0, 0, int16_t(candidate.x - area.x()),
                int16_t(candidate.y - area.y()), uint16_t(candidate.width), uint16_t(candidate.height));
            xcb_xfixes_destroy_region(connection, shape);
            xcb_render_free_picture(connection, picture);
        }
        xcb_free_pixmap(connection, candidate.pixmap);
    }
    xcb_xfixes_set_picture_clip_region(connection, canvas.picture, XCB_NONE, 0, 0);
    return canvas;
}

const Candidate *X11Capture::Private::onlyVisibleWindow(const Scene &scene, const QRect &area) const
{
    const std::optional<size_t> cover = coveringWindow(scene, area);
    if (!cover)
        return nullptr;
    for (size_t i = *cover + 1; i < scene.candidates.size(); ++i)
        if (scene.candidates[i].pixmap)
            return nullptr;
    const Candidate &candidate = scene.candidates[*cover];
    // Its pixels must read back as the canvas's would: depth 24, 32 bits a pixel.
    const auto format = visualFormats.find(candidate.visual);
    return format != visualFormats.end() && format->second == rgb24Format ? &candidate : nullptr;
}

QImage X11Capture::Private::read(xcb_drawable_t source, QPoint origin, QSize size, bool borrowed)
{
    const QRect area(origin, size);
    QImage image;
    const size_t bytes = size_t(area.width()) * size_t(area.height()) * 4;
    usedSharedMemory = false;
    if (ensureSharedMemory(bytes)) {
        auto reply = xcbReply(xcb_shm_get_image_reply(connection,
            xcb_shm_get_image(connection, source, int16_t(area.x()), int16_t(area.y()), uint16_t(area.width()),
                uint16_t(area.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, shmSegment, 0),
            nullptr));
        if (reply) {
            // Rows are exactly width × 4 bytes: Z format, 32 bits a pixel.
            image = borrowed && lsbFirst
                ? QImage(static_cast<uchar *>(shmAddress), area.width(), area.height(), area.width() * 4,
                    QImage::Format_RGB32)
                : toImage(static_cast<const uint8_t *>(shmAddress), area.width(), area.height());
            usedSharedMemory = true;
        }
    }
    if (!usedSharedMemory && !broken()) {
        auto reply = xcbReply(xcb_get_image_reply(connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, source, int16_t(area.x()), int16_t(area.y()),
                uint16_t(area.width()), uint16_t(area.height()), ~0u),
            nullptr));
        if (reply && size_t(xcb_get_image_data_length(reply.get())) >= bytes)
            image = toImage(xcb_get_image_data(reply.get()), area.width(), area.height());
    }
    return image;
}
