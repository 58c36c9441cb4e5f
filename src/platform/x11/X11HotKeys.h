#pragma once

#include "platform/HotKeySource.h"

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <vector>

struct xcb_connection_t;

// Global hot keys on X11: passive key grabs on the root window.
//
// Traps this class exists to get right:
//
// - A grab matches the modifier state exactly. With Caps Lock or Num Lock on,
//   Alt+Shift+1 arrives as Alt+Shift+Lock+1 or Alt+Shift+Mod2+1 and a single
//   grab would miss it. So every combination is grabbed four times: alone,
//   with Lock, with the Num Lock modifier, and with both. Which ModN is Num
//   Lock depends on the keyboard map (usually Mod2), so it is read from the
//   modifier mapping; Alt is looked up the same way (usually Mod1).
// - Grabs are first come, first served: when another client already holds a
//   combination, GrabKey fails with BadAccess, and only a checked request shows
//   it. Such a combination is reported as unavailable, the variants already
//   taken are released, and nobody is alerted: another program simply owns
//   the keys.
// - A grab is on a key code, not a symbol: the digit keys are found through
//   the keyboard map. With Shift held the symbol of the "1" key is "!", which
//   is why matching is by key code and modifiers.
// - Holding the keys makes the server repeat the press; a combination fires
//   once per press, until its key is released.
//
// The grabs are made on Qt's own connection, so the presses arrive among
// Qt's events; a native event filter takes them on the GUI thread before Qt
// looks for a window (there is none for the root) and drops them.
class X11HotKeys : public HotKeySource, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // Uses the xcb connection of the running QGuiApplication; nullptr when Qt
    // is not on xcb. Must not outlive the application object (whose
    // connection it uses); the grabs end with the process or with it.
    static std::unique_ptr<X11HotKeys> create();
    ~X11HotKeys() override;

    QList<int> registerShortcuts(const QList<QKeyCombination> &combinations) override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    X11HotKeys(xcb_connection_t *connection, std::uint32_t root);

    struct Grab {
        int index = 0;
        std::vector<std::uint8_t> keyCodes;
        std::uint16_t modifiers = 0;
        bool held = false;
    };
    bool grabAll(Grab &grab);
    void ungrab(const Grab &grab, std::size_t keyCodes);
    std::uint16_t lockVariants(std::size_t which) const;

    xcb_connection_t *m_connection;
    std::uint32_t m_root;
    std::uint16_t m_numLock = 0;
    std::uint16_t m_alt = 0;
    std::uint16_t m_super = 0;
    std::vector<Grab> m_grabs;
    int m_count = 0;
};
