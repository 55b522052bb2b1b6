#include "WaylandRoundtrip.h"

#include <algorithm>
#include <cerrno>

#include <poll.h>
#include <wayland-client.h>

namespace wayland {

namespace {

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1000));
}

} // namespace

bool flushDisplay(wl_display *display, Clock::time_point deadline)
{
    for (;;) {
        if (wl_display_flush(display) >= 0)
            return true;
        if (errno != EAGAIN || Clock::now() >= deadline)
            return false;
        pollfd fd{wl_display_get_fd(display), POLLOUT, 0};
        poll(&fd, 1, remainingMs(deadline));
    }
}

bool readPending(wl_display *display)
{
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    pollfd fd{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&fd, 1, 0) > 0) {
        if (wl_display_read_events(display) < 0)
            return false;
    } else {
        wl_display_cancel_read(display);
    }
    return wl_display_dispatch_pending(display) >= 0;
}

bool roundtrip(wl_display *display, Clock::duration timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    bool done = false;
    static const wl_callback_listener listener{[](void *data, wl_callback *callback, uint32_t) {
        *static_cast<bool *>(data) = true;
        wl_callback_destroy(callback);
    }};
    wl_callback *callback = wl_display_sync(display);
    if (!callback)
        return false;
    wl_callback_add_listener(callback, &listener, &done);
    while (!done) {
        if (!flushDisplay(display, deadline))
            break;
        if (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0)
                break;
            continue;
        }
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&fd, 1, remainingMs(deadline)) > 0) {
            if (wl_display_read_events(display) < 0)
                break;
        } else {
            wl_display_cancel_read(display);
            if (Clock::now() >= deadline)
                break;
        }
        if (wl_display_dispatch_pending(display) < 0)
            break;
    }
    if (!done)
        wl_callback_destroy(callback);
    return done;
}

} // namespace wayland
