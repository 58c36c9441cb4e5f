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

from gi.repository import Gio, GLib

DESKTOP_PATH = "/org/freedesktop/portal/desktop"
MUTTER = "org.gnome.Mutter.ScreenCast"
MUTTER_PATH = "/org/gnome/Mutter/ScreenCast"
VERSION = 4

SOURCE_MONITOR = 1
CURSOR_HIDDEN, CURSOR_EMBEDDED, CURSOR_METADATA = 1, 2, 4
# The portal's cursor modes in mutter's numbering.
MUTTER_CURSOR = {CURSOR_HIDDEN: 0, CURSOR_EMBEDDED: 1, CURSOR_METADATA: 2}

XML = """
<node>
  <interface name="org.freedesktop.portal.ScreenCast">
    <method name="CreateSession">
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
    <method name="SelectSources">
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
    <method name="Start">
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
    <method name="OpenPipeWireRemote">
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="h" name="fd" direction="out"/>
    </method>
    <property name="AvailableSourceTypes" type="u" access="read"/>
    <property name="AvailableCursorModes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="app.velunta.TestPortal.ScreenCast">
    <method name="DialogCount">
      <arg type="u" name="count" direction="out"/>
    </method>
    <method name="SessionCount">
      <arg type="u" name="open" direction="out"/>
    </method>
    <method name="SetRefusal">
      <arg type="b" name="refuses" direction="in"/>
    </method>
    <method name="SetCursorModes">
      <arg type="u" name="modes" direction="in"/>
    </method>
    <method name="StopAll"/>
    <method name="ChooseMonitor">
      <arg type="s" name="monitor" direction="in"/>
    </method>
  </interface>
</node>
"""

REQUEST_XML = """
<node>
  <interface name="org.freedesktop.portal.Request">
    <method name="Close"/>
    <signal name="Response">
      <arg type="u" name="response"/>
      <arg type="a{sv}" name="results"/>
    </signal>
  </interface>
</node>
"""

SESSION_XML = """
<node>
  <interface name="org.freedesktop.portal.Session">
    <method name="Close"/>
    <signal name="Closed">
      <arg type="a{sv}" name="details"/>
    </signal>
    <property name="version" type="u" access="read"/>
  </interface>
</node>
"""


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


def _sender_part(sender):
    return sender.lstrip(":").replace(".", "_")


def _option(options, key, default):
    value = options.get(key)
    return default if value is None else value


class _Request:
    """A Request object whose Response may come later (Start waits on mutter)."""

    def __init__(self, portal, sender, token):
        self.portal = portal
        self.path = f"{DESKTOP_PATH}/request/{_sender_part(sender)}/{token}"
        self.sender = sender
        self.closed = False
        info = Gio.DBusNodeInfo.new_for_xml(REQUEST_XML).interfaces[0]
        self.registration = portal.connection.register_object(self.path, info, self._call, None, None)

    def _call(self, connection, sender, path, interface, method, params, invocation):
        self.closed = True
        self._unregister()
        invocation.return_value(None)

    def respond(self, code, results):
        if self.closed:
            return
        self.portal.connection.emit_signal(
            self.sender, self.path, "org.freedesktop.portal.Request", "Response",
            GLib.Variant("(ua{sv})", (code, results)))
        self._unregister()

    def _unregister(self):
        if self.registration:
            self.portal.connection.unregister_object(self.registration)
            self.registration = 0


