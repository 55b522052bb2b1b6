#pragma once

#include <QByteArray>

// Undoes this process's keymap changes when a signal ends it (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT), where no destructor runs. The handler only wakes a watcher
// thread, which does the X work on a connection of its own and then lets the
// signal take its default course (SIGTERM's for SIGQUIT, which would dump a core).
// A process killed outright is mended by the next start instead (see X11SpareKeys).
namespace X11ExitGuard {

/// Installs the handlers once per process, for the signals whose action is still the default.
void arm(const QByteArray &displayName);

} // namespace X11ExitGuard
