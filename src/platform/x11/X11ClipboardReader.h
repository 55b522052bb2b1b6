#pragma once

#include <QByteArray>
#include <QString>

#include "platform/ReadThreads.h"

#include <chrono>

// Reads the text of the CLIPBOARD selection as a polished X client does (a server
// timestamp, UTF8_STRING, else STRING, else TEXT; large texts in INCR pieces), each read
// on a thread and an X connection of its own, so that an owner that answers slowly or
// never holds up neither the caller nor another read. An owner silent for longer than
// the timeout at any step means no text.
class X11ClipboardReader {
public:
    using Done = ReadThreads::Done;
    static constexpr std::chrono::milliseconds ownerTimeout{1000};

    /// Reads from the named display, e.g. ":1" ($DISPLAY when empty).
    explicit X11ClipboardReader(QByteArray displayName) : m_displayName(std::move(displayName)) {}

    /// Starts a read; `done` runs once on the read's own thread, and not once the reader is gone.
    void read(Done done);

private:
    QByteArray m_displayName;
    ReadThreads m_reads; // last: the reads stop before the rest goes
};
