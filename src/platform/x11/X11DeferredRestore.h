#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct _XDisplay;
class X11SpareKeys;

// Gives a closed session's spare keycodes back once their grace period is over,
// on a thread of its own, so that a run ends at once while its last keys may
// still be on their way to a slow client. Pending restores are finished before
// the program ends.
class X11DeferredRestore {
public:
    /// The one instance of the process.
    static X11DeferredRestore &instance();
    ~X11DeferredRestore();

    /// Takes the keys and their display; restores the keys after the grace period and closes the
    /// display.
    void hand(std::unique_ptr<X11SpareKeys> keys, _XDisplay *display);

    /// Waits until every pending restore is done.
    void finishAll();

private:
    X11DeferredRestore() = default;

    struct Pending {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    std::mutex m_mutex;
    std::vector<Pending> m_pending;
};
