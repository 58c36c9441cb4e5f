#!/usr/bin/python3
"""A notification server for the test desktop's private session bus.

Owns org.freedesktop.Notifications and answers the documented interface
(GetCapabilities, Notify, CloseNotification, GetServerInformation; the
NotificationClosed and ActionInvoked signals). Nothing is drawn: every notice
is kept, so that a test can read what was sent and click it, through the
private app.velunta.TestNotifications interface on the same object:

    Sent() -> s       every Notify so far, as JSON, oldest first
    Shown() -> au     the ids on "screen" now (not closed, not expired)
    Click(u) -> b     the user clicks notice u: ActionInvoked(u, "default")
                      when it offered that action, then it closes (reason 2)

    test_notifications.py [--without-actions]

--without-actions leaves "actions" out of the capabilities, as servers that
cannot report a click do. expire_timeout is honoured (-1 counts as 5 s).
"""
import json
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

BUS_NAME = "org.freedesktop.Notifications"
OBJECT_PATH = "/org/freedesktop/Notifications"

XML = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities">
      <arg type="as" name="capabilities" direction="out"/>
    </method>
    <method name="Notify">
      <arg type="s" name="app_name" direction="in"/>
      <arg type="u" name="replaces_id" direction="in"/>
      <arg type="s" name="app_icon" direction="in"/>
      <arg type="s" name="summary" direction="in"/>
      <arg type="s" name="body" direction="in"/>
      <arg type="as" name="actions" direction="in"/>
      <arg type="a{sv}" name="hints" direction="in"/>
      <arg type="i" name="expire_timeout" direction="in"/>
      <arg type="u" name="id" direction="out"/>
    </method>
    <method name="CloseNotification">
      <arg type="u" name="id" direction="in"/>
    </method>
    <method name="GetServerInformation">
      <arg type="s" name="name" direction="out"/>
      <arg type="s" name="vendor" direction="out"/>
      <arg type="s" name="version" direction="out"/>
      <arg type="s" name="spec_version" direction="out"/>
    </method>
    <signal name="NotificationClosed">
      <arg type="u" name="id"/>
      <arg type="u" name="reason"/>
    </signal>
    <signal name="ActionInvoked">
      <arg type="u" name="id"/>
      <arg type="s" name="action_key"/>
    </signal>
  </interface>
  <interface name="app.velunta.TestNotifications">
    <method name="Sent">
      <arg type="s" name="json" direction="out"/>
    </method>
    <method name="Shown">
      <arg type="au" name="ids" direction="out"/>
    </method>
    <method name="Click">
      <arg type="u" name="id" direction="in"/>
      <arg type="b" name="invoked" direction="out"/>
    </method>
  </interface>
