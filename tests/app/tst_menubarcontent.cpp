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
const QString clear = QStringLiteral("item:Clear Clipboard");
const QString settings = QStringLiteral("item:Settings...");
const QString quit = QStringLiteral("item:Quit Keyloom");
const QStringList tail = {clear, sep, settings, sep, quit};

struct Fixture {
    QTemporaryDir dir;
    FakePlatform fake;
    std::unique_ptr<AppState> state;
    std::unique_ptr<MenuBarContent> content;

    explicit Fixture(const QByteArray &preset = {})
    {
        const QString path = dir.filePath(QStringLiteral("keyloom.conf"));
        if (!preset.isEmpty()) {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.write(preset);
        }
        state = std::make_unique<AppState>(fake.platform(), path, fake.pauser);
        content = std::make_unique<MenuBarContent>(*state);
    }

    ~Fixture()
    {
        // Let a held run go so it can end before the state goes away.
        fake.pauser->release();
        state->stopTyping();
        waitForIdle();
    }

    QMenu *menu() const { return content->menu(); }

    // Starts a run that stays in progress until the test releases the pauser.
    bool startHeldRun()
    {
        fake.pauser->hold();
        fake.clipboard.content = QStringLiteral("abc");
        state->toggleTyping();
        return state->isTyping() && fake.pauser->waitUntilHeld();
    }

    bool waitForIdle() { return waitForRunsToEnd(*state); }

    // Shows the menu the way the tray does, so it recomputes on aboutToShow, then closes it.
    void showMenu()
    {
        menu()->popup(QPoint(10, 10));
        QTRY_VERIFY(menu()->isVisible());
        menu()->hide();
    }
};

// One entry as the tests compare it: "item:<text>", "line:<text>" or "---".
QString describe(const QAction *action)
{
    if (action->isSeparator())
        return sep;
    return (MenuBarContent::isTextLine(action) ? QStringLiteral("line:") : QStringLiteral("item:"))
        + action->text();
}

QStringList entries(const QMenu *menu)
{
    QStringList out;
    for (const QAction *action : menu->actions())
        out << describe(action);
    return out;
}

QAction *findItem(const QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (!action->isSeparator() && !MenuBarContent::isTextLine(action) && action->text() == text)
            return action;
    }
    return nullptr;
}

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

QString repeated(const QString &cluster, int count)
{
    QString out;
    for (int i = 0; i < count; ++i)
        out += cluster;
    return out;
}

} // namespace

