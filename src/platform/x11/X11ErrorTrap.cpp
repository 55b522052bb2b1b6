#include "X11ErrorTrap.h"

#include <map>
#include <mutex>

#include "X11Headers.h"

namespace {

struct Trapped {
    int depth = 0;
    int firstError = 0;
};

std::mutex trapMutex;
std::map<Display *, Trapped> trapped;
XErrorHandler previousHandler = nullptr;

int handleError(Display *display, XErrorEvent *event)
{
    {
        std::lock_guard lock(trapMutex);
        const auto it = trapped.find(display);
        if (it != trapped.end()) {
            if (!it->second.firstError)
                it->second.firstError = event->error_code;
            return 0;
        }
    }
    return previousHandler ? previousHandler(display, event) : 0;
}

} // namespace

X11ErrorTrap::X11ErrorTrap(Display *display) : m_display(display)
{
    std::lock_guard lock(trapMutex);
    static const bool installed = [] {
        previousHandler = XSetErrorHandler(handleError);
        return true;
    }();
    (void)installed;
    ++trapped[display].depth;
}

X11ErrorTrap::~X11ErrorTrap()
{
    // Errors of requests still in flight belong to this trap too.
    XSync(m_display, False);
    std::lock_guard lock(trapMutex);
    const auto it = trapped.find(m_display);
    if (it != trapped.end() && --it->second.depth == 0)
        trapped.erase(it);
}

int X11ErrorTrap::sync()
{
    XSync(m_display, False);
    std::lock_guard lock(trapMutex);
    Trapped &t = trapped[m_display];
    const int error = t.firstError;
    t.firstError = 0;
    return error;
}
