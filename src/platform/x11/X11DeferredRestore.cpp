#include "X11DeferredRestore.h"

#include "X11SpareKeys.h"

#include "X11Headers.h"

X11DeferredRestore &X11DeferredRestore::instance()
{
    static X11DeferredRestore restore;
    return restore;
}

X11DeferredRestore::~X11DeferredRestore()
{
    finishAll();
}

void X11DeferredRestore::hand(std::unique_ptr<X11SpareKeys> keys, Display *display)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_pending, [](Pending &p) {
        if (!*p.done)
            return false;
        p.thread.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    // The display moves to this thread; the session that used it is gone.
    std::thread thread([keys = std::move(keys), display, done]() mutable {
        std::this_thread::sleep_until(keys->lastUse() + X11SpareKeys::gracePeriod);
        keys.reset();
        XCloseDisplay(display);
        *done = true;
    });
    m_pending.push_back({std::move(thread), std::move(done)});
}

void X11DeferredRestore::finishAll()
{
    std::vector<Pending> pending;
    {
        std::lock_guard lock(m_mutex);
        pending.swap(m_pending);
    }
    for (Pending &p : pending)
        p.thread.join();
}
