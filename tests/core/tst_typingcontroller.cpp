// Typing runs driven through the real shortcut manager and a recording fake keyboard.
#include "FakePlatform.h"
#include "RunWaiting.h"
#include "hotkey/HotkeyManager.h"
#include "model/AppState.h"
#include "platform/KeyCodes.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <limits>

namespace {

constexpr quint64 ctrlCmd = ModifierFlag::Control | ModifierFlag::Command;
constexpr quint64 ctrlOptCmd = ctrlCmd | ModifierFlag::Option;

struct Fixture {
    QTemporaryDir dir;
    FakePlatform fake;
    std::unique_ptr<AppState> state;

    explicit Fixture(const QStringList &snippets = {}, qint64 index = 0, const QByteArray &preset = {})
    {
        if (!preset.isEmpty()) {
            QFile file(dir.filePath(QStringLiteral("k.conf")));
            if (file.open(QIODevice::WriteOnly))
                file.write(preset);
        }
        state = std::make_unique<AppState>(fake.platform(), dir.filePath(QStringLiteral("k.conf")),
                                           fake.pauser);
        for (const QString &text : snippets)
            state->addSnippet(text);
        if (!snippets.isEmpty())
            state->setTypingMode(TypingMode::Playlist);
        state->setCurrentSnippetIndex(index);
    }

    bool pressMain() { return fake.tap.press(KeyCode::Semicolon, ctrlCmd); }
    bool pressPrev() { return fake.tap.press(KeyCode::Semicolon, ctrlOptCmd); }
    bool pressEscape() { return fake.tap.press(KeyCode::Escape, 0); }

    bool waitForIdle() { return waitForRunsToEnd(*state); }
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
            << QByteArray("[General]\ntypingMode=playlist\nsnippets=\"@ByteArray([{\\\"id\\\":"
                          "\\\"0F6C3A36-2E4B-4C4B-9D4E-1A2B3C4D5E6F\\\",\\\"text\\\":\\\"\\\"}])\"\n")
            << std::optional<QString>(QStringLiteral("x"));
        QTest::newRow("empty list") << QByteArray("[General]\ntypingMode=playlist\n")
                                    << std::optional<QString>(QStringLiteral("x"));
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
        QVERIFY(!f.state->isTyping());
        QCOMPARE(typing.count(), 0);
        QVERIFY(!f.state->hasTypingTask());
    }

    void listModeWithEmptyListLetsThePreviousShortcutThrough()
    {
        Fixture f;
        f.state->setTypingMode(TypingMode::Playlist);
        QVERIFY(f.pressMain());
        QVERIFY(!f.state->isTyping());
        QVERIFY(!f.pressPrev());
        QVERIFY(!f.pressEscape());
    }

    void clipboardRunTypesTheText()
    {
        Fixture f;
        f.fake.clipboard.content = QStringLiteral("a\r\nb");
        f.state->setTypingSpeedMs(12.5);
        QSignalSpy typing(f.state.get(), &AppState::isTypingChanged);
        QVERIFY(f.pressMain());
        QVERIFY(f.state->isTyping());
        QVERIFY(f.fake.tap.escapeWatched);
        QVERIFY(f.waitForIdle());
        QVERIFY(!f.state->isTyping());
        QCOMPARE(typing.count(), 2);
        QVERIFY(!f.fake.tap.escapeWatched);
        QCOMPARE(f.fake.recorder.typedText(), QStringLiteral("a\nb"));
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
        QTest::newRow("max index") << std::numeric_limits<qint64>::max() << "three" << qint64(2);
    }

    void completedListRunsAdvanceWithWrapAround()
    {
        QFETCH(qint64, index);
        QFETCH(QString, typed);
        QFETCH(qint64, after);
        Fixture f({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}, index);
        QVERIFY(f.pressMain());
        QVERIFY(f.waitForIdle());
        QCOMPARE(f.fake.recorder.typedText(), typed);
        QCOMPARE(f.state->currentSnippetIndex(), after);
    }

