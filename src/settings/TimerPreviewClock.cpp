#include "TimerPreviewClock.h"

TimerPreviewClock::TimerPreviewClock()
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        // Taken out first: the tick usually schedules the next one.
        auto tick = std::exchange(m_tick, nullptr);
        if (tick)
            tick();
    });
}

void TimerPreviewClock::schedule(std::chrono::nanoseconds after, std::function<void()> tick)
{
    m_tick = std::move(tick);
    m_timer.start(std::chrono::duration_cast<std::chrono::milliseconds>(after));
}

void TimerPreviewClock::cancel()
{
    m_timer.stop();
    m_tick = nullptr;
}
