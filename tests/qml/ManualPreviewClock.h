#pragma once

#include "settings/PreviewClock.h"

#include <functional>
#include <utility>
#include <memory>

// The preview's clock in tests: nothing happens until the test fires the pending tick.
// The preview owns the clock; a shared handle lets the test reach whichever one is live.
class ManualPreviewClock final : public PreviewClock {
public:
    struct Handle {
        ManualPreviewClock *clock = nullptr;
    };

    explicit ManualPreviewClock(std::shared_ptr<Handle> handle);
    ~ManualPreviewClock() override;

    void schedule(std::chrono::nanoseconds after, std::function<void()> tick) override;
    void cancel() override;

    bool hasPending() const { return bool(m_tick); }
    std::chrono::nanoseconds pendingDelay() const { return m_after; }
    /// Runs the pending tick (which may schedule the next one); false when none is pending.
    bool fire();

private:
    std::shared_ptr<Handle> m_handle;
    std::function<void()> m_tick;
    std::chrono::nanoseconds m_after{0};
};
