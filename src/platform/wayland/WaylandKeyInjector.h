#pragma once

#include "platform/KeyInjector.h"

#include <QByteArray>

#include <functional>
#include <memory>

class WaylandKeyboardMemory;
class WindowProgress;

// Synthetic keyboard input on wlroots compositors (sway, Hyprland, river, labwc, Wayfire)
// through a virtual keyboard (zwp_virtual_keyboard_manager_v1); each session opens its own
// connection and keyboard.
class WaylandKeyInjector final : public KeyInjector {
public:
    /// How far the focused window has got, where another server tells (Xwayland's windows).
    using WindowWatch = std::function<std::unique_ptr<WindowProgress>()>;

    /// Uses the named display, e.g. "wayland-1"; empty: $WAYLAND_DISPLAY.
    explicit WaylandKeyInjector(QByteArray displayName = {}, WindowWatch watch = {});
    ~WaylandKeyInjector() override;

    /// Whether the compositor can be reached and offers a seat and virtual keyboards.
    static bool available(const QByteArray &displayName = {});

private:
    std::unique_ptr<KeySession> open(KeyForwarding forwarding) override;

    QByteArray m_displayName;
    WindowWatch m_watch;
    std::shared_ptr<WaylandKeyboardMemory> m_memory;
};
