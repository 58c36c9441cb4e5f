#!/usr/bin/python3
"""Moves and clicks the pointer on the Wayland test desktop, through mutter's
org.gnome.Mutter.RemoteDesktop (a remote-desktop session tied to a screen
cast of one monitor, which pointer positions are relative to).

    pointer.py drag X1 Y1 X2 Y2 [MONITOR]   # left button, in the monitor's pixels
    pointer.py click X Y [MONITOR] [right]
    pointer.py move X Y [MONITOR]
"""
import sys
import time

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

RD, SC = "org.gnome.Mutter.RemoteDesktop", "org.gnome.Mutter.ScreenCast"
BTN_LEFT, BTN_RIGHT = 0x110, 0x111

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(name, path, interface, method, args=None, reply=None):
    result = bus.call_sync(name, path, interface, method, args, reply and GLib.VariantType(reply),
                           Gio.DBusCallFlags.NONE, 10000, None)
    return result.unpack() if result else ()


def main():
    action = sys.argv[1]
    numbers = [float(a) for a in sys.argv[2:6 if action == "drag" else 4]]
    rest = sys.argv[6 if action == "drag" else 4:]
    monitor = int(rest[0]) if rest and rest[0].isdigit() else 0
    button = BTN_RIGHT if "right" in rest else BTN_LEFT

    state = call("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                 "org.gnome.Mutter.DisplayConfig", "GetCurrentState")
    connector = state[1][monitor][0][0]
    (rd_session,) = call(RD, "/org/gnome/Mutter/RemoteDesktop", RD, "CreateSession", None, "(o)")
    session_id = call(RD, rd_session, "org.freedesktop.DBus.Properties", "Get",
                      GLib.Variant("(ss)", (RD + ".Session", "SessionId")), "(v)")[0]
    (sc_session,) = call(SC, "/org/gnome/Mutter/ScreenCast", SC, "CreateSession",
                         GLib.Variant("(a{sv})", ({"remote-desktop-session-id": GLib.Variant("s", session_id)},)),
                         "(o)")
    (stream,) = call(SC, sc_session, SC + ".Session", "RecordMonitor",
                     GLib.Variant("(sa{sv})", (connector, {})), "(o)")
    loop = GLib.MainLoop()
    bus.signal_subscribe(SC, SC + ".Stream", "PipeWireStreamAdded", stream, None, Gio.DBusSignalFlags.NONE,
                         lambda *_: loop.quit())
    call(RD, rd_session, RD + ".Session", "Start")
    GLib.timeout_add_seconds(10, loop.quit)
    loop.run()

    def move(x, y):
        call(RD, rd_session, RD + ".Session", "NotifyPointerMotionAbsolute",
             GLib.Variant("(sdd)", (stream, x, y)))
        time.sleep(0.03)

    def press(down):
        call(RD, rd_session, RD + ".Session", "NotifyPointerButton", GLib.Variant("(ib)", (button, down)))
        time.sleep(0.05)

    if action == "drag":
        x1, y1, x2, y2 = numbers
        move(x1, y1)
        press(True)
        steps = 10
        for i in range(1, steps + 1):
            move(x1 + (x2 - x1) * i / steps, y1 + (y2 - y1) * i / steps)
        press(False)
    elif action == "move":
        move(*numbers)
    else:
        move(*numbers)
        press(True)
        press(False)
    time.sleep(0.2)
    call(RD, rd_session, RD + ".Session", "Stop")


if __name__ == "__main__":
    main()
