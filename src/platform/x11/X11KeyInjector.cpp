#include "X11KeyInjector.h"

#include "X11ExitGuard.h"
#include "X11KeyBackend.h"
#include "X11SpareKeys.h"
#include "platform/xkb/PlannedKeySession.h"

#include <mutex>
#include <utility>

#include "X11Display.h"
#include "X11Headers.h"

X11KeyInjector::X11KeyInjector() : X11KeyInjector(qgetenv("DISPLAY")) {}

X11KeyInjector::X11KeyInjector(QByteArray displayName) : m_displayName(std::move(displayName))
{
    X11ExitGuard::arm(m_displayName);
    Display *display = openX11Display(m_displayName);
    if (!display)
        return;
    static std::once_flag once;
    // A crash in the middle of a shifted word must not leave Shift down for the next session.
    std::call_once(once, [display] { X11ExitGuard::releaseXTestKeys(display); });
    // What a killed instance left bound is undone now, not when the first run begins.
    X11SpareKeys::cleanLeftovers(display, X11SpareKeys::Leftovers::OfEndedProcesses);
    XCloseDisplay(display);
}

std::unique_ptr<KeySession> X11KeyInjector::open(KeyForwarding forwarding)
{
    std::unique_ptr<X11KeyBackend> backend = X11KeyBackend::open(m_displayName, forwarding);
    if (!backend)
        return nullptr;
    return std::make_unique<PlannedKeySession>(std::move(backend));
}
