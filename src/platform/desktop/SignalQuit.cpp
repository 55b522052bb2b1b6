#include "SignalQuit.h"

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace SignalQuit {

namespace {

// Well inside the two seconds a session manager or a user gives before SIGKILL.
constexpr auto quitDeadline = std::chrono::seconds(1);

int wakeFds[2] = {-1, -1};
constexpr int handled[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile std::sig_atomic_t signalled = 0;

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
    if (signalled)
        endBy(endingSignal(sig));
    signalled = 1;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = write(wakeFds[1], &byte, 1);
}

void watch()
{
    unsigned char sig = 0;
    while (read(wakeFds[0], &sig, 1) != 1) {
    }
    const int ends = endingSignal(sig);
    std::thread([ends] {
        std::this_thread::sleep_for(quitDeadline);
        endBy(ends);
    }).detach();
    // Safe from any thread; the main thread then leaves its event loop and unwinds.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

} // namespace

void arm()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Not inherited by programs we start.
        if (pipe2(wakeFds, O_CLOEXEC) != 0 || !QCoreApplication::instance())
            return;
        bool any = false;
        for (int sig : handled) {
            struct sigaction current {};
            if (sigaction(sig, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
                continue;
            struct sigaction action {};
            action.sa_handler = onSignal;
            sigemptyset(&action.sa_mask);
            sigaction(sig, &action, nullptr);
            any = true;
        }
        if (any)
            std::thread(watch).detach();
    });
}

} // namespace SignalQuit
