#!/usr/bin/env bash
# Renders the tray menu under Xvfb with a tray host and saves it as docs/tray-menu.png.
#   scripts/screenshot-tray.sh [path/to/keyloom]   (default: build/debug/src/app/keyloom)
# Needs Xvfb, trayer, xdotool, x11-utils and ImageMagick (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

keyloom=$(realpath "${1:-build/debug/src/app/keyloom}")
out=docs/tray-menu.png
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A private X server; -displayfd picks a free display number.
Xvfb -displayfd 3 -screen 0 640x400x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
# A plain grey desktop behind the menu.
xsetroot -solid '#5e6a75' 2>/dev/null || true

trayer --edge top --align right --widthtype pixel --width 120 --height 30 \
    --transparent true --alpha 0 --tint 0x2e3440 >/dev/null 2>&1 &
pids+=($!)

# List mode with three snippets, so the menu shows the counter and the preview.
mkdir -p "$work/config/keyloom" "$work/runtime"
chmod 700 "$work/runtime"
cat >"$work/config/keyloom/keyloom.conf" <<'CONF'
[General]
typingMode=playlist
currentSnippetIndex=1
snippets="@ByteArray([{\"id\":\"6F1C6D0E-3B7A-4C1E-9E7B-2A4D8C1F0A01\",\"text\":\"Good morning,\"},{\"id\":\"6F1C6D0E-3B7A-4C1E-9E7B-2A4D8C1F0A02\",\"text\":\"Thank you for your message. I will get back to you before the end of the week.\"},{\"id\":\"6F1C6D0E-3B7A-4C1E-9E7B-2A4D8C1F0A03\",\"text\":\"Kind regards\"}])"
CONF

# Wait for the tray host, so Keyloom shows its tray item rather than its settings window.
for _ in $(seq 100); do xwininfo -root -tree 2>/dev/null | grep -q '"panel"' && break; sleep 0.1; done
sleep 1

XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb \
    "$keyloom" >/dev/null 2>&1 &
pids+=($!)

# The tray item: Keyloom's window embedded in the tray (indented in the tree).
icon=""
for _ in $(seq 200); do
    icon=$(xwininfo -root -tree 2>/dev/null | grep -E '^ {6,}0x[0-9a-f]+ .*\("keyloom" "keyloom"\)' \
        | head -n1 | awk '{print $1}' || true)
    [ -n "$icon" ] && break
    sleep 0.1
done
[ -n "$icon" ] || { echo "the tray item did not appear" >&2; exit 1; }

eval "$(xdotool getwindowgeometry --shell "$icon")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
# Wait until the menu is on screen and drawn.
for _ in $(seq 100); do
    xwininfo -root -children 2>/dev/null | grep -q '"Keyloom": ("keyloom" "keyloom")' && break
    sleep 0.1
done
sleep 1
xdotool mousemove 10 400

mkdir -p docs
import -window root "$work/full.png"
# The right-hand part of the screen: the tray and the menu below it.
convert "$work/full.png" -crop 400x200+240+0 +repage "$out"
echo "wrote $out"
