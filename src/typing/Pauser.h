#pragma once

#include <chrono>
#include <stop_token>

// How a typing run waits. Injected so tests can run the engine without real time.
class Pauser {
public:
    virtual ~Pauser() = default;

    /// Waits for the duration; false when it ended early because a stop was requested.
    virtual bool pause(std::chrono::nanoseconds duration, std::stop_token stop) = 0;
};

// Waits on a condition variable, so a stop request ends the wait at once.
class RealPauser final : public Pauser {
public:
    bool pause(std::chrono::nanoseconds duration, std::stop_token stop) override;
};
