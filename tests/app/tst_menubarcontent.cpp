// The tray item: its menu's entries, computed from a real AppState over the fakes, and its icon.
#include "StateFixture.h"
#include "app/MenuBarContent.h"
#include "app/TrayIcon.h"

#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QWidgetAction>

using namespace Qt::StringLiterals;

namespace {

const QString paste = u"Keyloom Paste  \u2303\u2318;"_s, sep = u"---"_s;
const QString grant = u"Grant Accessibility Permission..."_s;
const QStringList idle{"item:"_L1 + paste, sep};
const QStringList tail{u"item:Clear Clipboard"_s, sep, u"item:Settings..."_s, sep,
                       u"item:Quit Keyloom"_s};

QStringList snippetLines(int number, int count, const QString &preview)
{
    return {u"line:Snippet %1 of %2"_s.arg(number).arg(count), "line:"_L1 + preview, sep};
}

struct Fixture : StateFixture {
    bool trusted; // set before the menu is first built
    MenuBarContent content{*state};
    TrayIcon tray{*state, content.menu()};

    // In list mode when given snippets, the given one current.
    explicit Fixture(const QStringList &snippets = {}, qint64 index = 0, bool trust = true,
                     KeyboardTap::Binding binding = KeyboardTap::Binding::Grabbed)
        : trusted((fake.tap.bindingMode = binding, fake.trust.trusted = trust))
    {
        for (const QString &text : snippets)
            state->addSnippet(text);
        state->setCurrentSnippetIndex(index);
        if (!snippets.isEmpty())
            state->setTypingMode(TypingMode::Playlist);
    }
    ~Fixture()
    {
        fake.pauser->release();
        state->stopTyping();
        waitForRunsToEnd(*state);
    }
    // Shown the way the tray does, so it recomputes on aboutToShow, then closed.
    void showMenu()
    {
        content.menu()->popup(QPoint(10, 10));
        QTRY_VERIFY(content.menu()->isVisible());
        content.menu()->hide();
    }
    // "item:<text>", "line:<text>" or "---" for each entry.
    QStringList entries() const
    {
        QStringList out;
        for (const QAction *a : content.menu()->actions())
            out << (a->isSeparator()
                        ? sep
                        : (MenuBarContent::isTextLine(a) ? "line:"_L1 : "item:"_L1) + a->text());
        return out;
    }
    void trigger(const QString &text) const
    {
        for (QAction *a : content.menu()->actions()) {
            if (!MenuBarContent::isTextLine(a) && a->text() == text)
                return a->trigger();
        }
        QFAIL(qPrintable("no item " + text));
    }
    bool iconShowsTyping(bool typing)
    {
        const QIcon &icon = typing ? tray.typingIcon() : tray.idleIcon();
        return tray.showsTyping() == typing && tray.item().icon().cacheKey() == icon.cacheKey();
    }
};

struct Menu {
    QStringList snippets;
    qint64 index;
    bool trusted;
    QStringList expected;
    KeyboardTap::Binding binding = KeyboardTap::Binding::Grabbed;
};

} // namespace

Q_DECLARE_METATYPE(Menu)

class TestMenuBarContent : public QObject {
    Q_OBJECT

private slots:
    void entriesForState_data()
    {
        QTest::addColumn<Menu>("menu");
        const QStringList abc{"a", "b", "c"}, y51{QString(51, u'y')};
        const QString y50 = QString(50, u'y') + "...";
        QTest::newRow("untrusted")
            << Menu{{}, 0, false, QStringList{"item:"_L1 + grant, sep} + idle + tail};
        QTest::newRow("list, 2 of 3") << Menu{abc, 1, true, idle + snippetLines(2, 3, "b") + tail};
        QTest::newRow("list, long snippet")
            << Menu{y51, 0, true, idle + snippetLines(1, 1, y50) + tail};
        // The desktop binds the keys: no shortcut of ours to show.
        QTest::newRow("shortcuts bound by the user")
            << Menu{{}, 0, true, QStringList{u"item:Keyloom Paste"_s, sep} + tail,
                    KeyboardTap::Binding::Unbound};
    }

    void entriesForState()
    {
        QFETCH(Menu, menu);
        Fixture f(menu.snippets, menu.index, menu.trusted, menu.binding);
        f.fake.clipboard.content = u"abc"_s;
        QCOMPARE(f.entries(), menu.expected); // follows the state without being shown
        f.showMenu();
        QCOMPARE(f.entries(), menu.expected);
    }

