#include "FakePlatform.h"
#include "platform/KeyCodes.h"
#include "typing/KeystrokeEngine.h"
#include "typing/Pauser.h"
#include "typing/TypingRun.h"

#include <QTest>

#include <cmath>
#include <future>
#include <limits>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

constexpr quint64 ctrlCmd = ModifierFlag::Control | ModifierFlag::Command;
constexpr auto deadline = 20s;

// One line per step, so a failing comparison shows where the sequences part.
QStringList describe(const QList<RecordedStep> &steps)
{
    QStringList lines;
    for (const RecordedStep &s : steps) {
        if (s.kind == RecordedStep::Pause)
            lines << u"pause %1"_s.arg(s.pauseNs);
        else
            lines << u"%1 %2 \"%3\""_s.arg(s.kind == RecordedStep::Down ? "down" : "up")
                         .arg(s.keyCode)
                         .arg(s.text);
    }
    return lines;
}

// A key press: down and up of the key; key 0 with a text types that text.
QStringList press(const QString &text, quint16 key = 0)
{
    return describe({{RecordedStep::Down, key, text, 0}, {RecordedStep::Up, key, text, 0}});
}

QString pause(qint64 ns)
{
    return u"pause %1"_s.arg(ns);
}

QString fromUcs4(std::initializer_list<char32_t> codePoints)
{
    return QString::fromUcs4(codePoints.begin(), qsizetype(codePoints.size()));
}

// Runs f(stop) on a thread of its own; leaving the scope stops and joins it.
class Worker {
public:
    template <typename F> explicit Worker(F f, bool stopFirst = false)
    {
        if (stopFirst)
            source.request_stop();
        m_done = std::async(std::launch::async, [this, f] { f(source.get_token()); });
    }
    ~Worker() { source.request_stop(); }
    bool finishes() { return m_done.wait_for(deadline) == std::future_status::ready; }
    std::stop_source source;

private:
    std::future<void> m_done;
};

struct Rig {
    Recorder recorder;
    FakeKeyInjector injector{recorder};
    FakePauser pauser{recorder};
};

} // namespace

class TestKeystrokeEngine : public QObject {
    Q_OBJECT

private slots:
    void keysToWatch_data()
    {
        QTest::addColumn<quint16>("keyCode");
        QTest::addColumn<quint64>("modifiers");
        QTest::addColumn<QList<quint16>>("expected");
        QTest::newRow("ctrl+cmd") << quint16(41) << ctrlCmd << QList<quint16>{41, 59, 62, 55, 54};
        QTest::newRow("none") << quint16(12) << quint64(0) << QList<quint16>{12};
        QTest::newRow("all four") << quint16(0) << ModifierFlag::Mask
                                  << QList<quint16>{0, 59, 62, 55, 54, 58, 61, 56, 60};
        QTest::newRow("other bits ignored")
            << quint16(41) << (ModifierFlag::Control | 0x1 | 0x800000 | (quint64(1) << 40))
            << QList<quint16>{41, 59, 62};
    }

    void keysToWatch()
    {
        QFETCH(quint16, keyCode);
        QFETCH(quint64, modifiers);
        QFETCH(QList<quint16>, expected);
        QCOMPARE(KeystrokeEngine::keysToWatch(keyCode, modifiers), expected);
    }

    void pauseAfterCharacter_data()
    {
        QTest::addColumn<double>("delayMs");
        QTest::addColumn<qint64>("expectedNs");
        QTest::newRow("12.5 ms") << 12.5 << qint64(12'500'000);
        QTest::newRow("truncated") << 0.0000015 << qint64(1);
        QTest::newRow("below 1 ns") << 0.0000009 << qint64(0);
        QTest::newRow("negative zero") << -0.0 << qint64(0);
        QTest::newRow("negative") << -5.0 << qint64(0);
        QTest::newRow("NaN") << std::nan("") << qint64(0);
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << qint64(0);
        QTest::newRow("largest that fits") << 1e12 << qint64(1'000'000'000'000'000'000);
        QTest::newRow("just over 2^63 ns") << 9.3e12 << qint64(0);
    }

