#pragma once

struct _XDisplay;

// What Keyloom learns of the window that receives its keys.
namespace X11FocusedWindow {

/// The top-level window of the program that has the focus (the one naming its class); None
/// when there is none.
unsigned long clientWindow(_XDisplay *display);

/// Whether the active window (the window manager's, else the input focus) or a window it
/// sits in belongs to a viewer that forwards key codes to a guest.
bool forwardsKeys(_XDisplay *display);

} // namespace X11FocusedWindow
