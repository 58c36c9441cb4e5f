#!/usr/bin/python3
"""Which monitor the test portal's ScreenCast shares: the one a test names by
connector or index, else the first. Exits 77 (skipped) without python3-gi."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    from screencast import choose_monitor
except ImportError as error:  # no gi here
    print(f"SKIPPED: {error}", file=sys.stderr)
    sys.exit(77)

MONITORS = [("Meta-0", "first"), ("Meta-1", "second")]


class MonitorChoice(unittest.TestCase):
    def test_nothing_named_is_the_first(self):
        self.assertEqual(choose_monitor(MONITORS, ""), MONITORS[0])
        self.assertEqual(choose_monitor(MONITORS, None), MONITORS[0])
        self.assertEqual(choose_monitor(MONITORS, "  "), MONITORS[0])

    def test_a_connector_or_an_index(self):
        self.assertEqual(choose_monitor(MONITORS, "Meta-1"), MONITORS[1])
        self.assertEqual(choose_monitor(MONITORS, " Meta-1\n"), MONITORS[1])
        self.assertEqual(choose_monitor(MONITORS, "1"), MONITORS[1])
        self.assertEqual(choose_monitor(MONITORS, "0"), MONITORS[0])

    def test_a_connector_named_like_an_index_wins(self):
        monitors = [("1", "a"), ("0", "b")]
        self.assertEqual(choose_monitor(monitors, "1"), monitors[0])

    def test_a_name_of_no_monitor_is_none_not_another(self):
        self.assertIsNone(choose_monitor(MONITORS, "Meta-2"))
        self.assertIsNone(choose_monitor(MONITORS, "2"))
        self.assertIsNone(choose_monitor(MONITORS, "-1"))
        self.assertIsNone(choose_monitor([], ""))


if __name__ == "__main__":
    unittest.main()
