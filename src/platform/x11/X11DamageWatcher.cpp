#include "platform/x11/X11DamageWatcher.h"

#include "platform/x11/PointerSchedule.h"
#include "platform/x11/XcbPointers.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/uio.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace {

// A client draws one update as a burst of requests (a toolkit's repaint, a
// player's frame); a gap this long ends the burst.
constexpr std::chrono::milliseconds settleGap(3);
// Drawing that never pauses is taken as it stands after this long.
constexpr std::chrono::milliseconds settleLimit(16);
// Rounds of subtract-and-sync before a read; a client drawing without pause
// could otherwise hold the reader forever.
constexpr int armRounds = 3;
// A cursor image reaches this far from its hot spot.
constexpr int cursorReach = 64;

// XInput 2's raw motion, spoken directly: two requests and one event are all
// a recording needs, and the extension's xcb binding is not installed
// everywhere. Raw events reach the root window whatever window the pointer
// is over and whoever grabs it (from version 2.1 on).
namespace XInput2 {

xcb_extension_t extension {"XInputExtension", 0};
constexpr uint8_t queryVersionRequest = 47;
constexpr uint8_t selectEventsRequest = 46;
constexpr uint16_t rawMotionEvent = 17;
constexpr uint16_t allDevices = 0;

// Sends one request of this extension (its header, the first four bytes,
// filled in by xcb) and returns its sequence number.
template <typename Request> unsigned send(xcb_connection_t *connection, Request &request, uint8_t opcode, bool isVoid)
{
    // xcb writes into the two entries before the request's.
    iovec parts[3] = {};
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    const xcb_protocol_request_t info {1, &extension, opcode, uint8_t(isVoid ? 1 : 0)};
    return xcb_send_request(connection, XCB_REQUEST_CHECKED, parts + 2, &info);
}

// Asks for raw motion on ROOT; the extension's major opcode, or 0 when the
// server cannot report it.
uint8_t selectRawMotion(xcb_connection_t *connection, xcb_window_t root)
{
    const xcb_query_extension_reply_t *present = xcb_get_extension_data(connection, &extension);
    if (!present || !present->present)
        return 0;
    struct {
        uint32_t header = 0;
        uint16_t major = 2;
        uint16_t minor = 2;
    } query;
    xcb_generic_error_t *error = nullptr;
    auto *version = static_cast<uint8_t *>(
        xcb_wait_for_reply(connection, send(connection, query, queryVersionRequest, false), &error));
    std::free(error);
    if (!version)
        return 0;
    // Reply: type, pad, sequence, length, then the server's major and minor.
    uint16_t major = 0;
    uint16_t minor = 0;
    std::memcpy(&major, version + 8, 2);
    std::memcpy(&minor, version + 10, 2);
    std::free(version);
    if (major < 2 || (major == 2 && minor < 1))
        return 0;
    struct {
        uint32_t header = 0;
        uint32_t window = 0;
        uint16_t maskCount = 1;
        uint16_t pad = 0;
        uint16_t device = allDevices;
        uint16_t maskLength = 1; // in four-byte units
        uint32_t mask = 1u << rawMotionEvent;
    } select;
    select.window = root;
    const xcb_void_cookie_t cookie {send(connection, select, selectEventsRequest, true)};
    if (xcb_generic_error_t *failed = xcb_request_check(connection, cookie)) {
        std::free(failed);
        return 0;
    }
    return present->major_opcode;
}

} // namespace XInput2

} // namespace

struct X11DamageWatcher::Private {
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    DisplayId output = 0;
    QRect area;
    uint8_t damageEvent = 0;
    bool hasRandr = false;
    uint8_t randrEvent = 0;
    int wakeFd = -1;
    std::atomic<bool> interrupted {false};

    std::unordered_map<xcb_window_t, xcb_damage_damage_t> damages;
    std::unordered_set<xcb_damage_damage_t> damaged; // notified, not yet subtracted
    bool changed = false;
    std::chrono::steady_clock::time_point firstChange;
    std::chrono::steady_clock::time_point lastChange;
    bool lost = false;
    PlatformError reason;
    QPoint pointer {-100000, -100000};
    PointerSchedule pointerChecks;
    uint8_t xinputOpcode = 0; // raw motion selected

    ~Private()
    {
        if (wakeFd >= 0)
            ::close(wakeFd);
        if (connection)
            xcb_disconnect(connection);
    }

    bool broken() const { return xcb_connection_has_error(connection) != 0; }