class _Session:
    def __init__(self, portal, sender, token):
        self.portal = portal
        self.sender = sender
        self.path = f"{DESKTOP_PATH}/session/{_sender_part(sender)}/{token}"
        self.cursor_mode = CURSOR_HIDDEN
        self.persist_mode = 0
        self.monitor = None  # connector, chosen at SelectSources
        self.selected = False
        self.started = False
        self.mutter_session = None
        self.signal_ids = []
        info = Gio.DBusNodeInfo.new_for_xml(SESSION_XML).interfaces[0]
        self.registration = portal.connection.register_object(
            self.path, info, self._call, self._property, None)

    def _call(self, connection, sender, path, interface, method, params, invocation):
        invocation.return_value(None)
        self.close(emit=False)

    def _property(self, connection, sender, path, interface, name):
        return GLib.Variant("u", 1) if name == "version" else None

    def close(self, emit=True):
        if not self.registration:
            return
        for signal_id in self.signal_ids:
            self.portal.mutter.signal_unsubscribe(signal_id)
        self.signal_ids = []
        if self.mutter_session:
            self.portal.mutter.call(MUTTER, self.mutter_session, f"{MUTTER}.Session", "Stop",
                                    None, None, Gio.DBusCallFlags.NONE, -1, None, None)
            self.mutter_session = None
        if emit:
            self.portal.connection.emit_signal(self.sender, self.path, "org.freedesktop.portal.Session",
                                               "Closed", GLib.Variant("(a{sv})", ({},)))
        self.portal.connection.unregister_object(self.registration)
        self.registration = 0
        self.portal.sessions.pop(self.path, None)


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
        node = Gio.DBusNodeInfo.new_for_xml(XML)
        for info in node.interfaces:
            connection.register_object(DESKTOP_PATH, info, self._call, self._property, None)

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
        try:
            getattr(self, "_" + method)(sender, invocation, *params.unpack())
        except Exception as error:  # a broken call must not take the portal down
            invocation.return_dbus_error("org.freedesktop.portal.Error.Failed", str(error))

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
        request = _Request(self, sender, _option(options, "handle_token", "t" + uuid.uuid4().hex))
        session = _Session(self, sender, _option(options, "session_handle_token", "s" + uuid.uuid4().hex))
        self.sessions[session.path] = session
        self._watch(sender)
        invocation.return_value(GLib.Variant("(o)", (request.path,)))
        request.respond(0, {"session_handle": GLib.Variant("s", session.path)})

    def _SelectSources(self, sender, invocation, handle, options):
        session = self._session_of(sender, handle)
        request = _Request(self, sender, _option(options, "handle_token", "t" + uuid.uuid4().hex))
        invocation.return_value(GLib.Variant("(o)", (request.path,)))
        types = _option(options, "types", SOURCE_MONITOR)
        cursor = _option(options, "cursor_mode", CURSOR_HIDDEN)
        if not types & SOURCE_MONITOR or cursor not in MUTTER_CURSOR or not cursor & self.cursor_modes:
            request.respond(2, {})
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
                request.respond(1, {})
                return
        session.monitor = restored or self.chosen
        session.selected = True
        request.respond(0, {})

    def _Start(self, sender, invocation, handle, parent_window, options):
        session = self._session_of(sender, handle)
        request = _Request(self, sender, _option(options, "handle_token", "t" + uuid.uuid4().hex))
        invocation.return_value(GLib.Variant("(o)", (request.path,)))
        if not session.selected or session.started:
            request.respond(2, {})
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
            request.respond(2, {})
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
            request.respond(0, results)

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
        invocation.return_value(GLib.Variant("(u)", (self.dialogs,)))

    def _SessionCount(self, sender, invocation):
        invocation.return_value(GLib.Variant("(u)", (len(self.sessions),)))

    def _SetRefusal(self, sender, invocation, refuses):
        self.refuses = refuses
        invocation.return_value(None)

    def _SetCursorModes(self, sender, invocation, modes):
        self.cursor_modes = modes
        invocation.return_value(None)

    def _ChooseMonitor(self, sender, invocation, monitor):
        self.chosen = monitor
        invocation.return_value(None)

    def _StopAll(self, sender, invocation):
        # As when the user ends the sharing from the desktop's own controls.
        for session in list(self.sessions.values()):
            session.close()
        invocation.return_value(None)

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
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    portal = export(bus)
    loop = GLib.MainLoop()

    def lost(*_):
        sys.exit("org.freedesktop.portal.Desktop is taken")

    Gio.bus_own_name_on_connection(bus, "org.freedesktop.portal.Desktop", Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: print("ready", flush=True), lost)
    loop.run()
