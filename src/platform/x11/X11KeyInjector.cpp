#include "X11KeyInjector.h"

#include "X11ExitGuard.h"
#include "X11KeySession.h"
#include "X11SpareKeys.h"

#include <mutex>
#include <utility>

#include "X11Display.h"
#include "X11Headers.h"

X11KeyInjector::X11KeyInjector() : X11KeyInjector(qgetenv("DISPLAY")) {}

namespace {

// A crash in the middle of a shifted word must not leave Shift down for the next
// session. The server drops a release of a key the XTEST device does not hold, so
// this lets go of its keys only, never of one the user holds.
void releaseXTestKeys(Display *display)
{
    int event = 0, error = 0, major = 0, minor = 0;
    if (XTestQueryExtension(display, &event, &error, &major, &minor)) {
        char keys[32] = {};
        XQueryKeymap(display, keys);
        for (unsigned kc = 8; kc < 256; ++kc) {
            if (keys[kc / 8] & (1 << (kc % 8)))
                XTestFakeKeyEvent(display, kc, False, CurrentTime);
        }
    }
}

} // namespace

X11KeyInjector::X11KeyInjector(QByteArray displayName) : m_displayName(std::move(displayName))
{
    X11ExitGuard::arm(m_displayName);
    Display *display = openX11Display(m_displayName);
    if (!display)
        return;
    static std::once_flag once;
    std::call_once(once, [display] { releaseXTestKeys(display); });
    // What a killed instance left bound is undone now, not when the first run begins.
    X11SpareKeys::cleanLeftovers(display, X11SpareKeys::Leftovers::OfEndedProcesses);
    XCloseDisplay(display);
}

std::unique_ptr<KeySession> X11KeyInjector::openSession()
{
    return X11KeySession::open(m_displayName);
}
