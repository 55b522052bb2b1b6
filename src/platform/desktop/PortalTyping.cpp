#include "PortalTyping.h"

#include "platform/portal/PortalRemoteDesktop.h"

#include <QCoreApplication>

InjectorWhenOffered::InjectorWhenOffered(std::unique_ptr<KeyInjector> first,
                                         std::unique_ptr<KeyInjector> portal)
    : m_first(std::move(first)), m_portal(std::move(portal))
{
}

PortalTrust::PortalTrust(PortalRemoteDesktop &remote,
                         std::unique_ptr<AccessibilityTrust> withoutPortal)
    : m_remote(remote), m_withoutPortal(std::move(withoutPortal))
{
}

bool PortalTrust::offered() const
{
    using State = PortalRemoteDesktop::State;
    return m_remote.state() != State::NotOffered && m_remote.state() != State::Probing;
}

bool PortalTrust::isTrusted()
{
    if (!offered())
        return m_remote.state() != PortalRemoteDesktop::State::Probing && m_withoutPortal->isTrusted();
    return m_remote.state() == PortalRemoteDesktop::State::Granted;
}

QString PortalTrust::missingReason()
{
    using State = PortalRemoteDesktop::State;
    const auto again = [this] {
        return m_remote.failure() + QLatin1Char(' ') +
               QCoreApplication::translate("PortalTrust", "Request access again to be asked once more.");
    };
    switch (m_remote.state()) {
    case State::Probing:
        return QCoreApplication::translate("PortalTrust",
                                           "Keyloom is still asking the desktop how it may type.");
    case State::NotOffered:
        return m_withoutPortal->missingReason();
    case State::Idle:
        return QCoreApplication::translate(
            "PortalTrust",
            "This desktop lets Keyloom type into every window once you allow it to control the "
            "keyboard: request access, and allow remote interaction when the desktop asks. The "
            "desktop asks once per login.");
    case State::Asking:
        return QCoreApplication::translate(
            "PortalTrust", "The desktop is asking whether Keyloom may control the keyboard: "
                           "answer its dialog.");
    case State::Granted:
        return {};
    case State::Refused:
    case State::Ended:
        return again();
    }
    return {};
}

void PortalTrust::request()
{
    if (offered())
        m_remote.ask();
    else if (m_remote.state() == PortalRemoteDesktop::State::NotOffered)
        m_withoutPortal->request();
}

bool PortalTrust::desktopAsks() const
{
    return offered();
}
