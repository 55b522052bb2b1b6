#include "Pauser.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

bool RealPauser::pause(std::chrono::nanoseconds duration, std::stop_token stop)
{
    using Clock = std::chrono::steady_clock;
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
        if (now >= deadline)
            return true;
        const auto step = std::min<Clock::duration>(deadline - now, std::chrono::hours(1));
        // The stop token's callback notifies the condition variable, ending the wait at once.
        if (wake.wait_for(lock, stop, step, [&] { return stop.stop_requested(); }))
            return false;
    }
}
