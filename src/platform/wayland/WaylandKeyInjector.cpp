#include "WaylandKeyInjector.h"

#include "WaylandKeyBackend.h"
#include "WaylandKeymap.h"
#include "platform/xkb/PlannedKeySession.h"
#include "platform/xkb/WindowProgress.h"

#include <utility>

WaylandKeyInjector::WaylandKeyInjector(QByteArray displayName, WindowWatch watch)
    : m_displayName(std::move(displayName)), m_watch(std::move(watch)),
      m_memory(std::make_shared<WaylandKeyboardMemory>())
{
}

WaylandKeyInjector::~WaylandKeyInjector() = default;

bool WaylandKeyInjector::available(const QByteArray &displayName)
{
    return WaylandKeyBackend::reachable(displayName);
}

std::unique_ptr<KeySession> WaylandKeyInjector::open(KeyForwarding forwarding)
{
    std::unique_ptr<WaylandKeyBackend> backend =
        WaylandKeyBackend::open(m_displayName, m_memory, m_watch ? m_watch() : nullptr);
    if (!backend)
        return nullptr;
    // Which program has the focus is the compositor's secret: only the user can say.
    backend->setForwardsKeys(forwarding == KeyForwarding::EveryWindow);
    return std::make_unique<PlannedKeySession>(std::move(backend));
}
