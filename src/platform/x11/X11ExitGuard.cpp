#include "X11ExitGuard.h"
#include "X11Display.h"

#include "X11SpareKeys.h"
#include "platform/signals/SignalWatch.h"

#include <atomic>
#include <chrono>
#include <mutex>

#include "X11Headers.h"

namespace X11ExitGuard {

namespace {

using namespace std::chrono_literals;

// How long the cleanup waits for a key press or keymap change under way.
constexpr auto workDeadline = 300ms;

std::atomic<bool> ending = false;
std::timed_mutex workGate;

// Runs on the signal watch's thread; a stopped or hung server is what its deadline is for.
void cleanUp(const QByteArray &displayName, int ends)
{
    ending = true;
    // A key press under way finishes first, so that its key is let go below; one stuck in a
    // wait of its own is not waited for.
    const bool settled = workGate.try_lock_for(workDeadline);
    if (Display *display = openX11Display(displayName)) {
        releaseXTestKeys(display);
        X11SpareKeys::cleanLeftovers(display, X11SpareKeys::Leftovers::AlsoOfThisProcess);
        XCloseDisplay(display);
    }
    if (settled)
        workGate.unlock();
    SignalWatch::endBy(ends);
}

} // namespace

void arm(const QByteArray &displayName)
{
    SignalWatch::arm([displayName](int ends) { cleanUp(displayName, ends); });
}

void unlessEnding(const std::function<void()> &work)
{
    const std::lock_guard lock(workGate);
    if (!ending)
        work();
}

void releaseXTestKeys(Display *display)
{
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor))
        return;
    char keys[32] = {};
    XQueryKeymap(display, keys);
    for (unsigned kc = 8; kc < 256; ++kc) {
        if (keys[kc / 8] & (1 << (kc % 8)))
            XTestFakeKeyEvent(display, kc, False, CurrentTime);
    }
    XSync(display, False);
}

} // namespace X11ExitGuard
