#pragma once

#include "platform/AccessibilityTrust.h"
#include "platform/Clipboard.h"
#include "platform/KeyCodes.h"
#include "platform/KeyInjector.h"
#include "platform/KeyboardTap.h"
#include "platform/Notifier.h"
#include "platform/Platform.h"
#include "typing/Pauser.h"

#include <QCoreApplication>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>

// Steps ("key 36", "type a", "pause 5000000"), text typed, keys asked about, and each
// look-ahead hint with the length typed before it.
struct Recorded {
    QStringList steps;
    QString typed;
    QList<quint16> down, queries;
    QList<std::pair<qsizetype, QString>> prepared;
};

// Sessions record from the runs' worker threads, so every access goes through the lock.
class FakeKeyInjector final : public KeyInjector {
public:
    template <typename F> auto with(F f)
    {
        std::lock_guard lock(m_mutex);
        return f(m_data);
    }
    Recorded data()
    {
        return with([](Recorded &d) { return d; });
    }
    QStringList steps() { return data().steps; }
    QString typedText() { return data().typed; }
    std::unique_ptr<KeySession> open(KeyForwarding forwarding) override
    {
        lastForwarding = forwarding;
        class Session final : public KeySession {
        public:
            explicit Session(FakeKeyInjector &r) : m_r(r) { ++r.sessionsOpened; }
            ~Session() override { ++m_r.sessionsClosed; }
            bool isKeyDown(quint16 key) override
            {
                return m_r.with(
                    [&](Recorded &d) { return d.queries.append(key), d.down.contains(key); });
            }
            bool anyKeyDown() override
            {
                return m_r.with([](Recorded &d) { return !d.down.isEmpty(); });
            }
            bool seesKeys() const override { return m_r.seesKeys; }
            void prepare(QStringView text) override
            {
                m_r.with([&](Recorded &d) {
                    d.prepared.append({d.typed.size(), text.toString()});
                });
            }
            bool allTypeable(QStringView) override { return m_r.untypeableLate; }
            std::optional<Untypeable> untypeable(QStringView text) override
            {
                return text == m_r.untypeable ? std::optional(Untypeable::NoKey) : std::nullopt;
            }
            ClusterEnd typeCluster(QStringView text) override
            {
                if (text == m_r.untypeable)
                    return {ClusterEnd::Kind::NotTypeable, Untypeable::NoKey};
                m_r.with([&](Recorded &d) {
                    d.steps << QStringLiteral("type ") + text.toString(), d.typed += text;
                });
                return {};
            }
            ClusterEnd pressKey(quint16 key) override
            {
                m_r.with([&](Recorded &d) {
                    d.steps << QStringLiteral("key %1").arg(key);
                    d.typed += key == KeyCode::Return ? u'\n' : key == KeyCode::Tab ? u'\t' : u'?';
                });
                return {};
            }
            std::chrono::nanoseconds takeTimeSpent() override { return m_r.spent.load(); }

        private:
            FakeKeyInjector &m_r;
        };
        return failToOpen ? nullptr : std::make_unique<Session>(*this);
    }

    bool failToOpen = false;
    QString untypeable;          // a character that sessions report as not typeable
    bool untypeableLate = false; // only when it is typed, not when the text is checked first
    std::atomic<bool> seesKeys = true;
    std::atomic<int> sessionsOpened = 0, sessionsClosed = 0;
    std::atomic<KeyForwarding> lastForwarding = KeyForwarding::Automatic;
    std::atomic<std::chrono::nanoseconds> spent{}; // what each session reports per character

private:
    std::mutex m_mutex;
    Recorded m_data;
};

// Records pauses; after hold() each blocks until step() or release() lets it go, or a stop.
class FakePauser final : public Pauser {
public:
    explicit FakePauser(FakeKeyInjector &recorder) : m_recorder(recorder) {}
    bool pause(std::chrono::nanoseconds duration, std::stop_token stop) override
    {
        const QString step = QStringLiteral("pause %1").arg(duration.count());
        m_recorder.with([&](Recorded &d) { d.steps << step; });
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        m_cv.notify_all();
        const bool passed = m_cv.wait(lock, stop, [&] { return m_passes > 0; });
        m_passes -= passed && m_passes != open;
        --m_waiting;
        return passed && !stop.stop_requested();
    }
    void hold() { let(0, false); }
    void step() { let(1, true); }
    void release() { let(open, false); }
    bool waitUntilHeld()
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(20),
                             [&] { return m_passes == 0 && m_waiting > 0; });
    }

private:
    static constexpr int open = 1 << 30;
    void let(int passes, bool add)
    {
        std::lock_guard lock(m_mutex);
        m_passes = add ? m_passes + passes : passes;
        m_cv.notify_all();
    }
    FakeKeyInjector &m_recorder;
    std::mutex m_mutex;
    std::condition_variable_any m_cv;
    int m_waiting = 0, m_passes = open;
};

class FakeKeyboardTap final : public KeyboardTap {
public:
    bool install(Handler handler) override
    {
        ++installs;
        m_handler = std::move(handler);
        return installed = true;
    }
    void remove() override
    {
        m_handler = nullptr;
        installed = escapeWatched = false;
    }
    QList<KeyCombo> watch(const QList<KeyCombo> &combos, bool escape) override
    {
        watched = combos;
        escapeWatched = escape;
        return {};
    }
    // Tests use the key code plus 8, as X keycodes sit 8 above evdev codes.
    std::optional<quint16> keyCodeForScanCode(quint32 scanCode) const override
    {
        return scanCode < 8 ? std::nullopt : std::optional<quint16>(scanCode - 8);
    }
    Binding binding() const override { return bindingMode; }
    /// A key-down; answers whether it was swallowed.
    /// What the press leads to is done once control is back in the event loop, here at once.
    bool press(quint16 keyCode, quint64 flags)
    {
        const bool swallowed = m_handler && m_handler(keyCode, flags);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        return swallowed;
    }

    Binding bindingMode = Binding::Grabbed;

    bool installed = false, escapeWatched = false;
    int installs = 0;
    QList<KeyCombo> watched;

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

// Notifications as "summary: body".
class FakeNotifier final : public Notifier {
public:
    void notify(const QString &title, const QString &body) override { shown << title + ": " + body; }
    QStringList shown;
};

// Everything an AppState needs, wired together.
struct FakePlatform {
    FakeKeyInjector injector;
    FakeKeyInjector &recorder = injector;
    FakeKeyboardTap tap;
    FakeClipboard clipboard;
    FakeTrust trust;
    FakeNotifier notifier;
    std::shared_ptr<FakePauser> pauser = std::make_shared<FakePauser>(recorder);

    Platform platform() { return Platform{injector, tap, clipboard, trust, notifier}; }
};