    // Whole user-perceived characters, however many code points each takes.
    void previewCutsWholeCharacters()
    {
        for (const QString &c : {u"x"_s, u"e\u0301"_s, u"\U0001F1E9\U0001F1EA"_s, u"\r\n"_s})
            QCOMPARE(MenuBarContent::preview(c.repeated(51)), c.repeated(50) + "...");
        QCOMPARE(MenuBarContent::preview(u"x"_s.repeated(50)), u"x"_s.repeated(50));
    }

    // Shown as they are, and as lines that cannot be chosen.
    void linesAreVerbatim()
    {
        Fixture f({u"a & b <b>x</b>"_s}, 0, false);
        QVERIFY(f.startHeld());
        QStringList shown;
        for (QAction *action : f.content.menu()->actions()) {
            const auto *widget = qobject_cast<QWidgetAction *>(action);
            const auto *label = widget ? qobject_cast<QLabel *>(widget->defaultWidget()) : nullptr;
            QCOMPARE(action->isEnabled(), !label);
            if (label && label->textFormat() == Qt::PlainText)
                shown << label->text();
        }
        QCOMPARE(shown, (QStringList{"Typing...", "Snippet 1 of 1", "a & b <b>x</b>"}));
        // Doubled in the entry's own text, or a tray host would make the next one a mnemonic.
        QVERIFY(f.entries().contains(u"line:a && b <b>x</b>"_s));
    }

    void itemsRunTheirActions()
    {
        Fixture f({}, 0, false);
        QSignalSpy settings(&f.content, &MenuBarContent::settingsRequested);
        QSignalSpy quit(&f.content, &MenuBarContent::quitRequested);
        f.fake.clipboard.content = u"keep?"_s;
        for (const QString &item :
             {grant, u"Settings..."_s, u"Quit Keyloom"_s, u"Clear Clipboard"_s})
            f.trigger(item);
        QVERIFY(f.fake.trust.requests == 1 && settings.size() == 1 && quit.size() == 1);
        QVERIFY(!f.fake.clipboard.content && !f.state->isTyping());
    }

    void pasteAndStopFromTheMenu_data()
    {
        QTest::addColumn<KeyboardTap::Binding>("binding");
        QTest::addColumn<QStringList>("typing");
        const QStringList stop{"line:Typing...", "item:Stop Typing"};
        QTest::newRow("Esc watched") << KeyboardTap::Binding::Grabbed << stop;
        QTest::newRow("Esc out of reach")
            << KeyboardTap::Binding::DesktopBound
            << stop + QStringList{"line:Esc cannot stop typing on this desktop."};
    }

    void pasteAndStopFromTheMenu()
    {
        QFETCH(KeyboardTap::Binding, binding);
        QFETCH(QStringList, typing);
        Fixture f({}, 0, true, binding);
        f.fake.pauser->hold();
        f.fake.clipboard.content = u"xyz"_s;
        f.showMenu();
        f.trigger(paste);
        QVERIFY(f.state->isTyping() && f.fake.pauser->waitUntilHeld());
        QCOMPARE(f.entries(), (typing + QStringList{sep} + tail));
        QVERIFY(f.iconShowsTyping(true)); // at once, not on some later repaint
        // The entry triggered is replaced while its own signal runs.
        f.trigger(u"Stop Typing"_s);
        QVERIFY(!f.state->isTyping() && f.iconShowsTyping(false));
        QCOMPARE(f.entries(), idle + tail);
        f.fake.pauser->release();
        QVERIFY(waitForRunsToEnd(*f.state));
        const QString typed = f.fake.recorder.typedText();
        QVERIFY2(typed.size() < 3 && u"xyz"_s.startsWith(typed), qPrintable(typed));
    }

    void followsPropertyChanges()
    {
        Fixture f;
        f.state->setHotkeyKeyCode(0);
        f.state->setHotkeyShift(true);
        const QString shifted = u"item:Keyloom Paste  \u2303\u21E7\u2318A"_s;
        QCOMPARE(f.entries().first(), shifted);
        f.state->addSnippet(u"one"_s);
        f.state->addSnippet(u"two"_s);
        QCOMPARE(f.entries().size(), 7); // still clipboard mode
        f.state->setTypingMode(TypingMode::Playlist);
        QCOMPARE(f.entries().mid(2, 3), snippetLines(1, 2, u"one"_s));
        f.state->setCurrentSnippetIndex(1);
        QCOMPARE(f.entries().mid(2, 3), snippetLines(2, 2, u"two"_s));
        f.state->deleteSnippet(1);
        QCOMPARE(f.entries().mid(2, 3), snippetLines(1, 1, u"one"_s));
        f.state->clearAllSnippets();
        QCOMPARE(f.entries(), (QStringList{shifted, sep} + tail));
    }
};

QTEST_MAIN(TestMenuBarContent)
#include "tst_menubarcontent.moc"
