"""org.freedesktop.portal.ScreenCast for the test desktop, forwarded to
headless mutter's org.gnome.Mutter.ScreenCast.

The real portals show a chooser ("consent dialog") unless the caller brings
a valid restore token; here the dialog is only counted, so that tests can
tell whether it would have shown, and the monitor the user would pick is the
one VELUNTA_TEST_CAST_MONITOR names (a connector such as Meta-1, or an index
in mutter's order), or the one set with the control method ChooseMonitor;
the first by default. A restore token brings back the monitor chosen with it.
Restore tokens are single use, as in xdg-desktop-portal: every Start with
persist_mode set hands out a fresh one.

export(connection) registers the interfaces on a Gio.DBusConnection that owns
org.freedesktop.portal.Desktop. Run as a program, it owns that name on the
session bus itself.
"""
import os
import socket
import sys
import uuid

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from dbus_service import (PORTAL_NAME, PORTAL_PATH, RESPONSE_CANCELLED, RESPONSE_FAILED, RESPONSE_SUCCESS,  # noqa: E402
                          Request, Session, failures_answered, interface, method, readable, reply, run, serve,
                          session_bus)
from gi.repository import Gio, GLib  # noqa: E402

MUTTER = "org.gnome.Mutter.ScreenCast"
MUTTER_PATH = "/org/gnome/Mutter/ScreenCast"
VERSION = 4

SOURCE_MONITOR = 1
CURSOR_HIDDEN, CURSOR_EMBEDDED, CURSOR_METADATA = 1, 2, 4
# The portal's cursor modes in mutter's numbering.
MUTTER_CURSOR = {CURSOR_HIDDEN: 0, CURSOR_EMBEDDED: 1, CURSOR_METADATA: 2}

INTERFACES = [
    interface("org.freedesktop.portal.ScreenCast",
              method("CreateSession", "a{sv} options", "o handle"),
              method("SelectSources", "o session_handle, a{sv} options", "o handle"),
              method("Start", "o session_handle, s parent_window, a{sv} options", "o handle"),
              method("OpenPipeWireRemote", "o session_handle, a{sv} options", "h fd"),
              readable("AvailableSourceTypes"), readable("AvailableCursorModes"), readable("version")),
    interface("app.velunta.TestPortal.ScreenCast",
              method("DialogCount", gives="u count"),
              method("SessionCount", gives="u open"),
              method("SetRefusal", "b refuses"),
              method("SetCursorModes", "u modes"),
              method("StopAll"),
              method("ChooseMonitor", "s monitor")),
]


def choose_monitor(monitors, wanted):
    """The monitor WANTED names among MONITORS ((connector, ...) tuples in
    mutter's order): a connector, else an index; the first when WANTED is
    empty. None when it names none of them."""
    if not monitors:
        return None
    wanted = (wanted or "").strip()
    if not wanted:
        return monitors[0]
    for monitor in monitors:
        if monitor[0] == wanted:
            return monitor
    if wanted.isdigit() and int(wanted) < len(monitors):
        return monitors[int(wanted)]
    return None


def _option(options, key, default):
    value = options.get(key)
    return default if value is None else value


class _Session(Session):
    def __init__(self, portal, sender, token):
        self.portal = portal
        self.cursor_mode = CURSOR_HIDDEN
        self.persist_mode = 0
        self.monitor = None  # connector, chosen at SelectSources
        self.selected = False
        self.started = False
        self.mutter_session = None
        self.signal_ids = []
        super().__init__(portal.connection, portal.sessions, sender, token)

    def ended(self):
        for signal_id in self.signal_ids:
            self.portal.mutter.signal_unsubscribe(signal_id)
        self.signal_ids = []
        if self.mutter_session:
            self.portal.mutter.call(MUTTER, self.mutter_session, f"{MUTTER}.Session", "Stop",
                                    None, None, Gio.DBusCallFlags.NONE, -1, None, None)
            self.mutter_session = None


