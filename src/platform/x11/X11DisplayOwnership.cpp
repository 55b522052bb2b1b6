#include "X11DisplayOwnership.h"
#include "X11Display.h"
#include "X11ErrorTrap.h"

#include <QSocketNotifier>

#include <unistd.h>

#include "X11Headers.h"

X11DisplayOwnership::X11DisplayOwnership(const QByteArray &displayName)
    : m_display(openX11Display(displayName))
{
    if (!m_display)
        return;
    // Per user, as the socket it points to lives in the user's private runtime directory.
    const QByteArray selection = "_KEYLOOM_INSTANCE_U" + QByteArray::number(getuid());
    m_selection = XInternAtom(m_display, selection.constData(), False);
    m_socketProperty = XInternAtom(m_display, "_KEYLOOM_SOCKET", False);
    m_utf8 = XInternAtom(m_display, "UTF8_STRING", False);
}

X11DisplayOwnership::~X11DisplayOwnership()
{
    m_events.reset();
    if (m_display)
        XCloseDisplay(m_display);
}

bool X11DisplayOwnership::claim(const QString &socketPath)
{
    if (!m_display || m_window != None)
        return m_window != None;
    const Window window =
        XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), -1, -1, 1, 1, 0, 0, 0);
    const QByteArray path = socketPath.toUtf8();
    XChangeProperty(m_display, window, m_socketProperty, m_utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(path.constData()), int(path.size()));
    // Looking and taking under one grab: two starts cannot both find the selection free.
    XGrabServer(m_display);
    const bool free = XGetSelectionOwner(m_display, m_selection) == None;
    if (free)
        XSetSelectionOwner(m_display, m_selection, window, CurrentTime);
    XUngrabServer(m_display);
    if (!free) {
        XDestroyWindow(m_display, window);
        XSync(m_display, False);
        return false;
    }
    XSync(m_display, False);
    m_window = window;
    // The server sends every client MappingNotify, and each run rebinds keys: read them all,
    // or they pile up in the server for as long as the program runs.
    m_events =
        std::make_unique<QSocketNotifier>(ConnectionNumber(m_display), QSocketNotifier::Read);
    QObject::connect(m_events.get(), &QSocketNotifier::activated, m_events.get(),
                     [this] { drainEvents(); });
    drainEvents();
    return true;
}

QString X11DisplayOwnership::ownerSocketPath()
{
    if (!m_display)
        return {};
    const Window owner = XGetSelectionOwner(m_display, m_selection);
    if (owner == None)
        return {};
    // The owner may be gone by now, and its window with it.
    X11ErrorTrap trap(m_display);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    QString path;
    if (XGetWindowProperty(m_display, owner, m_socketProperty, 0, 4096, False, m_utf8, &type,
                           &format, &count, &remaining, &data) == Success &&
        type == m_utf8 && format == 8 && remaining == 0)
        path = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(count));
    if (data)
        XFree(data);
    trap.sync();
    return path;
}

void X11DisplayOwnership::drainEvents()
{
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type != SelectionRequest)
            continue;
        // The selection only marks ownership and converts to nothing: refuse, so a client
        // asking for it does not wait.
        const XSelectionRequestEvent &request = event.xselectionrequest;
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.property = None;
        reply.xselection.time = request.time;
        X11ErrorTrap trap(m_display);
        XSendEvent(m_display, request.requestor, False, NoEventMask, &reply);
        trap.sync();
    }
}
