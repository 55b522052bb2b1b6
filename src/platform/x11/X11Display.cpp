#include "X11Display.h"

#include <mutex>
#include <unistd.h>

#include "X11Headers.h"

namespace {

int connectionLost(Display *)
{
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
