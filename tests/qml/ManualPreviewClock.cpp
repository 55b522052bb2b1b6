#include "ManualPreviewClock.h"

ManualPreviewClock::ManualPreviewClock(std::shared_ptr<Handle> handle)
    : m_handle(std::move(handle))
{
    m_handle->clock = this;
}

ManualPreviewClock::~ManualPreviewClock()
{
    if (m_handle->clock == this)
        m_handle->clock = nullptr;
}

void ManualPreviewClock::schedule(std::chrono::nanoseconds after, std::function<void()> tick)
{
    m_after = after;
    m_tick = std::move(tick);
}

void ManualPreviewClock::cancel()
{
    m_tick = nullptr;
}

bool ManualPreviewClock::fire()
{
    auto tick = std::exchange(m_tick, nullptr);
    if (!tick)
        return false;
    tick();
    return true;
}
