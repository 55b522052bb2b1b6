#pragma once

struct _XDisplay;

// Catches the X errors of one display for the lifetime of the trap instead of
// letting Xlib's default handler end the program. Xlib's handler is global, so
// the trap is keyed by display and safe to use from several threads, each with
// its own display.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(_XDisplay *display);
    ~X11ErrorTrap();

    X11ErrorTrap(const X11ErrorTrap &) = delete;
    X11ErrorTrap &operator=(const X11ErrorTrap &) = delete;

    /// Waits until the server has handled every request so far; the first error code since the last
    /// call, or 0.
    int sync();

private:
    _XDisplay *m_display;
};
