// Typing runs driven through the real shortcut manager and a recording fake keyboard.
#include "StateFixture.h"
#include "hotkey/HotkeyManager.h"
#include "platform/KeyCodes.h"

#include <QTest>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr quint64 ctrlCmd = ModifierFlag::Control | ModifierFlag::Command;
constexpr qint64 maxIndex = std::numeric_limits<qint64>::max();

struct Fixture : StateFixture {
    explicit Fixture(const QStringList &snippets = {}, qint64 index = 0,
                     const QByteArray &file = {})
        : StateFixture(file)
    {
        for (const QString &text : snippets)
            state->addSnippet(text);
        if (!snippets.isEmpty())
            state->setTypingMode(TypingMode::Playlist);
        state->setCurrentSnippetIndex(index);
    }

    bool pressMain() { return fake.tap.press(KeyCode::Semicolon, ctrlCmd); }
    bool pressPrev() { return fake.tap.press(KeyCode::Semicolon, ctrlCmd | ModifierFlag::Option); }
    bool pressEscape() { return fake.tap.press(KeyCode::Escape, 0); }
    bool waitForIdle() { return waitForRunsToEnd(*state); }
    // Starts a run by its shortcut and holds it in its first pause.
    bool pressHeld()
    {
        fake.pauser->hold();
        return pressMain() && fake.pauser->waitUntilHeld();
    }
};

} // namespace

class TestTypingController : public QObject {
    Q_OBJECT

private slots:
    void nothingToTypeIsStillSwallowed_data()
    {
        QTest::addColumn<QByteArray>("preset");
        QTest::addColumn<std::optional<QString>>("clipboard");
        QTest::newRow("no clipboard text") << QByteArray() << std::optional<QString>();
        QTest::newRow("empty clipboard text") << QByteArray() << std::optional<QString>(QString());
        // Adding ignores empty texts, so an empty snippet can only come from the file.
        QTest::newRow("empty snippet")
            << QByteArray(
                   "[General]\ntypingMode=playlist\nsnippets=\"@ByteArray([{\\\"id\\\":"
                   "\\\"0F6C3A36-2E4B-4C4B-9D4E-1A2B3C4D5E6F\\\",\\\"text\\\":\\\"\\\"}])\"\n")
            << std::optional<QString>(u"x"_s);
        QTest::newRow("empty list")
            << QByteArray("[General]\ntypingMode=playlist\n") << std::optional<QString>(u"x"_s);
    }

    void nothingToTypeIsStillSwallowed()
    {
        QFETCH(QByteArray, preset);
        QFETCH(std::optional<QString>, clipboard);
        Fixture f({}, 0, preset);
        QCOMPARE(f.state->snippets().size(), preset.contains("snippets") ? 1 : 0);
        f.fake.clipboard.content = clipboard;
        QSignalSpy typing(f.state.get(), &AppState::isTypingChanged);
        QVERIFY(f.pressMain());
        QCOMPARE(typing.count(), 0);
        QVERIFY(!f.state->hasTypingTask());
        QVERIFY(!f.pressEscape());
    }

    void clipboardRunTypesTheText()
    {
        Fixture f;
        f.fake.clipboard.content = u"a\r\nb"_s;
        f.state->setTypingSpeedMs(12.5);
        QSignalSpy typing(f.state.get(), &AppState::isTypingChanged);
        QVERIFY(f.pressMain());
        QVERIFY(f.state->isTyping());
        QVERIFY(f.fake.tap.escapeWatched);
        QVERIFY(f.waitForIdle());
        QCOMPARE(typing.count(), 2);
        QVERIFY(!f.fake.tap.escapeWatched);
        QCOMPARE(f.fake.recorder.typedText(), u"a\nb"_s);
        QCOMPARE(f.fake.recorder.steps().last().pauseNs, 12'500'000);
        QCOMPARE(f.fake.recorder.sessionsClosed.load(), 1);
    }

    void completedListRunsAdvanceWithWrapAround_data()
    {
        QTest::addColumn<qint64>("index");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("after");
        QTest::newRow("first") << qint64(0) << "one" << qint64(1);
        QTest::newRow("last wraps") << qint64(2) << "three" << qint64(0);
        QTest::newRow("beyond end types last") << qint64(7) << "three" << qint64(2);
        QTest::newRow("negative types first") << qint64(-1) << "one" << qint64(0);
        QTest::newRow("max index") << maxIndex << "three" << qint64(2);
    }

    void completedListRunsAdvanceWithWrapAround()
    {
        QFETCH(qint64, index);
        QFETCH(QString, typed);
        QFETCH(qint64, after);
        Fixture f({u"one"_s, u"two"_s, u"three"_s}, index);
        QVERIFY(f.pressMain());
        QVERIFY(f.waitForIdle());
        QCOMPARE(f.fake.recorder.typedText(), typed);
        QCOMPARE(f.state->currentSnippetIndex(), after);
    }

