#!/bin/sh
# Starts or stops a headless sway for the tests: headless-sway.sh start|stop STATEFILE
# STATEFILE gets three lines: the compositor's socket (an absolute path), its PID and its
# directory. Start stops what the file names, and stop removes the directory. sway refuses root: as root it runs as the user keyloom-test.
set -eu
state=$2
if [ -f "$state" ]; then
    pid=$(sed -n 2p "$state") dir=$(sed -n 3p "$state")
    rm -f "$state"
    if [ -n "$pid" ] && kill "$pid" 2>/dev/null; then
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill -9 "$pid" 2>/dev/null || true
    fi
    case $dir in /tmp/keyloom-sway.*) rm -rf "$dir" ;; esac
fi
[ "$1" = start ] || exit 0
dir=$(mktemp -d /tmp/keyloom-sway.XXXXXX)
chmod 0755 "$dir"
mkdir -m 0700 "$dir/run"
printf 'output HEADLESS-1 resolution 1024x768\ndefault_border none\nxwayland disable\n' >"$dir/config"
chmod 0644 "$dir/config"
run=""
if [ "$(id -u)" -eq 0 ]; then
    id keyloom-test >/dev/null 2>&1 || useradd --system --no-create-home keyloom-test
    chown keyloom-test "$dir/run"
    run="runuser -u keyloom-test --"
fi
$run env -i PATH=/usr/bin:/bin HOME="$dir" XDG_RUNTIME_DIR="$dir/run" WLR_BACKENDS=headless \
    WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 sway -c "$dir/config" >"$state.log" 2>&1 &
pid=$!
i=0
while [ -z "$(find "$dir/run" -maxdepth 1 -name 'wayland-*' -type s 2>/dev/null)" ]; do
    if ! kill -0 "$pid" 2>/dev/null || [ $i -ge 300 ]; then
        echo "sway did not start" >&2
        cat "$state.log" >&2
        kill "$pid" 2>/dev/null || true
        exit 1
    fi
    sleep 0.1
    i=$((i + 1))
done
printf '%s\n%s\n%s\n' "$(find "$dir/run" -maxdepth 1 -name 'wayland-*' -type s | head -n1)" "$pid" \
    "$dir" >"$state"