    void pauseAfterCharacter()
    {
        QFETCH(double, delayMs);
        QFETCH(qint64, expectedNs);
        QCOMPARE(qint64(KeystrokeEngine::pauseAfterCharacter(delayMs).count()), expectedNs);
    }

    void typeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("delayMs");
        QTest::addColumn<qint64>("spentNs"); // reported by the session per character
        QTest::addColumn<QStringList>("expected");

        const QString p30 = pause(30'000'000);
        const auto ret = [] { return press({}, 36); };
        const QString thumbs = fromUcs4({0x1F44D, 0x1F3FD});
        const QString family =
            fromUcs4({0x1F468, 0x200D, 0x1F469, 0x200D, 0x1F467, 0x200D, 0x1F466});
        const QString flag = fromUcs4({0x1F1E9, 0x1F1EA});
        const QString eAcute = fromUcs4({U'e', 0x0301});
        const QString ka = fromUcs4({0x0915});
        const QString grin = fromUcs4({0x1F600});
        const QString heart = fromUcs4({0x2764});

        QTest::newRow("ab") << u"ab"_s << 30.0 << 0ll << (press("a") << p30 << press("b") << p30);
        QTest::newRow("line feed") << u"\n"_s << 30.0 << 0ll << (ret() << p30);
        QTest::newRow("carriage return") << u"\r"_s << 30.0 << 0ll << (ret() << p30);
        QTest::newRow("tab") << u"\t"_s << 30.0 << 0ll << (press({}, 48) << p30);
        QTest::newRow("CR LF is one Return") << u"\r\n"_s << 30.0 << 0ll << (ret() << p30);
        QTest::newRow("LF CR is two") << u"\n\r"_s << 30.0 << 0ll << (ret() << p30 << ret() << p30);
        QTest::newRow("skin tone") << thumbs << 30.0 << 0ll << (press(thumbs) << p30);
        QTest::newRow("zwj family") << family << 30.0 << 0ll << (press(family) << p30);
        QTest::newRow("flag") << flag << 30.0 << 0ll << (press(flag) << p30);
        QTest::newRow("combining acute") << eAcute << 30.0 << 0ll << (press(eAcute) << p30);
        QTest::newRow("emoji after devanagari")
            << ka + grin << 30.0 << 0ll << (press(ka) << p30 << press(grin) << p30);
        QTest::newRow("flag after a pictograph")
            << heart + flag << 30.0 << 0ll << (press(heart) << p30 << press(flag) << p30);
        QTest::newRow("zero delay still pauses")
            << u"x"_s << 0.0 << 0ll << (press("x") << pause(0));
        QTest::newRow("time spent comes off the pause")
            << u"ab"_s << 30.0 << 12'000'000ll
            << (press("a") << pause(18'000'000) << press("b") << pause(18'000'000));
        QTest::newRow("time spent beyond the delay")
            << u"a"_s << 30.0 << 45'000'000ll << (press("a") << pause(0));
        QTest::newRow("empty") << QString() << 30.0 << 0ll << QStringList();
    }

    void typeText()
    {
        QFETCH(QString, text);
        QFETCH(double, delayMs);
        QFETCH(qint64, spentNs);
        QFETCH(QStringList, expected);
        Rig r;
        r.recorder.spentNs = spentNs;
        KeystrokeEngine::typeText(*r.injector.openSession(), r.pauser, {}, text, delayMs);
        QCOMPARE(describe(r.recorder.steps()), expected);
    }

    // The session hears about each window of text before its first character is typed,
    // and the windows together are the whole text, in order.
    void typeTextPreparesEachWindowAhead()
    {
        const QString text = fromUcs4({U'a', 0x1F44D, 0x1F3FD, U'\n', U'e', 0x0301}).repeated(3000);
        Rig r;
        KeystrokeEngine::typeText(*r.injector.openSession(), r.pauser, {}, text, 1.0);
        QCOMPARE(r.recorder.typedText(), text);
        const QList<PreparedText> prepared = r.recorder.prepared();
        QVERIFY2(prepared.size() > 1, "a long text comes in several windows");
        const QList<RecordedStep> steps = r.recorder.steps();
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

    void typeTextStops_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("charactersBeforeStop"); // 0: stopped before it starts
        QTest::addColumn<QStringList>("expected");
        const QString p30 = pause(30'000'000);
        const QString thumbs = fromUcs4({0x1F44D, 0x1F3FD});
        QTest::newRow("before start") << u"abc"_s << 0 << QStringList();
        QTest::newRow("after the first") << u"abc"_s << 1 << (press("a") << p30);
        QTest::newRow("after the second")
            << u"abc"_s << 2 << (press("a") << p30 << press("b") << p30);
        QTest::newRow("after an emoji") << thumbs + thumbs << 1 << (press(thumbs) << p30);
        QTest::newRow("after a Return") << u"\nab"_s << 1 << (press({}, 36) << p30);
        QTest::newRow("in the last pause")
            << u"ab"_s << 2 << (press("a") << p30 << press("b") << p30);
    }

    // A stop inside a pause ends the run there: the character before it was posted
    // completely, nothing after it is posted.
    void typeTextStops()
    {
        QFETCH(QString, text);
        QFETCH(int, charactersBeforeStop);
        QFETCH(QStringList, expected);
        Rig r;
        r.pauser.hold();
        Worker worker(
            [&](std::stop_token stop) {
                KeystrokeEngine::typeText(*r.injector.openSession(), r.pauser, stop, text, 30.0);
            },
            charactersBeforeStop == 0);
        for (int i = 1; i <= charactersBeforeStop; ++i) {
            QVERIFY(r.recorder.waitForCount(3 * i, deadline));
            if (i < charactersBeforeStop)
                r.pauser.step();
        }
        if (charactersBeforeStop > 0) {
            QVERIFY(r.pauser.waitUntilHeld(deadline));
            worker.source.request_stop();
        }
        QVERIFY(worker.finishes());
        QCOMPARE(describe(r.recorder.steps()), expected);
    }

    void waitForKeyRelease_data()
    {
        QTest::addColumn<quint16>("keyCode");
        QTest::addColumn<quint64>("modifiers");
        QTest::addColumn<QList<quint16>>("heldThenReleased");
        QTest::addColumn<QList<quint16>>("heldThroughout");
        QTest::addColumn<QStringList>("expectedPauses");
        QTest::addColumn<QList<quint16>>("expectedQueries");

        const QString p5 = pause(5'000'000);
        const QString p20 = pause(20'000'000);
        const quint64 optShift = ModifierFlag::Option | ModifierFlag::Shift;
        QTest::newRow("nothing held")
            << quint16(41) << ctrlCmd << QList<quint16>() << QList<quint16>() << QStringList{p20}
            << QList<quint16>{41, 59, 62, 55, 54};
        QTest::newRow("shortcut released key by key")
            << quint16(41) << ctrlCmd << QList<quint16>{41, 59, 55} << QList<quint16>()
            << QStringList{p5, p5, p5, p20}
            << QList<quint16>{41, /**/ 41, 59, /**/ 41, 59, 62, 55, /**/ 41, 59, 62, 55, 54};
        QTest::newRow("right-hand keys")
            << quint16(12) << optShift << QList<quint16>{61, 60} << QList<quint16>()
            << QStringList{p5, p5, p20}
            << QList<quint16>{12, 58, 61, /**/ 12, 58, 61, 56, 60, /**/ 12, 58, 61, 56, 60};
        QTest::newRow("keys held that are not in the shortcut")
            << quint16(41) << ctrlCmd << QList<quint16>{41} << QList<quint16>{0, 56, 60, 58}
            << QStringList{p5, p20} << QList<quint16>{41, /**/ 41, 59, 62, 55, 54};
    }

    // Keys are released one per poll from the test thread while the engine sits in its
    // 5 ms pause; the sequence of pauses and key queries is then fixed.
    void waitForKeyRelease()
    {
        QFETCH(quint16, keyCode);
        QFETCH(quint64, modifiers);
        QFETCH(QList<quint16>, heldThenReleased);
        QFETCH(QList<quint16>, heldThroughout);
        QFETCH(QStringList, expectedPauses);
        QFETCH(QList<quint16>, expectedQueries);
        Rig r;
        for (quint16 key : heldThenReleased + heldThroughout)
            r.recorder.setKeyDown(key, true);
        r.pauser.hold();
        Worker worker([&](std::stop_token stop) {
            KeystrokeEngine::waitForKeyRelease(*r.injector.openSession(), r.pauser, stop, keyCode,
                                               modifiers);
        });
        for (qsizetype n = 1;; ++n) {
            QVERIFY(r.recorder.waitForCount(n, deadline));
            const RecordedStep last = r.recorder.steps().constLast();
            QCOMPARE(last.kind, RecordedStep::Pause);
            if (last.pauseNs != KeystrokeEngine::pollInterval.count()) {
                r.pauser.release();
                break;
            }
            QVERIFY2(!heldThenReleased.isEmpty(), "polling although every watched key is up");
            r.recorder.setKeyDown(heldThenReleased.takeFirst(), false);
            r.pauser.step();
        }
        QVERIFY(worker.finishes());
        QCOMPARE(describe(r.recorder.steps()), expectedPauses);
        QCOMPARE(r.recorder.keyQueries(), expectedQueries);
    }

    void waitForKeyReleaseStops_data()
    {
        QTest::addColumn<bool>("keyHeld");
        QTest::addColumn<bool>("stopBeforeStart");
        QTest::addColumn<QStringList>("expectedPauses");
        QTest::addColumn<QList<quint16>>("expectedQueries");
        QTest::newRow("while the shortcut is held")
            << true << false << QStringList{pause(5'000'000)} << QList<quint16>{41, 41};
        QTest::newRow("before start, key held")
            << true << true << QStringList() << QList<quint16>{41};
        QTest::newRow("before start, keys up")
            << false << true << QStringList() << QList<quint16>{41, 59, 62, 55, 54};
    }

    // A stop while waiting ends the wait at the next test: no settle pause follows.
    void waitForKeyReleaseStops()
    {
        QFETCH(bool, keyHeld);
        QFETCH(bool, stopBeforeStart);
        QFETCH(QStringList, expectedPauses);
        QFETCH(QList<quint16>, expectedQueries);
        Rig r;
        r.recorder.setKeyDown(41, keyHeld);
        r.pauser.hold();
        Worker worker(
            [&](std::stop_token stop) {
                KeystrokeEngine::waitForKeyRelease(*r.injector.openSession(), r.pauser, stop, 41,
                                                   ctrlCmd);
            },
            stopBeforeStart);
        if (!stopBeforeStart) {
            QVERIFY(r.pauser.waitUntilHeld(deadline));
            worker.source.request_stop();
        }
        QVERIFY(worker.finishes());
        QCOMPARE(describe(r.recorder.steps()), expectedPauses);
        QCOMPARE(r.recorder.keyQueries(), expectedQueries);
    }

    void typingRun_data()
    {
        QTest::addColumn<bool>("failToOpen");
        QTest::addColumn<bool>("keyHeld");
        QTest::addColumn<int>("pausesBeforeStop"); // -1: never stopped
        QTest::addColumn<bool>("expectedCompleted");
        QTest::addColumn<QStringList>("expectedSteps");

        const QString p20 = pause(20'000'000);
        const QString p30 = pause(30'000'000);
        const QStringList all = QStringList{p20} << press("h") << p30 << press("i") << p30;
        QTest::newRow("completes") << false << false << -1 << true << all;
        QTest::newRow("stopped while waiting for release")
            << false << true << 1 << false << QStringList{pause(5'000'000)};
        QTest::newRow("stopped in the settle pause")
            << false << false << 1 << false << QStringList{p20};
        QTest::newRow("stopped while typing")
            << false << false << 2 << false << (QStringList{p20} << press("h") << p30);
        QTest::newRow("stopped in the last pause") << false << false << 3 << false << all;
        QTest::newRow("no session") << true << false << -1 << false << QStringList();
    }

    // Whoever hears that a run is over may start the next one at once, so the session
    // (keys and keymap) is closed before the run reports.
    void typingRun()
    {
        QFETCH(bool, failToOpen);
        QFETCH(bool, keyHeld);
        QFETCH(int, pausesBeforeStop);
        QFETCH(bool, expectedCompleted);
        QFETCH(QStringList, expectedSteps);
        Rig r;
        r.injector.failToOpen = failToOpen;
        r.recorder.setKeyDown(41, keyHeld);
        if (pausesBeforeStop >= 0)
            r.pauser.hold();

        std::promise<std::pair<bool, int>> finished;
        std::future<std::pair<bool, int>> result = finished.get_future();
        TypingRun run(r.injector, r.pauser, {u"hi"_s, 30.0, 41, ctrlCmd, false}, [&](bool done) {
            finished.set_value({done, r.recorder.sessionsClosed.load()});
        });
        for (int i = 1; i <= pausesBeforeStop; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(pauseCount(r.recorder), i, 20000);
            if (i < pausesBeforeStop)
                r.pauser.step();
        }
        if (pausesBeforeStop >= 0) {
            QVERIFY(r.pauser.waitUntilHeld(deadline));
            run.requestStop();
        }
        QCOMPARE(result.wait_for(deadline), std::future_status::ready);
        const int opened = failToOpen ? 0 : 1;
        QCOMPARE(result.get(), std::make_pair(expectedCompleted, opened));
        QCOMPARE(describe(r.recorder.steps()), expectedSteps);
        QCOMPARE(r.recorder.sessionsOpened.load(), opened);
    }

    void typingRunDestructorStopsAndJoins()
    {
        Rig r;
        r.pauser.hold();
        std::atomic<int> finishedCalls = 0;
        std::atomic<bool> completed = true;
        {
            TypingRun run(r.injector, r.pauser, {u"abc"_s, 30.0, 41, 0, false}, [&](bool done) {
                completed = done;
                ++finishedCalls;
            });
            QVERIFY(r.pauser.waitUntilHeld(deadline));
        }
        // The destructor joined: the run has finished, stopped, and typed nothing.
        QCOMPARE(finishedCalls.load(), 1);
        QCOMPARE(completed.load(), false);
        QCOMPARE(r.recorder.sessionsClosed.load(), 1);
        QCOMPARE(r.recorder.typedText(), QString());
    }

    void realPauserWaitsOrStops_data()
    {
        QTest::addColumn<qint64>("durationNs");
        QTest::addColumn<bool>("stopWhileWaiting");
        QTest::addColumn<bool>("expected");
        QTest::newRow("zero") << qint64(0) << false << true;
        QTest::newRow("negative") << qint64(-1'000'000) << false << true;
        QTest::newRow("short") << qint64(1'000'000) << false << true;
        QTest::newRow("an hour, stopped")
            << qint64(std::chrono::nanoseconds(1h).count()) << true << false;
        QTest::newRow("longest, stopped") << std::numeric_limits<qint64>::max() << true << false;
    }

    void realPauserWaitsOrStops()
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

private:
    static int pauseCount(const Recorder &recorder)
    {
        const QList<RecordedStep> steps = recorder.steps();
        return int(std::count_if(steps.cbegin(), steps.cend(), [](const RecordedStep &s) {
            return s.kind == RecordedStep::Pause;
        }));
    }
};

QTEST_GUILESS_MAIN(TestKeystrokeEngine)
#include "tst_keystrokeengine.moc"
