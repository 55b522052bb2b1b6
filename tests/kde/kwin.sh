#!/bin/sh
# A headless KDE Plasma session for the tests: KWin's virtual backend on a private session bus,
# with the real desktop portal and its KDE backend started on that bus as a session starts them.
#   kwin.sh start STATEFILE       starts one (stopping what STATEFILE names first)
#   kwin.sh stop STATEFILE        stops it, and removes its directory
#   kwin.sh run STATEFILE CMD...  runs CMD in the session, as the session's user
#   kwin.sh focus STATEFILE CRITERIA  nothing to do: KWin gives a new window the focus
#   kwin.sh layouts STATEFILE LIST [ACTIVE]  sets the layouts ("us,de") and the active one
# STATEFILE holds KEY=VALUE lines as sway.sh writes them, with DBUS_SESSION_BUS_ADDRESS and
# CONSENT=ask (the first run asks for the desktop's consent) instead of SWAYSOCK. Only
# SKIP=reason when KWin or the portal is missing.
# KWin refuses to run as root, so root runs it as an unprivileged user of its own.
set -eu
cmd=$1 state=$2
get() { sed -n "s/^$1=//p" "$state"; }

if [ "$cmd" = run ]; then
    shift 2
    user=$(get USER)
    for key in XDG_RUNTIME_DIR WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS; do
        value=$(get $key)
        [ -z "$value" ] || set -- "$key=$value" "$@"
    done
    set -- env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$(get HOME)" LANG=C.UTF-8 \
        XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland XDG_CONFIG_HOME="$(get HOME)/.config" \
        ${ASAN_OPTIONS+ASAN_OPTIONS="$ASAN_OPTIONS"} "$@"
    [ "$(id -un)" = "$user" ] && exec "$@"
    exec setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups -- "$@"
fi

[ "$cmd" = focus ] && exit 0

if [ "$cmd" = layouts ]; then
    # KWin reads the layouts from kxkbrc when told to on the bus, as System Settings tells it.
    config=$(get HOME)/.config/kxkbrc
    printf '[Layout]\nLayoutList=%s\nUse=true\n' "$3" >"$config"
    chown "$(get USER):" "$config" 2>/dev/null || true
    "$0" run "$state" dbus-send --session --type=signal /Layouts org.kde.keyboard.reloadConfig
    [ -n "${4-}" ] || exit 0
    i=0
    until "$0" run "$state" dbus-send --session --print-reply --dest=org.kde.keyboard /Layouts \
        org.kde.KeyboardLayouts.setLayout uint32:"$4" 2>/dev/null | grep -q 'boolean true'; do
        [ $i -lt 100 ] || { echo "kwin.sh: layout $4 of $3 not set" >&2 && exit 1; }
        sleep 0.1
        i=$((i + 1))
    done
    exit 0
fi

if [ -f "$state" ]; then
    pid=$(get SESSION_PID) stage=$(get STAGE)
    rm -f "$state"
    if [ -n "$pid" ]; then
        # The bus goes with its session; the portals go with their bus.
        pkill -TERM -P "$pid" 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill -9 "$pid" 2>/dev/null || true
    fi
    [ -z "$stage" ] || pkill -KILL -f "$stage/" 2>/dev/null || true
    case $stage in /tmp/keyloom-kde.*) rm -rf "$stage" ;; esac
fi
[ "$cmd" = start ] || exit 0

for tool in kwin_wayland dbus-run-session dbus-send wl-copy foot /usr/libexec/xdg-desktop-portal \
    /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde; do
    if ! command -v $tool >/dev/null; then
        echo "SKIP=$tool is not installed (scripts/install-deps.sh)" >"$state"
        exit 0
    fi
done
if [ "$(stat -c %a /dev/shm 2>/dev/null)" != 1777 ]; then
    echo "SKIP=no shared memory for the compositor (/dev/shm is not a world-writable tmpfs)" >"$state"
    exit 0
fi
user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
    user=keyloom-test
    id -u $user >/dev/null 2>&1 || useradd -r -m -s /usr/sbin/nologin $user
fi
stage=$(mktemp -d /tmp/keyloom-kde.XXXXXX)
mkdir -m 700 "$stage/run"
mkdir -p "$stage/home/.config"
chmod 755 "$stage"
# Debian's kwin_wayland carries CAP_SYS_RESOURCE, which an unprivileged container refuses to
# exec; a copy is without it.
cp "$(command -v kwin_wayland)" "$stage/kwin_wayland"
cat >"$stage/session.sh" <<SESSION
#!/bin/sh
echo "\$DBUS_SESSION_BUS_ADDRESS" >$stage/bus
exec $stage/kwin_wayland --virtual --socket keyloom-kde --width 1024 --height 768 --no-lockscreen
SESSION
chmod 755 "$stage/session.sh"
[ "$user" = "$(id -un)" ] || chown -R "$user:" "$stage"
printf 'USER=%s\nHOME=%s\nSTAGE=%s\nXDG_RUNTIME_DIR=%s\nCONSENT=ask\n' "$user" "$stage/home" \
    "$stage" "$stage/run" >"$state"
# Services the bus starts inherit its environment: the KDE portal must find the compositor.
"$0" run "$state" WAYLAND_DISPLAY=keyloom-kde QT_QPA_PLATFORM=wayland \
    dbus-run-session -- "$stage/session.sh" >"$state.log" 2>&1 &
session=$!

fail() {
    echo "KWin did not start: $1" >&2
    tail -n 30 "$state.log" >&2
    kill $session 2>/dev/null || true
    exit 1
}
i=0
until [ -S "$stage/run/keyloom-kde" ] && [ -s "$stage/bus" ]; do
    kill -0 $session 2>/dev/null || fail "it exited"
    [ $i -lt 600 ] || fail "no socket after 60 s"
    sleep 0.1
    i=$((i + 1))
done
printf 'SESSION_PID=%s\nWAYLAND_DISPLAY=keyloom-kde\nDBUS_SESSION_BUS_ADDRESS=%s\n' $session \
    "$(cat "$stage/bus")" >>"$state"
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
