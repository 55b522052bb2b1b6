#!/usr/bin/env python3
"""Answers GNOME's remote-desktop consent dialog as a person would, through the accessibility
bus: ticks "Allow remote interaction", then presses "Share" once it can be pressed; with the
argument "refuse", presses "Cancel"."""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def find(node, role, name):
    try:
        if node.get_role_name() == role and node.get_name().startswith(name):
            return node
        for i in range(node.get_child_count()):
            found = find(node.get_child_at_index(i), role, name)
            if found:
                return found
    except gi.repository.GLib.Error:
        pass  # a window that went away meanwhile
    return None


def has(node, state):
    return node.get_state_set().contains(state)


refuse = sys.argv[1:] == ["refuse"]
deadline = time.monotonic() + 30
ticked = 0.0  # a tick shows a moment later: not ticked again before then
while time.monotonic() < deadline:
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        box = find(app, "check box", "Allow remote interaction")
        share = find(app, "push button", "_Share")
        if not box or not share:
            continue
        if refuse:
            find(app, "push button", "_Cancel").do_action(0)
            sys.exit(0)
        if not has(box, Atspi.StateType.CHECKED):
            if time.monotonic() - ticked > 2:
                box.do_action(0)
                ticked = time.monotonic()
        elif has(share, Atspi.StateType.SENSITIVE):
            share.do_action(0)
            sys.exit(0)
    time.sleep(0.1)
sys.exit("no consent dialog to answer")
