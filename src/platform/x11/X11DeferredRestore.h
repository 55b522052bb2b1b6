#pragma once

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "X11WindowPing.h"

struct _XDisplay;
class X11SpareKeys;

// Keeps a closed session's spare keycodes bound until their grace period is over,
// then gives them back on a thread of its own, so that a run ends at once while
// its last keys may still be on their way to a slow client. A run that starts
// meanwhile adopts them, bindings and all, instead of waiting for the restore.
// Pending restores are finished before the program ends.
class X11DeferredRestore {
public:
    struct Parked {
        std::unique_ptr<X11SpareKeys> keys;
        _XDisplay *display = nullptr;
        std::unique_ptr<X11WindowPing> ping; // the window the keys went to, where it answers
    };

    /// The one instance of the process.
    static X11DeferredRestore &instance();
    ~X11DeferredRestore();

    /// Takes the keys and the display they were bound on; restores the keys after the grace
    /// period and closes the display, unless a new session adopts them first.
    /// A window that answers pings keeps them until it has handled their last press too
    /// (for at most a minute).
    void park(std::unique_ptr<X11SpareKeys> keys, _XDisplay *display, QByteArray displayName,
              std::unique_ptr<X11WindowPing> ping = nullptr);

    /// Hands parked keys of that display, with their connection, to a new session.
    std::optional<Parked> adopt(const QByteArray &displayName);

    /// Waits until every pending restore is done, without waiting for slow windows.
    void finishAll();

private:
    X11DeferredRestore() = default;

    struct Entry {
        std::uint64_t id;
        QByteArray displayName;
        Parked parked;
    };

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Entry> m_entries;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    std::vector<Worker> m_workers;
    std::uint64_t m_nextId = 0;
    bool m_ending = false; // finishing: no more waiting on slow windows
};
