#include "FakePlatform.h"
#include "platform/KeyCodes.h"
#include "typing/KeystrokeEngine.h"
#include "typing/Pauser.h"
#include "typing/TypingRun.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr quint64 ctrlCmd = ModifierFlag::Control | ModifierFlag::Command;
constexpr auto deadline = 20s;

// One line per step, so a failing comparison shows where the sequences part.
// Printable ASCII payloads are quoted; anything else is listed as UTF-16 units.
QString describe(const RecordedStep &step)
{
    if (step.kind == RecordedStep::Pause)
        return QStringLiteral("pause %1").arg(step.pauseNs);
    QString line = QStringLiteral("%1 %2")
                       .arg(QLatin1String(step.kind == RecordedStep::Down ? "down" : "up"))
                       .arg(step.keyCode);
    if (step.text.isEmpty())
        return line;
    const bool ascii = std::all_of(step.text.cbegin(), step.text.cend(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x7f;
    });
    if (ascii)
        return line + QStringLiteral(" \"%1\"").arg(step.text);
    for (QChar c : step.text)
        line += QStringLiteral(" %1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    return line;
}

QStringList describe(const QList<RecordedStep> &steps)
{
    QStringList lines;
    for (const RecordedStep &step : steps)
        lines << describe(step);
    return lines;
}

QStringList pausesOf(const QList<RecordedStep> &steps)
{
    QStringList lines;
    for (const RecordedStep &step : steps) {
        if (step.kind == RecordedStep::Pause)
            lines << describe(step);
    }
    return lines;
}

// A key press typing this text: down and up of key 0 with the text.
QStringList press(const QString &text)
{
    return {describe({RecordedStep::Down, 0, text, 0}), describe({RecordedStep::Up, 0, text, 0})};
}

QStringList pressKey(quint16 key)
{
    return {QStringLiteral("down %1").arg(key), QStringLiteral("up %1").arg(key)};
}

QString pause(qint64 ns)
{
    return QStringLiteral("pause %1").arg(ns);
}

QString fromUcs4(std::initializer_list<char32_t> codePoints)
{
    return QString::fromUcs4(codePoints.begin(), qsizetype(codePoints.size()));
}

// Runs f on a thread of its own, so the test thread can hold, step and stop it.
class Worker {
public:
    template <typename F>
    explicit Worker(F f)
        : m_done(m_promise.get_future()), m_thread([this, f = std::move(f)](std::stop_token stop) {
              f(stop);
              m_promise.set_value();
          })
    {
    }
    bool finishes() { return m_done.wait_for(deadline) == std::future_status::ready; }
    void requestStop() { m_thread.request_stop(); }

private:
    std::promise<void> m_promise;
    std::future<void> m_done;
    std::jthread m_thread;
};

} // namespace

class TestKeystrokeEngine : public QObject {
    Q_OBJECT

private slots:
    void keysToWatch_data();
    void keysToWatch();
    void pauseAfterCharacter_data();
    void pauseAfterCharacter();

    void typeText_data();
    void typeText();
    void typeTextPreparesEachWindowAhead();
    void typeTextStopsInPause_data();
    void typeTextStopsInPause();
    void typeTextStoppedBeforeStart();

    void waitForKeyRelease_data();
    void waitForKeyRelease();
    void waitForKeyReleaseStops_data();
    void waitForKeyReleaseStops();

    void typingRun_data();
    void typingRun();
    void typingRunClosesSessionBeforeFinished();
    void typingRunDestructorStopsAndJoins();

    void realPauserWaitsOrStops_data();
    void realPauserWaitsOrStops();
};

void TestKeystrokeEngine::keysToWatch_data()
{
    QTest::addColumn<quint16>("keyCode");
    QTest::addColumn<quint64>("modifiers");
    QTest::addColumn<QList<quint16>>("expected");

    QTest::newRow("ctrl+cmd+41") << quint16(41) << ctrlCmd << QList<quint16>{41, 59, 62, 55, 54};
    QTest::newRow("no modifier") << quint16(12) << quint64(0) << QList<quint16>{12};
    QTest::newRow("all four") << quint16(0) << ModifierFlag::Mask
                              << QList<quint16>{0, 59, 62, 55, 54, 58, 61, 56, 60};
    QTest::newRow("shift only") << quint16(41) << ModifierFlag::Shift << QList<quint16>{41, 56, 60};
    QTest::newRow("option+shift") << quint16(41) << (ModifierFlag::Option | ModifierFlag::Shift)
                                  << QList<quint16>{41, 58, 61, 56, 60};
    QTest::newRow("other bits ignored")
        << quint16(41) << (ModifierFlag::Control | 0x1 | 0x800000 | (quint64(1) << 40))
        << QList<quint16>{41, 59, 62};
}

