#!/bin/sh
# Starts or stops an Xvfb for the tests: xvfb.sh start|stop STATEFILE [Xvfb options...]
# STATEFILE gets two lines: the display name and the PID. Start stops what the file names.
set -eu
state=$2
if [ -f "$state" ]; then
    pid=$(sed -n 2p "$state")
    rm -f "$state"
    if [ -n "$pid" ] && kill "$pid" 2>/dev/null; then
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        kill -9 "$pid" 2>/dev/null || true
    fi
fi
[ "$1" = start ] || exit 0
shift 2
numfile=$(mktemp)
# -displayfd picks a free display and writes it once the server is ready; -noreset keeps
# keymap changes when the last client leaves.
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 "$@" 3>"$numfile" \
    >"$state.log" 2>&1 &
pid=$!
i=0
while [ ! -s "$numfile" ]; do
    if ! kill -0 "$pid" 2>/dev/null || [ $i -ge 300 ]; then
        echo "Xvfb did not start" >&2
        cat "$state.log" >&2
        kill "$pid" 2>/dev/null || true
        exit 1
    fi
    sleep 0.1
    i=$((i + 1))
done
printf ':%s\n%s\n' "$(head -n1 "$numfile" | tr -d '\n')" "$pid" >"$state"
rm -f "$numfile"