</node>"""

EXPIRED, DISMISSED, CLOSED_BY_CALL = 1, 2, 3


def describe_hints(hints):
    """The a{sv} hints as JSON can hold them; image-data as its size. Read
    from the GLib.Variant itself: unpacking the picture's bytes into Python
    numbers would take seconds."""
    described = {}
    for i in range(hints.n_children()):
        entry = hints.get_child_value(i)
        key = entry.get_child_value(0).get_string()
        value = entry.get_child_value(1).get_variant()
        if key == "image-data":
            fields = [value.get_child_value(n) for n in range(7)]
            width, height, stride, alpha, bits, channels = (f.unpack() for f in fields[:6])
            described[key] = {"width": width, "height": height, "rowstride": stride, "has_alpha": alpha,
                              "bits_per_sample": bits, "channels": channels, "bytes": fields[6].n_children()}
        else:
            unpacked = value.unpack()
            described[key] = unpacked if isinstance(unpacked, (str, int, float, bool)) else repr(unpacked)
    return described


class Server:
    def __init__(self, connection, actions):
        self.connection = connection
        self.capabilities = ["body", "persistence"] + (["actions"] if actions else [])
        self.sent = []
        self.shown = {}  # id -> (actions, expiry source)
        self.next_id = 1
        for info in Gio.DBusNodeInfo.new_for_xml(XML).interfaces:
            connection.register_object(OBJECT_PATH, info, self.on_call, None, None)

    def on_call(self, connection, sender, path, interface, method, params, invocation):
        try:
            if method == "Notify":
                # All but the hints unpacked; those stay a variant.
                values = [params.get_child_value(i) for i in range(8)]
                arguments = [v.unpack() for v in values[:6]] + [values[6], values[7].unpack()]
                self.Notify(invocation, *arguments)
                return
            getattr(self, method)(invocation, *params.unpack())
        except Exception as error:  # a bad call must not take the server down
            print("test-notifications:", method, repr(error), file=sys.stderr, flush=True)
            invocation.return_dbus_error("org.freedesktop.DBus.Error.Failed", str(error))

    def emit(self, signal, signature, values):
        self.connection.emit_signal(None, OBJECT_PATH, BUS_NAME, signal, GLib.Variant(signature, values))

    def close(self, notice, reason):
        entry = self.shown.pop(notice, None)
        if entry is None:
            return False
        if entry[1]:
            GLib.source_remove(entry[1])
        self.emit("NotificationClosed", "(uu)", (notice, reason))
        return True

    # org.freedesktop.Notifications

    def GetCapabilities(self, invocation):
        invocation.return_value(GLib.Variant("(as)", (self.capabilities,)))

    def GetServerInformation(self, invocation):
        invocation.return_value(GLib.Variant("(ssss)", ("velunta-test-notifications", "Velunta", "1", "1.2")))

    def Notify(self, invocation, app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout):
        if replaces_id in self.shown:
            notice = replaces_id
            old = self.shown.pop(notice)
            if old[1]:
                GLib.source_remove(old[1])
        else:
            notice = self.next_id
            self.next_id += 1
        timeout = 5000 if expire_timeout < 0 else expire_timeout
        expiry = GLib.timeout_add(timeout, self.expire, notice) if timeout > 0 else 0
        self.shown[notice] = (list(actions), expiry)
        self.sent.append({"id": notice, "app_name": app_name, "replaces_id": replaces_id, "app_icon": app_icon,
                          "summary": summary, "body": body, "actions": list(actions),
                          "hints": describe_hints(hints), "expire_timeout": expire_timeout})
        invocation.return_value(GLib.Variant("(u)", (notice,)))

    def expire(self, notice):
        entry = self.shown.get(notice)
        if entry:
            self.shown[notice] = (entry[0], 0)
            self.close(notice, EXPIRED)
        return False

    def CloseNotification(self, invocation, notice):
        self.close(notice, CLOSED_BY_CALL)
        invocation.return_value(None)

    # app.velunta.TestNotifications

    def Sent(self, invocation):
        invocation.return_value(GLib.Variant("(s)", (json.dumps(self.sent),)))

    def Shown(self, invocation):
        invocation.return_value(GLib.Variant("(au)", (sorted(self.shown),)))

    def Click(self, invocation, notice):
        entry = self.shown.get(notice)
        invoked = bool(entry) and "default" in entry[0][0::2]
        if invoked:
            self.emit("ActionInvoked", "(us)", (notice, "default"))
        if entry:
            self.close(notice, DISMISSED)
        invocation.return_value(GLib.Variant("(b)", (invoked,)))


def main():
    connection = Gio.bus_get_sync(Gio.BusType.SESSION)
    Server(connection, "--without-actions" not in sys.argv[1:])
    loop = GLib.MainLoop()

    def lost(*_):
        print("test-notifications: name lost", file=sys.stderr, flush=True)
        loop.quit()

    Gio.bus_own_name_on_connection(connection, BUS_NAME, Gio.BusNameOwnerFlags.NONE, None, lost)
    loop.run()


if __name__ == "__main__":
    main()