void TestKeystrokeEngine::keysToWatch()
{
    QFETCH(quint16, keyCode);
    QFETCH(quint64, modifiers);
    QFETCH(QList<quint16>, expected);
    QCOMPARE(KeystrokeEngine::keysToWatch(keyCode, modifiers), expected);
}

void TestKeystrokeEngine::pauseAfterCharacter_data()
{
    QTest::addColumn<double>("delayMs");
    QTest::addColumn<qint64>("expectedNs");

    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("0.5 ms") << 0.5 << qint64(500'000);
    QTest::newRow("5 ms") << 5.0 << qint64(5'000'000);
    QTest::newRow("12.5 ms") << 12.5 << qint64(12'500'000);
    QTest::newRow("30 ms") << 30.0 << qint64(30'000'000);
    QTest::newRow("200 ms") << 200.0 << qint64(200'000'000);
    QTest::newRow("truncated") << 0.0000015 << qint64(1);
    QTest::newRow("below 1 ns") << 0.0000009 << qint64(0);
    QTest::newRow("zero") << 0.0 << qint64(0);
    QTest::newRow("negative zero") << -0.0 << qint64(0);
    QTest::newRow("negative") << -5.0 << qint64(0);
    QTest::newRow("NaN") << std::nan("") << qint64(0);
    QTest::newRow("infinity") << inf << qint64(0);
    QTest::newRow("minus infinity") << -inf << qint64(0);
    QTest::newRow("1e300") << 1e300 << qint64(0);
    QTest::newRow("largest that fits") << 1e12 << qint64(1'000'000'000'000'000'000);
    QTest::newRow("just over 2^63 ns") << 9.3e12 << qint64(0);
}

void TestKeystrokeEngine::pauseAfterCharacter()
{
    QFETCH(double, delayMs);
    QFETCH(qint64, expectedNs);
    QCOMPARE(qint64(KeystrokeEngine::pauseAfterCharacter(delayMs).count()), expectedNs);
}

void TestKeystrokeEngine::typeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("delayMs");
    QTest::addColumn<QStringList>("expected");

    const QString p30 = pause(30'000'000);
    const QString thumbs = fromUcs4({0x1F44D, 0x1F3FD});
    const QString family = fromUcs4({0x1F468, 0x200D, 0x1F469, 0x200D, 0x1F467, 0x200D, 0x1F466});
    const QString flag = fromUcs4({0x1F1E9, 0x1F1EA});
    const QString eAcute = fromUcs4({U'e', 0x0301});

    QTest::newRow("ab") << QStringLiteral("ab") << 30.0 << (press("a") << p30 << press("b") << p30);
    QTest::newRow("line feed") << QStringLiteral("\n") << 30.0 << (pressKey(36) << p30);
    QTest::newRow("carriage return") << QStringLiteral("\r") << 30.0 << (pressKey(36) << p30);
    QTest::newRow("tab") << QStringLiteral("\t") << 30.0 << (pressKey(48) << p30);
    QTest::newRow("CR LF is one Return") << QStringLiteral("\r\n") << 30.0 << (pressKey(36) << p30);
    QTest::newRow("LF CR is two Returns")
        << QStringLiteral("\n\r") << 30.0 << (pressKey(36) << p30 << pressKey(36) << p30);
    QTest::newRow("lines") << QStringLiteral("a\r\n\tb") << 5.0
                           << (press("a") << pause(5'000'000) << pressKey(36) << pause(5'000'000)
                                          << pressKey(48) << pause(5'000'000) << press("b")
                                          << pause(5'000'000));
    QTest::newRow("emoji with skin tone") << thumbs << 30.0 << (press(thumbs) << p30);
    QTest::newRow("zwj family") << family << 30.0 << (press(family) << p30);
    QTest::newRow("flag") << flag << 30.0 << (press(flag) << p30);
    QTest::newRow("e with combining acute") << eAcute << 30.0 << (press(eAcute) << p30);
    const QString ka = fromUcs4({0x0915});
    const QString grin = fromUcs4({0x1F600});
    QTest::newRow("emoji after devanagari")
        << QString(ka + grin) << 30.0 << (press(ka) << p30 << press(grin) << p30);
    const QString heart = fromUcs4({0x2764});
    QTest::newRow("flag after a pictograph")
        << QString(heart + flag) << 30.0 << (press(heart) << p30 << press(flag) << p30);
    QTest::newRow("space and quote")
        << QStringLiteral(" \"") << 0.5
        << (press(" ") << pause(500'000) << press("\"") << pause(500'000));
    QTest::newRow("zero delay still pauses")
        << QStringLiteral("x") << 0.0 << (press("x") << pause(0));
    QTest::newRow("NaN delay") << QStringLiteral("x") << std::nan("") << (press("x") << pause(0));
    QTest::newRow("empty") << QString() << 30.0 << QStringList();
}

