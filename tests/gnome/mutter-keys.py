#!/usr/bin/env python3
"""Keys pressed on mutter's seat as a person would press them, through mutter's own remote
desktop interface (which asks no one): mutter-keys.py HOLD_MS KEYCODE... presses the evdev
key codes in order, holds them HOLD_MS milliseconds and lets them go in reverse order."""
import sys
import time

from gi.repository import Gio, GLib

hold_ms, codes = int(sys.argv[1]), [int(c) for c in sys.argv[2:]]
bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(path, interface, method, args=None, reply="()"):
    return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, interface, method, args,
                         GLib.VariantType(reply), 0, 10000, None).unpack()


session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
               "CreateSession", reply="(o)")[0]
iface = "org.gnome.Mutter.RemoteDesktop.Session"
call(session, iface, "Start")
# mutter drops the first event of a new device: a lone Ctrl tap goes first.
for state in (True, False):
    call(session, iface, "NotifyKeyboardKeycode", GLib.Variant("(ub)", (29, state)))
for code in codes:
    call(session, iface, "NotifyKeyboardKeycode", GLib.Variant("(ub)", (code, True)))
print("down", flush=True)
time.sleep(hold_ms / 1000)
for code in reversed(codes):
    call(session, iface, "NotifyKeyboardKeycode", GLib.Variant("(ub)", (code, False)))
# The device goes with the session: let the last release reach the seat first.
time.sleep(0.5)
call(session, iface, "Stop")
