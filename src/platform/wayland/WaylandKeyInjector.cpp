#include "WaylandKeyInjector.h"

#include "WaylandKeySession.h"
#include "WaylandKeymap.h"

#include <utility>

WaylandKeyInjector::WaylandKeyInjector(QByteArray displayName)
    : m_displayName(std::move(displayName)), m_memory(std::make_shared<WaylandKeyboardMemory>())
{
}

WaylandKeyInjector::~WaylandKeyInjector() = default;

bool WaylandKeyInjector::available(const QByteArray &displayName)
{
    return WaylandKeySession::reachable(displayName);
}

std::unique_ptr<KeySession> WaylandKeyInjector::openSession()
{
    return WaylandKeySession::open(m_displayName, m_memory);
}