void TestKeystrokeEngine::typeText()
{
    QFETCH(QString, text);
    QFETCH(double, delayMs);
    QFETCH(QStringList, expected);

    Recorder recorder;
    FakeKeyInjector injector(recorder);
    FakePauser pauser(recorder);
    const std::unique_ptr<KeySession> session = injector.openSession();
    KeystrokeEngine::typeText(*session, pauser, {}, text, delayMs);
    QCOMPARE(describe(recorder.steps()), expected);
}

// The session hears about each window of text before its first character is typed,
// and the windows together are the whole text, in order.
void TestKeystrokeEngine::typeTextPreparesEachWindowAhead()
{
    QString text;
    for (int i = 0; i < 3000; ++i)
        text += fromUcs4({U'a', 0x1F44D, 0x1F3FD, U'\n', U'e', 0x0301});

    Recorder recorder;
    FakeKeyInjector injector(recorder);
    FakePauser pauser(recorder);
    const std::unique_ptr<KeySession> session = injector.openSession();
    KeystrokeEngine::typeText(*session, pauser, {}, text, 1.0);

    QCOMPARE(recorder.typedText(), text);
    const QList<PreparedText> prepared = recorder.prepared();
    QVERIFY2(prepared.size() > 1, "a long text comes in several windows");
    const QList<RecordedStep> steps = recorder.steps();
    QString preparedSoFar;
    for (const PreparedText &window : prepared) {
        Recorder typedBefore;
        for (const RecordedStep &step : steps.first(window.stepsBefore))
            typedBefore.add(step);
        QCOMPARE(typedBefore.typedText(), preparedSoFar);
        QVERIFY(!window.text.isEmpty());
        preparedSoFar += window.text;
    }
    QCOMPARE(preparedSoFar, text);
}

void TestKeystrokeEngine::typeTextStopsInPause_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("charactersBeforeStop");
    QTest::addColumn<QStringList>("expected");

    const QString p30 = pause(30'000'000);
    const QString thumbs = fromUcs4({0x1F44D, 0x1F3FD});
    QTest::newRow("after the first") << QStringLiteral("abc") << 1 << (press("a") << p30);
    QTest::newRow("after the second")
        << QStringLiteral("abc") << 2 << (press("a") << p30 << press("b") << p30);
    QTest::newRow("after an emoji") << QString(thumbs + thumbs) << 1 << (press(thumbs) << p30);
    QTest::newRow("after a Return") << QStringLiteral("\nab") << 1 << (pressKey(36) << p30);
    QTest::newRow("in the last pause")
        << QStringLiteral("ab") << 2 << (press("a") << p30 << press("b") << p30);
}

