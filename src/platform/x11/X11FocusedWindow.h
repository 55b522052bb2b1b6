#pragma once

struct _XDisplay;

// What Keyloom learns of the window that receives its keys.
namespace X11FocusedWindow {

/// Whether the active window (the window manager's, else the input focus) or a window it
/// sits in belongs to a viewer that forwards key codes to a guest.
bool forwardsKeys(_XDisplay *display);

} // namespace X11FocusedWindow
