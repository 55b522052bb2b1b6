#!/usr/bin/env bash
# Measures Keyloom's resident memory (VmRSS) around the settings window's life, under
# Xvfb with a tray host: idle before the first opening, with the window open, after
# closing it, and after several more openings.
#   scripts/measure-settings-memory.sh [build dir]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
app="$build/src/app/keyloom"
[ -x "$app" ] || { echo "build $app first" >&2; exit 1; }

display=:$(( 90 + RANDOM % 100 ))
while [ -e "/tmp/.X11-unix/X${display#:}" ]; do display=:$(( ${display#:} + 1 )); done
scratch=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x900x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display HOME=$scratch XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/run
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
export ASAN_OPTIONS=detect_leaks=0

# Without a tray the application would open its settings window at start.
trayer --edge top --align right --widthtype pixel --width 100 --height 24 >/dev/null 2>&1 &
pids+=($!)
sleep 1

"$app" >/dev/null 2>&1 &
keyloom=$!
pids+=($keyloom)

rss() { awk '/^VmRSS/ {printf "%6d kB", $2} /^RssAnon/ {printf " (anonymous %6d kB", $2} /^RssFile/ {printf ", files %6d kB)", $2}' "/proc/$keyloom/status"; }

# Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW).
close_settings() {
    local win
    win=$(xdotool search --name '^Keyloom Settings$' | head -1)
    python3 - "$win" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
d = x.XOpenDisplay(None)
ev = Event()
ev.xclient.type = 33  # ClientMessage
ev.xclient.window = int(sys.argv[1])
ev.xclient.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
ev.xclient.format = 32
ev.xclient.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, int(sys.argv[1]), 0, 0, ctypes.byref(ev))
x.XFlush(d)
x.XCloseDisplay(d)
PY
}

open_settings() {
    # A second start asks the running one to open its settings window.
    "$app" >/dev/null 2>&1
    for _ in $(seq 50); do xdotool search --onlyvisible --name '^Keyloom Settings$' >/dev/null && break; sleep 0.1; done
    sleep 2
}

sleep 3
echo "idle, before first open:  $(rss)"
open_settings
echo "settings window open:     $(rss)"
close_settings
sleep 2
echo "after close:              $(rss)"
for _ in 1 2 3 4 5; do open_settings; close_settings; sleep 1; done
sleep 1
echo "after 5 more open/close:  $(rss)"