// A stop inside a pause ends the run there: the character before it was posted
// completely, nothing after it is posted.
void TestKeystrokeEngine::typeTextStopsInPause()
{
    QFETCH(QString, text);
    QFETCH(int, charactersBeforeStop);
    QFETCH(QStringList, expected);

    Recorder recorder;
    FakeKeyInjector injector(recorder);
    FakePauser pauser(recorder);
    pauser.hold();
    Worker worker([&](std::stop_token stop) {
        const std::unique_ptr<KeySession> session = injector.openSession();
        KeystrokeEngine::typeText(*session, pauser, stop, text, 30.0);
    });
    for (int i = 1; i <= charactersBeforeStop; ++i) {
        QVERIFY(recorder.waitForCount(3 * i, deadline));
        if (i < charactersBeforeStop)
            pauser.step();
    }
    QVERIFY(pauser.waitUntilHeld(deadline));
    worker.requestStop();
    QVERIFY(worker.finishes());
    QCOMPARE(describe(recorder.steps()), expected);
}

void TestKeystrokeEngine::typeTextStoppedBeforeStart()
{
    Recorder recorder;
    FakeKeyInjector injector(recorder);
    FakePauser pauser(recorder);
    std::stop_source source;
    source.request_stop();
    const std::unique_ptr<KeySession> session = injector.openSession();
    KeystrokeEngine::typeText(*session, pauser, source.get_token(), QStringLiteral("abc"), 30.0);
    QCOMPARE(describe(recorder.steps()), QStringList());
}

void TestKeystrokeEngine::waitForKeyRelease_data()
{
    QTest::addColumn<quint16>("keyCode");
    QTest::addColumn<quint64>("modifiers");
    QTest::addColumn<QList<quint16>>("heldThenReleased");
    QTest::addColumn<QList<quint16>>("heldThroughout");
    QTest::addColumn<QStringList>("expectedPauses");
    QTest::addColumn<QList<quint16>>("expectedQueries");

    const QString p5 = pause(5'000'000);
    const QString p20 = pause(20'000'000);
    QTest::newRow("nothing held") << quint16(41) << ctrlCmd << QList<quint16>() << QList<quint16>()
                                  << QStringList{p20} << QList<quint16>{41, 59, 62, 55, 54};
    QTest::newRow("shortcut released key by key")
        << quint16(41) << ctrlCmd << QList<quint16>{41, 59, 55} << QList<quint16>()
        << QStringList{p5, p5, p5, p20}
        << QList<quint16>{41, /**/ 41, 59, /**/ 41, 59, 62, 55, /**/ 41, 59, 62, 55, 54};
    QTest::newRow("right-hand keys")
        << quint16(12) << (ModifierFlag::Option | ModifierFlag::Shift) << QList<quint16>{61, 60}
        << QList<quint16>() << QStringList{p5, p5, p20}
        << QList<quint16>{12, 58, 61, /**/ 12, 58, 61, 56, 60, /**/ 12, 58, 61, 56, 60};
    QTest::newRow("shift held, not in the shortcut")
        << quint16(41) << ctrlCmd << QList<quint16>() << QList<quint16>{56, 60, 58}
        << QStringList{p20} << QList<quint16>{41, 59, 62, 55, 54};
    QTest::newRow("shortcut key held with an unrelated key")
        << quint16(41) << ctrlCmd << QList<quint16>{41} << QList<quint16>{0} << QStringList{p5, p20}
        << QList<quint16>{41, /**/ 41, 59, 62, 55, 54};
}

// Keys are released one per poll from the test thread while the engine sits in its
// 5 ms pause; the sequence of pauses and key queries is then fixed.
void TestKeystrokeEngine::waitForKeyRelease()
{
    QFETCH(quint16, keyCode);
    QFETCH(quint64, modifiers);
    QFETCH(QList<quint16>, heldThenReleased);
    QFETCH(QList<quint16>, heldThroughout);
    QFETCH(QStringList, expectedPauses);
    QFETCH(QList<quint16>, expectedQueries);

    Recorder recorder;
    FakeKeyInjector injector(recorder);
    FakePauser pauser(recorder);
    for (quint16 key : heldThenReleased + heldThroughout)
        recorder.setKeyDown(key, true);
    pauser.hold();
    Worker worker([&](std::stop_token stop) {
        const std::unique_ptr<KeySession> session = injector.openSession();
        KeystrokeEngine::waitForKeyRelease(*session, pauser, stop, keyCode, modifiers);
    });
    for (qsizetype n = 1;; ++n) {
        QVERIFY(recorder.waitForCount(n, deadline));
        const RecordedStep last = recorder.steps().constLast();
        QCOMPARE(last.kind, RecordedStep::Pause);
        if (last.pauseNs != KeystrokeEngine::pollInterval.count()) {
            pauser.release();
            break;
        }
        QVERIFY2(!heldThenReleased.isEmpty(), "polling although every watched key is up");
        recorder.setKeyDown(heldThenReleased.takeFirst(), false);
        pauser.step();
    }
    QVERIFY(worker.finishes());
    QCOMPARE(describe(recorder.steps()), expectedPauses);
    QCOMPARE(recorder.keyQueries(), expectedQueries);
}

