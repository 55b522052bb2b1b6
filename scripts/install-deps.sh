#!/usr/bin/env bash
# Installs what Keyloom needs to build, run and test on Debian 12. Idempotent.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config git
    # packaging: CPack's shared-library dependency scan runs file(1)
    file
    # fuzzing: clang with libFuzzer and its sanitizer runtimes
    clang libclang-rt-14-dev
    # Qt 6
    qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
    qt6-svg-dev qt6-l10n-tools qt6-tools-dev qt6-tools-dev-tools
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
    qml6-module-qtquick-templates qml6-module-qtquick-window qml6-module-qtqml-workerscript
    qml6-module-qttest qml6-module-qtquick-dialogs
    # X11
    libx11-dev libx11-xcb-dev libxtst-dev libxi-dev libxkbcommon-dev libxkbcommon-x11-dev libxcb1-dev
    libxkbfile-dev
    # running and testing under a real X server
    xvfb xauth x11-utils x11-xkb-utils xkb-data
    # application shell: clipboard timestamps (Qt's platform interface), end-to-end
    # drivers, desktop-file and AppStream validation, a tray host for screenshots
    qt6-base-private-dev xdotool xclip desktop-file-utils appstream dpkg-dev trayer imagemagick
    x11-xserver-utils
    # the Unicode Consortium's grapheme cluster test cases
    unicode-data
    # settings window: key events in its tests (Qt's platform interface, above), screenshots
    # under a dark GTK theme, the memory script's close request
    qt6-gtk-platformtheme python3
    # Wayland: the virtual-keyboard client (scanner, headers), Qt's Wayland platform, the
    # portal's D-Bus, and for the tests a headless sway with foot, Xwayland, wtype and wl-copy
    libwayland-dev libwayland-bin qt6-wayland qt6-wayland-dev qt6-base-private-dev
    sway foot xwayland wtype wl-clipboard dbus-daemon
    # KDE Plasma on Wayland: a headless KWin with the real desktop portal and its KDE backend
    # (which needs Qt 5's Wayland platform) for the tests
    kwin-wayland xdg-desktop-portal xdg-desktop-portal-kde qtwayland5
    # GNOME: its input-sources settings (GIO); for the tests a headless mutter with the
    # desktop portal's GNOME backend, and Python's AT-SPI to answer its consent dialog
    libglib2.0-dev gsettings-desktop-schemas
    # KDE: KWin's protocol for the lock states
    plasma-wayland-protocols
    mutter xdg-desktop-portal-gnome at-spi2-core python3-gi gir1.2-atspi-2.0
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
