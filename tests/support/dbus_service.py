"""What the test desktop's D-Bus services share (the test portal, its
ScreenCast, the notification server): the session bus, objects served from a
short description of their interfaces, replies, and the desktop portal's
Request and Session objects.

The services run from the source tree; each puts this folder on sys.path
before it imports this module.
"""
import contextlib
import uuid

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

PORTAL_NAME = "org.freedesktop.portal.Desktop"
PORTAL_PATH = "/org/freedesktop/portal/desktop"
PORTAL_FAILED = "org.freedesktop.portal.Error.Failed"
RESPONSE_SUCCESS, RESPONSE_CANCELLED, RESPONSE_FAILED = 0, 1, 2


# Introspection, written as "type name, type name" lists: D-Bus type strings
# hold neither spaces nor commas.

def _args(listed, direction=None):
    where = f' direction="{direction}"' if direction else ""
    parts = [part.split() for part in listed.split(",") if part.strip()]
    return "".join(f'<arg type="{kind}" name="{name}"{where}/>' for kind, name in parts)


def method(name, takes="", gives=""):
    return f'<method name="{name}">{_args(takes, "in")}{_args(gives, "out")}</method>'


def signal(name, carries=""):
    return f'<signal name="{name}">{_args(carries)}</signal>'


def readable(name, kind="u"):
    return f'<property name="{name}" type="{kind}" access="read"/>'


def interface(name, *members):
    return f'<interface name="{name}">{"".join(members)}</interface>'


def serve(connection, path, interfaces, on_call, on_property=None):
    """Serves INTERFACES (interface() texts) at PATH; their registration ids."""
    infos = Gio.DBusNodeInfo.new_for_xml("<node>" + "".join(interfaces) + "</node>").interfaces
    return [connection.register_object(path, info, on_call, on_property, None) for info in infos]


def reply(invocation, signature="", *values):
    """Answers a call with VALUES of the types SIGNATURE lists, or with nothing."""
    invocation.return_value(GLib.Variant(f"({signature})", values) if signature else None)


@contextlib.contextmanager
def failures_answered(invocation, error=PORTAL_FAILED, log=None):
    """A call whose handling raises is answered with the D-Bus error ERROR (and
    LOG hears why) rather than taking the whole service down."""
    try:
        yield
    except Exception as exception:
        if log:
            log(repr(exception))
        invocation.return_dbus_error(error, str(exception))


def session_bus():
    return Gio.bus_get_sync(Gio.BusType.SESSION)


def run(connection, name, flags=Gio.BusNameOwnerFlags.NONE, acquired=None, lost=None):
    """Owns NAME on CONNECTION and serves until the main loop ends. ACQUIRED
    runs once the name is ours; LOST, given the loop, when it is not."""
    loop = GLib.MainLoop()
    Gio.bus_own_name_on_connection(connection, name, flags,
                                   (lambda *_: acquired()) if acquired else None,
                                   (lambda *_: lost(loop)) if lost else None)
    loop.run()


# The desktop portal's objects.

def sender_part(sender):
    """A caller's unique name as the portal puts it into object paths."""
    return sender.lstrip(":").replace(".", "_")


class Request:
    """One org.freedesktop.portal.Request at the path its caller's token
    makes: answered once, or closed by the caller, then gone."""

    INTERFACE = interface("org.freedesktop.portal.Request",
                          method("Close"), signal("Response", "u response, a{sv} results"))

    def __init__(self, connection, sender, token=None):
        self.connection, self.sender = connection, sender
        self.path = f"{PORTAL_PATH}/request/{sender_part(sender)}/{token or 't' + uuid.uuid4().hex}"
        self.closed = False
        (self.registration,) = serve(connection, self.path, [self.INTERFACE], self._on_close)

    def _on_close(self, connection, sender, path, interface_name, method_name, params, invocation):
        self.closed = True
        self._unregister()
        reply(invocation)

    def respond(self, code, results):
        if self.closed:
            return
        self.closed = True
        self.connection.emit_signal(self.sender, self.path, "org.freedesktop.portal.Request", "Response",
                                    GLib.Variant("(ua{sv})", (code, results)))
        self._unregister()

    def _unregister(self):
        if self.registration:
            self.connection.unregister_object(self.registration)
            self.registration = 0


class Session:
    """An org.freedesktop.portal.Session, listed in SESSIONS (path to session)
    until it is closed by its caller or by the portal."""

    INTERFACE = interface("org.freedesktop.portal.Session",
                          method("Close"), signal("Closed", "a{sv} details"), readable("version"))

    def __init__(self, connection, sessions, sender, token=None):
        self.connection, self.sessions, self.sender = connection, sessions, sender
        self.path = f"{PORTAL_PATH}/session/{sender_part(sender)}/{token or 's' + uuid.uuid4().hex}"
        sessions[self.path] = self
        (self.registration,) = serve(connection, self.path, [self.INTERFACE], self._on_close, self._on_property)

    def _on_close(self, connection, sender, path, interface_name, method_name, params, invocation):
        reply(invocation)
        self.close(emit=False)

    def _on_property(self, connection, sender, path, interface_name, name):
        return GLib.Variant("u", 1) if name == "version" else None

    def close(self, emit=True):
        """Ends the session. EMIT: tell the caller (Closed), as when the
        portal ends it rather than the caller."""
        if self.registration:
            self.ended()
            if emit:
                self.connection.emit_signal(self.sender, self.path, "org.freedesktop.portal.Session", "Closed",
                                            GLib.Variant("(a{sv})", ({},)))
            self.connection.unregister_object(self.registration)
            self.registration = 0
        self.sessions.pop(self.path, None)

    def ended(self):
        """Lets go of what the session held; for the kinds that hold something."""