    void stoppedRunsLeaveTheIndex_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("shortcut") << "shortcut";
        QTest::newRow("escape, with modifiers") << "escape";
        QTest::newRow("stop item") << "stop";
    }

    void stoppedRunsLeaveTheIndex()
    {
        QFETCH(QString, how);
        Fixture f({u"abc"_s, u"def"_s}, 0);
        QVERIFY(f.pressHeld());
        if (how == "shortcut"_L1)
            QVERIFY(f.pressMain());
        else if (how == "escape"_L1)
            QVERIFY(f.fake.tap.press(KeyCode::Escape, ModifierFlag::Shift | ModifierFlag::Option));
        else
            f.state->stopTyping();
        QVERIFY(!f.state->isTyping());
        QVERIFY(!f.fake.tap.escapeWatched);
        f.fake.pauser->release();
        QVERIFY(f.waitForIdle());
        QCOMPARE(f.state->currentSnippetIndex(), 0);
        // Held in the settle pause: nothing was typed, and no key was left half-pressed.
        QCOMPARE(f.fake.recorder.typedText(), QString());
        QCOMPARE(f.fake.recorder.sessionsClosed.load(), 1);
    }

    // The stopped run reports while the newer one is held: its report must not end it.
    void aStaleRunDoesNotEndTheNewOne()
    {
        Fixture f({u"abc"_s}, 0);
        QVERIFY(f.pressHeld());
        QVERIFY(f.pressMain()); // stop: the first run winds down and reports
        QVERIFY(f.pressMain()); // start again; the new run is held in its first pause
        QVERIFY(f.fake.pauser->waitUntilHeld());
        QSignalSpy ended(f.state.get(), &AppState::typingTaskEnded);
        QVERIFY(ended.wait());
        QVERIFY(f.state->isTyping());
        QVERIFY(f.fake.tap.escapeWatched);
        QCOMPARE(f.state->currentSnippetIndex(), 0);

        f.fake.pauser->release();
        QVERIFY(f.waitForIdle());
        QVERIFY(!f.state->isTyping());
        QCOMPARE(f.fake.recorder.typedText(), u"abc"_s);
    }

    void previousShortcut_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("index");
        QTest::addColumn<bool>("listMode");
        QTest::addColumn<qint64>("after"); // -1: passed through
        QTest::newRow("wraps to last") << 3 << qint64(0) << true << qint64(2);
        QTest::newRow("steps back") << 3 << qint64(2) << true << qint64(1);
        QTest::newRow("index beyond end") << 3 << qint64(7) << true << qint64(0);
        QTest::newRow("min index") << 3 << std::numeric_limits<qint64>::min() << true << qint64(0);
        QTest::newRow("empty list") << 0 << qint64(0) << true << qint64(-1);
        QTest::newRow("clipboard mode") << 1 << qint64(0) << false << qint64(-1);
    }

    void previousShortcut()
    {
        QFETCH(int, count);
        QFETCH(qint64, index);
        QFETCH(bool, listMode);
        QFETCH(qint64, after);
        QStringList snippets;
        for (int i = 0; i < count; ++i)
            snippets << QString::number(i);
        Fixture f(snippets, index);
        f.state->setTypingMode(listMode ? TypingMode::Playlist : TypingMode::Clipboard);
        QSignalSpy written(&f.state->store(), &PreferenceStore::written);
        QCOMPARE(f.pressPrev(), after >= 0);
        QCOMPARE(f.state->currentSnippetIndex(), after >= 0 ? after : index);
        QCOMPARE(written.count(), after >= 0 ? 1 : 0);
    }

    void previousDuringARunAndModeSwitchStillAdvance()
    {
        Fixture f({u"a"_s, u"b"_s, u"c"_s}, 2);
        QVERIFY(f.pressHeld());
        QVERIFY(f.pressPrev());
        QCOMPARE(f.state->currentSnippetIndex(), 1);
        f.state->setTypingMode(TypingMode::Clipboard);
        f.state->setTypingSpeedMs(99);
        f.fake.pauser->release();
        QVERIFY(f.waitForIdle());
        QCOMPARE(f.fake.recorder.typedText(), u"c"_s);
        QCOMPARE(f.state->currentSnippetIndex(), 2);
        QCOMPARE(f.fake.recorder.steps().last().pauseNs, 30'000'000);
    }

    void runWaitsOnTheShortcutItStartedWith()
    {
        Fixture f;
        f.fake.clipboard.content = u"x"_s;
        f.state->setHotkeyKeyCode(70000); // only a hand-edited store gets here
        f.state->updateHotkey();
        QCOMPARE(f.state->hotkeyManager().keyCode, quint16(41));
        f.state->toggleTyping();
        QVERIFY(f.waitForIdle());
        QCOMPARE(f.fake.recorder.keyQueries().value(0), quint16(41));
        QCOMPARE(f.fake.recorder.typedText(), u"x"_s);
    }

    void destroyingTheStateStopsARun()
    {
        Fixture f;
        f.fake.clipboard.content = u"abcdef"_s;
        QVERIFY(f.pressHeld());
        f.state.reset();
        QCOMPARE(f.fake.recorder.sessionsClosed.load(), 1);
        QVERIFY(!f.fake.tap.installed);
    }
};

QTEST_GUILESS_MAIN(TestTypingController)
#include "tst_typingcontroller.moc"
