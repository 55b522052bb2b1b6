#include "Pauser.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// A wake-up comes late by the scheduler's latency. Taking the last pause's lateness off the
// next keeps a run's pace at the delay; capped, so a stall is never made up with a burst.
constexpr Clock::duration maxCarry = std::chrono::microseconds(500);
thread_local Clock::duration lateness{};

} // namespace

bool RealPauser::pause(std::chrono::nanoseconds duration, std::stop_token stop)
{
    const Clock::duration carry = std::min<Clock::duration>(
        {lateness, maxCarry, std::chrono::ceil<Clock::duration>(duration)});
    lateness = {};
    duration -= carry;
    if (stop.stop_requested())
        return false;
    // Saturate instead of overflowing the time point; wait in bounded steps so no
    // library conversion of the timeout can overflow either.
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = duration >= Clock::time_point::max() - start
                                           ? Clock::time_point::max()
                                           : start + std::chrono::ceil<Clock::duration>(duration);
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            if (deadline != Clock::time_point::max())
                lateness = now - deadline;
            return true;
        }
        const auto step = std::min<Clock::duration>(deadline - now, std::chrono::hours(1));
        // The stop token's callback notifies the condition variable, ending the wait at once.
        if (wake.wait_for(lock, stop, step, [&] { return stop.stop_requested(); }))
            return false;
    }
}
