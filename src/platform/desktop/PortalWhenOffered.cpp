#include "PortalWhenOffered.h"

#include "platform/portal/PortalShortcutTap.h"

PortalWhenOffered::PortalWhenOffered(std::unique_ptr<KeyboardTap> first, QDBusConnection bus)
    : m_bus(std::move(bus)), m_tap(std::move(first))
{
    forwardProblems();
    PortalShortcutTap::probe(
        &m_context,
        [this](bool offered) {
            if (offered)
                moveToPortal();
        },
        m_bus);
}

void PortalWhenOffered::moveToPortal()
{
    m_tap->problemChanged = nullptr;
    m_tap->remove();
    m_tap = std::make_unique<PortalShortcutTap>(m_bus);
    forwardProblems();
    if (m_handler)
        m_tap->install(m_handler);
    if (m_watched)
        m_tap->watch(m_watched->first, m_watched->second);
    // How the shortcuts work has changed: whatever shows it looks again.
    if (problemChanged)
        problemChanged();
}
