#include "platform/x11/X11ScreenSource.h"

#include "platform/x11/XcbPointers.h"

#include <QCoroFuture>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QtConcurrent/QtConcurrentRun>
#include <xcb/randr.h>
#include <xcb/xcb.h>

namespace {

struct Output {
    DisplayId id = 0;
    QString name;
    QRect pixels;
};

// The outputs that show something (they have a CRTC), with their rectangles.
std::vector<Output> activeOutputs(xcb_connection_t *connection)
{
    std::vector<Output> outputs;
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (!randr || !randr->present)
        return outputs;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    auto resources = xcbReply(xcb_randr_get_screen_resources_current_reply(
        connection, xcb_randr_get_screen_resources_current(connection, root), nullptr));
    if (!resources)
        return outputs;
    const xcb_randr_output_t *ids = xcb_randr_get_screen_resources_current_outputs(resources.get());
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
    std::vector<xcb_randr_get_output_info_cookie_t> infoCookies;
    for (int i = 0; i < count; ++i)
        infoCookies.push_back(xcb_randr_get_output_info(connection, ids[i], resources->config_timestamp));
    std::vector<std::pair<Output, xcb_randr_get_crtc_info_cookie_t>> pending;
    for (int i = 0; i < count; ++i) {
        auto info = xcbReply(xcb_randr_get_output_info_reply(connection, infoCookies[i], nullptr));
        if (!info || info->crtc == XCB_NONE)
            continue;
        Output output;
        output.id = ids[i];
        output.name = QString::fromUtf8(reinterpret_cast<const char *>(xcb_randr_get_output_info_name(info.get())),
            xcb_randr_get_output_info_name_length(info.get()));
        pending.emplace_back(output, xcb_randr_get_crtc_info(connection, info->crtc, resources->config_timestamp));
    }
    for (auto &[output, cookie] : pending) {
        auto crtc = xcbReply(xcb_randr_get_crtc_info_reply(connection, cookie, nullptr));
        if (!crtc || crtc->width == 0 || crtc->height == 0)
            continue;
        output.pixels = QRect(crtc->x, crtc->y, crtc->width, crtc->height);
        outputs.push_back(output);
    }
    return outputs;
}

xcb_connection_t *qtConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

} // namespace

X11ScreenSource::X11ScreenSource(std::shared_ptr<X11Capture> capture)
    : m_capture(std::move(capture))
{
}

Result<std::unique_ptr<X11ScreenSource>, PlatformError> X11ScreenSource::create()
{
    using Answer = Result<std::unique_ptr<X11ScreenSource>, PlatformError>;
    if (!qtConnection())
        return Answer::failure({QStringLiteral("O Velunta não está usando uma tela X11.")});
    auto capture = X11Capture::open();
    if (!capture)
        return Answer::failure(capture.error());
    return Answer(std::unique_ptr<X11ScreenSource>(new X11ScreenSource(std::move(*capture))));
}

std::vector<DisplayInfo> X11ScreenSource::displays() const
{
    xcb_connection_t *connection = qtConnection();
    const std::vector<Output> outputs
        = connection && !xcb_connection_has_error(connection) ? activeOutputs(connection) : std::vector<Output> {};
    std::vector<DisplayInfo> displays;
    const QScreen *primary = QGuiApplication::primaryScreen();
    for (const QScreen *screen : QGuiApplication::screens()) {
        DisplayInfo display;
        display.name = screen->name();
        display.frame = screen->geometry();
        display.scale = screen->devicePixelRatio();
        display.primary = screen == primary;
        display.pixelGeometry
            = QRect(QPoint(qRound(display.frame.x() * display.scale), qRound(display.frame.y() * display.scale)),
                screen->geometry().size() * display.scale);
        for (const Output &output : outputs) {
            if (output.name == display.name) {
                display.id = output.id;
                display.pixelGeometry = output.pixels;
                break;
            }
        }
        displays.push_back(display);
    }
    return displays;
}

QPoint X11ScreenSource::pointerPosition() const
{
    return QCursor::pos();
}

bool X11ScreenSource::screenCaptureAllowed() const
{
    return !isWaylandSession();
}

QCoro::Task<Result<QImage, PlatformError>> X11ScreenSource::grab(GrabRequest request)
{
    std::shared_ptr<X11Capture> capture = m_capture;
    // The future is a named local: g++ 12 destroys temporaries inside a
    // co_await expression twice.
    auto grabbing = QtConcurrent::run([capture, request = std::move(request)] { return capture->grab(request); });
    co_return co_await grabbing;
}
