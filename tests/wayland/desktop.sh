#!/bin/sh
# A headless KDE Plasma or GNOME session for the tests: KWin's virtual backend or mutter's
# headless one on a private session bus, with the real desktop portal and the desktop's own
# backend for it started on that bus as a session starts them.
#   desktop.sh start STATEFILE kde|gnome  starts one (stopping what STATEFILE names first)
#   desktop.sh stop STATEFILE        stops it, and removes its directory
#   desktop.sh run STATEFILE CMD...  runs CMD in the session, as the session's user
#   desktop.sh focus STATEFILE CRITERIA  nothing to do: both give a new window the focus
#   desktop.sh consent STATEFILE [refuse]  answers the desktop's consent dialog as a person would
#   desktop.sh layouts STATEFILE LIST [ACTIVE]  sets the layouts ("us,de") and the active one;
#                                    exits 2 where the session cannot
#   desktop.sh keys STATEFILE MS CODE...  the user holds these evdev keys MS ms (GNOME)
# STATEFILE holds KEY=VALUE lines as sway.sh writes them, with DESKTOP, DBUS_SESSION_BUS_ADDRESS
# and CONSENT=ask (the first run asks for the desktop's consent) instead of SWAYSOCK. Only
# SKIP=reason when the compositor or the portal is missing.
# Neither compositor runs as root, so root runs it as an unprivileged user of its own.
set -eu
cmd=$1 state=$2
here=$(cd "$(dirname "$0")" && pwd)
get() { sed -n "s/^$1=//p" "$state"; }

if [ "$cmd" = run ]; then
    shift 2
    user=$(get USER) home=$(get HOME)
    for key in XDG_RUNTIME_DIR WAYLAND_DISPLAY DISPLAY XAUTHORITY DBUS_SESSION_BUS_ADDRESS; do
        value=$(get $key)
        [ -z "$value" ] || set -- "$key=$value" "$@"
    done
    set -- env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" LANG=C.UTF-8 \
        XDG_CURRENT_DESKTOP="$(get CURRENT_DESKTOP)" XDG_SESSION_TYPE=wayland \
        XDG_CONFIG_HOME="$home/.config" ${ASAN_OPTIONS+ASAN_OPTIONS="$ASAN_OPTIONS"} "$@"
    [ "$(id -un)" = "$user" ] && exec "$@"
    exec setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups -- "$@"
fi

[ "$cmd" = focus ] && exit 0

if [ "$cmd" = consent ]; then
    # KWin grants a program outside a sandbox at once; GNOME shows its dialog.
    [ "$(get DESKTOP)" = gnome ] || exit 0
    shift 2
    exec "$0" run "$state" timeout 60 /usr/bin/python3 "$(get STAGE)/consent.py" "$@"
fi

if [ "$cmd" = keys ]; then
    shift 2
    exec "$0" run "$state" /usr/bin/python3 "$(get STAGE)/mutter-keys.py" "$@"
fi

if [ "$cmd" = layouts ]; then
    # mutter keeps the us layout until GNOME Shell, which keeps the input sources, sets one.
    if [ "$(get DESKTOP)" = gnome ]; then
        [ "$3" = us ] && [ "${4-0}" = 0 ] && exit 0
        echo "desktop.sh: mutter alone keeps the us layout (GNOME Shell sets the others)" >&2
        exit 2
    fi
    # KWin reads the layouts from kxkbrc when told to on the bus, as System Settings tells it.
    config=$(get HOME)/.config/kxkbrc
    printf '[Layout]\nLayoutList=%s\nUse=true\n' "$3" >"$config"
    chown "$(get USER):" "$config" 2>/dev/null || true
    "$0" run "$state" dbus-send --session --type=signal /Layouts org.kde.keyboard.reloadConfig
    [ -n "${4-}" ] || exit 0
    i=0
    until "$0" run "$state" dbus-send --session --print-reply --dest=org.kde.keyboard /Layouts \
        org.kde.KeyboardLayouts.setLayout uint32:"$4" 2>/dev/null | grep -q 'boolean true'; do
        [ $i -lt 100 ] || { echo "desktop.sh: layout $4 of $3 not set" >&2 && exit 1; }
        sleep 0.1
        i=$((i + 1))
    done
    exit 0
fi

if [ -f "$state" ]; then
    pid=$(get SESSION_PID) stage=$(get STAGE) keyboard=$(get KEYBOARD_PID)
    rm -f "$state"
    [ -z "$keyboard" ] || kill "$keyboard" 2>/dev/null || true
    if [ -n "$pid" ]; then
        # The bus goes with its session; the portals go with their bus.
        pkill -TERM -P "$pid" 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill -9 "$pid" 2>/dev/null || true
    fi
    [ -z "$stage" ] || pkill -KILL -f "$stage/" 2>/dev/null || true
    case $stage in /tmp/keyloom-desktop.*) rm -rf "$stage" ;; esac
fi
[ "$cmd" = start ] || exit 0

