#include "WaylandKeyInjector.h"

#include "WaylandKeyBackend.h"
#include "WaylandKeymap.h"
#include "platform/xkb/PlannedKeySession.h"

#include <utility>

WaylandKeyInjector::WaylandKeyInjector(QByteArray displayName)
    : m_displayName(std::move(displayName)), m_memory(std::make_shared<WaylandKeyboardMemory>())
{
}

WaylandKeyInjector::~WaylandKeyInjector() = default;

bool WaylandKeyInjector::available(const QByteArray &displayName)
{
    return WaylandKeyBackend::reachable(displayName);
}

std::unique_ptr<KeySession> WaylandKeyInjector::open(KeyForwarding forwarding)
{
    std::unique_ptr<WaylandKeyBackend> backend = WaylandKeyBackend::open(m_displayName, m_memory);
    if (!backend)
        return nullptr;
    // Which program has the focus is the compositor's secret: only the user can say.
    backend->setForwardsKeys(forwarding == KeyForwarding::EveryWindow);
    return std::make_unique<PlannedKeySession>(std::move(backend));
}