    void watch(xcb_window_t window)
    {
        if (damages.count(window))
            return;
        const xcb_damage_damage_t damage = xcb_generate_id(connection);
        // Unchecked: a window that vanished meanwhile only sends an error.
        xcb_damage_create(connection, damage, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        damages.emplace(window, damage);
    }

    void checkOutput()
    {
        if (!hasRandr || output == 0)
            return;
        auto info = xcbReply(xcb_randr_get_output_info_reply(
            connection, xcb_randr_get_output_info(connection, output, XCB_CURRENT_TIME), nullptr));
        if (!info || info->crtc == XCB_NONE) {
            lost = true;
            reason = {QStringLiteral("A tela gravada foi desligada.")};
        }
    }

    void markChanged()
    {
        const auto now = std::chrono::steady_clock::now();
        if (!changed)
            firstChange = now;
        lastChange = now;
        changed = true;
    }

    // When the change seen so far counts as one finished screen update.
    std::chrono::steady_clock::time_point settledAt() const
    {
        return std::min(lastChange + settleGap, firstChange + settleLimit);
    }

    void handle(xcb_generic_event_t *event)
    {
        const uint8_t type = event->response_type & 0x7f;
        if (type == 0)
            return; // errors of windows that vanished
        if (type == XCB_GE_GENERIC) {
            const auto *generic = reinterpret_cast<xcb_ge_generic_event_t *>(event);
            if (xinputOpcode && generic->extension == xinputOpcode && generic->event_type == XInput2::rawMotionEvent)
                pointerChecks.motionHeard(std::chrono::steady_clock::now());
            return;
        }
        if (type == damageEvent) {
            damaged.insert(reinterpret_cast<xcb_damage_notify_event_t *>(event)->damage);
            markChanged();
            return;
        }
        if (hasRandr
            && (type == randrEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == randrEvent + XCB_RANDR_NOTIFY)) {
            checkOutput();
            markChanged();
            return;
        }
        switch (type) {
        case XCB_CREATE_NOTIFY: {
            auto *created = reinterpret_cast<xcb_create_notify_event_t *>(event);
            if (created->parent == root)
                watch(created->window);
            break;
        }
        case XCB_REPARENT_NOTIFY: {
            auto *reparented = reinterpret_cast<xcb_reparent_notify_event_t *>(event);
            if (reparented->parent == root)
                watch(reparented->window);
            markChanged();
            break;
        }
        case XCB_DESTROY_NOTIFY:
            damages.erase(reinterpret_cast<xcb_destroy_notify_event_t *>(event)->window);
            markChanged();
            break;
        case XCB_MAP_NOTIFY:
        case XCB_UNMAP_NOTIFY:
        case XCB_CONFIGURE_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
        case XCB_GRAVITY_NOTIFY:
            markChanged();
            break;
        default:
            break;
        }
    }

    // Reads what arrived and subtracts the damage it reported, so that the
    // next drawing is reported too. Returns whether anything was subtracted.
    bool drain()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            handle(event);
            std::free(event);
        }
        const bool subtracted = !damaged.empty();
        for (const xcb_damage_damage_t damage : damaged)
            xcb_damage_subtract(connection, damage, XCB_NONE, XCB_NONE);
        damaged.clear();
        if (subtracted)
            xcb_flush(connection);
        if (broken() && !lost) {
            lost = true;
            reason = {QStringLiteral("A conexão com a tela X11 foi perdida.")};
        }
        return subtracted;
    }

    // A round trip: every event the server sent before it has arrived, and
    // every request sent before it (the subtracts) has been carried out.
    void sync() { std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr)); }

    void checkPointer()
    {
        const auto now = std::chrono::steady_clock::now();
        if (!pointerChecks.isDue(now))
            return;
        auto reply = xcbReply(xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
        const QPoint position = reply ? QPoint(reply->root_x, reply->root_y) : pointer;
        pointerChecks.checked(now, position != pointer);
        if (position == pointer)
            return;
        const QRect reach = area.adjusted(-cursorReach, -cursorReach, cursorReach, cursorReach);
        if (reach.contains(position) || reach.contains(pointer))
            markChanged();
        pointer = position;
    }
};

X11DamageWatcher::X11DamageWatcher()
    : d(std::make_unique<Private>())
{
}

X11DamageWatcher::~X11DamageWatcher() = default;

