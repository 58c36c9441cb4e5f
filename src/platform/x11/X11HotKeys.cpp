#include "platform/x11/X11HotKeys.h"

#include "platform/x11/XcbPointers.h"

#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {

constexpr xcb_keysym_t numLockSym = 0xff7f;
constexpr xcb_keysym_t altLSym = 0xffe9;
constexpr xcb_keysym_t altRSym = 0xffea;
constexpr xcb_keysym_t superLSym = 0xffeb;
constexpr std::uint16_t relevantModifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2
    | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;
// XKB's notices (the second byte of its events) that change key codes or
// modifiers: a whole new keymap, and a change to part of it.
constexpr std::uint8_t xkbNewKeyboardNotify = 0;
constexpr std::uint8_t xkbMapNotify = 1;
// The server stamps an auto-repeat's release and press with two reads of its
// clock; allow for a millisecond passing between them. No person releases
// and presses a key again that fast.
constexpr std::uint32_t repeatPairingMs = 1;

struct KeySymbolsFree {
    void operator()(xcb_key_symbols_t *symbols) const { xcb_key_symbols_free(symbols); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsFree>;

// The keysym of a Qt key, for the keys a shortcut can sensibly use.
xcb_keysym_t keySymbol(Qt::Key key)
{
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return xcb_keysym_t('0' + (key - Qt::Key_0));
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return xcb_keysym_t('a' + (key - Qt::Key_A));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return xcb_keysym_t(0xffbe + (key - Qt::Key_F1));
    return 0;
}

bool hasKeyCode(const std::vector<std::uint8_t> &codes, std::uint8_t code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

} // namespace

std::unique_ptr<X11HotKeys> X11HotKeys::create()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection || xcb_connection_has_error(connection))
        return nullptr;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    return std::unique_ptr<X11HotKeys>(new X11HotKeys(connection, root));
}

X11HotKeys::X11HotKeys(xcb_connection_t *connection, std::uint32_t root)
    : m_connection(connection)
    , m_root(root)
{
    static const char xkbName[] = "XKEYBOARD";
    auto xkb = xcbReply(
        xcb_query_extension_reply(connection, xcb_query_extension(connection, std::strlen(xkbName), xkbName), nullptr));
    if (xkb && xkb->present)
        m_xkbEvent = xkb->first_event;
    readModifiers();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeys::~X11HotKeys()
{
    // Qt's connection ends with the application object.
    if (!QCoreApplication::instance())
        return;
    QCoreApplication::instance()->removeNativeEventFilter(this);
    if (xcb_connection_has_error(m_connection))
        return;
    for (const Grab &grab : m_grabs)
        ungrab(grab);
    xcb_flush(m_connection);
}

void X11HotKeys::readModifiers()
{
    // Which ModN carries Num Lock, Alt and Super on this keyboard map.
    m_numLock = m_alt = m_super = 0;
    KeySymbols symbols(xcb_key_symbols_alloc(m_connection));
    auto mapping
        = xcbReply(xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (symbols && mapping) {
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(mapping.get());
        const int perModifier = mapping->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t code = codes[modifier * perModifier + i];
                if (code == 0)
                    continue;
                for (int column = 0; column < 4; ++column) {
                    const xcb_keysym_t symbol = xcb_key_symbols_get_keysym(symbols.get(), code, column);
                    const auto mask = std::uint16_t(1u << modifier);
                    if (symbol == numLockSym)
                        m_numLock = mask;
                    else if ((symbol == altLSym || symbol == altRSym) && !m_alt)
                        m_alt = mask;
                    else if (symbol == superLSym && !m_super)
                        m_super = mask;
                }
            }
        }
    }
    if (!m_alt)
        m_alt = XCB_MOD_MASK_1;
    if (!m_super)
        m_super = XCB_MOD_MASK_4;
}

std::uint16_t X11HotKeys::lockVariants(std::size_t which) const
{
    switch (which) {
    case 0:
        return 0;
    case 1:
        return XCB_MOD_MASK_LOCK;
    case 2:
        return m_numLock;
    default:
        return XCB_MOD_MASK_LOCK | m_numLock;
    }
}

void X11HotKeys::resolve(Grab &grab) const
{
    grab.modifiers = 0;
    grab.keyCodes.clear();
    const Qt::KeyboardModifiers modifiers = grab.combination.keyboardModifiers();
    if (modifiers.testFlag(Qt::ShiftModifier))
        grab.modifiers |= XCB_MOD_MASK_SHIFT;
    if (modifiers.testFlag(Qt::ControlModifier))
        grab.modifiers |= XCB_MOD_MASK_CONTROL;
    if (modifiers.testFlag(Qt::AltModifier))
        grab.modifiers |= m_alt;
    if (modifiers.testFlag(Qt::MetaModifier))
        grab.modifiers |= m_super;
    const xcb_keysym_t symbol = keySymbol(grab.combination.key());
    KeySymbols symbols(xcb_key_symbols_alloc(m_connection));
    if (!symbols || !symbol)
        return;
    if (xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols.get(), symbol)) {
        for (xcb_keycode_t *code = codes; *code != XCB_NO_SYMBOL; ++code) {
            if (!hasKeyCode(grab.keyCodes, *code))
                grab.keyCodes.push_back(*code);
        }
        std::free(codes);
    }
}

