// The tray menu's entries, computed from a real AppState over fake desktop services.
#include "FakePlatform.h"
#include "RunWaiting.h"
#include "app/MenuBarContent.h"
#include "model/AppState.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidgetAction>

namespace {

const QString paste = QStringLiteral("item:Keyloom Paste  \u2303\u2318;");
const QString sep = QStringLiteral("---");
const QString grant = QStringLiteral("item:Grant Accessibility Permission...");
const QStringList running{QStringLiteral("line:Typing..."), QStringLiteral("item:Stop Typing")};
const QStringList tail{QStringLiteral("item:Clear Clipboard"), sep,
                       QStringLiteral("item:Settings..."), sep,
                       QStringLiteral("item:Quit Keyloom")};

QStringList snippetLines(int number, int count, const QString &preview)
{
    return {QStringLiteral("line:Snippet %1 of %2").arg(number).arg(count),
            QStringLiteral("line:") + preview, sep};
}

struct Fixture {
    QTemporaryDir dir;
    FakePlatform fake;
    std::unique_ptr<AppState> state;
    std::unique_ptr<MenuBarContent> content;

    explicit Fixture(const QByteArray &preset = {}, bool trusted = true)
    {
        const QString path = dir.filePath(QStringLiteral("keyloom.conf"));
        QFile file(path);
        if (!preset.isEmpty() && file.open(QIODevice::WriteOnly))
            file.write(preset);
        file.close();
        fake.trust.trusted = trusted;
        state = std::make_unique<AppState>(fake.platform(), path, fake.pauser);
        content = std::make_unique<MenuBarContent>(*state);
    }

    ~Fixture()
    {
        // Let a held run go so it can end before the state goes away.
        fake.pauser->release();
        state->stopTyping();
        waitForRunsToEnd(*state);
    }

    QMenu *menu() const { return content->menu(); }

    // A run that stays in progress until the test releases the pauser.
    bool startHeldRun()
    {
        fake.pauser->hold();
        fake.clipboard.content = QStringLiteral("abc");
        state->toggleTyping();
        return state->isTyping() && fake.pauser->waitUntilHeld();
    }

    // Shown the way the tray does, so it recomputes on aboutToShow, then closed.
    void showMenu()
    {
        menu()->popup(QPoint(10, 10));
        QTRY_VERIFY(menu()->isVisible());
        menu()->hide();
    }

    // "item:<text>", "line:<text>" or "---" for each entry.
    QStringList entries() const
    {
        QStringList out;
        for (const QAction *action : menu()->actions()) {
            out << (action->isSeparator() ? sep
                    : MenuBarContent::isTextLine(action)
                        ? QStringLiteral("line:") + action->text()
                        : QStringLiteral("item:") + action->text());
        }
        return out;
    }

