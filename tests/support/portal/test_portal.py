#!/usr/bin/python3
"""A desktop portal for the Wayland test desktop.

Owns org.freedesktop.portal.Desktop on the session bus and answers the
documented org.freedesktop.portal.Screenshot and GlobalShortcuts interfaces
with real Request and Session objects. Screenshots come from mutter's own
org.gnome.Mutter.ScreenCast (one stream per monitor, one frame each, read with
gst-launch-1.0). GlobalShortcuts presses come from tests, through the private
app.velunta.TestPortal interface on the same object.

VELUNTA_TEST_PORTAL_WITHOUT=Screenshot,GlobalShortcuts leaves those
interfaces out, so a test can see how the program copes without them; the
control method Freeze makes the whole portal stop answering for a while. When a
module screencast.py sits beside this file, its export(connection) adds more
interfaces on the same connection.
"""
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from dbus_service import (PORTAL_NAME, PORTAL_PATH, RESPONSE_FAILED, RESPONSE_SUCCESS, Request,  # noqa: E402
                          Session, failures_answered, interface, method, readable, reply, run, serve, session_bus,
                          signal)
from gi.repository import Gio, GLib  # noqa: E402

MUTTER_SCREENCAST = "org.gnome.Mutter.ScreenCast"
MUTTER_DISPLAYS = "org.gnome.Mutter.DisplayConfig"

INTERFACES = {
    "Screenshot": interface(
        "org.freedesktop.portal.Screenshot",
        method("Screenshot", "s parent_window, a{sv} options", "o handle"),
        readable("version")),
    "GlobalShortcuts": interface(
        "org.freedesktop.portal.GlobalShortcuts",
        method("CreateSession", "a{sv} options", "o handle"),
        method("BindShortcuts", "o session_handle, a(sa{sv}) shortcuts, s parent_window, a{sv} options",
               "o request_handle"),
        method("ListShortcuts", "o session_handle, a{sv} options", "o request_handle"),
        signal("Activated", "o session_handle, s shortcut_id, t timestamp, a{sv} options"),
        signal("Deactivated", "o session_handle, s shortcut_id, t timestamp, a{sv} options"),
        signal("ShortcutsChanged", "o session_handle, a(sa{sv}) shortcuts"),
        readable("version")),
}
VERSIONS = {"Screenshot": 2, "GlobalShortcuts": 1}

CONTROL = interface(
    "app.velunta.TestPortal",
    # Presses and releases a bound shortcut in every session that bound it;
    # answers how many sessions got it.
    method("Activate", "s shortcut_id", "u sessions"),
    # The bound shortcuts as (session, id, preferred trigger).
    method("Bound", gives="a(oss) shortcuts"),
    # Answers, then stops answering anything for that long, as a portal that
    # is slow to start (D-Bus activation at login) does.
    method("Freeze", "u milliseconds"),
    # The files handed out by Screenshot, newest last.
    method("Screenshots", gives="as paths"))


def log(*parts):
    print("test-portal:", *parts, file=sys.stderr, flush=True)


