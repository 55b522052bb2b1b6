#pragma once

#include <QString>

// Whether the desktop lets us watch the keyboard and post synthetic keys.
class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;

    /// Cheap to ask: the answer is kept until something can have changed it.
    virtual bool isTrusted() = 0;

    /// A short, concrete explanation of what is missing; empty when trusted.
    virtual QString missingReason() = 0;

    /// Asks the user to grant what is missing; does nothing when already trusted.
    virtual void request() = 0;

    /// Whether the desktop answers a request with a dialog of its own, so nothing of ours is
    /// needed to say what is missing.
    virtual bool desktopAsks() const { return false; }
};
