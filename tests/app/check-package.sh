#!/usr/bin/env bash
# Builds the Debian package with CPack and checks what it carries.
# check-package.sh BUILD_DIR
set -euo pipefail

build_dir=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/*.deb)
contents=$(dpkg-deb -c "$deb")
fail=0
for f in ./usr/bin/keyloom ./usr/share/applications/keyloom.desktop \
         ./usr/share/metainfo/org.keyloom.Keyloom.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/keyloom.svg; do
    grep -q " $f\$" <<<"$contents" || { echo "not in the package: $f"; fail=1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libqt6svg6; do
    grep -q "$d" <<<"$depends" || { echo "missing dependency $d in: $depends"; fail=1; }
done
[ "$(dpkg-deb -f "$deb" Package)" = keyloom ] || { echo "wrong package name"; fail=1; }
exit $fail
