#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

// The Wayland clipboard through the compositor's data-control protocol, which wlroots
// desktops offer to programs without a focused window: a tray program never has one, so
// the core protocol would show it no clipboard at all. Each read runs on a thread and a
// connection of its own; an owner silent for longer than the timeout means no text.
class WaylandClipboardReader {
public:
    using Done = std::function<void(std::optional<QString> text)>;
    static constexpr std::chrono::milliseconds ownerTimeout{1000};

    /// Whether the compositor offers data control to us.
    static bool available();

    /// Empties the clipboard for every application; false when it could not be done.
    static bool clear();

    WaylandClipboardReader();
    /// Stops the reads under way; their handlers are not called.
    ~WaylandClipboardReader();

    WaylandClipboardReader(const WaylandClipboardReader &) = delete;
    WaylandClipboardReader &operator=(const WaylandClipboardReader &) = delete;

    /// Starts a read; `done` runs once on the read's own thread.
    void read(Done done);

private:
    struct Read {
        std::jthread thread;
        bool finished = false;
    };

    int m_stopFd = -1; // readable once the reader goes
    std::mutex m_mutex;
    std::list<Read> m_reads;
};
