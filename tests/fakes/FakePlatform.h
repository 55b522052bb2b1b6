#pragma once

#include "platform/AccessibilityTrust.h"
#include "platform/Clipboard.h"
#include "platform/KeyInjector.h"
#include "platform/KeyboardTap.h"
#include "platform/Platform.h"
#include "typing/Pauser.h"

#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

// What a typing run did, in order: key events and pauses.
struct RecordedStep {
    enum Kind { Down, Up, Pause } kind;
    quint16 keyCode = 0;
    QString text;
    qint64 pauseNs = 0;

    friend bool operator==(const RecordedStep &, const RecordedStep &) = default;
};

// A look-ahead hint a session received, and how many steps were recorded before it.
struct PreparedText {
    qsizetype stepsBefore = 0;
    QString text;
};

// Shared between the injector's sessions, the pauser and the test; guarded by a mutex
// because runs post from their worker threads.
class Recorder {
public:
    void add(RecordedStep step);
    QList<RecordedStep> steps() const;
    /// Waits (with a deadline) until at least n steps were recorded.
    bool waitForCount(qsizetype n, std::chrono::milliseconds deadline = std::chrono::seconds(20));
    /// The text typed so far: Down events' texts, Return as "\n", Tab as "\t".
    QString typedText() const;

    // Keys that report "down" to isKeyDown.
    void setKeyDown(quint16 keyCode, bool down);
    bool isKeyDown(quint16 keyCode) const;
    QList<quint16> keyQueries() const;

    // Look-ahead hints passed to KeySession::prepare, in order.
    void addPrepared(QStringView text);
    QList<PreparedText> prepared() const;

    // Sessions opened and closed.
    std::atomic<int> sessionsOpened = 0;
    std::atomic<int> sessionsClosed = 0;
    /// What each session reports from takeTimeSpent, once per character.
    std::atomic<qint64> spentNs = 0;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QList<RecordedStep> m_steps;
    QSet<quint16> m_down;
    QList<quint16> m_queries;
    QList<PreparedText> m_prepared;
};

class FakeKeyInjector final : public KeyInjector {
public:
    explicit FakeKeyInjector(Recorder &recorder) : m_recorder(recorder) {}
    std::unique_ptr<KeySession> openSession() override;
    bool failToOpen = false;

private:
    Recorder &m_recorder;
};

// Records each pause instead of waiting; an optional gate can hold a pause until released,
// so a test can act while a run is "inside" a pause.
class FakePauser final : public Pauser {
public:
    explicit FakePauser(Recorder &recorder) : m_recorder(recorder) {}
    bool pause(std::chrono::nanoseconds duration, std::stop_token stop) override;

    /// From now on every pause blocks until released or stopped.
    void hold();
    /// Lets blocked pauses (and later ones) return.
    void release();
    /// While holding, lets exactly one pause (blocked now or the next one) return.
    void step();
    /// Waits until a pause is blocked in hold().
    bool waitUntilHeld(std::chrono::milliseconds deadline = std::chrono::seconds(20));

private:
    Recorder &m_recorder;
    std::mutex m_mutex;
    std::condition_variable_any m_cv;
    bool m_holding = false;
    int m_waiting = 0;
    int m_passes = 0;
};

class FakeKeyboardTap final : public KeyboardTap {
public:
    bool install(Handler handler) override;
    void remove() override;
    QList<KeyCombo> watch(const QList<KeyCombo> &combos, bool escape) override;
    std::optional<quint16> keyCodeForScanCode(quint32 nativeScanCode) const override;

    /// Simulates a key-down; answers whether it was swallowed (a watched press no one handles
    /// passes).
    bool press(quint16 keyCode, quint64 flags);

    bool refuseInstall = false;
    QList<KeyCombo> takenByOthers;
    bool installed = false;
    int installs = 0;
    QList<KeyCombo> watched;
    bool escapeWatched = false;

private:
    Handler m_handler;
};

// Answers at once with its content.
class FakeClipboard final : public Clipboard {
public:
    void requestText(TextHandler handler) override { handler(content); }
    void clear() override { content.reset(); }
    std::optional<QString> content;
};

class FakeTrust final : public AccessibilityTrust {
public:
    bool isTrusted() override { return trusted; }
    QString missingReason() override { return trusted ? QString() : QStringLiteral("not trusted"); }
    void request() override { ++requests; }
    bool trusted = true;
    int requests = 0;
};

// Everything an AppState needs, wired together.
struct FakePlatform {
    Recorder recorder;
    FakeKeyInjector injector{recorder};
    FakeKeyboardTap tap;
    FakeClipboard clipboard;
    FakeTrust trust;
    std::shared_ptr<FakePauser> pauser = std::make_shared<FakePauser>(recorder);

    Platform platform() { return Platform{injector, tap, clipboard, trust}; }
};
