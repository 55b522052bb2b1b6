#pragma once

#include "model/AppState.h"

#include <QSignalSpy>

// Waits until every typing run's worker has reported back and been reaped.
inline bool waitForRunsToEnd(AppState &state, int deadlineMs = 20000)
{
    QSignalSpy ended(&state, &AppState::typingTaskEnded);
    while (state.hasTypingTask()) {
        if (!ended.wait(deadlineMs))
            return false;
    }
    return true;
}
