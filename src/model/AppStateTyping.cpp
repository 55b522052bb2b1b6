#include "AppState.h"

#include "hotkey/HotkeyManager.h"
#include "platform/Clipboard.h"
#include "typing/TypingRun.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTextStream>
#include <cerrno>
#include <cstring>

#include <sys/eventfd.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A text this long (UTF-16 units) gives its memory back to the system when its run ends.
constexpr qsizetype largeTextUnits = 1 << 20;

// Key codes are 16-bit; anything else can only come from a hand-edited store and is
// replaced by the initial key so neither registration nor a run sees it.
quint16 narrowedKeyCode(qint64 keyCode)
{
    return keyCode >= 0 && keyCode <= 0xFFFF ? quint16(keyCode) : quint16(41);
}

// The stored index is kept as loaded, so a hand-edited one may sit at either end of
// qint64; stepping it in a wider type cannot overflow and leaves ordinary results alone.
__extension__ typedef __int128 WideIndex;

} // namespace

QString AppState::untypeableText(Untypeable reason)
{
    switch (reason) {
    case Untypeable::NoKey:
        return tr("A character cannot be typed here: this layout has no key for it.");
    case Untypeable::TooManyDistinct:
        return tr("A character cannot be typed here: it needs more spare keys than there are.");
    case Untypeable::KeymapRefused:
        return tr("A character cannot be typed here: the desktop did not take the keymap change "
                  "it needs.");
    }
    return {};
}

void AppState::setUpRunHandOver()
{
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        qFatal("Keyloom cannot create an eventfd: %s", strerror(errno));
    m_wakeNotifier = std::make_unique<QSocketNotifier>(m_wakeFd, QSocketNotifier::Read);
    connect(m_wakeNotifier.get(), &QSocketNotifier::activated, this, &AppState::drainFinishedRuns);
}

void AppState::tearDownRunHandOver()
{
    m_wakeNotifier.reset();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_wakeFd = -1;
}

void AppState::toggleTyping(ReleaseWait release)
{
    if (m_isTyping) {
        stopTyping();
        return;
    }

    TypingRunParams params;
    params.delayMs = m_typingSpeedMs;
    params.keyCode = narrowedKeyCode(m_hotkeyKeyCode);
    params.modifiers = hotkeyModifierFlags();
    params.listMode = m_typingMode == TypingMode::Playlist;
    params.release = std::move(release);
    if (params.listMode) {
        if (m_snippets.isEmpty())
            return;
        const qint64 last = m_snippets.size() - 1;
        const qint64 index = std::clamp<qint64>(m_currentSnippetIndex, 0, last);
        const QString &text = m_snippets.at(index).text;
        if (text.isEmpty())
            return;
        // A copy of its own, so the worker shares no reference count with the list.
        params.text = QString(text.constData(), text.size());
        startRun(++m_lastRunId, std::move(params));
        return;
    }

    // The owner of the clipboard may answer late or never: the run counts as started while
    // it is asked, so the shortcut, Esc and the menu stop it as they stop any run.
    const quint64 runId = ++m_lastRunId;
    m_typingTask = runId;
    const QPointer<AppState> self(this);
    m_platform.clipboard.requestText(
        [self, runId, params = std::move(params)](std::optional<QString> text) mutable {
            if (!self || runId != self->m_typingTask)
                return; // stopped meanwhile
            if (!text || text->isEmpty()) {
                self->m_typingTask = 0;
                self->setIsTyping(false);
                return;
            }
            params.text = std::move(*text);
            params.text.detach();
            self->startRun(runId, std::move(params));
        });
    // An answer at once that had nothing to type leaves the state as it was.
    if (m_typingTask == runId)
        setIsTyping(true);
}

void AppState::startRun(quint64 runId, TypingRunParams params)
{
    setIsTyping(true);
    const bool listMode = params.listMode;
    const bool largeText = params.text.size() > largeTextUnits;
    // The end steps run on the main thread; the worker only hands them over, through a
    // mutex and an eventfd of ours: sanitizers cannot see the futexes inside Qt's own
    // cross-thread event queue. The destructor joins every run, so `this` outlives each worker.
    auto finished = [this, runId, listMode, largeText](const TypingEnd &end) {
        {
            const std::lock_guard lock(m_finishedMutex);
            m_finishedRuns.push_back({runId, end, listMode, largeText});
        }
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    };
    m_runs.emplace_back(runId, std::make_unique<TypingRun>(m_platform.injector, *m_pauser,
                                                           std::move(params), finished));
    m_typingTask = runId;
}

