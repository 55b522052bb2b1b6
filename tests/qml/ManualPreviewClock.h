#pragma once

#include "settings/PreviewClock.h"

#include <functional>
#include <memory>
#include <utility>

// The preview's clock in tests: nothing happens until the test fires the pending tick.
// The preview owns the clock; a shared handle lets the test reach whichever one is live.
class ManualPreviewClock final : public PreviewClock {
public:
    struct Handle {
        ManualPreviewClock *clock = nullptr;
    };

    explicit ManualPreviewClock(std::shared_ptr<Handle> handle) : m_handle(std::move(handle))
    {
        m_handle->clock = this;
    }
    ~ManualPreviewClock() override
    {
        if (m_handle->clock == this)
            m_handle->clock = nullptr;
    }

    void schedule(std::chrono::nanoseconds after, std::function<void()> tick) override
    {
        m_after = after;
        m_tick = std::move(tick);
    }
    void cancel() override { m_tick = nullptr; }

    bool hasPending() const { return bool(m_tick); }
    std::chrono::nanoseconds pendingDelay() const { return m_after; }
    /// Runs the pending tick (which may schedule the next one); false when none is pending.
    bool fire()
    {
        auto tick = std::exchange(m_tick, nullptr);
        if (tick)
            tick();
        return bool(tick);
    }

private:
    std::shared_ptr<Handle> m_handle;
    std::function<void()> m_tick;
    std::chrono::nanoseconds m_after{0};
};
