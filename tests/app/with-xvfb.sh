#!/usr/bin/env bash
# Runs a command on a fresh Xvfb display of its own: with-xvfb.sh COMMAND [ARGS...]
# Xvfb picks a free display number itself (-displayfd), so parallel tests never collide.
set -euo pipefail
dir=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$dir"' EXIT
mkfifo "$dir/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
pid=$!
read -r display <"$dir/display"
DISPLAY=":$display" QT_QPA_PLATFORM=xcb WAYLAND_DISPLAY= "$@"
