#include "FakePlatform.h"
#include "platform/KeyCodes.h"
#include "typing/KeystrokeEngine.h"
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

// Down and up of one key; key 0 with a text types that text.
QStringList press(const QString &text, quint16 key = 0)
{
    return describe({{RecordedStep::Down, key, text, 0}, {RecordedStep::Up, key, text, 0}});
}

QString pause(qint64 ns)
{
    return u"pause %1"_s.arg(ns);
}

const QString p5 = pause(5'000'000), p20 = pause(20'000'000), p30 = pause(30'000'000);
const QString thumbs = u"👍🏽"_s;

struct Rig {
    Recorder recorder;
    FakeKeyInjector injector{recorder};
    FakePauser pauser{recorder};
};

struct TextRow {
    QString text;
    double delayMs;
    qint64 spentNs; // reported by the session per character
    QStringList expected;
};

struct ReleaseRow {
    quint64 modifiers;
    QList<quint16> heldThenReleased, heldThroughout;
    QStringList pauses;
    QList<quint16> queries;
};

struct RunRow {
    bool failToOpen, keyHeld;
    int pausesBeforeStop; // -1: never stopped
    bool completed;
    QStringList steps;
};

} // namespace

Q_DECLARE_METATYPE(TextRow)
Q_DECLARE_METATYPE(ReleaseRow)
Q_DECLARE_METATYPE(RunRow)

class TestKeystrokeEngine : public QObject {
    Q_OBJECT

private slots:
    void typeText_data()
    {
        QTest::addColumn<TextRow>("row");
        const QStringList ret = press({}, KeyCode::Return);
        QTest::newRow("ab") << TextRow{u"ab"_s, 30, 0, press("a") << p30 << press("b") << p30};
        QTest::newRow("CR LF is one Return") << TextRow{u"\r\n"_s, 30, 0, ret + QStringList{p30}};
        QTest::newRow("LF CR is two")
            << TextRow{u"\n\r"_s, 30, 0, QStringList(ret) << p30 << ret << p30};
        QTest::newRow("tab") << TextRow{u"\t"_s, 30, 0, press({}, KeyCode::Tab) << p30};
        QTest::newRow("one cluster") << TextRow{thumbs, 30, 0, press(thumbs) << p30};
        QTest::newRow("zero delay") << TextRow{u"x"_s, 0, 0, press("x") << pause(0)};
        QTest::newRow("delay truncated") << TextRow{u"x"_s, 0.0000015, 0, press("x") << pause(1)};
        QTest::newRow("negative delay") << TextRow{u"x"_s, -5, 0, press("x") << pause(0)};
        QTest::newRow("NaN delay") << TextRow{u"x"_s, std::nan(""), 0, press("x") << pause(0)};
        QTest::newRow("largest delay")
            << TextRow{u"x"_s, 1e12, 0, press("x") << pause(1'000'000'000'000'000'000)};
        QTest::newRow("delay over 2^63 ns") << TextRow{u"x"_s, 9.3e12, 0, press("x") << pause(0)};
        QTest::newRow("time spent comes off")
            << TextRow{u"a"_s, 30, 12'000'000, press("a") << pause(18'000'000)};
        QTest::newRow("time spent beyond")
            << TextRow{u"a"_s, 30, 45'000'000, press("a") << pause(0)};
        QTest::newRow("empty") << TextRow{QString(), 30, 0, {}};
    }

    void typeText()
    {
        QFETCH(TextRow, row);
        Rig r;
        r.recorder.spentNs = row.spentNs;
        KeystrokeEngine::typeText(*r.injector.openSession(), r.pauser, {}, row.text, row.delayMs);
        QCOMPARE(describe(r.recorder.steps()), row.expected);
    }

    // Each window of text reaches the session before its first character is typed,
    // and the windows together are the whole text, in order.
    void typeTextPreparesEachWindowAhead()
    {
        const QString text = (u"a"_s + thumbs + u"\ne\u0301"_s).repeated(3000);
        Rig r;
        KeystrokeEngine::typeText(*r.injector.openSession(), r.pauser, {}, text, 1.0);
        QCOMPARE(r.recorder.typedText(), text);
        const QList<PreparedText> prepared = r.recorder.prepared();
        QVERIFY2(prepared.size() > 1, "a long text comes in several windows");
        QString preparedSoFar;
        for (const PreparedText &window : prepared) {
            Recorder typedBefore;
            for (const RecordedStep &step : r.recorder.steps().first(window.stepsBefore))
                typedBefore.add(step);
            QCOMPARE(typedBefore.typedText(), preparedSoFar);
            preparedSoFar += window.text;
        }
        QCOMPARE(preparedSoFar, text);
    }

    void waitForKeyRelease_data()
    {
        QTest::addColumn<ReleaseRow>("row");
        const quint64 optShift = ModifierFlag::Option | ModifierFlag::Shift;
        QTest::newRow("nothing held") << ReleaseRow{ctrlCmd, {}, {}, {p20}, {41, 59, 62, 55, 54}};
        QTest::newRow("released key by key")
            << ReleaseRow{ctrlCmd,
                          {41, 59, 55},
                          {},
                          {p5, p5, p5, p20},
                          {41, /**/ 41, 59, /**/ 41, 59, 62, 55, /**/ 41, 59, 62, 55, 54}};
        QTest::newRow("right-hand keys")
            << ReleaseRow{optShift,
                          {61, 60},
                          {},
                          {p5, p5, p20},
                          {41, 58, 61, /**/ 41, 58, 61, 56, 60, /**/ 41, 58, 61, 56, 60}};
        QTest::newRow("other keys held")
            << ReleaseRow{ctrlCmd, {41}, {0, 56, 60, 58}, {p5, p20}, {41, /**/ 41, 59, 62, 55, 54}};
    }

