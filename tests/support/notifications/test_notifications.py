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
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from dbus_service import failures_answered, interface, method, reply, run, serve, session_bus, signal  # noqa: E402
from gi.repository import GLib  # noqa: E402

BUS_NAME = "org.freedesktop.Notifications"
OBJECT_PATH = "/org/freedesktop/Notifications"

INTERFACES = [
    interface(BUS_NAME,
              method("GetCapabilities", gives="as capabilities"),
              method("Notify", "s app_name, u replaces_id, s app_icon, s summary, s body, as actions, "
                               "a{sv} hints, i expire_timeout", "u id"),
              method("CloseNotification", "u id"),
              method("GetServerInformation", gives="s name, s vendor, s version, s spec_version"),
              signal("NotificationClosed", "u id, u reason"),
              signal("ActionInvoked", "u id, s action_key")),
    interface("app.velunta.TestNotifications",
              method("Sent", gives="s json"),
              method("Shown", gives="au ids"),
              method("Click", "u id", "b invoked")),
]

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
        serve(connection, OBJECT_PATH, INTERFACES, self.on_call)

    def on_call(self, connection, sender, path, interface, method, params, invocation):
        def log(why):
            print("test-notifications:", method, why, file=sys.stderr, flush=True)

        with failures_answered(invocation, "org.freedesktop.DBus.Error.Failed", log):
            if method == "Notify":
                # All but the hints unpacked; those stay a variant.
                values = [params.get_child_value(i) for i in range(8)]
                arguments = [v.unpack() for v in values[:6]] + [values[6], values[7].unpack()]
                self.Notify(invocation, *arguments)
                return
            getattr(self, method)(invocation, *params.unpack())

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
        reply(invocation, "as", self.capabilities)

    def GetServerInformation(self, invocation):
        reply(invocation, "ssss", "velunta-test-notifications", "Velunta", "1", "1.2")

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
        reply(invocation, "u", notice)

    def expire(self, notice):
        entry = self.shown.get(notice)
        if entry:
            self.shown[notice] = (entry[0], 0)
            self.close(notice, EXPIRED)
        return False

    def CloseNotification(self, invocation, notice):
        self.close(notice, CLOSED_BY_CALL)
        reply(invocation)

    # app.velunta.TestNotifications

    def Sent(self, invocation):
        reply(invocation, "s", json.dumps(self.sent))

    def Shown(self, invocation):
        reply(invocation, "au", sorted(self.shown))

    def Click(self, invocation, notice):
        entry = self.shown.get(notice)
        invoked = bool(entry) and "default" in entry[0][0::2]
        if invoked:
            self.emit("ActionInvoked", "(us)", (notice, "default"))
        if entry:
            self.close(notice, DISMISSED)
        reply(invocation, "b", invoked)


def main():
    connection = session_bus()
    Server(connection, "--without-actions" not in sys.argv[1:])

    def lost(loop):
        print("test-notifications: name lost", file=sys.stderr, flush=True)
        loop.quit()

    run(connection, BUS_NAME, lost=lost)


if __name__ == "__main__":
    main()
