#pragma once

#include <chrono>
#include <functional>

// The preview animation's one pending wake-up. The window uses a timer on the main
// thread; tests drive the animation step by step instead of waiting on real time.
class PreviewClock {
public:
    virtual ~PreviewClock() = default;

    /// Calls tick once on the main thread after the given time; replaces any pending wake-up.
    virtual void schedule(std::chrono::nanoseconds after, std::function<void()> tick) = 0;

    /// Drops the pending wake-up, if any: its tick is never called.
    virtual void cancel() = 0;
};
