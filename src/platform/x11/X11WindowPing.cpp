#include "X11WindowPing.h"

#include "X11ErrorTrap.h"
#include "X11FocusedWindow.h"

#include "X11Headers.h"

std::unique_ptr<X11WindowPing> X11WindowPing::focused(Display *display)
{
    const Window window = X11FocusedWindow::clientWindow(display);
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
    result->m_root = DefaultRootWindow(display);
    result->m_protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    result->m_ping = ping;
    // Answers go to the root window, for the window manager: Qt's to those that watch its
    // structure, GTK's to those that watch its children. The window's end comes to us as well.
    XWindowAttributes root{};
    XGetWindowAttributes(display, result->m_root, &root);
    XSelectInput(display, result->m_root,
                 root.your_event_mask | StructureNotifyMask | SubstructureNotifyMask);
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

void X11WindowPing::send(Display *display, const ExtraKeyPool &pool)
{
    if (m_waiting || m_gone)
        return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = m_window;
    event.xclient.message_type = m_protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(m_ping);
    event.xclient.data.l[1] = ++m_token; // where a window manager puts its time: ours to match
    event.xclient.data.l[2] = long(m_window);
    // The window may be gone already: its error is ours, and its end comes as an event.
    X11ErrorTrap trap(display);
    XSendEvent(display, m_window, False, NoEventMask, &event);
    trap.sync();
    // After every key sent so far: the answer covers them all.
    m_sentAt = pool.now();
    m_waiting = true;
}

bool X11WindowPing::take(const XEvent &event, ExtraKeyPool &pool)
{
    if (event.type == DestroyNotify && event.xdestroywindow.window == m_window) {
        m_gone = true;
        m_waiting = false;
        pool.setHandledBefore(std::nullopt);
        return true;
    }
    if (event.type != ClientMessage || event.xclient.message_type != m_protocols ||
        Atom(event.xclient.data.l[0]) != m_ping || Window(event.xclient.data.l[2]) != m_window)
        return false;
    if (m_waiting && event.xclient.data.l[1] == m_token) {
        m_waiting = false;
        m_answered = true;
        if (!m_gone)
            pool.setHandledBefore(m_sentAt);
    }
    return true;
}

void X11WindowPing::check(Display *display, ExtraKeyPool &pool)
{
    // Its end may have come before we watched for it: a long wait looks whether it is still there.
    if (m_waiting && pool.now() - m_sentAt > std::chrono::seconds(1) &&
        pool.now() - m_lookedAt > std::chrono::seconds(1)) {
        m_lookedAt = pool.now();
        X11ErrorTrap trap(display);
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, m_window, &attributes) || trap.sync() != 0) {
            m_gone = true;
            m_waiting = false;
            pool.setHandledBefore(std::nullopt);
            return;
        }
    }
    XEvent event;
    const auto ours = [](Display *, XEvent *e, XPointer self) -> Bool {
        const auto *ping = reinterpret_cast<const X11WindowPing *>(self);
        return (e->type == DestroyNotify && e->xdestroywindow.window == ping->m_window) ||
               (e->type == ClientMessage && e->xclient.message_type == ping->m_protocols &&
                Window(e->xclient.data.l[2]) == ping->m_window);
    };
    while (XCheckIfEvent(display, &event, ours, reinterpret_cast<XPointer>(this)))
        take(event, pool);
}