void TestKeystrokeEngine::waitForKeyReleaseStops_data()
{
    QTest::addColumn<bool>("keyHeld");
    QTest::addColumn<bool>("stopBeforeStart");
    QTest::addColumn<QStringList>("expectedPauses");
    QTest::addColumn<QList<quint16>>("expectedQueries");

    QTest::newRow("while the shortcut is held")
        << true << false << QStringList{pause(5'000'000)} << QList<quint16>{41, 41};
    QTest::newRow("before start, key held") << true << true << QStringList() << QList<quint16>{41};
    QTest::newRow("before start, keys up")
        << false << true << QStringList() << QList<quint16>{41, 59, 62, 55, 54};
}

// A stop while waiting ends the wait at the next test: no settle pause follows.
void TestKeystrokeEngine::waitForKeyReleaseStops()
{
    QFETCH(bool, keyHeld);
    QFETCH(bool, stopBeforeStart);
    QFETCH(QStringList, expectedPauses);
    QFETCH(QList<quint16>, expectedQueries);

    Recorder recorder;
    FakeKeyInjector injector(recorder);
    FakePauser pauser(recorder);
    recorder.setKeyDown(41, keyHeld);
    pauser.hold();
    std::stop_source source;
    if (stopBeforeStart)
        source.request_stop();
    Worker worker([&](std::stop_token) {
        const std::unique_ptr<KeySession> session = injector.openSession();
        KeystrokeEngine::waitForKeyRelease(*session, pauser, source.get_token(), 41, ctrlCmd);
    });
    if (!stopBeforeStart) {
        QVERIFY(pauser.waitUntilHeld(deadline));
        source.request_stop();
    }
    QVERIFY(worker.finishes());
    QCOMPARE(describe(recorder.steps()), expectedPauses);
    QCOMPARE(recorder.keyQueries(), expectedQueries);
}

void TestKeystrokeEngine::typingRun_data()
{
    QTest::addColumn<bool>("failToOpen");
    QTest::addColumn<bool>("keyHeld");
    QTest::addColumn<int>("pausesBeforeStop"); // -1: never stopped
    QTest::addColumn<bool>("expectedCompleted");
    QTest::addColumn<QStringList>("expectedSteps");

    const QString p20 = pause(20'000'000);
    const QString p30 = pause(30'000'000);
    QTest::newRow("completes") << false << false << -1 << true
                               << (QStringList{p20} << press("h") << p30 << press("i") << p30);
    QTest::newRow("stopped while waiting for release")
        << false << true << 1 << false << QStringList{pause(5'000'000)};
    QTest::newRow("stopped in the settle pause")
        << false << false << 1 << false << QStringList{p20};
    QTest::newRow("stopped while typing")
        << false << false << 2 << false << (QStringList{p20} << press("h") << p30);
    QTest::newRow("stopped in the last pause")
        << false << false << 3 << false
        << (QStringList{p20} << press("h") << p30 << press("i") << p30);
    QTest::newRow("no session") << true << false << -1 << false << QStringList();
}

