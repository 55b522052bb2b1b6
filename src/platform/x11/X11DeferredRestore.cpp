#include "X11DeferredRestore.h"

#include "X11SpareKeys.h"

#include <algorithm>

#include "X11Headers.h"

namespace {

// A window this far behind is taken as hung: its keys are given back all the same.
constexpr std::chrono::seconds slowWindowLimit{60};

} // namespace

X11DeferredRestore &X11DeferredRestore::instance()
{
    static X11DeferredRestore restore;
    return restore;
}

X11DeferredRestore::~X11DeferredRestore()
{
    finishAll();
}

void X11DeferredRestore::park(std::unique_ptr<X11SpareKeys> keys, Display *display,
                              QByteArray displayName, std::unique_ptr<X11WindowPing> ping)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_workers, [](Worker &w) {
        if (!*w.done)
            return false;
        w.thread.join();
        return true;
    });
    const std::uint64_t id = ++m_nextId;
    auto done = std::make_shared<std::atomic<bool>>(false);
    const auto lastUse = keys->pool().lastUse();
    const auto deadline = lastUse + keys->pool().grace();
    m_entries.push_back({id, std::move(displayName), {std::move(keys), display, std::move(ping)}});
    std::thread thread([this, id, lastUse, deadline, done] {
        std::unique_lock lock(m_mutex);
        const auto mine = [this, id] {
            return std::find_if(m_entries.begin(), m_entries.end(),
                                [id](const Entry &e) { return e.id == id; });
        };
        m_changed.wait_until(lock, deadline, [&] { return mine() == m_entries.end(); });
        // A slow window may not have handled the last keys yet: it says when it has.
        for (auto it = mine(); it != m_entries.end() && !m_ending; it = mine()) {
            Parked &p = it->parked;
            if (!p.ping || !p.ping->tells() || p.keys->pool().handled(lastUse) ||
                std::chrono::steady_clock::now() > deadline + slowWindowLimit)
                break;
            p.ping->ask(p.display, p.keys->pool());
            m_changed.wait_for(lock, ExtraKeyPool::recheck * 2,
                               [&] { return mine() == m_entries.end() || m_ending; });
        }
        const auto it = mine();
        if (it != m_entries.end()) {
            Parked parked = std::move(it->parked);
            m_entries.erase(it);
            lock.unlock();
            // The display moves to this thread; the session that used it is gone.
            parked.keys.reset();
            XCloseDisplay(parked.display);
        }
        *done = true;
    });
    m_workers.push_back({std::move(thread), std::move(done)});
}

std::optional<X11DeferredRestore::Parked> X11DeferredRestore::adopt(const QByteArray &displayName)
{
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const Entry &e) { return e.displayName == displayName; });
    if (it == m_entries.end())
        return std::nullopt;
    Parked parked = std::move(it->parked);
    m_entries.erase(it);
    m_changed.notify_all();
    return parked;
}

void X11DeferredRestore::finishAll()
{
    std::vector<Worker> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
        m_ending = true;
    }
    m_changed.notify_all();
    for (Worker &w : workers)
        w.thread.join();
    std::lock_guard lock(m_mutex);
    m_ending = false;
}
