#pragma once

#include <QByteArray>

#include <optional>
#include <string>

struct wl_display;
struct wl_seat;

namespace wayland {

/// The keymap text the seat's keyboard announces to a new wl_keyboard; nothing when the seat
/// has no keyboard or the compositor does not answer in time.
std::optional<std::string> seatKeymap(wl_display *display, wl_seat *seat);

struct LockStates {
    bool capsLock = false;
    bool numLock = false;
};

struct SeatState {
    std::optional<std::string> keymap;
    /// As KWin tells them to a program without the focus (its restricted org_kde_kwin_keystate
    /// protocol, granted by the program's desktop entry); nothing elsewhere.
    std::optional<LockStates> locks;
};

/// The keymap and, where told, the locks, on a connection of its own to the named display
/// (empty: $WAYLAND_DISPLAY), for a program that sends its keys some other way and only plans
/// on the seat's layout.
SeatState seatState(const QByteArray &displayName);

} // namespace wayland
