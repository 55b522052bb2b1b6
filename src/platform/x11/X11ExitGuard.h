#pragma once

#include <QByteArray>

#include <functional>

struct _XDisplay;

// Undoes this process's keymap changes and lets go of the keys it holds when a signal ends
// it (SIGINT, SIGTERM, SIGHUP, SIGQUIT), where no destructor runs. The handler only wakes a
// watcher thread, which does the X work on a connection of its own and then lets the signal
// take its default course (SIGTERM's for SIGQUIT, which would dump a core). The server may
// never answer, so a deadline ends the program anyway, and a second signal ends it at once.
// A process killed outright is mended by the next start instead (see X11SpareKeys).
namespace X11ExitGuard {

/// Installs the handlers once per process, for the signals whose action is still the default.
void arm(const QByteArray &displayName);

/// Runs work that presses keys or binds keysyms, unless the program is ending; the signal
/// path waits (briefly) for work under way before it cleans up, so nothing comes after.
void unlessEnding(const std::function<void()> &work);

/// Releases the keys the XTEST device holds; the server ignores a release of any other key,
/// so keys the user holds stay down.
void releaseXTestKeys(_XDisplay *display);

} // namespace X11ExitGuard
