#pragma once

#include <QByteArray>

#include <optional>

namespace wayland {

struct LockStates {
    bool capsLock = false;
    bool numLock = false;
};

/// The seat's lock states as KWin tells them to a program without the focus (its restricted
/// org_kde_kwin_keystate protocol, granted by the program's desktop entry); nothing where the
/// compositor does not offer it to us or does not answer in time. displayName as for seatKeymap.
std::optional<LockStates> kdeLockStates(const QByteArray &displayName);

} // namespace wayland
