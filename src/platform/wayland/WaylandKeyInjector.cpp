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

std::unique_ptr<KeySession> WaylandKeyInjector::openSession()
{
    std::unique_ptr<WaylandKeyBackend> backend = WaylandKeyBackend::open(m_displayName, m_memory);
    if (!backend)
        return nullptr;
    return std::make_unique<PlannedKeySession>(std::move(backend));
}