    void stoppedRunsLeaveTheIndex_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("shortcut") << "shortcut";
        QTest::newRow("escape") << "escape";
        QTest::newRow("stop item") << "stop";
    }

    void stoppedRunsLeaveTheIndex()
    {
        QFETCH(QString, how);
        Fixture f({QStringLiteral("abc"), QStringLiteral("def")}, 0);
        f.fake.pauser->hold();
        QVERIFY(f.pressMain());
        QVERIFY(f.fake.pauser->waitUntilHeld());

        if (how == QLatin1String("shortcut"))
            QVERIFY(f.pressMain());
        else if (how == QLatin1String("escape"))
            QVERIFY(f.pressEscape());
        else
            f.state->stopTyping();
        QVERIFY(!f.state->isTyping());
        f.fake.pauser->release();
        QVERIFY(f.waitForIdle());

        QCOMPARE(f.state->currentSnippetIndex(), 0);
        // Held in the settle pause: nothing was typed, and no key was left half-pressed.
        QCOMPARE(f.fake.recorder.typedText(), QString());
        QCOMPARE(f.fake.recorder.sessionsClosed.load(), 1);
    }

    void escapeOnlyCountsDuringARun()
    {
        Fixture f;
        QVERIFY(!f.pressEscape());
        QVERIFY(!f.fake.tap.escapeWatched);
        f.fake.clipboard.content = QStringLiteral("xyz");
        f.fake.pauser->hold();
        QVERIFY(f.pressMain());
        QVERIFY(f.fake.tap.escapeWatched);
        QVERIFY(f.fake.tap.press(KeyCode::Escape, ModifierFlag::Shift | ModifierFlag::Option));
        QVERIFY(!f.fake.tap.escapeWatched);
        f.fake.pauser->release();
        QVERIFY(f.waitForIdle());
    }

    void aStaleRunDoesNotEndTheNewOne()
    {
        Fixture f({QStringLiteral("abc")}, 0);
        f.fake.pauser->hold();
        QVERIFY(f.pressMain());
        QVERIFY(f.fake.pauser->waitUntilHeld());
        QVERIFY(f.pressMain()); // stop
        QVERIFY(f.pressMain()); // start again while the first worker is still winding down
        QVERIFY(f.state->isTyping());
        f.fake.pauser->release();

        // The stopped run reports first; the new run must stay in progress until it ends itself.
        QSignalSpy ended(f.state.get(), &AppState::typingTaskEnded);
        QSignalSpy typing(f.state.get(), &AppState::isTypingChanged);
        QVERIFY(f.waitForIdle());
        QCOMPARE(typing.count(), 1);
        QVERIFY(!f.state->isTyping());
        QCOMPARE(f.fake.recorder.typedText(), QStringLiteral("abc"));
        QCOMPARE(f.state->currentSnippetIndex(), 0); // one snippet: advancing wraps to 0
    }

    void previousShortcut_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("index");
        QTest::addColumn<qint64>("after");
        QTest::newRow("wraps to last") << 3 << qint64(0) << qint64(2);
        QTest::newRow("steps back") << 3 << qint64(2) << qint64(1);
        QTest::newRow("single snippet") << 1 << qint64(0) << qint64(0);
        QTest::newRow("index beyond end") << 3 << qint64(7) << qint64(0);
        QTest::newRow("max index") << 3 << std::numeric_limits<qint64>::max() << qint64(0);
        QTest::newRow("min index") << 3 << std::numeric_limits<qint64>::min() << qint64(0);
    }

    void previousShortcut()
    {
        QFETCH(int, count);
        QFETCH(qint64, index);
        QFETCH(qint64, after);
        QStringList snippets;
        for (int i = 0; i < count; ++i)
            snippets << QString::number(i);
        Fixture f(snippets, index);
        QSignalSpy written(&f.state->store(), &PreferenceStore::written);
        QVERIFY(f.pressPrev());
        QCOMPARE(f.state->currentSnippetIndex(), after);
        QCOMPARE(written.count(), 1);
    }

    void previousShortcutInClipboardModePassesThrough()
    {
        Fixture f({QStringLiteral("a")}, 0);
        f.state->setTypingMode(TypingMode::Clipboard);
        QVERIFY(!f.pressPrev());
    }

    void previousDuringARunAndModeSwitchStillAdvance()
    {
        Fixture f({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, 2);
        f.fake.pauser->hold();
        QVERIFY(f.pressMain());
        QVERIFY(f.fake.pauser->waitUntilHeld());
        QVERIFY(f.pressPrev());
        QCOMPARE(f.state->currentSnippetIndex(), 1);
        f.state->setTypingMode(TypingMode::Clipboard);
        f.state->setTypingSpeedMs(99);
        f.fake.pauser->release();
        QVERIFY(f.waitForIdle());
        QCOMPARE(f.fake.recorder.typedText(), QStringLiteral("c"));
        QCOMPARE(f.state->currentSnippetIndex(), 2);
        QCOMPARE(f.fake.recorder.steps().last().pauseNs, 30'000'000);
    }

    void runWaitsOnTheShortcutItStartedWith()
    {
        Fixture f;
        f.fake.clipboard.content = QStringLiteral("x");
        f.state->setHotkeyKeyCode(70000); // only a hand-edited store gets here
        f.state->updateHotkey();
        QCOMPARE(f.state->hotkeyManager().keyCode, quint16(41));
        f.state->toggleTyping();
        QVERIFY(f.waitForIdle());
        const QList<quint16> queried = f.fake.recorder.keyQueries();
        QVERIFY(!queried.isEmpty());
        QCOMPARE(queried.first(), quint16(41));
        QCOMPARE(f.fake.recorder.typedText(), QStringLiteral("x"));
    }

    void destroyingTheStateStopsARun()
    {
        Fixture f;
        f.fake.clipboard.content = QStringLiteral("abcdef");
        f.fake.pauser->hold();
        f.state->toggleTyping();
        QVERIFY(f.fake.pauser->waitUntilHeld());
        f.state.reset();
        QCOMPARE(f.fake.recorder.sessionsClosed.load(), 1);
        QVERIFY(!f.fake.tap.installed);
    }
};

QTEST_GUILESS_MAIN(TestTypingController)
#include "tst_typingcontroller.moc"
