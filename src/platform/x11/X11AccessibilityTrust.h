#pragma once

#include "platform/AccessibilityTrust.h"

#include <QByteArray>
#include <QString>

#include <optional>

// X11 has no permission prompt: we are trusted when the display can be reached
// and offers XTEST, which both our keystrokes and the key state need.
class X11AccessibilityTrust final : public AccessibilityTrust {
public:
    /// Checks the display named by $DISPLAY.
    X11AccessibilityTrust();
    /// Checks the named display, e.g. ":1".
    explicit X11AccessibilityTrust(QByteArray displayName);

    bool isTrusted() override;
    QString missingReason() override;
    void request() override;

private:
    QString reasonFor(int state) const;

    QByteArray m_displayName;
    std::optional<QString> m_reason;
};
