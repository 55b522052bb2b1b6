#!/usr/bin/env bash
# Renders the settings window under Xvfb to PNG files in docs/ (clipboard mode,
# list mode with snippets, recording a shortcut, permission missing, and a dark
# desktop theme, and in German) at 420x780.
#   scripts/screenshot-settings.sh [build dir]   (default: build/asan)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/asan}
tool="$build/tests/qml/keyloom_settings_shot"
if [ ! -x "$tool" ]; then
    echo "build $tool first: cmake --build $build --target keyloom_settings_shot" >&2
    exit 1
fi

# A display of our own, so the run never touches the user's session.
display=:$(( 90 + RANDOM % 100 ))
while [ -e "/tmp/.X11-unix/X${display#:}" ]; do display=:$(( ${display#:} + 1 )); done
Xvfb "$display" -screen 0 1024x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

export ASAN_OPTIONS=detect_leaks=0
DISPLAY=$display QT_QPA_PLATFORM=xcb "$tool" docs
# The same window under a dark desktop theme, whose palette Qt takes from GTK.
DISPLAY=$display QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark "$tool" --dark docs
# In German, as a German session shows it.
DISPLAY=$display QT_QPA_PLATFORM=xcb "$tool" --translation "$build/src/app/keyloom_de.qm" docs
