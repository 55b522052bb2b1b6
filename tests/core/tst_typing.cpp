// Text walking, the keystroke engine and typing runs, over a recording fake keyboard.
#include "FakePlatform.h"
#include "typing/GraphemeWalker.h"
#include "typing/KeystrokeEngine.h"
#include "typing/TypingRun.h"

#include <QFile>
#include <QTest>

#include <cmath>
#include <future>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

constexpr quint64 cc = ModifierFlag::Control | ModifierFlag::Command;

// One character typed, or one key (Return, Tab) pressed.
QStringList press(const QString &text, quint16 key = 0)
{
    return {text.isEmpty() ? u"key %1"_s.arg(key) : u"type "_s + text};
}

const QString p0 = u"pause 0"_s, p5 = u"pause 5000000"_s, p20 = u"pause 20000000"_s,
              p30 = u"pause 30000000"_s;
const QString thumbs = u"👍🏽"_s;

struct RunRow {
    bool session = true;
    quint64 modifiers = 0;
    QList<quint16> held = {}; // let go in this order, one per poll
    int stopAt = -1;          // the pause in which the run is stopped; -1: never
    QStringList steps = {};
    QList<quint16> queries = {};
    ReleaseWait::Kind wait = ReleaseWait::Kind::ShortcutKeys;
    bool seesKeys = true;
    int signalAfter = 0; // polls before a reported release; -1: never
    QString untypeable = {};
    bool late = false, leaveOut = false; // found only when typed; passed over
};

// The Unicode Consortium's cases (package unicode-data), but for characters Qt cannot know.
void addUnicodeBreakTestRows()
{
    QFile file(u"/usr/share/unicode/auxiliary/GraphemeBreakTest.txt"_s);
    QVERIFY2(file.open(QIODevice::ReadOnly),
             "GraphemeBreakTest.txt not found: install unicode-data");
    int lineNumber = 0, rows = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        // "÷ 0061 × 0301 ÷ 000D ÷": ÷ is a boundary, × none.
        const QString line = QString::fromUtf8(file.readLine()).section(u'#', 0, 0).trimmed();
        QStringList clusters;
        bool known = !line.isEmpty();
        for (const QString &part : line.split(u'\u00F7', Qt::SkipEmptyParts)) {
            clusters << QString();
            for (const QString &code : part.split(u'\u00D7')) {
                const char32_t c = code.trimmed().toUInt(nullptr, 16);
                const QChar::UnicodeVersion version = QChar::unicodeVersion(c);
                known = known && version != QChar::Unicode_Unassigned &&
                        version <= QChar::currentUnicodeVersion();
                clusters.last() += QString::fromUcs4(&c, 1);
            }
        }
        for (qsizetype window : {1, 2, 3, 4096}) {
            if (known)
                QTest::addRow("line %d, window %lld", lineNumber, qlonglong(window))
                    << clusters.join(QString()) << window << clusters;
        }
        rows += known;
    }
    QVERIFY2(rows > 400, "too few usable test lines");
}

} // namespace

Q_DECLARE_METATYPE(RunRow)

