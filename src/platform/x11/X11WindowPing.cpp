#include "X11WindowPing.h"

#include "X11ErrorTrap.h"

#include "X11Headers.h"

namespace {

using std::chrono::seconds;

// A window that names the protocol but has not answered its first ping in this long, and
// longer for every key press sent before it, a slow window handling those first: its answers
// do not reach us.
constexpr seconds firstAnswerLimit{5};
constexpr std::chrono::milliseconds firstAnswerPerPress{200};

} // namespace

std::unique_ptr<X11WindowPing> X11WindowPing::forWindow(Display *display, unsigned long window)
{
    if (window == None)
        return nullptr;
    X11ErrorTrap trap(display);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    Atom *protocols = nullptr;
    int count = 0;
    bool answers = false;
    if (XGetWMProtocols(display, window, &protocols, &count)) {
        for (int i = 0; i < count; ++i)
            answers = answers || protocols[i] == ping;
        XFree(protocols);
    }
    if (!answers)
        return nullptr;
    std::unique_ptr<X11WindowPing> result(new X11WindowPing);
    result->m_window = window;
    result->m_protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    result->m_ping = ping;
    // Answers go to the root window, for the window manager: Qt's to those that watch its
    // structure, GTK's to those that watch its children. The window's end comes to us as well.
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, root, &attributes);
    XSelectInput(display, root,
                 attributes.your_event_mask | StructureNotifyMask | SubstructureNotifyMask);
    XSelectInput(display, window, StructureNotifyMask);
    if (trap.sync() != 0)
        return nullptr;
    // A window of an ended client may have had the same id: its end, still queued, is not this
    // window's.
    XEvent stale;
    while (XCheckTypedWindowEvent(display, window, DestroyNotify, &stale)) {
    }
    return result;
}

void X11WindowPing::ask(Display *display, ExtraKeyPool &pool)
{
    if (m_deaf)
        return;
    XEvent event;
    const auto ours = [](Display *, XEvent *e, XPointer self) -> Bool {
        const auto *ping = reinterpret_cast<const X11WindowPing *>(self);
        return (e->type == DestroyNotify && e->xdestroywindow.window == ping->m_window) ||
               (e->type == ClientMessage && e->xclient.message_type == ping->m_protocols &&
                Window(e->xclient.data.l[2]) == ping->m_window);
    };
    const bool wasWaiting = m_waiting;
    while (XCheckIfEvent(display, &event, ours, reinterpret_cast<XPointer>(this)))
        take(event, pool);
    // An answer just came: the caller looks whether it is enough before another ping goes.
    if (m_deaf || (wasWaiting && !m_waiting))
        return;
    const auto now = pool.now();
    if (m_waiting) {
        if (!m_answered &&
            now - m_firstSentAt > firstAnswerLimit + m_pressesBeforeFirst * firstAnswerPerPress)
            return stopTelling(pool);
        // Its end may have come before we watched for it: a long wait looks whether it is there.
        if (now - m_sentAt > seconds(1) && now - m_lookedAt > seconds(1)) {
            m_lookedAt = now;
            X11ErrorTrap trap(display);
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, m_window, &attributes) || trap.sync() != 0)
                stopTelling(pool);
        }
        return;
    }
    XEvent ping{};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = m_window;
    ping.xclient.message_type = m_protocols;
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = long(m_ping);
    ping.xclient.data.l[1] = ++m_token; // where a window manager puts its time: ours to match
    ping.xclient.data.l[2] = long(m_window);
    // The window may be gone already: its error is ours, and its end comes as an event.
    X11ErrorTrap trap(display);
    XSendEvent(display, m_window, False, NoEventMask, &ping);
    trap.sync();
    // After every key sent so far: the answer covers them all.
    m_sentAt = now;
    if (m_token == 1) {
        m_firstSentAt = now;
        m_pressesBeforeFirst = m_presses;
    }
    m_waiting = true;
}

bool X11WindowPing::take(const XEvent &event, ExtraKeyPool &pool)
{
    if (event.type == DestroyNotify && event.xdestroywindow.window == m_window) {
        stopTelling(pool);
        return true;
    }
    if (event.type != ClientMessage || event.xclient.message_type != m_protocols ||
        Atom(event.xclient.data.l[0]) != m_ping || Window(event.xclient.data.l[2]) != m_window)
        return false;
    if (m_waiting && !m_deaf && event.xclient.data.l[1] == m_token) {
        m_waiting = false;
        m_answered = true;
        pool.setHandledBefore(m_sentAt);
    }
    return true;
}

void X11WindowPing::stopTelling(ExtraKeyPool &pool)
{
    m_deaf = true;
    m_waiting = false;
    pool.setHandledBefore(std::nullopt);
}