void X11HotKeys::ungrab(const Grab &grab)
{
    for (std::uint8_t code : grab.keyCodes) {
        for (std::size_t variant = 0; variant < 4; ++variant)
            xcb_ungrab_key(m_connection, code, m_root, grab.modifiers | lockVariants(variant));
    }
}

bool X11HotKeys::grabAll(Grab &grab)
{
    // All variants are sent first and checked afterwards: one round trip.
    std::vector<xcb_void_cookie_t> cookies;
    for (xcb_keycode_t code : grab.keyCodes) {
        for (std::size_t variant = 0; variant < 4; ++variant) {
            if (variant >= 2 && !m_numLock)
                continue; // no Num Lock modifier: the first two cover it all
            // owner_events off: even while one of Velunta's own windows has
            // the focus the press is reported on the root, where the filter
            // looks for it, instead of going to that window as a plain key.
            cookies.push_back(xcb_grab_key_checked(m_connection, 0, m_root, grab.modifiers | lockVariants(variant),
                code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        }
    }
    bool all = true;
    for (const xcb_void_cookie_t &cookie : cookies) {
        if (auto error = xcbReply(xcb_request_check(m_connection, cookie)))
            all = false; // BadAccess: another client holds it
    }
    if (!all) {
        // Release what this client did get (ungrabbing a grab that is not ours
        // does nothing).
        ungrab(grab);
        xcb_flush(m_connection);
    }
    return all && !xcb_connection_has_error(m_connection);
}

QList<int> X11HotKeys::registerShortcuts(const QList<QKeyCombination> &combinations)
{
    QList<int> unavailable;
    for (const QKeyCombination &combination : combinations) {
        Grab grab;
        grab.index = m_count++;
        grab.combination = combination;
        resolve(grab);
        if (!grab.keyCodes.empty() && grabAll(grab))
            m_grabs.push_back(std::move(grab));
        else
            unavailable.append(grab.index);
    }
    return unavailable;
}

void X11HotKeys::scheduleRemap()
{
    // One change of layout brings several notices: act once, after them.
    if (m_remapPending)
        return;
    m_remapPending = true;
    QTimer::singleShot(0, this, &X11HotKeys::remap);
}

void X11HotKeys::remap()
{
    m_remapPending = false;
    if (xcb_connection_has_error(m_connection))
        return;
    // Released with the modifiers they were grabbed with, before those are
    // read again.
    for (const Grab &grab : m_grabs)
        ungrab(grab);
    readModifiers();
    for (Grab &grab : m_grabs) {
        resolve(grab);
        grab.held = false;
        grab.released = false;
        if (!grab.keyCodes.empty() && !grabAll(grab))
            grab.keyCodes.clear(); // taken by someone else meanwhile
    }
    xcb_flush(m_connection);
}

bool X11HotKeys::keyPressed(const void *event)
{
    const auto *key = static_cast<const xcb_key_press_event_t *>(event);
    // Presses elsewhere belong to a window of ours (a keyboard grab of the
    // overlay, say), never to a shortcut.
    if (key->event != m_root)
        return false;
    const std::uint16_t state = key->state & relevantModifiers & ~m_numLock;
    for (Grab &grab : m_grabs) {
        if (!hasKeyCode(grab.keyCodes, key->detail) || state != grab.modifiers)
            continue;
        const bool repeat
            = grab.held || (grab.released && std::uint32_t(key->time - grab.releaseTime) <= repeatPairingMs);
        grab.held = true;
        grab.released = false;
        if (!repeat)
            emit pressed(grab.index);
        return true;
    }
    return false;
}

bool X11HotKeys::keyReleased(const void *event)
{
    const auto *key = static_cast<const xcb_key_release_event_t *>(event);
    bool ours = false;
    for (Grab &grab : m_grabs) {
        if (!hasKeyCode(grab.keyCodes, key->detail))
            continue;
        grab.held = false;
        grab.released = true;
        grab.releaseTime = key->time;
        ours = true;
    }
    // A release that went to one of our windows is still that window's.
    return ours && key->event == m_root;
}

bool X11HotKeys::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const std::uint8_t type = event->response_type & 0x7f;
    switch (type) {
    case XCB_KEY_PRESS:
        return keyPressed(event);
    case XCB_KEY_RELEASE:
        return keyReleased(event);
    case XCB_FOCUS_IN:
    case XCB_FOCUS_OUT:
        // A keyboard grab starting or ending, or the focus moving: the
        // release may go where we never see it.
        for (Grab &grab : m_grabs)
            grab.held = false;
        return false;
    case XCB_MAPPING_NOTIFY: {
        const auto *mapping = reinterpret_cast<const xcb_mapping_notify_event_t *>(event);
        if (mapping->request == XCB_MAPPING_KEYBOARD || mapping->request == XCB_MAPPING_MODIFIER)
            scheduleRemap();
        return false; // Qt reads the new map too
    }
    default:
        if (m_xkbEvent && type == m_xkbEvent) {
            const std::uint8_t xkbType = reinterpret_cast<const std::uint8_t *>(event)[1];
            if (xkbType == xkbNewKeyboardNotify || xkbType == xkbMapNotify)
                scheduleRemap();
        }
        return false;
    }
}
