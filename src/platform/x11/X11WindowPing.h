#pragma once

#include "platform/xkb/ExtraKeyPool.h"

#include <memory>

struct _XDisplay;
union _XEvent;

// The window manager's ping (_NET_WM_PING), sent by us to the window that receives the keys.
// A window answers once it has handled the events queued before the ping, so the answer tells
// the pool how far a slow window has got with its keys: a spare key it has not handled yet is
// never given another character. Asked only while a spare key waits for the answer, never on
// the way of each key.
class X11WindowPing {
public:
    /// For that window, where it answers pings; null otherwise.
    static std::unique_ptr<X11WindowPing> forWindow(_XDisplay *display, unsigned long window);

    /// Takes the answers that came; when none came, asks unless a ping is on its way.
    void ask(_XDisplay *display, ExtraKeyPool &pool);

    /// An event read off the connection: the answer moves the pool's mark on; the window's end
    /// stops the pings, the grace alone protecting its keys then. True when it was either.
    bool take(const _XEvent &event, ExtraKeyPool &pool);

    /// A key press went out to the window.
    void pressed() { ++m_presses; }

    /// False once the window is gone or its answers never reach us: the grace alone applies.
    bool tells() const { return !m_deaf; }

private:
    X11WindowPing() = default;
    void stopTelling(ExtraKeyPool &pool);

    unsigned long m_window = 0;
    unsigned long m_protocols = 0;
    unsigned long m_ping = 0;
    long m_token = 0;
    long m_presses = 0;
    long m_pressesBeforeFirst = 0;
    ExtraKeyPool::Clock::time_point m_sentAt{};
    ExtraKeyPool::Clock::time_point m_firstSentAt{};
    ExtraKeyPool::Clock::time_point m_lookedAt{};
    bool m_waiting = false;
    bool m_answered = false;
    bool m_deaf = false;
};
