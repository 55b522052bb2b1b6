#pragma once

#include "KeystrokeEngine.h"
#include "ReleaseWait.h"

#include <QString>

#include <functional>
#include <memory>
#include <thread>

class KeyInjector;
class Pauser;

// What a run captures when it starts; later changes of the settings do not reach it.
struct TypingRunParams {
    QString text;
    double delayMs = 30.0;
    quint16 keyCode = 41;
    quint64 modifiers = 0;
    bool listMode = false;
    ReleaseWait release = {};
    bool leaveOut = false; // characters that cannot be typed are passed over, not checked first
    KeyForwarding forwarding = KeyForwarding::Automatic;
};

// One typing run on a worker thread of its own: wait for the shortcut's keys to
// be released, then type. Destroying the run requests a stop and joins.
class TypingRun {
public:
    /// Called on the worker thread when the run is over: its text typed whole, or how it ended
    /// before (a stop, a lost desktop, a character not typeable here, no session at all).
    using Finished = std::function<void(const TypingEnd &end)>;

    TypingRun(KeyInjector &injector, Pauser &pauser, TypingRunParams params, Finished finished);
    ~TypingRun();

    TypingRun(const TypingRun &) = delete;
    TypingRun &operator=(const TypingRun &) = delete;

    /// Asks the run to stop at its next test or pause; never waits.
    void requestStop() { m_thread.request_stop(); }

private:
    std::jthread m_thread;
};
