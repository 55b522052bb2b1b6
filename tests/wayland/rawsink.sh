#!/bin/sh
# Run in a terminal: appends every byte typed to $1, as it comes. A canonical tty would cut
# lines at 4,095 bytes and act on control characters; raw mode passes them (Return is CR).
# $1.ready appears once raw mode is on; earlier keys would be echoed and edited.
stty raw -echo || exit 1
: >"$1.ready"
exec cat >"$1"
