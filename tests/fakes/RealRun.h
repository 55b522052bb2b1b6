#pragma once

#include "typing/Pauser.h"
#include "typing/TypingRun.h"

#include <atomic>
#include <memory>

// One run through a real injector on a worker thread, at real pace; finished is -1 until it
// ends, then 1 for a text typed whole.
struct RealRun {
    RealRun(KeyInjector &injector, const QString &text, double delayMs,
            KeyForwarding forwarding = KeyForwarding::Automatic)
        : run(std::make_unique<TypingRun>(
              injector, pauser,
              TypingRunParams{.text = text, .delayMs = delayMs, .forwarding = forwarding},
              [this](const TypingEnd &end) { finished = end.end.kind == ClusterEnd::Kind::Typed; }))
    {
    }
    RealPauser pauser;
    std::atomic<int> finished{-1};
    std::unique_ptr<TypingRun> run;
};

// Distinct ideographs, none on a keyboard.
inline QString manyDistinct(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QChar(0x4E00 + i * 7);
    return text;
}
