#pragma once

// Ends the program through its destructors when a signal asks it to (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT): the event loop quits, the runs stop and their sessions let go of every key they
// hold. A virtual keyboard destroyed with a key down leaves clients believing it held, so an
// abrupt end is no option. A deadline ends the program anyway, and a second signal ends it at
// once.
namespace SignalQuit {

/// Installs the handlers once per process, for the signals whose action is still the default.
/// Needs a running QCoreApplication to quit.
void arm();

} // namespace SignalQuit
