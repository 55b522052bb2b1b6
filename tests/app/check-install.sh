#!/usr/bin/env bash
# Packs the build's install as a Debian package: it carries the program and valid desktop
# files, and names its Qt libraries. check-install.sh BUILD_DIR
set -euo pipefail
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack --config "$1/CPackConfig.cmake" -G DEB -B "$out" >"$out/log" 2>&1 || { cat "$out/log"; exit 1; }
deb=$(ls "$out"/*.deb)
dpkg-deb -x "$deb" "$out/root"
cd "$out/root/usr"
fail=0
[ -x bin/keyloom ] || { echo "/usr/bin/keyloom is missing or not executable"; fail=1; }
# The settings window, loaded from beside the program's libraries on its first opening.
[ -s lib/keyloom/keyloom-settings.so ] || { echo "the settings module is missing"; fail=1; }
[ -s share/icons/hicolor/scalable/apps/keyloom.svg ] || { echo "the icon is missing"; fail=1; }
# Both fail on a missing file too.
desktop-file-validate share/applications/keyloom.desktop || fail=1
grep -q "^Name\[de\]=" share/applications/keyloom.desktop || { echo "the desktop entry is not translated"; fail=1; }
# KWin grants the lock states by the entry whose Exec is the program's own path.
grep -qx 'Exec=/usr/bin/keyloom' share/applications/keyloom.desktop ||
    { echo "the desktop entry does not start /usr/bin/keyloom"; fail=1; }
appstreamcli validate --no-net share/metainfo/org.keyloom.Keyloom.metainfo.xml || fail=1
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libqt6svg6 libqt6quick6; do grep -q "$d" <<<"$depends" || { echo "no $d in: $depends"; fail=1; }; done
exit $fail
