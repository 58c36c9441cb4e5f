#pragma once

#include "platform/HotKeySource.h"

#include <QAbstractNativeEventFilter>
#include <QKeyCombination>
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
// - The keyboard map can change while we run (setxkbmap, xmodmap, a layout
//   switch in the desktop's settings): the digits may move to other key codes
//   and Num Lock or Alt to another ModN. The server announces it (core
//   MappingNotify, or XKB's map and new-keyboard notices, which Qt's XKB-aware
//   connection gets instead); the map is read again and everything grabbed
//   anew. A combination that someone else took in between stays silent.
// - Holding a key makes the server repeat it. Qt's connection does not ask
//   XKB for detectable auto-repeat, so every repeat arrives as a release
//   followed by a press with the same time stamp (each release also ends the
//   passive grab, and the press starts it again). Such a press is a repeat,
//   not a new press. A press that comes while the key is still held without
//   any release (detectable auto-repeat) is a repeat too.
// - The release does not always reach the root: once an action opens a
//   window that grabs the keyboard (the selection overlay does, to get Esc),
//   the release goes to that window. So releases and focus changes count
//   wherever Qt's connection sees them, or the key would look held forever
//   and its next press would be taken for a repeat.
//
// The grabs are made on Qt's own connection, so the presses arrive among
// Qt's events (and a keyboard grab of our own windows can take over an active
// passive grab); a native event filter takes them on the GUI thread before Qt
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
        QKeyCombination combination;
        std::vector<std::uint8_t> keyCodes; // empty while not grabbed
        std::uint16_t modifiers = 0;
        // Down since a press that was acted on, with no release seen yet.
        bool held = false;
        // The time of the last release of one of its keys, for pairing it
        // with an auto-repeated press.
        bool released = false;
        std::uint32_t releaseTime = 0;
    };
    void readModifiers();
    void resolve(Grab &grab) const;
    bool grabAll(Grab &grab);
    void ungrab(const Grab &grab);
    std::uint16_t lockVariants(std::size_t which) const;
    bool keyPressed(const void *event);
    bool keyReleased(const void *event);
    void scheduleRemap();
    void remap();

    xcb_connection_t *m_connection;
    std::uint32_t m_root;
    std::uint8_t m_xkbEvent = 0; // XKB's event code; 0 without XKB
    std::uint16_t m_numLock = 0;
    std::uint16_t m_alt = 0;
    std::uint16_t m_super = 0;
    std::vector<Grab> m_grabs;
    int m_count = 0;
    bool m_remapPending = false;
};
