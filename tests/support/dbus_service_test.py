#!/usr/bin/python3
"""The short interface descriptions the test desktop's services are served
from: they must say what the XML they stand for said. Exits 77 (skipped)
without python3-gi."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    from dbus_service import interface, method, readable, reply, sender_part, signal, failures_answered
    from gi.repository import Gio
except ImportError as error:  # no gi here
    print(f"SKIPPED: {error}", file=sys.stderr)
    sys.exit(77)


def parsed(*members):
    return Gio.DBusNodeInfo.new_for_xml("<node>" + interface("a.b", *members) + "</node>").interfaces[0]


def arguments(args):
    return [(arg.signature, arg.name) for arg in args]


class Invocation:
    """What a handler answers, as Gio.DBusMethodInvocation would carry it."""

    def __init__(self):
        self.value = self.error = None

    def return_value(self, value):
        self.value = value

    def return_dbus_error(self, name, message):
        self.error = (name, message)


class Descriptions(unittest.TestCase):
    def test_a_method_keeps_its_arguments_in_order_and_direction(self):
        info = parsed(method("BindShortcuts", "o session_handle, a(sa{sv}) shortcuts, s parent_window, a{sv} options",
                             "o request_handle"))
        (bind,) = info.methods
        self.assertEqual(bind.name, "BindShortcuts")
        self.assertEqual(arguments(bind.in_args), [("o", "session_handle"), ("a(sa{sv})", "shortcuts"),
                                                   ("s", "parent_window"), ("a{sv}", "options")])
        self.assertEqual(arguments(bind.out_args), [("o", "request_handle")])

    def test_methods_without_arguments_signals_and_properties(self):
        info = parsed(method("Close"), method("Shown", gives="au ids"), signal("Response", "u response, a{sv} results"),
                      readable("version"), readable("name", "s"))
        close, shown = info.methods
        self.assertEqual((arguments(close.in_args), arguments(close.out_args)), ([], []))
        self.assertEqual((arguments(shown.in_args), arguments(shown.out_args)), ([], [("au", "ids")]))
        self.assertEqual(arguments(info.signals[0].args), [("u", "response"), ("a{sv}", "results")])
        self.assertEqual([(p.name, p.signature, p.flags) for p in info.properties],
                         [("version", "u", Gio.DBusPropertyInfoFlags.READABLE),
                          ("name", "s", Gio.DBusPropertyInfoFlags.READABLE)])


class Replies(unittest.TestCase):
    def test_values_go_out_as_one_tuple_and_nothing_as_none(self):
        invocation = Invocation()
        reply(invocation, "ssss", "a", "b", "c", "d")
        self.assertEqual(invocation.value.unpack(), ("a", "b", "c", "d"))
        reply(invocation, "au", [3, 1])
        self.assertEqual(invocation.value.get_type_string(), "(au)")
        reply(invocation)
        self.assertIsNone(invocation.value)

    def test_a_handler_that_raises_answers_with_the_error_and_says_why(self):
        invocation = Invocation()
        heard = []
        with failures_answered(invocation, "org.example.Failed", heard.append):
            raise ValueError("no session /x")
        self.assertEqual(invocation.error, ("org.example.Failed", "no session /x"))
        self.assertEqual(heard, ["ValueError('no session /x')"])
        quiet = Invocation()
        with failures_answered(quiet):
            pass
        self.assertIsNone(quiet.error)

    def test_request_paths_use_the_callers_unique_name(self):
        self.assertEqual(sender_part(":1.42"), "1_42")


if __name__ == "__main__":
    unittest.main()
