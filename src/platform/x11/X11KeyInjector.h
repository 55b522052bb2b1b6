#pragma once

#include "platform/KeyInjector.h"

#include <QByteArray>

// Synthetic keyboard input on X11 through XTEST; each session opens its own connection.
class X11KeyInjector final : public KeyInjector {
public:
    /// Uses the display named by $DISPLAY.
    X11KeyInjector();
    /// Uses the named display, e.g. ":1".
    explicit X11KeyInjector(QByteArray displayName);

    bool knowsFocusedWindow() const override { return true; }

private:
    std::unique_ptr<KeySession> open(KeyForwarding forwarding) override;

    QByteArray m_displayName;
};
