#pragma once

#include "FakePlatform.h"
#include "model/AppState.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

// Waits until every typing run's worker has reported back and been reaped.
inline bool waitForRunsToEnd(AppState &state)
{
    QSignalSpy ended(&state, &AppState::typingTaskEnded);
    while (state.hasTypingTask() && ended.wait(20000))
        ;
    return !state.hasTypingTask();
}

// A real AppState over the fakes, on a settings file of its own (written first when given).
struct StateFixture {
    QTemporaryDir dir;
    FakePlatform fake;
    std::unique_ptr<AppState> state;

    explicit StateFixture(const QByteArray &file = {})
    {
        if (QFile out(path()); !file.isEmpty() && out.open(QIODevice::WriteOnly))
            out.write(file);
        state = load();
    }
    QString path() const { return dir.filePath(QStringLiteral("k.conf")); }
    std::unique_ptr<AppState> load()
    {
        return std::make_unique<AppState>(fake.platform(), path(), fake.pauser);
    }
    // Starts a clipboard or list run and holds it in its first pause.
    bool startHeld()
    {
        fake.pauser->hold();
        state->toggleTyping();
        return state->isTyping() && fake.pauser->waitUntilHeld();
    }
};