class TestMenuBarContent : public QObject {
    Q_OBJECT

private slots:
    void entriesForState_data()
    {
        QTest::addColumn<QByteArray>("preset");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("untrusted, idle, clipboard mode")
            << QByteArray() << false
            << QStringList{QStringLiteral("item:Grant Accessibility Permission..."), sep, paste, sep} + tail;
        QTest::newRow("trusted, idle, clipboard mode") << QByteArray() << true << QStringList{paste, sep} + tail;
        QTest::newRow("list mode, two snippets, second current")
            << playlistPreset({QStringLiteral("first"), QStringLiteral("second")}, 1) << true
            << QStringList{paste, sep, QStringLiteral("line:Snippet 2 of 2"), QStringLiteral("line:second"), sep}
                + tail;
        QTest::newRow("list mode, first of three")
            << playlistPreset({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, 0) << true
            << QStringList{paste, sep, QStringLiteral("line:Snippet 1 of 3"), QStringLiteral("line:a"), sep} + tail;
        QTest::newRow("list mode, empty list") << QByteArray("[General]\ntypingMode=playlist\n") << true
                                               << QStringList{paste, sep} + tail;
        QTest::newRow("list mode, index beyond the end")
            << playlistPreset({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, 9) << true
            << QStringList{paste, sep, QStringLiteral("line:Snippet 3 of 3"), QStringLiteral("line:c"), sep} + tail;
        QTest::newRow("list mode, hand-edited negative index")
            << playlistPreset({QStringLiteral("a"), QStringLiteral("b")}, -4) << true
            << QStringList{paste, sep, QStringLiteral("line:Snippet 1 of 2"), QStringLiteral("line:a"), sep} + tail;
        QTest::newRow("clipboard mode keeps the snippets out")
            << QByteArray(playlistPreset({QStringLiteral("a")}, 0).replace("playlist", "clipboard")) << true
            << QStringList{paste, sep} + tail;
        QTest::newRow("untrusted, list mode")
            << playlistPreset({QStringLiteral("only")}, 0) << false
            << QStringList{QStringLiteral("item:Grant Accessibility Permission..."), sep, paste, sep,
                           QStringLiteral("line:Snippet 1 of 1"), QStringLiteral("line:only"), sep}
                + tail;
    }

    void entriesForState()
    {
        QFETCH(QByteArray, preset);
        QFETCH(bool, trusted);
        QFETCH(QStringList, expected);
        Fixture f(preset);
        f.fake.trust.trusted = trusted;
        f.showMenu();
        QCOMPARE(entries(f.menu()), expected);
    }

    void entriesDuringRun_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("trusted") << true
                                 << QStringList{QStringLiteral("line:Typing..."), QStringLiteral("item:Stop Typing"), sep}
                + tail;
        QTest::newRow("untrusted") << false
                                   << QStringList{QStringLiteral("item:Grant Accessibility Permission..."), sep,
                                                  QStringLiteral("line:Typing..."), QStringLiteral("item:Stop Typing"),
                                                  sep}
                + tail;
    }

    void entriesDuringRun()
    {
        QFETCH(bool, trusted);
        QFETCH(QStringList, expected);
        Fixture f;
        f.fake.trust.trusted = trusted;
        QVERIFY(f.startHeldRun());
        // Follows the run without being shown.
        QCOMPARE(entries(f.menu()), expected);
        f.showMenu();
        QCOMPARE(entries(f.menu()), expected);
    }

    void previewCutsWholeCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString e = QStringLiteral("e\u0301"); // one character of two code units
        const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA");
        const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("short") << QStringLiteral("hello") << QStringLiteral("hello");
        QTest::newRow("exactly 50") << repeated(QStringLiteral("x"), 50) << repeated(QStringLiteral("x"), 50);
        QTest::newRow("51") << repeated(QStringLiteral("x"), 51) << repeated(QStringLiteral("x"), 50) + "...";
        QTest::newRow("long") << repeated(QStringLiteral("ab"), 5000) << repeated(QStringLiteral("ab"), 25) + "...";
        QTest::newRow("50 combined characters") << repeated(e, 50) << repeated(e, 50);
        QTest::newRow("51 combined characters") << repeated(e, 51) << repeated(e, 50) + "...";
        QTest::newRow("flags") << repeated(flag, 51) << repeated(flag, 50) + "...";
        QTest::newRow("emoji sequences") << repeated(family, 60) << repeated(family, 50) + "...";
        QTest::newRow("CRLF is one character") << repeated(QStringLiteral("\r\n"), 51)
                                               << repeated(QStringLiteral("\r\n"), 50) + "...";
    }