class ScreenCastPortal:
    def __init__(self, connection):
        self.connection = connection
        # mutter's sessions die with the connection that made them: one of
        # our own, alive as long as the portal.
        address = Gio.dbus_address_get_for_bus_sync(Gio.BusType.SESSION, None)
        self.mutter = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)
        self.sessions = {}
        self.tokens = {}  # restore token -> what was chosen
        self.dialogs = 0
        self.refuses = False
        self.cursor_modes = CURSOR_HIDDEN | CURSOR_EMBEDDED | CURSOR_METADATA
        self.watched = {}
        self.chosen = os.environ.get("VELUNTA_TEST_CAST_MONITOR", "")
        serve(connection, PORTAL_PATH, INTERFACES, self._call, self._property)

    # D-Bus plumbing

    def _property(self, connection, sender, path, interface, name):
        if name == "AvailableSourceTypes":
            return GLib.Variant("u", SOURCE_MONITOR)
        if name == "AvailableCursorModes":
            return GLib.Variant("u", self.cursor_modes)
        if name == "version":
            return GLib.Variant("u", VERSION)
        return None

    def _call(self, connection, sender, path, interface, method, params, invocation):
        with failures_answered(invocation):
            getattr(self, "_" + method)(sender, invocation, *params.unpack())

    def _session_of(self, sender, handle):
        session = self.sessions.get(handle)
        if session is None or session.sender != sender:
            raise ValueError(f"no session {handle}")
        return session

    def _watch(self, sender):
        if sender in self.watched:
            return

        def vanished(*_):
            for session in [s for s in self.sessions.values() if s.sender == sender]:
                session.close(emit=False)
            Gio.bus_unwatch_name(self.watched.pop(sender))

        self.watched[sender] = Gio.bus_watch_name_on_connection(
            self.connection, sender, Gio.BusNameWatcherFlags.NONE, None, vanished)

    # org.freedesktop.portal.ScreenCast

    def _CreateSession(self, sender, invocation, options):
        request = Request(self.connection, sender, options.get("handle_token"))
        session = _Session(self, sender, options.get("session_handle_token"))
        self._watch(sender)
        reply(invocation, "o", request.path)
        request.respond(RESPONSE_SUCCESS, {"session_handle": GLib.Variant("s", session.path)})

    def _SelectSources(self, sender, invocation, handle, options):
        session = self._session_of(sender, handle)
        request = Request(self.connection, sender, options.get("handle_token"))
        reply(invocation, "o", request.path)
        types = _option(options, "types", SOURCE_MONITOR)
        cursor = _option(options, "cursor_mode", CURSOR_HIDDEN)
        if not types & SOURCE_MONITOR or cursor not in MUTTER_CURSOR or not cursor & self.cursor_modes:
            request.respond(RESPONSE_FAILED, {})
            return
        session.cursor_mode = cursor
        session.persist_mode = _option(options, "persist_mode", 0)
        token = _option(options, "restore_token", "")
        restored = self.tokens.pop(token, None)
        if not restored:
            # No valid token: the real portal would ask the user here, and
            # the user would pick a monitor.
            self.dialogs += 1
            if self.refuses:
                request.respond(RESPONSE_CANCELLED, {})
                return
        session.monitor = restored or self.chosen
        session.selected = True
        request.respond(RESPONSE_SUCCESS, {})

    def _Start(self, sender, invocation, handle, parent_window, options):
        session = self._session_of(sender, handle)
        request = Request(self.connection, sender, options.get("handle_token"))
        reply(invocation, "o", request.path)
        if not session.selected or session.started:
            request.respond(RESPONSE_FAILED, {})
            return
        session.started = True
        try:
            connector, x, y, width, height = self._monitor(session.monitor)
            (mutter_session,) = self._mutter_call(MUTTER_PATH, MUTTER, "CreateSession",
                                                  GLib.Variant("(a{sv})", ({},)), "(o)")
            session.mutter_session = mutter_session
            (stream,) = self._mutter_call(
                mutter_session, f"{MUTTER}.Session", "RecordMonitor",
                GLib.Variant("(sa{sv})", (connector, {"cursor-mode": GLib.Variant("u", MUTTER_CURSOR[session.cursor_mode])})),
                "(o)")
        except (GLib.Error, ValueError):  # mutter failed, or no such monitor
            request.respond(RESPONSE_FAILED, {})
            session.close()
            return

        def added(connection, sender_, path, interface, signal, params, *_):
            (node,) = params.unpack()
            results = {
                "streams": GLib.Variant("a(ua{sv})", [(node, {
                    "position": GLib.Variant("(ii)", (x, y)),
                    "size": GLib.Variant("(ii)", (width, height)),
                    "source_type": GLib.Variant("u", SOURCE_MONITOR),
                })]),
                "persist_mode": GLib.Variant("u", session.persist_mode),
            }
            if session.persist_mode:
                token = uuid.uuid4().hex
                self.tokens[token] = connector
                results["restore_token"] = GLib.Variant("s", token)
            request.respond(RESPONSE_SUCCESS, results)

        session.signal_ids.append(self.mutter.signal_subscribe(
            MUTTER, f"{MUTTER}.Stream", "PipeWireStreamAdded", stream, None, Gio.DBusSignalFlags.NONE, added))

        def closed(*_):
            session.close()

        session.signal_ids.append(self.mutter.signal_subscribe(
            MUTTER, f"{MUTTER}.Session", "Closed", mutter_session, None, Gio.DBusSignalFlags.NONE, closed))
        self._mutter_call(mutter_session, f"{MUTTER}.Session", "Start", None, "()")

    def _OpenPipeWireRemote(self, sender, invocation, handle, options):
        session = self._session_of(sender, handle)
        if not session.started:
            raise ValueError("session not started")
        runtime = os.environ.get("PIPEWIRE_RUNTIME_DIR") or os.environ["XDG_RUNTIME_DIR"]
        remote = os.environ.get("PIPEWIRE_REMOTE", "pipewire-0")
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.connect(remote if remote.startswith("/") else os.path.join(runtime, remote))
        fds = Gio.UnixFDList.new()
        fds.append(sock.fileno())
        sock.close()
        invocation.return_value_with_unix_fd_list(GLib.Variant("(h)", (0,)), fds)

    # what tests ask

    def _DialogCount(self, sender, invocation):
        reply(invocation, "u", self.dialogs)

    def _SessionCount(self, sender, invocation):
        reply(invocation, "u", len(self.sessions))

    def _SetRefusal(self, sender, invocation, refuses):
        self.refuses = refuses
        reply(invocation)

    def _SetCursorModes(self, sender, invocation, modes):
        self.cursor_modes = modes
        reply(invocation)

    def _ChooseMonitor(self, sender, invocation, monitor):
        self.chosen = monitor
        reply(invocation)

    def _StopAll(self, sender, invocation):
        # As when the user ends the sharing from the desktop's own controls.
        for session in list(self.sessions.values()):
            session.close()
        reply(invocation)

    # mutter

    def _mutter_call(self, path, interface, method, args, reply):
        return self.mutter.call_sync(MUTTER, path, interface, method, args, GLib.VariantType(reply),
                                     Gio.DBusCallFlags.NONE, 10000, None).unpack()

    def _monitor(self, wanted):
        state = self.mutter.call_sync(
            "org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
            "org.gnome.Mutter.DisplayConfig", "GetCurrentState", None, None,
            Gio.DBusCallFlags.NONE, 10000, None).unpack()
        _, monitors, logical, _ = state
        chosen = choose_monitor([(m[0][0], m) for m in monitors], wanted)
        if chosen is None:
            raise ValueError(f"no monitor {wanted}")
        connector, monitor = chosen
        width = height = 0
        for mode in monitor[1]:
            if mode[6].get("is-current"):
                width, height = mode[1], mode[2]
        x = y = 0
        for entry in logical:
            if any(m[0] == connector for m in entry[5]):
                x, y = entry[0], entry[1]
                scale = entry[2] or 1
                width, height = int(width / scale), int(height / scale)
        return connector, x, y, width, height


def export(connection):
    return ScreenCastPortal(connection)


if __name__ == "__main__":
    bus = session_bus()
    portal = export(bus)

    def lost(_):
        sys.exit(f"{PORTAL_NAME} is taken")

    run(bus, PORTAL_NAME, acquired=lambda: print("ready", flush=True), lost=lost)
