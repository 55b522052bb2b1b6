#pragma once

#include <functional>

// The ending signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT), turned into work on a thread of
// its own, where no async-signal-safety limits what the program does before it ends. A
// deadline ends the program anyway if that work hangs, and a second signal ends it at once.
namespace SignalWatch {

/// Installs the handlers once per process, for the signals whose action is still the
/// default; later calls do nothing. `onSignal` gets the signal the program is to end by
/// (SIGTERM for SIGQUIT, whose own default would dump a core).
void arm(std::function<void(int endingSignal)> onSignal);

/// Ends the program by the signal, as if it had not been handled. Async-signal-safe.
[[noreturn]] void endBy(int sig);

} // namespace SignalWatch
