#include "SignalWatch.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace SignalWatch {

namespace {

// Well inside the two seconds a session manager or a user gives before SIGKILL.
constexpr auto deadline = std::chrono::seconds(1);

int wakeFds[2] = {-1, -1};
constexpr int watched[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
volatile std::sig_atomic_t signalled = 0;

int endingSignal(int sig)
{
    return sig == SIGQUIT ? SIGTERM : sig;
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

void watch(std::function<void(int)> work)
{
    unsigned char sig = 0;
    while (read(wakeFds[0], &sig, 1) != 1) {
    }
    const int ends = endingSignal(sig);
    std::thread([ends] {
        std::this_thread::sleep_for(deadline);
        endBy(ends);
    }).detach();
    work(ends);
}

} // namespace

[[noreturn]] void endBy(int sig)
{
    std::signal(sig, SIG_DFL);
    kill(getpid(), sig);
    _exit(128 + sig); // only if the signal is blocked everywhere
}

void arm(std::function<void(int)> onSignalWork)
{
    static std::once_flag once;
    std::call_once(once, [&onSignalWork] {
        // Not inherited by programs we start.
        if (pipe2(wakeFds, O_CLOEXEC) != 0)
            return;
        bool any = false;
        for (int sig : watched) {
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
            std::thread(watch, std::move(onSignalWork)).detach();
    });
}

} // namespace SignalWatch
