// The tray item: its menu's entries, computed from a real AppState over the fakes, and its icon.
#include "StateFixture.h"
#include "app/MenuBarContent.h"
#include "app/TrayIcon.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
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

struct Fixture : StateFixture {
    bool trusted; // set before the menu is first built
    MenuBarContent content{*state};
    TrayIcon tray{*state, content.menu()};

    // In list mode when given snippets, the given one current.
    explicit Fixture(const QStringList &snippets = {}, qint64 index = 0, bool trust = true)
        : trusted(fake.trust.trusted = trust)
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

    QMenu *menu() const { return content.menu(); }

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

    bool showsTyping(bool typing)
    {
        const QIcon &icon = typing ? tray.typingIcon() : tray.idleIcon();
        return tray.showsTyping() == typing && tray.item().icon().cacheKey() == icon.cacheKey();
    }
};

int opaquePixels(const QIcon &icon, int size)
{
    const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    }
    return count;
}

} // namespace

class TestMenuBarContent : public QObject {
    Q_OBJECT

private slots:
    void entriesForState_data()
    {
        QTest::addColumn<QStringList>("snippets");
        QTest::addColumn<qint64>("index");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("typing");
        QTest::addColumn<QStringList>("expected");
        const QStringList abc{"a", "b", "c"};
        const QString cut = QString(50, u'y') + "...";
        QTest::newRow("idle") << QStringList() << 0ll << true << false
                              << QStringList{paste, sep} + tail;
        QTest::newRow("untrusted")
            << QStringList() << 0ll << false << false << QStringList{grant, sep, paste, sep} + tail;
        QTest::newRow("typing") << QStringList() << 0ll << true << true
                                << running + QStringList{sep} + tail;
        QTest::newRow("list, second of three")
            << abc << 1ll << true << false
            << QStringList{paste, sep} + snippetLines(2, 3, "b") + tail;
        QTest::newRow("list, index beyond the end")
            << abc << 9ll << true << false
            << QStringList{paste, sep} + snippetLines(3, 3, "c") + tail;
        QTest::newRow("list, long snippet cut")
            << QStringList{QString(51, u'y')} << 0ll << true << false
            << QStringList{paste, sep} + snippetLines(1, 1, cut) + tail;
    }

    void entriesForState()
    {
        QFETCH(QStringList, snippets);
        QFETCH(qint64, index);
        QFETCH(bool, trusted);
        QFETCH(bool, typing);
        QFETCH(QStringList, expected);
        Fixture f(snippets, index, trusted);
        f.fake.clipboard.content = QStringLiteral("abc");
        QVERIFY(!typing || f.startHeld());
        QCOMPARE(f.entries(), expected); // follows the state without being shown
        f.showMenu();
        QCOMPARE(f.entries(), expected);
    }

    void previewCutsWholeCharacters_data()
    {
        QTest::addColumn<QString>("cluster"); // one character, repeated
        QTest::addColumn<int>("count");
        QTest::newRow("exactly 50") << QStringLiteral("x") << 50;
        QTest::newRow("51") << QStringLiteral("x") << 51;
        QTest::newRow("51 combined characters") << QStringLiteral("e\u0301") << 51;
        QTest::newRow("flags") << QStringLiteral("\U0001F1E9\U0001F1EA") << 51;
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
        Fixture f({QStringLiteral("a & b <b>x</b>")}, 0, false);
        QVERIFY(f.startHeld());
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
        Fixture f({}, 0, false);
        QSignalSpy settingsSpy(&f.content, &MenuBarContent::settingsRequested);
        QSignalSpy quitSpy(&f.content, &MenuBarContent::quitRequested);
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
        QVERIFY(f.showsTyping(true)); // at once, not on some later repaint
        // The entry triggered is replaced while its own signal runs.
        f.item(QStringLiteral("Stop Typing"))->trigger();
        QVERIFY(!f.state->isTyping());
        QVERIFY(f.showsTyping(false));
        QCOMPARE(f.entries().first(), paste);
        f.fake.pauser->release();
        QVERIFY(waitForRunsToEnd(*f.state));
        const QString typed = f.fake.recorder.typedText();
        QVERIFY2(typed.size() < 3 && QStringLiteral("xyz").startsWith(typed), qPrintable(typed));
    }

    void trustIsAskedAnewAndTheReasonShownOnce()
    {
        Fixture f({}, 0, false);
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

    void iconsRenderAtTraySizes()
    {
        Fixture f;
        for (int size : {16, 22, 48}) {
            // Drawn, filling most of the square, and told apart from each other.
            QVERIFY(opaquePixels(f.tray.idleIcon(), size) > size * size / 2);
            QVERIFY(opaquePixels(f.tray.typingIcon(), size) > size * size / 2);
            QVERIFY(f.tray.idleIcon().pixmap(size, size).toImage() !=
                    f.tray.typingIcon().pixmap(size, size).toImage());
        }
    }

    // A run that ends by itself brings the idle icon back.
    void iconFollowsACompletedRun()
    {
        Fixture f;
        f.fake.clipboard.content = QStringLiteral("ab");
        QVERIFY(f.startHeld());
        QVERIFY(f.showsTyping(true));
        f.fake.pauser->release();
        QVERIFY(waitForRunsToEnd(*f.state));
        QVERIFY(f.showsTyping(false));
        QCOMPARE(f.fake.recorder.typedText(), QStringLiteral("ab"));
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