class Portal:
    def __init__(self, connection, without):
        self.connection = connection
        self.offered = [name for name in INTERFACES if name not in without]
        self.sessions = {}
        self.screenshots = []
        serve(connection, PORTAL_PATH, [INTERFACES[name] for name in self.offered], self.on_call, self.on_property)
        serve(connection, PORTAL_PATH, [CONTROL], self.on_control)
        connection.signal_subscribe("org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                                    "/org/freedesktop/DBus", None, Gio.DBusSignalFlags.NONE,
                                    self.on_name_owner_changed)

    def on_property(self, connection, sender, path, interface, name):
        return GLib.Variant("u", VERSIONS[interface.rsplit(".", 1)[1]])

    def on_call(self, connection, sender, path, interface, method, params, invocation):
        args = params.unpack()
        with failures_answered(invocation, log=lambda why: log("error in", method, why)):
            if method == "Screenshot":
                request = Request(connection, sender, args[1].get("handle_token"))
                reply(invocation, "o", request.path)
                Screenshot(self, request, args[1]).start()
            elif method == "CreateSession":
                request = Request(connection, sender, args[0].get("handle_token"))
                session = Session(connection, self.sessions, sender, args[0].get("session_handle_token"))
                session.shortcuts = []  # (id, {description, preferred_trigger})
                reply(invocation, "o", request.path)
                request.respond(RESPONSE_SUCCESS, {"session_handle": GLib.Variant("s", session.path)})
            elif method in ("BindShortcuts", "ListShortcuts"):
                session = self.sessions.get(args[0])
                if session is None or session.sender != sender:
                    invocation.return_dbus_error("org.freedesktop.portal.Error.NotFound", "no such session")
                    return
                options = args[-1]
                request = Request(connection, sender, options.get("handle_token"))
                reply(invocation, "o", request.path)
                if method == "BindShortcuts":
                    session.shortcuts = [(sid, dict(props)) for sid, props in args[1]]
                request.respond(RESPONSE_SUCCESS, {"shortcuts": self.shortcut_list(session)})
            else:
                invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)

    @staticmethod
    def shortcut_list(session):
        listed = []
        for sid, props in session.shortcuts:
            trigger = props.get("preferred_trigger", "")
            listed.append((sid, {"description": GLib.Variant("s", props.get("description", "")),
                                 "trigger_description": GLib.Variant("s", trigger)}))
        return GLib.Variant("a(sa{sv})", listed)

    def on_control(self, connection, sender, path, interface, method, params, invocation):
        if method == "Activate":
            (shortcut_id,) = params.unpack()
            count = 0
            stamp = GLib.get_monotonic_time() // 1000
            for session in list(self.sessions.values()):
                if any(sid == shortcut_id for sid, _ in session.shortcuts):
                    for signal in ("Activated", "Deactivated"):
                        connection.emit_signal(session.sender, PORTAL_PATH, "org.freedesktop.portal.GlobalShortcuts",
                                               signal, GLib.Variant("(osta{sv})",
                                                                    (session.path, shortcut_id, stamp, {})))
                    count += 1
            reply(invocation, "u", count)
        elif method == "Bound":
            bound = [(s.path, sid, props.get("preferred_trigger", ""))
                     for s in self.sessions.values() for sid, props in s.shortcuts]
            reply(invocation, "a(oss)", bound)
        elif method == "Freeze":
            (milliseconds,) = params.unpack()
            reply(invocation)

            def freeze():
                # Blocks the main loop: calls queue up on the bus meanwhile.
                connection.flush_sync(None)
                time.sleep(milliseconds / 1000)
                return False

            GLib.idle_add(freeze)
        elif method == "Screenshots":
            reply(invocation, "as", self.screenshots)

    def on_name_owner_changed(self, connection, sender, path, interface, signal, params):
        name, _, new_owner = params.unpack()
        if new_owner == "" and name.startswith(":"):
            for session in [s for s in self.sessions.values() if s.sender == name]:
                session.close(emit=False)