desktop=$3
libexec=/usr/lib/x86_64-linux-gnu/libexec
case $desktop in
kde) tools="kwin_wayland $libexec/xdg-desktop-portal-kde" current=KDE ;;
gnome) tools="mutter /usr/libexec/xdg-desktop-portal-gnome /usr/bin/python3" current=GNOME ;;
*) echo "desktop.sh: no desktop $desktop" >&2 && exit 1 ;;
esac
for tool in $tools dbus-run-session dbus-send wl-copy /usr/libexec/xdg-desktop-portal; do
    if ! command -v $tool >/dev/null; then
        echo "SKIP=$tool is not installed (scripts/install-deps.sh)" >"$state"
        exit 0
    fi
done
if [ $desktop = gnome ] && ! /usr/bin/python3 -c "import gi; gi.require_version('Atspi', '2.0')" 2>/dev/null; then
    echo "SKIP=no AT-SPI for Python to answer the consent (scripts/install-deps.sh)" >"$state"
    exit 0
fi
if [ "$(stat -c %a /dev/shm 2>/dev/null)" != 1777 ]; then
    echo "SKIP=no shared memory for the compositor (/dev/shm is not a world-writable tmpfs)" >"$state"
    exit 0
fi
user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
    user=keyloom-test
    id -u $user >/dev/null 2>&1 || useradd -r -m -s /usr/sbin/nologin $user
    # Xwayland's sockets go here; if mutter made it, it would be the test user's alone.
    [ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix
fi
stage=$(mktemp -d /tmp/keyloom-desktop.XXXXXX)
mkdir -m 700 "$stage/run"
mkdir -p "$stage/home/.config" "$stage/portals"
chmod 755 "$stage"
display=keyloom-$desktop
if [ $desktop = kde ]; then
    # Debian's kwin_wayland carries CAP_SYS_RESOURCE, which an unprivileged container refuses
    # to exec; a copy is without it.
    cp "$(command -v kwin_wayland)" "$stage/kwin_wayland"
    compositor="$stage/kwin_wayland --virtual --socket $display --width 1024 --height 768 --no-lockscreen"
    cp /usr/share/xdg-desktop-portal/portals/kde.portal "$stage/portals/"
else
    compositor="mutter --headless --wayland --virtual-monitor 1024x768 --wayland-display $display"
    # The session's user may not reach the source tree: it runs copies from its stage.
    cp "$here/../gnome/consent.py" "$here/../gnome/mutter-keys.py" "$stage/"
    cp /usr/share/xdg-desktop-portal/portals/gnome.portal /usr/share/xdg-desktop-portal/portals/gtk.portal \
        "$stage/portals/"
fi
cat >"$stage/session.sh" <<SESSION
#!/bin/sh
echo "\$DBUS_SESSION_BUS_ADDRESS" >$stage/bus
exec $compositor
SESSION
chmod 755 "$stage/session.sh"
[ "$user" = "$(id -un)" ] || chown -R "$user:" "$stage"
printf 'USER=%s\nHOME=%s\nSTAGE=%s\nXDG_RUNTIME_DIR=%s\nCONSENT=ask\nDESKTOP=%s\nCURRENT_DESKTOP=%s\n' \
    "$user" "$stage/home" "$stage" "$stage/run" $desktop $current >"$state"
# Services the bus starts inherit its environment: the portal backends must find the
# compositor, and the desktop portal only this desktop's backends (the other desktop's, also
# installed here, would serve what this one lacks).
"$0" run "$state" WAYLAND_DISPLAY=$display QT_QPA_PLATFORM=wayland GDK_BACKEND=wayland \
    XDG_DESKTOP_PORTAL_DIR="$stage/portals" dbus-run-session -- "$stage/session.sh" >"$state.log" 2>&1 &
session=$!

fail() {
    echo "the desktop did not start: $1" >&2
    tail -n 30 "$state.log" >&2
    kill $session 2>/dev/null || true
    exit 1
}
i=0
until [ -S "$stage/run/$display" ] && [ -s "$stage/bus" ]; do
    kill -0 $session 2>/dev/null || fail "it exited"
    [ $i -lt 600 ] || fail "no socket after 60 s"
    sleep 0.1
    i=$((i + 1))
done
printf 'SESSION_PID=%s\nWAYLAND_DISPLAY=%s\nDBUS_SESSION_BUS_ADDRESS=%s\n' $session $display \
    "$(cat "$stage/bus")" >>"$state"
# mutter starts Xwayland for the first X client; programs learn its display from the session.
# The clipboard reaches a program without the focus only there: mutter offers no data control.
x11=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$state.log")
auth=$(ls "$stage/run"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
[ -z "$x11" ] || printf 'DISPLAY=%s\nXAUTHORITY=%s\n' $x11 "$auth" >>"$state"
# Ready once the portal, started on demand, offers the keyboard.
until "$0" run "$state" timeout 30 dbus-send --session --print-reply \
    --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop \
    org.freedesktop.DBus.Properties.Get string:org.freedesktop.portal.RemoteDesktop \
    string:AvailableDeviceTypes 2>/dev/null | grep -q 'uint32 [1-7]'; do
    kill -0 $session 2>/dev/null || fail "it exited"
    [ $i -lt 900 ] || fail "no RemoteDesktop portal after 90 s"
    sleep 0.1
    i=$((i + 1))
done
if [ $desktop = gnome ]; then
    # A keyboard on the seat, as a real one would be: without one, clients bind none and the
    # clipboard tools cannot work.
    "$0" keys "$state" 86400000 >>"$state.log" 2>&1 &
    echo "KEYBOARD_PID=$!" >>"$state"
fi
