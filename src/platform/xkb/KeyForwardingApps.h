#pragma once

#include <string_view>

// Viewers known to forward key codes to a guest (VM consoles, remote desktops), by the
// names a window gives of its program: X's WM_CLASS instance and class, a Wayland app id.
// Case does not matter.
bool isKeyForwardingApp(std::string_view name);
