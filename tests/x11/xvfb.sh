#!/bin/sh
# Starts or stops an Xvfb for the x11 tests.
#   xvfb.sh start STATEFILE [Xvfb options...]   picks a free display, waits until it accepts clients
#   xvfb.sh stop STATEFILE                      stops that server by its PID
# STATEFILE gets two lines: the display name and the PID.
set -eu
cmd=$1
state=$2
shift 2

stop() {
    [ -f "$state" ] || return 0
    pid=$(sed -n 2p "$state")
    rm -f "$state"
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || return 0
    # Wait for it to go, with a deadline; then insist.
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    kill -9 "$pid" 2>/dev/null || true
}

case $cmd in
start)
    stop
    numfile=$(mktemp)
    # -displayfd picks a free display number and writes it once the server is ready.
    # -noreset keeps keymap changes when the last client disconnects.
    Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 "$@" 3>"$numfile" \
        >"$state.log" 2>&1 &
    pid=$!
    i=0
    while [ ! -s "$numfile" ]; do
        if ! kill -0 "$pid" 2>/dev/null || [ $i -ge 300 ]; then
            echo "Xvfb did not start" >&2
            cat "$state.log" >&2
            kill "$pid" 2>/dev/null || true
            rm -f "$numfile"
            exit 1
        fi
        sleep 0.1
        i=$((i + 1))
    done
    printf ':%s\n%s\n' "$(head -n1 "$numfile" | tr -d '\n')" "$pid" >"$state"
    rm -f "$numfile"
    ;;
stop)
    stop
    ;;
*)
    echo "usage: $0 start|stop STATEFILE [Xvfb options...]" >&2
    exit 2
    ;;
esac
