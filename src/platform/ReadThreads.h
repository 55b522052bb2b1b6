#pragma once

#include <QString>

#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/eventfd.h>
#include <unistd.h>

// Clipboard reads, each on a thread of its own, so that an owner that answers slowly or never
// holds up neither the caller nor another read. Going away stops the reads under way: their
// work sees the stop token and the stop descriptor turn readable, and their handlers are not
// called.
class ReadThreads {
public:
    using Done = std::function<void(std::optional<QString> text)>;
    /// The read itself; polls stopFd beside its own descriptors.
    using Work = std::function<std::optional<QString>(int stopFd, std::stop_token stop)>;

    ReadThreads() : m_stopFd(eventfd(0, EFD_CLOEXEC)) {}
    ~ReadThreads()
    {
        std::list<Read> reads;
        {
            const std::lock_guard lock(m_mutex);
            reads.swap(m_reads);
        }
        for (Read &read : reads)
            read.thread.request_stop();
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = write(m_stopFd, &one, sizeof one);
        reads.clear(); // joins; the reads notice the stop at their next wait
        close(m_stopFd);
    }
    ReadThreads(const ReadThreads &) = delete;
    ReadThreads &operator=(const ReadThreads &) = delete;

    /// Starts a read; `done` runs once on the read's own thread.
    void start(Work work, Done done)
    {
        const std::lock_guard lock(m_mutex);
        std::erase_if(m_reads, [](const Read &read) { return read.finished; });
        Read &entry = m_reads.emplace_back();
        entry.thread = std::jthread(
            [this, &entry, work = std::move(work), done = std::move(done)](std::stop_token stop) {
                std::optional<QString> text = work(m_stopFd, stop);
                if (!stop.stop_requested())
                    done(std::move(text));
                const std::lock_guard lock(m_mutex);
                entry.finished = true;
            });
    }

private:
    struct Read {
        std::jthread thread;
        bool finished = false;
    };

    int m_stopFd = -1; // readable once this object goes
    std::mutex m_mutex;
    std::list<Read> m_reads;
};
