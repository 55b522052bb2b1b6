#pragma once

#include "platform/KeyInjector.h"

#include <QByteArray>

#include <memory>

class WaylandKeyboardMemory;

// Synthetic keyboard input on wlroots compositors (sway, Hyprland, river, labwc, Wayfire)
// through a virtual keyboard (zwp_virtual_keyboard_manager_v1); each session opens its own
// connection and keyboard.
class WaylandKeyInjector final : public KeyInjector {
public:
    /// Uses the named display, e.g. "wayland-1"; empty: $WAYLAND_DISPLAY.
    explicit WaylandKeyInjector(QByteArray displayName = {});
    ~WaylandKeyInjector() override;

    /// Whether the compositor can be reached and offers a seat and virtual keyboards.
    static bool available(const QByteArray &displayName = {});

private:
    std::unique_ptr<KeySession> open(KeyForwarding forwarding) override;

    QByteArray m_displayName;
    std::shared_ptr<WaylandKeyboardMemory> m_memory;
};
