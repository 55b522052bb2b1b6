#pragma once

#include "platform/ReadThreads.h"

#include <chrono>

// The Wayland clipboard through the compositor's data-control protocol, which wlroots
// desktops offer to programs without a focused window: a tray program never has one, so
// the core protocol would show it no clipboard at all. Each read runs on a thread and a
// connection of its own; an owner silent for longer than the timeout means no text.
class WaylandClipboardReader {
public:
    using Done = ReadThreads::Done;
    static constexpr std::chrono::milliseconds ownerTimeout{1000};

    /// Whether the compositor offers data control to us.
    static bool available();

    /// Empties the clipboard for every application; false when it could not be done.
    static bool clear();

    /// Starts a read; `done` runs once on the read's own thread, and not once the reader is gone.
    void read(Done done)
    {
        m_reads.start([](int stopFd, std::stop_token stop) { return readSelection(stopFd, stop); },
                      std::move(done));
    }

private:
    static std::optional<QString> readSelection(int stopFd, std::stop_token stop);

    ReadThreads m_reads;
};
