#pragma once

#include "platform/AccessibilityTrust.h"
#include "platform/KeyInjector.h"

#include <atomic>
#include <memory>

class PortalRemoteDesktop;

// Typing through the RemoteDesktop portal once it answers that it sends keys, and until then,
// or where it does not, the way the session offers without it.
class InjectorWhenOffered final : public KeyInjector {
public:
    InjectorWhenOffered(std::unique_ptr<KeyInjector> first, std::unique_ptr<KeyInjector> portal);
    /// Called on the main thread when the portal's answer is known.
    void usePortal(bool use) { m_usePortal = use; }
    bool knowsFocusedWindow() const override { return current().knowsFocusedWindow(); }

private:
    std::unique_ptr<KeySession> open(KeyForwarding forwarding) override
    {
        return current().openSession(forwarding);
    }
    KeyInjector &current() const { return m_usePortal ? *m_portal : *m_first; }

    std::unique_ptr<KeyInjector> m_first, m_portal;
    std::atomic<bool> m_usePortal = false;
};

// Trusted once the desktop has granted the keyboard; the request opens the portal session,
// whose consent the desktop shows itself.
class PortalTrust final : public AccessibilityTrust {
public:
    PortalTrust(PortalRemoteDesktop &remote, std::unique_ptr<AccessibilityTrust> withoutPortal);
    bool isTrusted() override;
    QString missingReason() override;
    void request() override;
    bool desktopAsks() const override;

private:
    bool offered() const;
    PortalRemoteDesktop &m_remote;
    std::unique_ptr<AccessibilityTrust> m_withoutPortal;
};
