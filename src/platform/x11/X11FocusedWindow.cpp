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

X11FocusedWindow::Program X11FocusedWindow::focusedProgram(Display *display)
{
    // The window may go away while we look: its errors are no one else's.
    X11ErrorTrap trap(display);
    Window window = activeWindow(display);
    // The focus may sit on an inner window: the top-level one names the program.
    for (int depth = 0; window != None && depth < 32; ++depth) {
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint)) {
            Program program{window, hint.res_name ? hint.res_name : "",
                            hint.res_class ? hint.res_class : ""};
            XFree(hint.res_name);
            XFree(hint.res_class);
            return program;
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
    return {};
}

bool X11FocusedWindow::forwardsKeys(const Program &program)
{
    return isKeyForwardingApp(program.instance) || isKeyForwardingApp(program.className);
}
