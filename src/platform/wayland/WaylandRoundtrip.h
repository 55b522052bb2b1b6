#pragma once

#include <chrono>

struct wl_display;

// Talking to a compositor that may have stopped answering: every wait has a deadline, so a
// hung compositor never freezes the caller.
namespace wayland {

using Clock = std::chrono::steady_clock;

/// Sends what libwayland holds; false on a broken connection or a compositor that reads
/// nothing until the deadline.
bool flushDisplay(wl_display *display, Clock::time_point deadline);

/// Reads and dispatches what has arrived, without waiting; false on a broken connection.
bool readPending(wl_display *display);

/// wl_display_roundtrip with a deadline: true once the compositor answered everything sent.
bool roundtrip(wl_display *display, Clock::duration timeout);

} // namespace wayland