class TestTyping : public QObject {
    Q_OBJECT

private slots:
    void clusters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("window");
        QTest::addColumn<QStringList>("expected");
        const QString grin = u"\U0001F600"_s;
        // Beyond the file: surrogates, long runs, scripts where Qt's finder splits pairs.
        const std::pair<const char *, QStringList> rows[] = {
            {"flags",
             {u"\u2764"_s, u"\U0001F1EB\U0001F1F7"_s, u"a"_s, u"\U0001F1E9\U0001F1EA"_s,
              u"\U0001F1EB\U0001F1F7"_s, u"\U0001F1EF"_s}},
            {"5000 marks, lone surrogates",
             {u"a"_s + QString(5000, QChar(0x0301)), QString(QChar(0xD800)), u"a"_s,
              QString(QChar(0xDC00)), QString(QChar(0xDBFF))}},
            {"scripts then emoji",
             {u"\u0915\u093F"_s, u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s, u"\u0E2A"_s,
              u"\u0E14\u0E35"_s, grin, u"\u179F\u17D2"_s, u"\u179A\u17B8"_s, grin}},
        };
        for (const auto &[name, clusters] : rows) {
            for (qsizetype window : {1, 2, 3, 64}) {
                QTest::addRow("%s, window %lld", name, qlonglong(window))
                    << clusters.join(QString()) << window << clusters;
            }
        }
        addUnicodeBreakTestRows();
    }

    void clusters()
    {
        QFETCH(QString, text);
        QFETCH(qsizetype, window);
        QFETCH(QStringList, expected);
        GraphemeWalker walker(text, window);
        QStringList clusters;
        while (const std::optional<QStringView> cluster = walker.next())
            clusters << cluster->toString();
        QCOMPARE(clusters, expected);
    }

    void typeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("delayMs");
        QTest::addColumn<qint64>("spentNs"); // reported by the session per character
        QTest::addColumn<QStringList>("expected");
        const QStringList ret = press({}, KeyCode::Return);
        QTest::newRow("text, tab, one cluster")
            << u"a\t"_s + thumbs << 30.0 << 0ll
            << (press("a") << p30 << press({}, KeyCode::Tab) << p30 << press(thumbs) << p30);
        QTest::newRow("CR LF one Return, LF CR two")
            << u"\r\n\n\r"_s << 30.0 << 0ll
            << (QStringList(ret) << p30 << ret << p30 << ret << p30);
        QTest::newRow("NaN delay") << u"x"_s << std::nan("") << 0ll << (press("x") << p0);
        QTest::newRow("delay over 2^63 ns") << u"x"_s << 9.3e12 << 0ll << (press("x") << p0);
        QTest::newRow("time spent comes off")
            << u"a"_s << 30.0 << 12'000'000ll << (press("a") << u"pause 18000000"_s);
    }

    void typeText()
    {
        QFETCH(QString, text);
        QFETCH(double, delayMs);
        QFETCH(qint64, spentNs);
        QFETCH(QStringList, expected);
        FakePlatform r;
        r.recorder.spent = std::chrono::nanoseconds(spentNs);
        KeystrokeEngine::typeText(*r.injector.openSession(), *r.pauser, {}, text, delayMs);
        QCOMPARE(r.recorder.steps(), expected);
    }

    // A long text is walked a window at a time; each reaches the session before it is typed.
    void typeTextPreparesEachWindowAhead()
    {
        const QString text = (u"a"_s + thumbs + u"\ne\u0301"_s).repeated(3000);
        FakePlatform r;
        KeystrokeEngine::typeText(*r.injector.openSession(), *r.pauser, {}, text, 1.0);
        QCOMPARE(r.recorder.typedText(), text);
        const auto prepared = r.recorder.data().prepared;
        QVERIFY2(prepared.size() > 1, "a long text comes in several windows");
        QString preparedSoFar;
        for (const auto &[typedBefore, window] : prepared) {
            QCOMPARE(typedBefore, preparedSoFar.size());
            preparedSoFar += window;
        }
        QCOMPARE(preparedSoFar, text);
    }

    void typingRun_data()
    {
        QTest::addColumn<RunRow>("r");
        using L = QList<quint16>;
        const quint64 optShift = ModifierFlag::Option | ModifierFlag::Shift;
        const L ccKeys{41, 59, 62, 55, 54};
        const QStringList all = QStringList{p20} << press("h") << p30 << press("i") << p30;
        const auto row = [](const char *name, quint64 mods, L held, int stopAt, QStringList steps,
                            L queries, bool session = true) {
            QTest::newRow(name) << RunRow{session, mods, held, stopAt, steps, queries};
        };
        row("completes", cc, {}, -1, all, ccKeys);
        row("released key by key", cc, {41, 59, 55}, -1, QStringList{p5, p5, p5} + all,
            L{41, /**/ 41, 59, /**/ 41, 59, 62, 55} + ccKeys);
        row("right-hand keys", optShift, {61, 60}, -1, QStringList{p5, p5} + all,
            {41, 58, 61, /**/ 41, 58, 61, 56, 60, /**/ 41, 58, 61, 56, 60});
        row("other keys held", cc, {41, 0, 56, 60, 58}, -1, QStringList{p5} + all, L{41} + ccKeys);
        row("stopped while a key is held", cc, {41, 59}, 1, {p5}, {41, 41, 59});
        row("stopped as the key is let go", cc, {41}, 1, {p5}, L{41} + ccKeys);
        row("stopped in the settle pause", cc, {}, 1, {p20}, ccKeys);
        row("stopped while typing", cc, {}, 2, QStringList{p20} << press("h") << p30, ccKeys);
        row("no session", cc, {}, -1, {}, {}, false);
        // A character that cannot be typed: nothing typed when the check finds it, nothing
        // after it when only typing does; passed over when the user chose so.
        const auto untypeable = [&](const char *name, const char *c, bool late, bool leaveOut,
                                    QStringList steps) {
            QTest::newRow(name) << RunRow{
                true, cc, {}, -1, steps, ccKeys, {}, true, 0, QString::fromUtf8(c), late, leaveOut};
        };
        untypeable("not typeable", "h", false, false, {p20});
        untypeable("not typeable, found late", "i", true, false, {p20, press("h")[0], p30});
        untypeable("left out", "h", false, true, {p20, press("i")[0], p30});

        // A command's keys are unknown; a reported release is waited on; a hidden keyboard is not.
        using K = ReleaseWait::Kind;
        const auto wait = [](const char *name, K kind, bool sees, L held, int signalAfter,
                             QStringList steps) {
            QTest::newRow(name) << RunRow{true, cc, held, -1, steps, {}, kind, sees, signalAfter};
        };
        const QString blind = u"pause %1"_s.arg(KeystrokeEngine::blindSettle.count());
        wait("any key held", K::AllKeys, true, {0, 56}, 0, QStringList{p5, p5} + all);
        wait("any key, hidden", K::AllKeys, false, {0}, 0, QStringList{blind} + all.mid(1));
        wait("shortcut, hidden", K::ShortcutKeys, false, {41}, 0, all);
        wait("release reported", K::Signalled, false, {}, 2, QStringList{p5, p5} + all);
        wait("release never reported", K::Signalled, false, {}, -1,
             QStringList(KeystrokeEngine::releaseDeadline / KeystrokeEngine::pollInterval, p5) +
                 all);
    }

    // The shortcut's keys (both sides of each modifier) are polled until up, here one let go
    // per poll; the session is closed before the run reports, as a next run may start at once.
    void typingRun()
    {
        QFETCH(RunRow, r);
        FakePlatform rig;
        rig.injector.failToOpen = !r.session;
        rig.recorder.with([&](Recorded &d) { d.down = r.held; });
        rig.pauser->hold();
        rig.injector.untypeable = r.untypeable;
        rig.injector.untypeableLate = r.late;
        std::promise<std::pair<TypingEnd, int>> finished;
        std::future<std::pair<TypingEnd, int>> result = finished.get_future();
        rig.injector.seesKeys = r.seesKeys;
        const auto released = std::make_shared<std::atomic<bool>>(r.signalAfter == 0);
        const TypingRunParams params{u"hi"_s,   30.0, 41, r.modifiers, false, {r.wait, released},
                                     r.leaveOut};
        TypingRun run(rig.injector, *rig.pauser, params, [&](const TypingEnd &end) {
            finished.set_value({end, rig.recorder.sessionsClosed.load()});
        });
        for (qsizetype n = 1; n <= r.steps.filter(u"pause").size(); ++n) {
            QVERIFY(rig.pauser->waitUntilHeld());
            if (rig.recorder.steps().constLast() == p5 && !r.held.isEmpty())
                rig.recorder.with([&](Recorded &d) { d.down.removeOne(r.held.takeFirst()); });
            if (n == r.signalAfter)
                released->store(true);
            if (n == r.stopAt)
                run.requestStop();
            rig.pauser->step();
        }
        QCOMPARE(result.wait_for(20s), std::future_status::ready);
        const auto [end, closed] = result.get();
        using K = ClusterEnd::Kind;
        const bool failed = r.untypeable.size() && !r.leaveOut;
        QCOMPARE(end.end.kind, !r.session      ? K::Lost
                               : r.stopAt >= 0 ? K::Stopped
                               : failed        ? K::NotTypeable
                                               : K::Typed);
        QCOMPARE(end.untyped.characters, failed ? r.untypeable : QString());
        QCOMPARE(end.nothingTyped, failed && !r.late);
        QCOMPARE(closed, int(r.session));
        QCOMPARE(rig.recorder.steps(), r.steps);
        QCOMPARE(rig.recorder.data().queries, r.queries);
    }

    // A stop ends even the longest pause at once, and one requested before a pause skips it.
    void realPauserStops()
    {
        RealPauser pauser;
        std::stop_source source;
        auto result = std::async(std::launch::async, [&] {
            return pauser.pause(std::chrono::nanoseconds::max(), source.get_token());
        });
        source.request_stop();
        QCOMPARE(result.wait_for(20s), std::future_status::ready);
        QVERIFY(!result.get());
        QVERIFY(!pauser.pause(std::chrono::nanoseconds(-1), source.get_token()));
    }
};

QTEST_GUILESS_MAIN(TestTyping)
#include "tst_typing.moc"