class Screenshot:
    """One picture of the whole desktop: each monitor's ScreenCast stream, one
    frame each, placed at the monitor's position. Like GNOME Shell's, the
    picture is of the largest scale among the monitors: a monitor of a
    smaller one is stretched to it."""

    def __init__(self, portal, request, options):
        self.portal, self.request = portal, request
        self.connection = portal.connection
        self.streams = []  # (node, place)
        self.stream_places = {}  # stream object path -> (x, y, width, height) in the picture
        self.session = None

    def call(self, name, path, interface, method, args, reply, callback):
        self.connection.call(name, path, interface, method, args, reply and GLib.VariantType(reply),
                             Gio.DBusCallFlags.NONE, 10000, None, callback)

    def fail(self, why):
        log("screenshot failed:", why)
        self.stop_session()
        self.request.respond(RESPONSE_FAILED, {})

    def start(self):
        self.call(MUTTER_DISPLAYS, "/org/gnome/Mutter/DisplayConfig", MUTTER_DISPLAYS, "GetCurrentState", None,
                  None, self.on_state)

    def on_state(self, connection, result):
        try:
            _, monitors, logical, _ = connection.call_finish(result).unpack()
        except GLib.Error as error:
            return self.fail(error.message)
        # Where each connector's picture goes in the desktop's, in pixels.
        largest = max([entry[2] for entry in logical] + [1.0])
        modes = {}
        for (connector, *_), monitor_modes, _ in monitors:
            for mode in monitor_modes:
                if mode[6].get("is-current"):
                    modes[connector] = (mode[1], mode[2])
        self.places = {}
        for x, y, scale, _, _, connectors, _ in logical:
            for connector in connectors:
                width, height = modes.get(connector[0], (0, 0))
                self.places[connector[0]] = (round(x * largest), round(y * largest),
                                             round(width * largest / scale), round(height * largest / scale))
        self.connectors = [m[0][0] for m in monitors if m[0][0] in self.places]
        if not self.connectors:
            return self.fail("no monitor")
        self.call(MUTTER_SCREENCAST, "/org/gnome/Mutter/ScreenCast", MUTTER_SCREENCAST, "CreateSession",
                  GLib.Variant("(a{sv})", ({},)), "(o)", self.on_session)

    def on_session(self, connection, result):
        try:
            (self.session,) = connection.call_finish(result).unpack()
        except GLib.Error as error:
            return self.fail(error.message)
        self.pending = list(self.connectors)
        self.record_next()

    def record_next(self):
        if not self.pending:
            self.subscription = self.connection.signal_subscribe(
                MUTTER_SCREENCAST, "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded", None, None,
                Gio.DBusSignalFlags.NONE, self.on_stream_added)
            self.call(MUTTER_SCREENCAST, self.session, "org.gnome.Mutter.ScreenCast.Session", "Start", None, "()",
                      self.on_started)
            return
        connector = self.pending.pop(0)
        options = {"cursor-mode": GLib.Variant("u", 0)}

        def recorded(connection, result):
            try:
                (stream,) = connection.call_finish(result).unpack()
            except GLib.Error as error:
                return self.fail(error.message)
            self.stream_places[stream] = self.places[connector]
            self.record_next()

        self.call(MUTTER_SCREENCAST, self.session, "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor",
                  GLib.Variant("(sa{sv})", (connector, options)), "(o)", recorded)

    def on_started(self, connection, result):
        try:
            connection.call_finish(result)
        except GLib.Error as error:
            return self.fail(error.message)
        self.timeout = GLib.timeout_add_seconds(10, lambda: self.fail("no PipeWire stream within 10 s"))

    def on_stream_added(self, connection, sender, path, interface, signal, params):
        if path not in self.stream_places:
            return
        (node,) = params.unpack()
        self.streams.append((node, self.stream_places[path]))
        if len(self.streams) == len(self.stream_places):
            GLib.source_remove(self.timeout)
            self.connection.signal_unsubscribe(self.subscription)
            self.read_frames()

    def read_frames(self):
        handle, self.path = tempfile.mkstemp(prefix="velunta-portal-shot-", suffix=".png")
        os.close(handle)
        # One frame of each stream into a file of its own first: a compositor
        # fed by live streams sends out a picture as soon as any of them has
        # one, with the monitors whose frame is still to come left black.
        self.parts = [self.path] if len(self.streams) == 1 else \
            [f"{self.path[:-4]}-{i}.png" for i in range(len(self.streams))]
        command = ["gst-launch-1.0", "-q"]
        for (node, _), part in zip(self.streams, self.parts):
            command += ["pipewiresrc", f"path={node}", "num-buffers=1", "!", "videoconvert", "!", "pngenc",
                        "!", "filesink", f"location={part}"]
        self.run(command, self.on_frames)

    def run(self, command, then):
        self.process = Gio.Subprocess.new(command, Gio.SubprocessFlags.STDERR_PIPE)
        self.process.communicate_utf8_async(None, None, then)
        self.frames_timeout = GLib.timeout_add_seconds(15, self.on_frames_timeout)

    def on_frames_timeout(self):
        self.frames_timeout = 0
        self.process.force_exit()
        return False

    def finished(self, process, result):
        """Whether the gst-launch-1.0 run ended well; else the request fails."""
        _, _, errors = process.communicate_utf8_finish(result)
        if self.frames_timeout:
            GLib.source_remove(self.frames_timeout)
            self.frames_timeout = 0
        if process.get_successful() and all(os.path.exists(p) and os.path.getsize(p) for p in self.parts):
            return True
        self.remove_files()
        self.fail(f"gst-launch-1.0: {errors.strip()}")
        return False

    def remove_files(self):
        for path in set(self.parts + [self.path]):
            if os.path.exists(path):
                os.unlink(path)

    def on_frames(self, process, result):
        self.stop_session()
        if not self.finished(process, result):
            return
        if len(self.parts) == 1:
            return self.done()
        # The still pictures side by side, each at its monitor's place and
        # of its size there.
        pads = [f"sink_{i}::{key}={value}" for i, (_, place) in enumerate(self.streams)
                for key, value in zip(("xpos", "ypos", "width", "height"), place)]
        command = ["gst-launch-1.0", "-q", "compositor", "name=mix", "background=black"] + pads + \
            ["!", "videoconvert", "!", "pngenc", "snapshot=true", "!", "filesink", f"location={self.path}"]
        for i, part in enumerate(self.parts):
            command += ["filesrc", f"location={part}", "!", "pngdec", "!", "imagefreeze", "num-buffers=1", "!",
                        "videoconvert", "!", f"mix.sink_{i}"]
        self.run(command, self.on_composed)

    def on_composed(self, process, result):
        if not self.finished(process, result):
            return
        if not os.path.getsize(self.path):
            self.remove_files()
            return self.fail("gst-launch-1.0 composed no picture")
        for part in self.parts:
            if part != self.path:
                os.unlink(part)
        self.done()

    def done(self):
        self.portal.screenshots.append(self.path)
        self.request.respond(RESPONSE_SUCCESS, {"uri": GLib.Variant("s", GLib.filename_to_uri(self.path))})

    def stop_session(self):
        if self.session:
            self.connection.call(MUTTER_SCREENCAST, self.session, "org.gnome.Mutter.ScreenCast.Session", "Stop",
                                 None, None, Gio.DBusCallFlags.NONE, -1, None, None)
            self.session = None


def main():
    without = {name.strip() for name in os.environ.get("VELUNTA_TEST_PORTAL_WITHOUT", "").split(",") if name.strip()}
    connection = session_bus()
    Portal(connection, without)
    here = os.path.dirname(os.path.abspath(__file__))
    if os.path.exists(os.path.join(here, "screencast.py")) and "ScreenCast" not in without:
        sys.path.insert(0, here)
        import screencast
        screencast.export(connection)

    def acquired():
        log("serving", PORTAL_NAME, "without" if without else "with everything", ",".join(sorted(without)))

    def lost(_):
        # Replaced by another test portal: queued, so the name comes back
        # when that one leaves.
        log("name lost")

    # Replaceable, so a test can put a portal that lacks some interface in
    # front of this one for a while.
    run(connection, PORTAL_NAME, Gio.BusNameOwnerFlags.ALLOW_REPLACEMENT | Gio.BusNameOwnerFlags.REPLACE,
        acquired, lost)


if __name__ == "__main__":
    main()
