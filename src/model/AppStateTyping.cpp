#include "AppState.h"

#include "hotkey/HotkeyManager.h"
#include "platform/Clipboard.h"
#include "platform/Notifier.h"
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
        return tr("The keyboard layout has no key for such characters, and no spare key is free.");
    case Untypeable::TooManyDistinct:
        return tr("Such a character needs more spare keys than there are.");
    case Untypeable::KeymapRefused:
        return tr("The desktop did not take the keymap change such characters need.");
    case Untypeable::KeysOnly:
        return tr("This window passes on keys only, and no key or dead key of the keyboard "
                  "layout gives such characters.");
    }
    return {};
}

void AppState::setUntyped(const TypingEnd &end, QString text)
{
    const bool failed = end.end.kind == ClusterEnd::Kind::NotTypeable;
    if (!failed && m_untypedText.isEmpty())
        return;
    m_untyped = failed ? end.untyped : Untyped{};
    m_untypedText = failed ? std::move(text) : QString();
    m_untypedSummary.clear();
    if (failed) {
        const QString why = untypeableText(end.untyped.reason);
        m_untypedSummary =
            end.nothingTyped
                ? tr("Nothing was typed. Characters that cannot be typed here: %n. %1", "",
                     end.untyped.count)
                      .arg(why)
                : tr("Typing stopped at a character that cannot be typed here. %1").arg(why);
        // Never the characters themselves: the service keeps a history, the text may be a secret.
        const QString hint = tr("Choose \"Type Anyway Without Them\" in Keyloom's menu to type the rest.");
        m_platform.notifier.notify(end.nothingTyped ? tr("Keyloom typed nothing")
                                                    : tr("Keyloom stopped typing"),
                                   m_untypedSummary + QLatin1Char(' ') + hint);
        QTextStream(stderr) << "[Keyloom] " << m_untypedSummary << Qt::endl;
    }
    emit untypedChanged();
}

void AppState::typeAnyway()
{
    if (m_isTyping || m_untypedText.isEmpty())
        return;
    TypingRunParams params;
    params.text = m_untypedText;
    params.delayMs = m_typingSpeedMs;
    params.keyCode = narrowedKeyCode(m_hotkeyKeyCode);
    params.modifiers = hotkeyModifierFlags();
    // A list run moves on only if the list still shows the snippet that was tried.
    params.listMode = m_typingMode == TypingMode::Playlist && !m_snippets.isEmpty() &&
                      m_snippets.at(std::clamp<qint64>(m_currentSnippetIndex, 0,
                                                       m_snippets.size() - 1))
                              .text == params.text;
    params.leaveOut = true;
    params.forwarding = m_keyForwarding;
    startRun(++m_lastRunId, std::move(params));
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
    params.forwarding = m_keyForwarding;
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
    setUntyped({}, {});
    setIsTyping(true);
    QString text = params.leaveOut ? QString() : params.text; // kept for typeAnyway()
    const bool listMode = params.listMode;
    const bool largeText = params.text.size() > largeTextUnits;
    // The end steps run on the main thread; the worker only hands them over, through a
    // mutex and an eventfd of ours: sanitizers cannot see the futexes inside Qt's own
    // cross-thread event queue. The destructor joins every run, so `this` outlives each worker.
    auto finished = [this, runId, listMode, largeText, text = std::move(text)](const TypingEnd &end) {
        {
            const std::lock_guard lock(m_finishedMutex);
            m_finishedRuns.push_back({runId, end, listMode, largeText,
                                      end.end.kind == ClusterEnd::Kind::NotTypeable ? text : QString()});
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
        runFinished(run.runId, run.end, run.listMode, run.text);
        // glibc keeps a freed multi-megabyte text in the heap otherwise.
#ifdef __GLIBC__
        if (run.largeText)
            malloc_trim(0);
#endif
    }
}

void AppState::runFinished(quint64 runId, const TypingEnd &end, bool listMode, QString text)
{
    // A stopped run reports back after a newer one may have started: its end steps
    // belong to no one, so only the current run may touch the state.
    if (runId == m_typingTask) {
        // Only a text typed whole moves the list on.
        if (end.end.kind == ClusterEnd::Kind::Typed && listMode)
            advanceSnippet();
        setUntyped(end, std::move(text));
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
    // Each callback only decides whether the press is ours, so the tap can answer it at once
    // (on X11 the whole keyboard waits for that answer); the work, with the menu it changes
    // and the settings it writes, follows from the event loop.
    const auto later = [self](auto work) {
        QMetaObject::invokeMethod(
            self,
            [self, work = std::move(work)] {
                if (self)
                    work(*self);
            },
            Qt::QueuedConnection);
    };
    manager.onHotkeyTriggered = [self, later] {
        if (!self)
            return false;
        // Where the tap hears the keys go up itself, the run waits for that.
        auto released = self->m_platform.tap.releaseOfCurrentPress();
        later([released = std::move(released)](AppState &state) {
            state.toggleTyping(released ? ReleaseWait{ReleaseWait::Kind::Signalled, released}
                                        : ReleaseWait{});
        });
        return true;
    };
    manager.onEscapePressed = [self, later] {
        if (!self || !self->isTyping())
            return false;
        later([](AppState &state) { state.stopTyping(); });
        return true;
    };
    m_platform.tap.problemChanged = [self] {
        if (self)
            emit self->shortcutProblemChanged();
    };
    manager.onPrevTriggered = [self, later] {
        if (!self || self->m_typingMode != TypingMode::Playlist || self->m_snippets.isEmpty())
            return false;
        later([](AppState &state) { state.stepBack(); });
        return true;
    };
    manager.installTap();
}

QString AppState::shortcutProblem() const
{
    return m_platform.tap.problem();
}

void AppState::updateHotkey()
{
    if (m_isInitializing)
        return;
    m_hotkeyManager->removeTap();
    applyShortcutsToManager();
    m_hotkeyManager->installTap();
}