    // The shortcut's key and both keys of each of its modifiers are polled every 5 ms
    // until all are up, then the run settles; keys are let go one per poll.
    void waitForKeyRelease()
    {
        QFETCH(ReleaseRow, row);
        Rig r;
        for (quint16 key : row.heldThenReleased + row.heldThroughout)
            r.recorder.setKeyDown(key, true);
        r.pauser.hold();
        TypingRun run(r.injector, r.pauser, {QString(), 30.0, 41, row.modifiers, false}, {});
        for (qsizetype n = 1;; ++n) {
            QVERIFY(r.recorder.waitForCount(n, deadline));
            if (r.recorder.steps().constLast().pauseNs != KeystrokeEngine::pollInterval.count()) {
                r.pauser.release();
                break;
            }
            QVERIFY2(!row.heldThenReleased.isEmpty(), "polling although every watched key is up");
            r.recorder.setKeyDown(row.heldThenReleased.takeFirst(), false);
            r.pauser.step();
        }
        QTRY_COMPARE_WITH_TIMEOUT(r.recorder.sessionsClosed.load(), 1, 20000);
        QCOMPARE(describe(r.recorder.steps()), row.pauses);
        QCOMPARE(r.recorder.keyQueries(), row.queries);
    }

    void typingRun_data()
    {
        QTest::addColumn<RunRow>("row");
        const QStringList all = QStringList{p20} << press("h") << p30 << press("i") << p30;
        QTest::newRow("completes") << RunRow{false, false, -1, true, all};
        QTest::newRow("stopped while the key is held") << RunRow{false, true, 1, false, {p5}};
        QTest::newRow("stopped in the settle pause") << RunRow{false, false, 1, false, {p20}};
        QTest::newRow("stopped while typing")
            << RunRow{false, false, 2, false, QStringList{p20} << press("h") << p30};
        QTest::newRow("stopped in the last pause") << RunRow{false, false, 3, false, all};
        QTest::newRow("no session") << RunRow{true, false, -1, false, {}};
    }

    // Whoever hears that a run is over may start the next one at once, so the session
    // (keys and keymap) is closed before the run reports.
    void typingRun()
    {
        QFETCH(RunRow, row);
        Rig r;
        r.injector.failToOpen = row.failToOpen;
        r.recorder.setKeyDown(41, row.keyHeld);
        if (row.pausesBeforeStop >= 0)
            r.pauser.hold();
        std::promise<std::pair<bool, int>> finished;
        std::future<std::pair<bool, int>> result = finished.get_future();
        TypingRun run(r.injector, r.pauser, {u"hi"_s, 30.0, 41, ctrlCmd, false}, [&](bool done) {
            finished.set_value({done, r.recorder.sessionsClosed.load()});
        });
        for (int i = 1; i <= row.pausesBeforeStop; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(pauseCount(r.recorder), qsizetype(i), 20000);
            if (i < row.pausesBeforeStop)
                r.pauser.step();
        }
        if (row.pausesBeforeStop >= 0) {
            QVERIFY(r.pauser.waitUntilHeld(deadline));
            run.requestStop();
        }
        QCOMPARE(result.wait_for(deadline), std::future_status::ready);
        const int opened = row.failToOpen ? 0 : 1;
        QCOMPARE(result.get(), std::make_pair(row.completed, opened));
        QCOMPARE(describe(r.recorder.steps()), row.steps);
        QCOMPARE(r.recorder.sessionsOpened.load(), opened);
    }

    void realPauserWaitsOrStops_data()
    {
        QTest::addColumn<qint64>("durationNs");
        QTest::addColumn<bool>("stopWhileWaiting");
        QTest::newRow("zero") << qint64(0) << false;
        QTest::newRow("negative") << qint64(-1'000'000) << false;
        QTest::newRow("short") << qint64(1'000'000) << false;
        QTest::newRow("longest, stopped") << std::numeric_limits<qint64>::max() << true;
    }

    // A stop ends a pause at once, and a stop requested before a pause skips it.
    void realPauserWaitsOrStops()
    {
        QFETCH(qint64, durationNs);
        QFETCH(bool, stopWhileWaiting);
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
        QCOMPARE(result.get(), !stopWhileWaiting);
        source.request_stop();
        QVERIFY(!pauser.pause(std::chrono::nanoseconds(durationNs), source.get_token()));
    }

private:
    static qsizetype pauseCount(const Recorder &recorder)
    {
        const QList<RecordedStep> steps = recorder.steps();
        return std::count_if(steps.cbegin(), steps.cend(),
                             [](const RecordedStep &s) { return s.kind == RecordedStep::Pause; });
    }
};

QTEST_GUILESS_MAIN(TestKeystrokeEngine)
#include "tst_keystrokeengine.moc"
