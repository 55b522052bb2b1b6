// Thousands of interleaved shortcut presses, stops and edits while runs start and end
// on their worker threads. Run under ThreadSanitizer by the tsan preset.
#include "StateFixture.h"
#include "platform/KeyCodes.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTest>

class TestStress : public QObject {
    Q_OBJECT

private slots:
    void interleavedRunsAndEdits()
    {
        StateFixture f;
        FakePlatform &fake = f.fake;
        std::unique_ptr<AppState> &state = f.state;
        fake.clipboard.content = QStringLiteral("xy👍🏽");
        for (const char *text : {"one", "two", "three"})
            state->addSnippet(QString::fromLatin1(text));

        constexpr quint64 ctrlCmd = ModifierFlag::Control | ModifierFlag::Command;
        constexpr quint64 ctrlOptCmd = ctrlCmd | ModifierFlag::Option;
        // A fixed seed: a failure can be replayed exactly.
        QRandomGenerator random(20261206);
        int started = 0;
        for (int i = 0; i < 4000; ++i) {
            switch (random.bounded(12)) {
            case 0:
            case 1:
            case 2:
                fake.tap.press(KeyCode::Semicolon, ctrlCmd);
                started += state->isTyping() ? 1 : 0;
                break;
            case 3:
                fake.tap.press(KeyCode::Escape, 0);
                break;
            case 4:
                state->stopTyping();
                break;
            case 5:
                fake.tap.press(KeyCode::Semicolon, ctrlOptCmd);
                break;
            case 6:
                state->addSnippet(QStringLiteral("s%1").arg(i));
                break;
            case 7:
                if (!state->snippets().isEmpty())
                    state->deleteSnippet(random.bounded(qint64(state->snippets().size())));
                break;
            case 8:
                if (state->snippets().size() > 1)
                    state->moveSnippets({random.bounded(qint64(state->snippets().size()))},
                                        random.bounded(qint64(state->snippets().size() + 1)));
                break;
            case 9:
                state->setTypingMode(random.bounded(2) ? TypingMode::Playlist
                                                       : TypingMode::Clipboard);
                break;
            case 10:
                if (random.bounded(20) == 0)
                    state->clearAllSnippets();
                break;
            default:
                // Let finished runs report back at irregular moments.
                QCoreApplication::processEvents();
                break;
            }
        }
        QVERIFY(started > 100);

        state->stopTyping();
        QVERIFY(waitForRunsToEnd(*state));

        QVERIFY(!state->isTyping());
        QVERIFY(!fake.tap.escapeWatched);
        const qint64 count = state->snippets().size();
        QVERIFY(state->currentSnippetIndex() >= 0);
        QVERIFY(state->currentSnippetIndex() < std::max<qint64>(count, 1));
        QCOMPARE(fake.recorder.sessionsOpened.load(), fake.recorder.sessionsClosed.load());

        // What is on disk is what is in memory.
        const SnippetList snippets = state->snippets();
        const qint64 index = state->currentSnippetIndex();
        const TypingMode mode = state->typingMode();
        state.reset();
        const auto reloaded = f.load();
        QCOMPARE(reloaded->snippets(), snippets);
        QCOMPARE(reloaded->currentSnippetIndex(), index);
        QCOMPARE(reloaded->typingMode(), mode);
    }
};

QTEST_GUILESS_MAIN(TestStress)
#include "tst_stress.moc"
