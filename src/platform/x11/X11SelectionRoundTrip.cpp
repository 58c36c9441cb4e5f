#include "platform/x11/X11SelectionRoundTrip.h"

#include <QDeadlineTimer>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <poll.h>
#include <xcb/xcb.h>

namespace X11SelectionRoundTrip {

namespace {

struct Disconnect {
    void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

struct FreeReply {
    void operator()(void *reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

using Failure = Result<QList<QUrl>, QString>;

Connection connect()
{
    Connection connection(xcb_connect(nullptr, nullptr));
    if (connection && xcb_connection_has_error(connection.get()))
        connection.reset();
    return connection;
}

xcb_atom_t atom(xcb_connection_t *connection, const QByteArray &name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData());
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// An unmapped window: selections and properties need one, nobody sees it.
xcb_window_t makeWindow(xcb_connection_t *connection)
{
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    return window;
}

struct Atoms {
    xcb_atom_t selection = XCB_ATOM_NONE;
    xcb_atom_t targets = XCB_ATOM_NONE;
    xcb_atom_t uriList = XCB_ATOM_NONE;
    xcb_atom_t incr = XCB_ATOM_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;

    bool valid() const
    {
        return selection != XCB_ATOM_NONE && targets != XCB_ATOM_NONE && uriList != XCB_ATOM_NONE
            && incr != XCB_ATOM_NONE && property != XCB_ATOM_NONE;
    }
};

// The owner's side of one request: the data goes into the requestor's
// property, then a SelectionNotify tells it where (or None: refused).
void answer(xcb_connection_t *connection, const xcb_selection_request_event_t &request, const Atoms &atoms,
    const QByteArray &data)
{
    // Clients older than ICCCM 2 pass no property: use the target.
    xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
    if (request.selection != atoms.selection) {
        property = XCB_ATOM_NONE;
    } else if (request.target == atoms.targets) {
        const xcb_atom_t offered[] = {atoms.targets, atoms.uriList};
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
            uint32_t(std::size(offered)), offered);
    } else if (request.target == atoms.uriList) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor, property, atoms.uriList, 8,
            uint32_t(data.size()), data.constData());
    } else {
        property = XCB_ATOM_NONE;
    }

    xcb_selection_notify_event_t notify {};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = property;
    // xcb_send_event always copies 32 bytes, more than this event's struct.
    char event[32] = {};
    std::memcpy(event, &notify, sizeof notify);
    xcb_send_event(connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, event);
    xcb_flush(connection);
}

// Waits until either connection has something to read, or the deadline.
bool waitForEvents(xcb_connection_t *a, xcb_connection_t *b, const QDeadlineTimer &deadline)
{
    pollfd fds[2] = {{xcb_get_file_descriptor(a), POLLIN, 0}, {xcb_get_file_descriptor(b), POLLIN, 0}};
    const qint64 remaining = deadline.remainingTime();
    if (remaining == 0)
        return false;
    return ::poll(fds, 2, int(remaining)) > 0;
}

} // namespace

QByteArray uriListText(const QList<QUrl> &urls)
{
    QByteArray text;
    for (const QUrl &url : urls)
        text += url.toEncoded() + "\r\n";
    return text;
}

QList<QUrl> parseUriList(const QByteArray &text)
{
    QList<QUrl> urls;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        urls.append(QUrl::fromEncoded(line, QUrl::StrictMode));
    }
    return urls;
}

Result<QList<QUrl>, QString> run(
    const QByteArray &selectionName, const QList<QUrl> &urls, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    const Connection owner = connect();
    const Connection requester = connect();
    if (!owner || !requester)
        return Failure::failure(QStringLiteral("não foi possível conectar ao servidor X"));
    xcb_connection_t *own = owner.get();
    xcb_connection_t *ask = requester.get();

    Atoms atoms;
    atoms.selection = atom(own, selectionName);
    atoms.targets = atom(own, "TARGETS");
    atoms.uriList = atom(own, "text/uri-list");
    atoms.incr = atom(own, "INCR");
    atoms.property = atom(ask, selectionName + ".leitura");
    if (!atoms.valid())
        return Failure::failure(QStringLiteral("o servidor X não criou os átomos da seleção"));

    const QByteArray data = uriListText(urls);
    const xcb_window_t ownerWindow = makeWindow(own);
    xcb_set_selection_owner(own, ownerWindow, atoms.selection, XCB_CURRENT_TIME);
    const xcb_get_selection_owner_cookie_t ownerCookie = xcb_get_selection_owner(own, atoms.selection);
    Reply<xcb_get_selection_owner_reply_t> ownerReply(xcb_get_selection_owner_reply(own, ownerCookie, nullptr));
    if (!ownerReply || ownerReply->owner != ownerWindow)
        return Failure::failure(QStringLiteral("não foi possível ficar com a seleção"));

    const xcb_window_t requesterWindow = makeWindow(ask);
    xcb_convert_selection(ask, requesterWindow, atoms.selection, atoms.uriList, atoms.property, XCB_CURRENT_TIME);
    xcb_flush(ask);

    // Released on every way out, so no selection outlives the check (the
    // server would also drop it with the connection).
    const auto release = [own] {
        xcb_set_selection_owner(own, XCB_WINDOW_NONE, XCB_NONE, XCB_CURRENT_TIME);
        xcb_flush(own);
    };

    std::optional<xcb_atom_t> notified;
    while (!notified) {
        while (xcb_generic_event_t *raw = xcb_poll_for_event(own)) {
            Reply<xcb_generic_event_t> event(raw);
            if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST)
                answer(own, *reinterpret_cast<xcb_selection_request_event_t *>(event.get()), atoms, data);
        }
        while (xcb_generic_event_t *raw = xcb_poll_for_event(ask)) {
            Reply<xcb_generic_event_t> event(raw);
            if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY) {
                const auto *notify = reinterpret_cast<xcb_selection_notify_event_t *>(event.get());
                if (notify->requestor == requesterWindow && notify->selection == atoms.selection)
                    notified = notify->property;
            }
        }
        if (notified)
            break;
        if (xcb_connection_has_error(own) || xcb_connection_has_error(ask)) {
            release();
            return Failure::failure(QStringLiteral("a conexão com o servidor X caiu"));
        }
        if (!waitForEvents(own, ask, deadline)) {
            release();
            return Failure::failure(QStringLiteral("a seleção não respondeu a tempo"));
        }
    }
    release();
    if (*notified == XCB_ATOM_NONE)
        return Failure::failure(QStringLiteral("a seleção recusou o pedido"));

    // Far more than a list of a few URLs needs; a longer answer would come in
    // pieces (INCR), which no owner here sends.
    const uint32_t maximumWords = 1 << 16;
    const xcb_get_property_cookie_t cookie
        = xcb_get_property(ask, 1, requesterWindow, *notified, XCB_GET_PROPERTY_TYPE_ANY, 0, maximumWords);
    Reply<xcb_get_property_reply_t> property(xcb_get_property_reply(ask, cookie, nullptr));
    if (!property || property->type == XCB_ATOM_NONE)
        return Failure::failure(QStringLiteral("a resposta da seleção não chegou"));
    if (property->type == atoms.incr || property->type != atoms.uriList || property->format != 8)
        return Failure::failure(QStringLiteral("a seleção respondeu em outro formato"));
    const QByteArray text(static_cast<const char *>(xcb_get_property_value(property.get())),
        xcb_get_property_value_length(property.get()));
    return parseUriList(text);
}

} // namespace X11SelectionRoundTrip
