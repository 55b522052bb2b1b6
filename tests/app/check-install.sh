#!/usr/bin/env bash
# Installs the build into a scratch root and validates the desktop integration files.
# check-install.sh BUILD_DIR
set -euo pipefail

build_dir=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR="$root" cmake --install "$build_dir" --prefix /usr >/dev/null
share="$root/usr/share"

fail=0
for f in usr/bin/keyloom \
         usr/share/applications/keyloom.desktop \
         usr/share/metainfo/org.keyloom.Keyloom.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/keyloom.svg; do
    if [ ! -e "$root/$f" ]; then
        echo "missing after install: /$f"
        fail=1
    fi
done
[ -x "$root/usr/bin/keyloom" ] || { echo "/usr/bin/keyloom is not executable"; fail=1; }

desktop-file-validate "$share/applications/keyloom.desktop" || fail=1
grep -qx 'Categories=Utility;' "$share/applications/keyloom.desktop" || { echo "not in Utility"; fail=1; }
grep -qx 'Terminal=false' "$share/applications/keyloom.desktop" || { echo "runs in a terminal"; fail=1; }
appstreamcli validate --no-net "$share/metainfo/org.keyloom.Keyloom.metainfo.xml" || fail=1

exit $fail