    void previewCutsWholeCharacters()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(MenuBarContent::preview(text), expected);
    }

    void previewLineShowsTheCurrentSnippet()
    {
        const QString text = repeated(QStringLiteral("y"), 51);
        Fixture f(playlistPreset({text}, 0));
        f.showMenu();
        QCOMPARE(entries(f.menu()).at(3), QStringLiteral("line:") + repeated(QStringLiteral("y"), 50) + "...");
    }

    void linesAreTextWithoutAction()
    {
        Fixture f(playlistPreset({QStringLiteral("a & b <b>x</b>")}, 0));
        f.fake.trust.trusted = false;
        QVERIFY(f.startHeldRun());
        int lines = 0;
        for (QAction *action : f.menu()->actions()) {
            // No item is ever disabled, and nothing has a keyboard equivalent; lines are
            // disabled so that they cannot be chosen.
            QVERIFY(action->shortcut().isEmpty());
            // Every '&' doubled, or a tray host would make the next character a mnemonic.
            QVERIFY2(
                !QString(action->text()).remove(QStringLiteral("&&")).contains(QLatin1Char('&')),
                qPrintable(describe(action)));
            if (!MenuBarContent::isTextLine(action)) {
                QVERIFY2(action->isEnabled() || action->isSeparator(), qPrintable(describe(action)));
                continue;
            }
            QVERIFY(!action->isEnabled());
            ++lines;
            auto *widgetAction = qobject_cast<QWidgetAction *>(action);
            QVERIFY(widgetAction);
            auto *label = qobject_cast<QLabel *>(widgetAction->defaultWidget());
            QVERIFY(label);
            QCOMPARE(label->text(),
                     QString(action->text()).replace(QStringLiteral("&&"), QStringLiteral("&")));
            // Verbatim: no markup, no mnemonics.
            QCOMPARE(label->textFormat(), Qt::PlainText);
            QVERIFY(label->font().pointSizeF() < f.menu()->font().pointSizeF());
            // Drawn in a dimmed colour, not the style's pale disabled one.
            QCOMPARE(label->palette().color(QPalette::Disabled, QPalette::WindowText),
                     label->palette().color(QPalette::Active, QPalette::WindowText));
            QVERIFY(label->palette().color(QPalette::WindowText).alpha() < 255);
        }
        QCOMPARE(lines, 3); // Typing..., the counter, the preview
        QVERIFY(entries(f.menu()).contains(QStringLiteral("line:a && b <b>x</b>")));
    }

    void itemsRunTheirActions()
    {
        Fixture f;
        QSignalSpy settingsSpy(f.content.get(), &MenuBarContent::settingsRequested);
        QSignalSpy quitSpy(f.content.get(), &MenuBarContent::quitRequested);

        f.fake.clipboard.content = QStringLiteral("keep?");
        findItem(f.menu(), QStringLiteral("Clear Clipboard"))->trigger();
        QCOMPARE(f.fake.clipboard.content, std::nullopt);

        findItem(f.menu(), QStringLiteral("Settings..."))->trigger();
        QCOMPARE(settingsSpy.count(), 1);
        QCOMPARE(quitSpy.count(), 0);

        findItem(f.menu(), QStringLiteral("Quit Keyloom"))->trigger();
        QCOMPARE(quitSpy.count(), 1);
    }

    void pasteAndStopFromTheMenu()
    {
        Fixture f;
        f.fake.pauser->hold();
        f.fake.clipboard.content = QStringLiteral("xyz");
        f.showMenu();
        findItem(f.menu(), QStringLiteral("Keyloom Paste  \u2303\u2318;"))->trigger();
        QVERIFY(f.state->isTyping());
        QVERIFY(f.fake.pauser->waitUntilHeld());
        QCOMPARE(entries(f.menu()).mid(0, 2),
                 (QStringList{QStringLiteral("line:Typing..."), QStringLiteral("item:Stop Typing")}));

        // The entry that is triggered is replaced while its own signal runs.
        findItem(f.menu(), QStringLiteral("Stop Typing"))->trigger();
        QVERIFY(!f.state->isTyping());
        QCOMPARE(entries(f.menu()).first(), paste);
        f.fake.pauser->release();
        QVERIFY(f.waitForIdle());
        const QString typed = f.fake.recorder.typedText();
        QVERIFY2(typed.size() < 3 && QStringLiteral("xyz").startsWith(typed), qPrintable(typed));
    }

    void grantAsksAndExplains()
    {
        Fixture f;
        f.fake.trust.trusted = false;
        f.showMenu();
        findItem(f.menu(), QStringLiteral("Grant Accessibility Permission..."))->trigger();
        QCOMPARE(f.fake.trust.requests, 1);
        // Still missing after the request: the reason is shown, once however often asked.
        findItem(f.menu(), QStringLiteral("Grant Accessibility Permission..."))->trigger();
        QCOMPARE(f.fake.trust.requests, 2);
        QList<QMessageBox *> boxes;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                boxes << box;
        }
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first()->text(), QStringLiteral("not trusted"));
        boxes.first()->close();
    }

    void trustIsAskedAnewEachTime()
    {
        Fixture f;
        f.fake.trust.trusted = false;
        f.showMenu();
        QCOMPARE(entries(f.menu()).first(), QStringLiteral("item:Grant Accessibility Permission..."));
        // Granted elsewhere: nothing tells the menu until it is shown again.
        f.fake.trust.trusted = true;
        f.showMenu();
        QCOMPARE(entries(f.menu()).first(), paste);
    }

    void followsPropertyChanges()
    {
        Fixture f;
        f.showMenu();
        f.state->setHotkeyKeyCode(0);
        f.state->setHotkeyShift(true);
        QCOMPARE(entries(f.menu()).first(), QStringLiteral("item:Keyloom Paste  \u2303\u21E7\u2318A"));

        f.state->addSnippet(QStringLiteral("one"));
        f.state->addSnippet(QStringLiteral("two"));
        QCOMPARE(entries(f.menu()).size(), 7); // still clipboard mode
        f.state->setTypingMode(TypingMode::Playlist);
        QCOMPARE(entries(f.menu()).mid(2, 2),
                 (QStringList{QStringLiteral("line:Snippet 1 of 2"), QStringLiteral("line:one")}));
        f.state->setCurrentSnippetIndex(1);
        QCOMPARE(entries(f.menu()).mid(2, 2),
                 (QStringList{QStringLiteral("line:Snippet 2 of 2"), QStringLiteral("line:two")}));
        f.state->deleteSnippet(1);
        QCOMPARE(entries(f.menu()).mid(2, 2),
                 (QStringList{QStringLiteral("line:Snippet 1 of 1"), QStringLiteral("line:one")}));
        f.state->clearAllSnippets();
        const QStringList expected = QStringList{QStringLiteral("item:Keyloom Paste  \u2303\u21E7\u2318A"), sep} + tail;
        QCOMPARE(entries(f.menu()), expected);
    }
};

QTEST_MAIN(TestMenuBarContent)
#include "tst_menubarcontent.moc"