void AppState::stopTyping()
{
    if (m_typingTask != 0) {
        for (auto &[id, run] : m_runs) {
            if (id == m_typingTask)
                run->requestStop();
        }
        m_typingTask = 0;
    }
    setIsTyping(false);
}

void AppState::drainFinishedRuns()
{
    quint64 count = 0;
    [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &count, sizeof count);
    std::vector<FinishedRun> finished;
    {
        const std::lock_guard lock(m_finishedMutex);
        finished.swap(m_finishedRuns);
    }
    for (const FinishedRun &run : finished) {
        runFinished(run.runId, run.end, run.listMode);
        // glibc keeps a freed multi-megabyte text in the heap otherwise.
#ifdef __GLIBC__
        if (run.largeText)
            malloc_trim(0);
#endif
    }
}

void AppState::runFinished(quint64 runId, const TypingEnd &end, bool listMode)
{
    // A stopped run reports back after a newer one may have started: its end steps
    // belong to no one, so only the current run may touch the state.
    if (runId == m_typingTask) {
        // Only a text typed whole moves the list on.
        if (end.end.kind == ClusterEnd::Kind::Typed && listMode)
            advanceSnippet();
        if (end.end.kind == ClusterEnd::Kind::NotTypeable) {
            // Never the character itself: the text may be a secret.
            QTextStream(stderr) << "[Keyloom] " << untypeableText(end.end.reason)
                                << " Nothing after it was typed." << Qt::endl;
            emit typingFailed(end.untyped, end.end.reason);
        }
        m_typingTask = 0;
        setIsTyping(false);
    }
    // The worker has nothing left to do but return, so this join is immediate.
    std::erase_if(m_runs, [runId](const auto &entry) { return entry.first == runId; });
    emit typingTaskEnded();
}

void AppState::advanceSnippet()
{
    const qint64 count = m_snippets.size();
    if (count == 0)
        return;
    setCurrentSnippetIndex(qint64((WideIndex(m_currentSnippetIndex) + 1) % count));
}

void AppState::previousSnippet()
{
    const qint64 count = m_snippets.size();
    if (count == 0)
        return;
    setCurrentSnippetIndex(qint64((WideIndex(m_currentSnippetIndex) - 1 + count) % count));
}

bool AppState::stepBack()
{
    if (m_typingMode != TypingMode::Playlist || m_snippets.isEmpty())
        return false;
    previousSnippet();
    return true;
}

void AppState::applyShortcutsToManager()
{
    HotkeyManager &manager = *m_hotkeyManager;
    manager.keyCode = narrowedKeyCode(m_hotkeyKeyCode);
    manager.modifiers = hotkeyModifierFlags();
    manager.prevKeyCode = narrowedKeyCode(m_prevHotkeyKeyCode);
    manager.prevModifiers = prevHotkeyModifierFlags();
    manager.prevEnabled = true;
}

void AppState::setupHotkey()
{
    applyShortcutsToManager();
    // The manager belongs to this object, but the callbacks still hold it weakly.
    const QPointer<AppState> self(this);
    HotkeyManager &manager = *m_hotkeyManager;
    manager.onHotkeyTriggered = [self] {
        if (!self)
            return false;
        // Where the tap hears the keys go up itself, the run waits for that.
        auto released = self->m_platform.tap.releaseOfCurrentPress();
        self->toggleTyping(released ? ReleaseWait{ReleaseWait::Kind::Signalled, std::move(released)}
                                    : ReleaseWait{});
        return true;
    };
    manager.onEscapePressed = [self] {
        if (!self || !self->isTyping())
            return false;
        self->stopTyping();
        return true;
    };
    manager.onPrevTriggered = [self] { return self && self->stepBack(); };
    manager.installTap();
}

void AppState::updateHotkey()
{
    if (m_isInitializing)
        return;
    m_hotkeyManager->removeTap();
    applyShortcutsToManager();
    m_hotkeyManager->installTap();
}
