#include "X11Display.h"

#include <mutex>
#include <set>
#include <unistd.h>

#include "X11Headers.h"

namespace {

// Connections whose loss ends only what uses them. Recursive: a close may report the loss.
std::recursive_mutex expendableMutex;
std::set<Display *> expendable;

int connectionLost(Display *display)
{
    {
        const std::lock_guard lock(expendableMutex);
        if (expendable.count(display))
            return 0; // its exit handler returns too: the connection stays dead
    }
    // The server is gone, and with it every grab and keymap entry of ours; settings are
    // saved as they change. _exit is safe from any thread, where exit() from two at once is not.
    static const char message[] = "[Keyloom] The X server connection was lost; quitting.\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
    _exit(1);
}

} // namespace

Display *openX11Display(const QByteArray &name)
{
    static std::once_flag installed;
    std::call_once(installed, [] { XSetIOErrorHandler(connectionLost); });
    return XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
}

Display *openExpendableX11Display(const QByteArray &name)
{
    Display *display = openX11Display(name);
    if (display) {
        const std::lock_guard lock(expendableMutex);
        expendable.insert(display);
        XSetIOErrorExitHandler(display, [](Display *, void *) {}, nullptr);
    }
    return display;
}

void closeExpendableX11Display(Display *display)
{
    const std::lock_guard lock(expendableMutex);
    XCloseDisplay(display);
    expendable.erase(display);
}
