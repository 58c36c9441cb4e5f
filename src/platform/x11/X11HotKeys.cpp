#include "platform/x11/X11HotKeys.h"

#include "platform/x11/XcbPointers.h"

#include <QGuiApplication>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {

constexpr xcb_keysym_t numLockSym = 0xff7f;
constexpr xcb_keysym_t altLSym = 0xffe9;
constexpr xcb_keysym_t altRSym = 0xffea;
constexpr xcb_keysym_t superLSym = 0xffeb;
constexpr std::uint16_t relevantModifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2
    | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

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
    // Which ModN carries Num Lock, Alt and Super on this keyboard map.
    KeySymbols symbols(xcb_key_symbols_alloc(connection));
    auto mapping = xcbReply(xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
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
        ungrab(grab, grab.keyCodes.size());
    xcb_flush(m_connection);
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

void X11HotKeys::ungrab(const Grab &grab, std::size_t keyCodes)
{
    for (std::size_t k = 0; k < keyCodes; ++k) {
        for (std::size_t variant = 0; variant < 4; ++variant)
            xcb_ungrab_key(m_connection, grab.keyCodes[k], m_root, grab.modifiers | lockVariants(variant));
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
        ungrab(grab, grab.keyCodes.size());
        xcb_flush(m_connection);
    }
    return all && !xcb_connection_has_error(m_connection);
}

QList<int> X11HotKeys::registerShortcuts(const QList<QKeyCombination> &combinations)
{
    QList<int> unavailable;
    KeySymbols symbols(xcb_key_symbols_alloc(m_connection));
    for (const QKeyCombination &combination : combinations) {
        Grab grab;
        grab.index = m_count++;
        const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
        if (modifiers.testFlag(Qt::ShiftModifier))
            grab.modifiers |= XCB_MOD_MASK_SHIFT;
        if (modifiers.testFlag(Qt::ControlModifier))
            grab.modifiers |= XCB_MOD_MASK_CONTROL;
        if (modifiers.testFlag(Qt::AltModifier))
            grab.modifiers |= m_alt;
        if (modifiers.testFlag(Qt::MetaModifier))
            grab.modifiers |= m_super;
        const xcb_keysym_t symbol = keySymbol(combination.key());
        if (symbols && symbol) {
            if (xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols.get(), symbol)) {
                for (xcb_keycode_t *code = codes; *code != XCB_NO_SYMBOL; ++code)
                    grab.keyCodes.push_back(*code);
                std::free(codes);
            }
        }
        if (!grab.keyCodes.empty() && grabAll(grab))
            m_grabs.push_back(std::move(grab));
        else
            unavailable.append(grab.index);
    }
    return unavailable;
}

bool X11HotKeys::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const std::uint8_t type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
    if (key->event != m_root)
        return false;
    const std::uint16_t state = key->state & relevantModifiers & ~m_numLock;
    for (Grab &grab : m_grabs) {
        bool matches = false;
        for (xcb_keycode_t code : grab.keyCodes)
            matches = matches || code == key->detail;
        if (!matches)
            continue;
        if (type == XCB_KEY_RELEASE) {
            grab.held = false;
            return true;
        }
        if (state != grab.modifiers)
            continue;
        if (!grab.held) {
            grab.held = true;
            emit pressed(grab.index);
        }
        return true;
    }
    return false;
}
