#pragma once

#include <string>

struct _XDisplay;

// What Keyloom learns of the window that receives its keys.
namespace X11FocusedWindow {

/// The top-level window of the program that has the focus (the one naming its class), and
/// the names it gives; a window of 0 when there is none.
struct Program {
    unsigned long window = 0;
    std::string instance, className;
};
Program focusedProgram(_XDisplay *display);

/// Whether the program is a viewer that forwards key codes to a guest.
bool forwardsKeys(const Program &program);

} // namespace X11FocusedWindow
