#pragma once

#include "PreviewClock.h"

#include <QTimer>

// A PreviewClock on a precise single-shot timer of the main thread.
class TimerPreviewClock final : public PreviewClock {
public:
    TimerPreviewClock();
    void schedule(std::chrono::nanoseconds after, std::function<void()> tick) override;
    void cancel() override;

private:
    QTimer m_timer;
    std::function<void()> m_tick;
};