    QAction *item(const QString &text) const
    {
        for (QAction *action : menu()->actions()) {
            if (!MenuBarContent::isTextLine(action) && action->text() == text)
                return action;
        }
        return nullptr;
    }
};

// A settings file in list mode, written the way the program writes it.
QByteArray playlistPreset(const QStringList &texts, qint64 index)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("preset.conf"));
    {
        SnippetList list;
        for (const QString &text : texts)
            list.append(Snippet{QUuid::createUuid(), text});
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("typingMode"), QStringLiteral("playlist"));
        settings.setValue(QStringLiteral("currentSnippetIndex"), index);
        settings.setValue(QStringLiteral("snippets"), encodeSnippets(list));
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestMenuBarContent : public QObject {
    Q_OBJECT

private slots:
    void entriesForState_data()
    {
        QTest::addColumn<QByteArray>("preset");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("typing");
        QTest::addColumn<QStringList>("expected");
        const QStringList abc{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
        QTest::newRow("idle") << QByteArray() << true << false << QStringList{paste, sep} + tail;
        QTest::newRow("untrusted")
            << QByteArray() << false << false << QStringList{grant, sep, paste, sep} + tail;
        QTest::newRow("typing") << QByteArray() << true << true
                                << running + QStringList{sep} + tail;
        QTest::newRow("list, second of three")
            << playlistPreset(abc, 1) << true << false
            << QStringList{paste, sep} + snippetLines(2, 3, "b") + tail;
        QTest::newRow("list, index beyond the end")
            << playlistPreset(abc, 9) << true << false
            << QStringList{paste, sep} + snippetLines(3, 3, "c") + tail;
        QTest::newRow("list, hand-edited negative index")
            << playlistPreset(abc, -4) << true << false
            << QStringList{paste, sep} + snippetLines(1, 3, "a") + tail;
        QTest::newRow("list, long snippet cut")
            << playlistPreset({QString(51, QLatin1Char('y'))}, 0) << true << false
            << QStringList{paste, sep} + snippetLines(1, 1, QString(50, QLatin1Char('y')) + "...") +
                   tail;
        QTest::newRow("list, empty") << QByteArray("[General]\ntypingMode=playlist\n") << true
                                     << false << QStringList{paste, sep} + tail;
        QTest::newRow("clipboard mode keeps the snippets out")
            << QByteArray(playlistPreset(abc, 0).replace("playlist", "clipboard")) << true << false
            << QStringList{paste, sep} + tail;
    }

    void entriesForState()
    {
        QFETCH(QByteArray, preset);
        QFETCH(bool, trusted);
        QFETCH(bool, typing);
        QFETCH(QStringList, expected);
        Fixture f(preset, trusted);
        QVERIFY(!typing || f.startHeldRun());
        QCOMPARE(f.entries(), expected); // follows the state without being shown
        f.showMenu();
        QCOMPARE(f.entries(), expected);
    }

    void previewCutsWholeCharacters_data()
    {
        QTest::addColumn<QString>("cluster"); // one character, repeated
        QTest::addColumn<int>("count");
        QTest::newRow("short") << QStringLiteral("hello") << 1;
        QTest::newRow("exactly 50") << QStringLiteral("x") << 50;
        QTest::newRow("51") << QStringLiteral("x") << 51;
        QTest::newRow("51 combined characters") << QStringLiteral("e\u0301") << 51;
        QTest::newRow("flags") << QStringLiteral("\U0001F1E9\U0001F1EA") << 51;
        QTest::newRow("emoji sequences")
            << QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467") << 60;
        QTest::newRow("CRLF is one character") << QStringLiteral("\r\n") << 51;
    }

    void previewCutsWholeCharacters()
    {
        QFETCH(QString, cluster);
        QFETCH(int, count);
        const QString text = cluster.repeated(count);
        QCOMPARE(MenuBarContent::preview(text), count > 50 ? cluster.repeated(50) + "..." : text);
    }

    void linesAreVerbatimAndCannotBeChosen()
    {
        Fixture f(playlistPreset({QStringLiteral("a & b <b>x</b>")}, 0), false);
        QVERIFY(f.startHeldRun());
        int lines = 0;
        for (QAction *action : f.menu()->actions()) {
            // Every '&' doubled, or a tray host would make the next character a mnemonic.
            QVERIFY2(
                !QString(action->text()).remove(QStringLiteral("&&")).contains(QLatin1Char('&')),
                qPrintable(action->text()));
            QCOMPARE(action->isEnabled(), !MenuBarContent::isTextLine(action));
            if (!MenuBarContent::isTextLine(action))
                continue;
            ++lines;
            const auto *widgetAction = qobject_cast<QWidgetAction *>(action);
            const auto *label =
                widgetAction ? qobject_cast<QLabel *>(widgetAction->defaultWidget()) : nullptr;
            QVERIFY(label);
            QCOMPARE(label->text(),
                     QString(action->text()).replace(QStringLiteral("&&"), QStringLiteral("&")));
            QCOMPARE(label->textFormat(), Qt::PlainText); // no markup
        }
        QCOMPARE(lines, 3); // Typing..., the counter, the preview
        QVERIFY(f.entries().contains(QStringLiteral("line:a && b <b>x</b>")));
    }

    void itemsRunTheirActions_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("clears");
        QTest::addColumn<int>("settings");
        QTest::addColumn<int>("quits");
        QTest::addColumn<int>("trustRequests");
        QTest::newRow("clear") << QStringLiteral("Clear Clipboard") << true << 0 << 0 << 0;
        QTest::newRow("settings") << QStringLiteral("Settings...") << false << 1 << 0 << 0;
        QTest::newRow("quit") << QStringLiteral("Quit Keyloom") << false << 0 << 1 << 0;
        QTest::newRow("grant") << QStringLiteral("Grant Accessibility Permission...") << false << 0
                               << 0 << 1;
    }

    void itemsRunTheirActions()
    {
        QFETCH(QString, item);
        QFETCH(bool, clears);
        QFETCH(int, settings);
        QFETCH(int, quits);
        QFETCH(int, trustRequests);
        Fixture f({}, false);
        QSignalSpy settingsSpy(f.content.get(), &MenuBarContent::settingsRequested);
        QSignalSpy quitSpy(f.content.get(), &MenuBarContent::quitRequested);
        f.fake.clipboard.content = QStringLiteral("keep?");
        QVERIFY(f.item(item));
        f.item(item)->trigger();
        QCOMPARE(f.fake.clipboard.content.has_value(), !clears);
        QCOMPARE(settingsSpy.count(), settings);
        QCOMPARE(quitSpy.count(), quits);
        QCOMPARE(f.fake.trust.requests, trustRequests);
        QCOMPARE(f.state->isTyping(), false);
    }

    void pasteAndStopFromTheMenu()
    {
        Fixture f;
        f.fake.pauser->hold();
        f.fake.clipboard.content = QStringLiteral("xyz");
        f.showMenu();
        f.item(paste.mid(5))->trigger();
        QVERIFY(f.state->isTyping() && f.fake.pauser->waitUntilHeld());
        QCOMPARE(f.entries().mid(0, 2), running);
        // The entry triggered is replaced while its own signal runs.
        f.item(QStringLiteral("Stop Typing"))->trigger();
        QVERIFY(!f.state->isTyping());
        QCOMPARE(f.entries().first(), paste);
        f.fake.pauser->release();
        QVERIFY(waitForRunsToEnd(*f.state));
        const QString typed = f.fake.recorder.typedText();
        QVERIFY2(typed.size() < 3 && QStringLiteral("xyz").startsWith(typed), qPrintable(typed));
    }

    void trustIsAskedAnewAndTheReasonShownOnce()
    {
        Fixture f({}, false);
        f.showMenu();
        f.item(grant.mid(5))->trigger();
        f.item(grant.mid(5))->trigger();
        QList<QMessageBox *> boxes;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                boxes << box;
        }
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first()->text(), QStringLiteral("not trusted"));
        boxes.first()->close();
        // Granted elsewhere: nothing tells the menu until it is shown again.
        f.fake.trust.trusted = true;
        f.showMenu();
        QCOMPARE(f.entries().first(), paste);
    }

    void followsPropertyChanges()
    {
        Fixture f;
        f.state->setHotkeyKeyCode(0);
        f.state->setHotkeyShift(true);
        const QString shifted = QStringLiteral("item:Keyloom Paste  \u2303\u21E7\u2318A");
        QCOMPARE(f.entries().first(), shifted);
        f.state->addSnippet(QStringLiteral("one"));
        f.state->addSnippet(QStringLiteral("two"));
        QCOMPARE(f.entries().size(), 7); // still clipboard mode
        f.state->setTypingMode(TypingMode::Playlist);
        QCOMPARE(f.entries().mid(2, 3), snippetLines(1, 2, QStringLiteral("one")));
        f.state->setCurrentSnippetIndex(1);
        QCOMPARE(f.entries().mid(2, 3), snippetLines(2, 2, QStringLiteral("two")));
        f.state->deleteSnippet(1);
        QCOMPARE(f.entries().mid(2, 3), snippetLines(1, 1, QStringLiteral("one")));
        f.state->clearAllSnippets();
        QCOMPARE(f.entries(), (QStringList{shifted, sep} + tail));
    }
};

QTEST_MAIN(TestMenuBarContent)
#include "tst_menubarcontent.moc"
