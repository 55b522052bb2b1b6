#!/usr/bin/env bash
# Runs a command on a fresh Xvfb display of its own: with-xvfb.sh COMMAND [ARGS...]
# Xvfb picks a free display number itself (-displayfd), so parallel tests never collide.
set -euo pipefail

fifo_dir=$(mktemp -d)
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; rm -rf "$fifo_dir"' EXIT
mkfifo "$fifo_dir/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$fifo_dir/display" 2>"$fifo_dir/xvfb.log" &
xvfb_pid=$!
read -r display <"$fifo_dir/display"
export DISPLAY=":$display"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
"$@"
