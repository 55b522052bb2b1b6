#include "X11ExitGuard.h"
#include "X11Display.h"

#include "X11SpareKeys.h"

#include <csignal>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "X11Headers.h"

namespace X11ExitGuard {

namespace {

int wakeFds[2] = {-1, -1};
constexpr int guarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void onSignal(int sig)
{
    const unsigned char byte = static_cast<unsigned char>(sig);
    // Only async-signal-safe work here.
    [[maybe_unused]] const ssize_t n = write(wakeFds[1], &byte, 1);
}

void watch(QByteArray displayName)
{
    unsigned char sig = 0;
    while (read(wakeFds[0], &sig, 1) != 1) {
    }
    if (Display *display =
            openX11Display(displayName)) {
        X11SpareKeys(display, X11SpareKeys::Leftovers::AlsoOfThisProcess);
        XCloseDisplay(display);
    }
    // SIGQUIT ends us as SIGTERM does: its own default would try to dump a core.
    const int ending = sig == SIGQUIT ? SIGTERM : sig;
    std::signal(ending, SIG_DFL);
    kill(getpid(), ending);
}

} // namespace

void arm(const QByteArray &displayName)
{
    static std::once_flag once;
    std::call_once(once, [&displayName] {
        if (pipe(wakeFds) != 0)
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

} // namespace X11ExitGuard
