#include "X11FocusedWindow.h"

#include "X11ErrorTrap.h"
#include "X11Headers.h"
#include "platform/xkb/KeyForwardingApps.h"

namespace {

Window activeWindow(Display *display)
{
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    Window window = None;
    if (XGetWindowProperty(display, DefaultRootWindow(display), active, 0, 1, False, XA_WINDOW,
                           &type, &format, &count, &after, &data) == Success &&
        type == XA_WINDOW && format == 32 && count == 1)
        window = *reinterpret_cast<Window *>(data);
    if (data)
        XFree(data);
    if (window == None) {
        int revert = 0;
        XGetInputFocus(display, &window, &revert);
    }
    return window == PointerRoot ? None : window;
}

} // namespace

unsigned long X11FocusedWindow::clientWindow(Display *display)
{
    // The window may go away while we look: its errors are no one else's.
    X11ErrorTrap trap(display);
    Window window = activeWindow(display);
    // The focus may sit on an inner window: the top-level one names the program.
    for (int depth = 0; window != None && depth < 32; ++depth) {
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint)) {
            XFree(hint.res_name);
            XFree(hint.res_class);
            return window;
        }
        Window root = None, parent = None, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        window = parent == root ? None : parent;
    }
    trap.sync();
    return None;
}

bool X11FocusedWindow::forwardsKeys(Display *display)
{
    const Window window = clientWindow(display);
    if (window == None)
        return false;
    X11ErrorTrap trap(display);
    XClassHint hint{};
    if (!XGetClassHint(display, window, &hint))
        return false;
    const bool forwards = (hint.res_name && isKeyForwardingApp(hint.res_name)) ||
                          (hint.res_class && isKeyForwardingApp(hint.res_class));
    XFree(hint.res_name);
    XFree(hint.res_class);
    return forwards;
}