void TestKeystrokeEngine::typingRun()
{
    QFETCH(bool, failToOpen);
    QFETCH(bool, keyHeld);
    QFETCH(int, pausesBeforeStop);
    QFETCH(bool, expectedCompleted);
    QFETCH(QStringList, expectedSteps);

    Recorder recorder;
    FakeKeyInjector injector(recorder);
    injector.failToOpen = failToOpen;
    FakePauser pauser(recorder);
    recorder.setKeyDown(41, keyHeld);
    if (pausesBeforeStop >= 0)
        pauser.hold();

    std::promise<bool> finished;
    std::future<bool> completed = finished.get_future();
    const TypingRunParams params{QStringLiteral("hi"), 30.0, 41, ctrlCmd, false};
    TypingRun run(injector, pauser, params, [&](bool done) { finished.set_value(done); });

    for (int i = 1; i <= pausesBeforeStop; ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(pausesOf(recorder.steps()).size(), qsizetype(i), 20000);
        if (i < pausesBeforeStop)
            pauser.step();
    }
    if (pausesBeforeStop >= 0) {
        QVERIFY(pauser.waitUntilHeld(deadline));
        run.requestStop();
    }
    QCOMPARE(completed.wait_for(deadline), std::future_status::ready);
    QCOMPARE(completed.get(), expectedCompleted);
    QCOMPARE(describe(recorder.steps()), expectedSteps);
    QCOMPARE(recorder.sessionsOpened.load(), failToOpen ? 0 : 1);
    QCOMPARE(recorder.sessionsClosed.load(), failToOpen ? 0 : 1);
}

// Whoever hears that a run is over may start the next one at once: the keys and
// keymap of the finished run must already be restored by then.
void TestKeystrokeEngine::typingRunClosesSessionBeforeFinished()
{
    Recorder recorder;
    FakeKeyInjector injector(recorder);
    FakePauser pauser(recorder);
    std::promise<int> closedWhenFinished;
    std::future<int> closed = closedWhenFinished.get_future();
    TypingRun run(injector, pauser, {QStringLiteral("x"), 30.0, 41, 0, false},
                  [&](bool) { closedWhenFinished.set_value(recorder.sessionsClosed.load()); });
    QCOMPARE(closed.wait_for(deadline), std::future_status::ready);
    QCOMPARE(closed.get(), 1);
}

void TestKeystrokeEngine::typingRunDestructorStopsAndJoins()
{
    Recorder recorder;
    FakeKeyInjector injector(recorder);
    FakePauser pauser(recorder);
    pauser.hold();
    std::atomic<int> finishedCalls = 0;
    std::atomic<bool> completed = true;
    {
        TypingRun run(injector, pauser, {QStringLiteral("abc"), 30.0, 41, 0, false},
                      [&](bool done) {
                          completed = done;
                          ++finishedCalls;
                      });
        QVERIFY(pauser.waitUntilHeld(deadline));
    }
    // The destructor joined: the run has finished, stopped, and typed nothing.
    QCOMPARE(finishedCalls.load(), 1);
    QCOMPARE(completed.load(), false);
    QCOMPARE(recorder.sessionsClosed.load(), 1);
    QCOMPARE(recorder.typedText(), QString());
}

void TestKeystrokeEngine::realPauserWaitsOrStops_data()
{
    QTest::addColumn<qint64>("durationNs");
    QTest::addColumn<bool>("stopWhileWaiting");
    QTest::addColumn<bool>("expected");

    const qint64 hour = std::chrono::nanoseconds(1h).count();
    QTest::newRow("zero") << qint64(0) << false << true;
    QTest::newRow("negative") << qint64(-1'000'000) << false << true;
    QTest::newRow("short") << qint64(1'000'000) << false << true;
    QTest::newRow("an hour, stopped") << hour << true << false;
    QTest::newRow("longest, stopped") << std::numeric_limits<qint64>::max() << true << false;
}

void TestKeystrokeEngine::realPauserWaitsOrStops()
{
    QFETCH(qint64, durationNs);
    QFETCH(bool, stopWhileWaiting);
    QFETCH(bool, expected);

    RealPauser pauser;
    std::stop_source source;
    std::promise<void> started;
    auto result = std::async(std::launch::async, [&] {
        started.set_value();
        return pauser.pause(std::chrono::nanoseconds(durationNs), source.get_token());
    });
    if (stopWhileWaiting) {
        started.get_future().wait();
        source.request_stop();
    }
    QCOMPARE(result.wait_for(deadline), std::future_status::ready);
    QCOMPARE(result.get(), expected);

    // A stop requested before the pause ends it before it starts.
    source.request_stop();
    QCOMPARE(pauser.pause(std::chrono::nanoseconds(durationNs), source.get_token()), false);
}

QTEST_GUILESS_MAIN(TestKeystrokeEngine)
#include "tst_keystrokeengine.moc"