Result<std::unique_ptr<X11DamageWatcher>, PlatformError> X11DamageWatcher::open(
    DisplayId output, QRect area, const QByteArray &displayName)
{
    using R = Result<std::unique_ptr<X11DamageWatcher>, PlatformError>;
    std::unique_ptr<X11DamageWatcher> watcher(new X11DamageWatcher());
    Private &p = *watcher->d;
    p.output = output;
    p.area = area;
    int screenNumber = 0;
    p.connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber);
    if (p.broken())
        return R::failure({QStringLiteral("Não foi possível conectar à tela X11.")});
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(p.connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return R::failure({QStringLiteral("A tela X11 não tem nenhum monitor.")});
    p.root = screens.data->root;

    xcb_prefetch_extension_data(p.connection, &xcb_damage_id);
    xcb_prefetch_extension_data(p.connection, &xcb_randr_id);
    xcb_prefetch_extension_data(p.connection, &XInput2::extension);
    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(p.connection, &xcb_damage_id);
    if (!damage || !damage->present)
        return R::failure({QStringLiteral("O servidor X não oferece a extensão DAMAGE, que a gravação usa.")});
    auto damageVersion
        = xcbReply(xcb_damage_query_version_reply(p.connection, xcb_damage_query_version(p.connection, 1, 1), nullptr));
    if (!damageVersion)
        return R::failure({QStringLiteral("O servidor X não oferece a extensão DAMAGE, que a gravação usa.")});
    p.damageEvent = damage->first_event + XCB_DAMAGE_NOTIFY;

    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(p.connection, &xcb_randr_id);
    if (randr && randr->present) {
        auto version = xcbReply(
            xcb_randr_query_version_reply(p.connection, xcb_randr_query_version(p.connection, 1, 2), nullptr));
        p.hasRandr = version && (version->major_version > 1 || version->minor_version >= 2);
        p.randrEvent = randr->first_event;
    }

    // Hold the server still while the windows are listed, so that none
    // appears between the listing and the event selection.
    xcb_grab_server(p.connection);
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(p.connection, p.root, XCB_CW_EVENT_MASK, &mask);
    if (p.hasRandr)
        xcb_randr_select_input(p.connection, p.root,
            XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE
                | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE);
    p.watch(p.root);
    auto tree = xcbReply(xcb_query_tree_reply(p.connection, xcb_query_tree(p.connection, p.root), nullptr));
    if (tree) {
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
            p.watch(children[i]);
    }
    xcb_ungrab_server(p.connection);
    p.xinputOpcode = XInput2::selectRawMotion(p.connection, p.root);
    p.pointerChecks.setHearsMotion(p.xinputOpcode != 0);
    xcb_flush(p.connection);
    if (!tree || p.broken())
        return R::failure({QStringLiteral("A conexão com a tela X11 foi perdida.")});

    p.checkOutput();
    if (p.lost)
        return R::failure(p.reason);
    p.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (p.wakeFd < 0)
        return R::failure({QStringLiteral("Não foi possível preparar a gravação da tela.")});
    // The first picture is taken at once.
    p.changed = true;
    return watcher;
}

X11DamageWatcher::Event X11DamageWatcher::wait(std::chrono::milliseconds timeout)
{
    Private &p = *d;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        p.drain();
        if (p.lost)
            return Event::displayLost;
        if (p.interrupted.exchange(false)) {
            uint64_t value = 0;
            [[maybe_unused]] const auto ignored = ::read(p.wakeFd, &value, sizeof value);
            return Event::interrupted;
        }
        p.checkPointer();
        const auto now = std::chrono::steady_clock::now();
        // A change is reported once its update has settled, however long the
        // caller meant to wait: settling takes a frame interval at most.
        auto wakeAt = p.pointerChecks.nextCheck();
        if (p.changed) {
            const auto settled = p.settledAt();
            if (now >= settled)
                return Event::changed;
            wakeAt = std::min(wakeAt, settled);
        } else if (now >= deadline) {
            return Event::timedOut;
        } else {
            wakeAt = std::min(wakeAt, deadline);
        }
        const auto untilWake = std::chrono::duration_cast<std::chrono::microseconds>(wakeAt - now).count();
        const int waitMs = int(std::max<int64_t>(1, (untilWake + 999) / 1000));
        pollfd fds[2] = {{xcb_get_file_descriptor(p.connection), POLLIN, 0}, {p.wakeFd, POLLIN, 0}};
        ::poll(fds, 2, waitMs);
    }
}

void X11DamageWatcher::rearm()
{
    Private &p = *d;
    // Damage notices travel on this connection and the picture is read on
    // another, so order them through the server: once a round trip finds no
    // new notice, every damage object is armed and all drawing before it is
    // in the picture read next.
    bool quiet = false;
    for (int round = 0; round < armRounds && !quiet; ++round) {
        p.sync();
        quiet = !p.drain();
    }
    // Drawing that would not pause stays a change, so that it is read again.
    if (quiet)
        p.changed = false;
}

bool X11DamageWatcher::changedSinceRearm()
{
    Private &p = *d;
    p.sync();
    p.drain();
    return p.changed;
}

void X11DamageWatcher::interrupt()
{
    d->interrupted = true;
    const uint64_t one = 1;
    [[maybe_unused]] const auto ignored = ::write(d->wakeFd, &one, sizeof one);
}

PlatformError X11DamageWatcher::lossReason() const
{
    return d->reason;
}
