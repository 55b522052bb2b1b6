#!/bin/sh
# A headless sway with Xwayland for the tests.
#   sway.sh start STATEFILE       starts one (stopping what STATEFILE names first)
#   sway.sh stop STATEFILE        stops it, and removes its directory
#   sway.sh run STATEFILE CMD...  runs CMD in the session, as the session's user
#   sway.sh focus STATEFILE '[CRITERIA]'  focuses that window; returns once sway says it has it
# STATEFILE holds KEY=VALUE lines: WAYLAND_DISPLAY XDG_RUNTIME_DIR DISPLAY SWAYSOCK SWAY_PID
# KEYBOARD_PID, HOME and USER (who runs sway and every client) and STAGE (a directory that
# user can read and write: copy programs there, let receivers write there). Only SKIP=reason
# when sway or its clients are missing.
# sway refuses to run as root, so root runs it as an unprivileged user of its own.
set -eu
cmd=$1 state=$2
get() { sed -n "s/^$1=//p" "$state"; }

if [ "$cmd" = run ]; then
    shift 2
    user=$(get USER)
    # Only what is known yet: sway takes an empty SWAYSOCK for a path.
    for key in XDG_RUNTIME_DIR WAYLAND_DISPLAY DISPLAY SWAYSOCK; do
        value=$(get $key)
        [ -z "$value" ] || set -- "$key=$value" "$@"
    done
    set -- env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$(get HOME)" LANG=C.UTF-8 \
        ${ASAN_OPTIONS+ASAN_OPTIONS="$ASAN_OPTIONS"} \
        "$@"
    [ "$(id -un)" = "$user" ] && exec "$@"
    # setpriv execs in place (runuser would stay as a parent that turns a TERM into a KILL
    # two seconds later), so callers signal the program itself.
    exec setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups -- "$@"
fi

if [ "$cmd" = focus ]; then
    i=0
    until "$0" run "$state" timeout 10 swaymsg "$3 focus" >/dev/null 2>&1 &&
        "$0" run "$state" timeout 10 swaymsg "${3%]} con_id=__focused__] nop" >/dev/null 2>&1; do
        [ $i -lt 600 ] || { echo "sway.sh: $3 did not get the focus" >&2 && exit 1; }
        sleep 0.1
        i=$((i + 1))
    done
    exit 0
fi

if [ -f "$state" ]; then
    pid=$(get SWAY_PID) keyboard=$(get KEYBOARD_PID) stage=$(get STAGE)
    rm -f "$state"
    [ -z "$keyboard" ] || kill "$keyboard" 2>/dev/null || true
    if [ -n "$pid" ] && kill "$pid" 2>/dev/null; then
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill -9 "$pid" 2>/dev/null || true
    fi
    case $stage in /tmp/keyloom-sway.*) rm -rf "$stage" ;; esac
fi
[ "$cmd" = start ] || exit 0

for tool in sway swaymsg foot wtype Xwayland xdpyinfo; do
    if ! command -v $tool >/dev/null; then
        echo "SKIP=$tool is not installed (scripts/install-deps.sh)" >"$state"
        exit 0
    fi
done
# The compositor shares buffers and keymaps through POSIX shared memory.
if [ "$(stat -c %a /dev/shm 2>/dev/null)" != 1777 ]; then
    echo "SKIP=no shared memory for the compositor (/dev/shm is not a world-writable tmpfs)" >"$state"
    exit 0
fi
user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
    user=keyloom-test
    id -u $user >/dev/null 2>&1 || useradd -r -m -s /usr/sbin/nologin $user
    # Xwayland's sockets go here; if sway made it, it would be the test user's alone.
    [ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix
fi
home=$(getent passwd "$user" | cut -d: -f6)
stage=$(mktemp -d /tmp/keyloom-sway.XXXXXX)
mkdir -m 700 "$stage/run"
chmod 755 "$stage"
[ "$user" = "$(id -un)" ] || chown "$user:" "$stage" "$stage/run"
# xwayland force: the X server starts with sway, not on the first X client.
cat >"$stage/config" <<EOF
xwayland force
output HEADLESS-1 resolution 1280x800
exec sh -c 'echo "\$DISPLAY" >$stage/display'
EOF
printf 'USER=%s\nHOME=%s\nSTAGE=%s\nXDG_RUNTIME_DIR=%s\n' "$user" "$home" "$stage" "$stage/run" \
    >"$state"
"$0" run "$state" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$stage/config" >"$state.log" 2>&1 &
sway=$!

fail() {
    echo "sway did not start: $1" >&2
    tail -n 30 "$state.log" >&2
    kill $sway $(get KEYBOARD_PID) 2>/dev/null || true
    exit 1
}
# Ready once both sockets answer and Xwayland takes clients; sway names the sockets itself.
i=0
until sock=$(ls "$stage/run"/sway-ipc.*.sock 2>/dev/null) &&
    wl=$(find "$stage/run" -maxdepth 1 -type s -name 'wayland-*' -printf '%f\n') && [ -n "$wl" ] &&
    [ -s "$stage/display" ] &&
    "$0" run "$state" timeout 10 swaymsg -s "$sock" -t get_version >/dev/null 2>&1; do
    kill -0 $sway 2>/dev/null || fail "it exited"
    [ $i -lt 600 ] || fail "no sockets after 60 s"
    sleep 0.1
    i=$((i + 1))
done
printf 'SWAY_PID=%s\nSWAYSOCK=%s\nWAYLAND_DISPLAY=%s\nDISPLAY=%s\n' $sway "$sock" "$wl" \
    "$(cat "$stage/display")" >>"$state"
# An idle virtual keyboard stands in for a real one: on a seat without a keyboard each
# typist's device makes clients bind a new wl_keyboard, and keys sent before that are lost.
# It sleeps without reading its socket, so it outlives sway unless stopped.
"$0" run "$state" wtype -s 86400000 >>"$state.log" 2>&1 &
echo "KEYBOARD_PID=$!" >>"$state"
until "$0" run "$state" timeout 10 xdpyinfo >/dev/null 2>&1 &&
    "$0" run "$state" timeout 10 swaymsg -t get_inputs | grep -q virtual_keyboard; do
    [ $i -lt 600 ] || fail "no Xwayland or idle keyboard after 60 s"
    sleep 0.1
    i=$((i + 1))
done
# The tests run as root and talk to Xwayland's windows themselves.
[ "$user" = "$(id -un)" ] || "$0" run "$state" xhost +si:localuser:"$(id -un)" >>"$state.log" 2>&1
