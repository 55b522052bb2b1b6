#pragma once

#include <QString>

// Which Keyloom runs on a display, decided by the display server itself: every name of one
// display (":0", "unix:0", "localhost:0") then leads to the same instance, where lock files
// named after $DISPLAY would tell them apart.
class DisplayOwnership {
public:
    virtual ~DisplayOwnership() = default;

    /// Whether the display could be reached; without it only the per-user lock decides.
    virtual bool reachable() const = 0;

    /// Makes this process the display's instance, reachable at socketPath, for as long as this
    /// object lives; false when another process is.
    virtual bool claim(const QString &socketPath) = 0;

    /// Where the display's instance listens; empty when there is none.
    virtual QString ownerSocketPath() = 0;
};
