#pragma once

#include "platform/xkb/ExtraKeyPool.h"

#include <memory>

struct _XDisplay;
union _XEvent;

// The window manager's ping (_NET_WM_PING), sent by us to the window that receives the keys.
// A window answers once it has handled the events queued before the ping, so the answer tells
// the pool how far a slow window has got with its keys: a spare key it has not handled yet is
// never given another character.
class X11WindowPing {
public:
    /// For the focused program's window, where it answers pings; null otherwise.
    static std::unique_ptr<X11WindowPing> focused(_XDisplay *display);

    /// Sends a ping unless one is on its way; its time is the pool's clock.
    void send(_XDisplay *display, const ExtraKeyPool &pool);

    /// An event read off the connection: the answer moves the pool's mark on; the window's end
    /// stops the pings, the grace alone protecting its keys then. True when it was either.
    bool take(const _XEvent &event, ExtraKeyPool &pool);

    /// The same for events still queued, leaving every other event there.
    void check(_XDisplay *display, ExtraKeyPool &pool);

    bool waiting() const { return m_waiting; }
    bool gone() const { return m_gone; }
    /// Whether an answer ever came: a window may name the protocol and answer where we cannot see.
    bool answered() const { return m_answered; }

private:
    X11WindowPing() = default;

    unsigned long m_window = 0;
    unsigned long m_root = 0;
    unsigned long m_protocols = 0;
    unsigned long m_ping = 0;
    long m_token = 0;
    ExtraKeyPool::Clock::time_point m_sentAt{};
    ExtraKeyPool::Clock::time_point m_lookedAt{};
    bool m_waiting = false;
    bool m_gone = false;
    bool m_answered = false;
};
