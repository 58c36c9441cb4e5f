#pragma once

#include "platform/AudioSource.h"
#include "platform/ClipboardProbe.h"
#include "platform/FrameSource.h"
#include "platform/HotKeySource.h"
#include "platform/MicrophoneAccess.h"
#include "platform/ScreenSource.h"

#include <QString>
#include <memory>

class Preferences;

// The platform's backends, chosen once at start-up and handed to the logic
// as interfaces. A new backend is a folder beside x11/ and audio/, a branch
// in create() and a line in the velunta_backends library.
struct PlatformServices {
    std::unique_ptr<ScreenSource> screens;
    std::unique_ptr<HotKeySource> hotKeys;
    // Pictures and sound for recordings.
    std::unique_ptr<FrameSource> frames;
    std::unique_ptr<AudioSource> audio;
    std::unique_ptr<ClipboardProbe> clipboard;
    // "x11" when both services are X11 ones, "wayland" in a Wayland session
    // (whose portal may still refuse: see ScreenSource::whenAccessKnown),
    // else "null", for diagnostics.
    QString backend;

    // Wayland in a Wayland session: screens from the Screenshot portal, hot
    // keys from the GlobalShortcuts portal (the portal is asked once, from
    // here, in the background). X11 when Qt runs on xcb: screens when the X server has what capture
    // needs (Composite, RENDER, XFixes), hot keys, recorded pictures and the
    // clipboard probe always; each service that cannot be X11 is the null
    // one. Sound comes from PulseAudio (or PipeWire's Pulse server) on every
    // session; a missing server shows when a recording opens it. Call once,
    // after the QGuiApplication exists, on the GUI thread. The X11 screen
    // source starts redirecting the desktop's windows off-screen at once and
    // keeps doing so for its whole life. In a Wayland session recorded
    // pictures come from the ScreenCast portal and PipeWire instead, and
    // PREFERENCES (when given) keeps the portal's restore token. Defined by
    // the velunta_backends library.
    static PlatformServices create(Preferences *preferences = nullptr);

    // The microphone's status and inputs, kept current from PulseAudio (or
    // PipeWire's Pulse server) on every session. Apart from create(): only
    // the tray run asks, and it holds a connection to the sound server for
    // as long as it lives. GUI thread.
    static std::unique_ptr<MicrophoneAccess> createMicrophone();

    // Whether the window system named by the environment answers ($DISPLAY:
    // an X server, also XWayland). For main() to choose Qt's platform with,
    // before any QGuiApplication exists.
    static bool displayReachable();
};
