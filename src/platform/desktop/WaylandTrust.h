#pragma once

#include "platform/AccessibilityTrust.h"

// On Wayland, typing into every window needs the compositor's virtual keyboard. Without it
// Keyloom falls back to XWayland, which reaches only the windows that run through it.
class WaylandTrust final : public AccessibilityTrust {
public:
    bool isTrusted() override;
    QString missingReason() override;
    void request() override;
};
