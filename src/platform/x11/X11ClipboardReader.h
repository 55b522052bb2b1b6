#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

// Reads the text of the CLIPBOARD selection as a polished X client does (a server
// timestamp, UTF8_STRING, else STRING, else TEXT; large texts in INCR pieces), each read
// on a thread and an X connection of its own, so that an owner that answers slowly or
// never holds up neither the caller nor another read. An owner silent for longer than
// the timeout at any step means no text.
class X11ClipboardReader {
public:
    using Done = std::function<void(std::optional<QString> text)>;
    static constexpr std::chrono::milliseconds ownerTimeout{1000};

    /// Reads from the named display, e.g. ":1" ($DISPLAY when empty).
    explicit X11ClipboardReader(QByteArray displayName);
    /// Stops the reads under way; their handlers are not called.
    ~X11ClipboardReader();

    X11ClipboardReader(const X11ClipboardReader &) = delete;
    X11ClipboardReader &operator=(const X11ClipboardReader &) = delete;

    /// Starts a read; `done` runs once on the read's own thread.
    void read(Done done);

private:
    struct Read {
        std::jthread thread;
        bool finished = false;
    };

    QByteArray m_displayName;
    int m_stopFd = -1; // readable once the reader goes
    std::mutex m_mutex;
    std::list<Read> m_reads;
};
