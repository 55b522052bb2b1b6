#pragma once

#include "platform/AccessibilityTrust.h"

// On Wayland, typing into every window needs the compositor's virtual keyboard. Without it
// Keyloom falls back to XWayland, which reaches only the windows that run through it. What
// the compositor offers is read once, when the backends are chosen: asking again would mean
// a new connection each time the menu or the settings window looks.
class WaylandTrust final : public AccessibilityTrust {
public:
    explicit WaylandTrust(bool virtualKeyboard);
    bool isTrusted() override;
    QString missingReason() override;
    void request() override;

private:
    static QString reasonFor(bool virtualKeyboard);
    QString m_reason;
};
