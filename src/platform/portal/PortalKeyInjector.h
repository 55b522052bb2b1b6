#pragma once

#include "platform/KeyInjector.h"

#include <QByteArray>

#include <memory>

class PortalRemoteDesktop;

// Typing through the desktop's RemoteDesktop portal (GNOME, KDE Plasma): every window gets the
// keys, which join the seat's one keyboard. The keys are planned on the seat's keymap, read
// from the compositor, and sent as key codes with the layout's own Shift and AltGr: what the
// layout lacks cannot be typed, since no keymap of ours reaches the compositor.
class PortalKeyInjector final : public KeyInjector {
public:
    /// displayName: the Wayland display whose seat's keymap is planned on (empty:
    /// $WAYLAND_DISPLAY). The remote desktop must outlive the injector.
    PortalKeyInjector(PortalRemoteDesktop &remote, QByteArray displayName = {});

private:
    /// Without the desktop's consent, asks for it and types nothing: the consent dialog has
    /// the focus meanwhile.
    std::unique_ptr<KeySession> open(KeyForwarding forwarding) override;

    PortalRemoteDesktop &m_remote;
    QByteArray m_displayName;
};
