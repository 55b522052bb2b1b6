#include "X11ExitGuard.h"
#include "X11Display.h"

#include "X11SpareKeys.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "X11Headers.h"

namespace X11ExitGuard {

namespace {

using namespace std::chrono_literals;

// Well inside the two seconds a session manager or a user gives before SIGKILL.
constexpr auto cleanupDeadline = 1s;
// How long the cleanup waits for a key press or keymap change under way.
constexpr auto workDeadline = 300ms;

int wakeFds[2] = {-1, -1};
constexpr int guarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile std::sig_atomic_t signalled = 0;
std::atomic<bool> ending = false;
std::timed_mutex workGate;

// SIGQUIT ends us as SIGTERM does: its own default would try to dump a core.
int endingSignal(int sig)
{
    return sig == SIGQUIT ? SIGTERM : sig;
}

// Async-signal-safe, as it also runs inside the handler.
[[noreturn]] void endBy(int sig)
{
    std::signal(sig, SIG_DFL);
    kill(getpid(), sig);
    _exit(128 + sig); // only if the signal is blocked everywhere
}

void onSignal(int sig)
{
    // Only async-signal-safe work here. A second signal means "now".
    if (signalled)
        endBy(endingSignal(sig));
    signalled = 1;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = write(wakeFds[1], &byte, 1);
}

void watch(QByteArray displayName)
{
    unsigned char sig = 0;
    while (read(wakeFds[0], &sig, 1) != 1) {
    }
    const int ends = endingSignal(sig);
    // A stopped or hung server would hold every call below for good.
    std::thread([ends] {
        std::this_thread::sleep_for(cleanupDeadline);
        endBy(ends);
    }).detach();

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
    endBy(ends);
}

} // namespace

void arm(const QByteArray &displayName)
{
    static std::once_flag once;
    std::call_once(once, [&displayName] {
        // Not inherited by programs we start.
        if (pipe2(wakeFds, O_CLOEXEC) != 0)
            return;
        bool any = false;
        for (int sig : guarded) {
            struct sigaction current {};
            if (sigaction(sig, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
                continue; // the program handles it itself and ends through destructors
            struct sigaction action {};
            action.sa_handler = onSignal;
            sigemptyset(&action.sa_mask);
            sigaction(sig, &action, nullptr);
            any = true;
        }
        if (any)
            std::thread(watch, displayName).detach();
    });
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
