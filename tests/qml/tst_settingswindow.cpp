// The settings window over a real AppState: shortcuts, typing speed and preview, snippets.
#include "SettingsFixture.h"
#include "snippets/SnippetListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <cmath>

using namespace std::chrono_literals;
using ns = std::chrono::nanoseconds;
using Text = std::optional<QString>;

namespace {

// A shortcut as stored, in the order the button shows it: keys and modifiers alike.
QString shortcutOf(const AppState &s, bool prev)
{
    return prev ? s.prevHotkeyDisplayString() : s.hotkeyDisplayString();
}

QQuickItem *button(const SettingsFixture &f, bool prev)
{
    return f.item(prev ? u"prevRecorder"_s : u"mainRecorder"_s);
}

QString label(const SettingsFixture &f, bool prev)
{
    return button(f, prev)
        ->property("contentItem")
        .value<QQuickItem *>()
        ->property("text")
        .toString();
}

const QString waiting = u"Press shortcut..."_s;

// A key pressed while recording; the fake tap maps a native scan code s to key code s - 8.
struct Press {
    bool prev;
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    quint32 scanCode;
    QString text;  // what the key types
    QString shown; // stored and on the button afterwards; `waiting` when it is no shortcut
};

QStringList texts(const AppState &state)
{
    QStringList out;
    for (const Snippet &s : state.snippets())
        out.append(s.text);
    return out;
}

QQuickItem *inRow(const SettingsFixture &f, int row, const QString &name)
{
    QQuickItem *slot = f.item(u"snippetRow_%1"_s.arg(row));
    return slot ? f.item(name, slot) : nullptr;
}

// The rows' markers as one string: '*' for the current snippet, 'o' for the others.
QString markers(const SettingsFixture &f)
{
    QString out;
    for (int row = 0; QQuickItem *marker = inRow(f, row, u"marker"_s); ++row)
        out += marker->property("symbol").toString() == "ring-dot"_L1 ? u'*' : u'o';
    return out;
}

// Rows A, B, C (C current unless said): an item clicked (in `row`), or A dragged to `y` of C.
struct Edit {
    QString clicked;
    int row;
    double y;
    QStringList list;
    QString marks, status;
    qint64 current = 2;
};

} // namespace

Q_DECLARE_METATYPE(Press)
Q_DECLARE_METATYPE(Edit)

class TestSettingsWindow : public QObject {
    Q_OBJECT
private slots:
    void recordKey_data()
    {
        QTest::addColumn<Press>("p");
        const auto ctrl = Qt::ControlModifier, alt = Qt::AltModifier, shift = Qt::ShiftModifier;
        const auto all = ctrl | alt | shift | Qt::MetaModifier;
        QTest::newRow("ctrl+shift+A") << Press{false, Qt::Key_A, ctrl | shift, 8, "A", "⌃⇧A"};
        QTest::newRow("alt+esc") << Press{false, Qt::Key_Escape, alt, 61, {}, "⌥Escape"};
        QTest::newRow("super+1 on prev") << Press{true, Qt::Key_1, Qt::MetaModifier, 26, "1", "⌘1"};
        QTest::newRow("all four, space") << Press{false, Qt::Key_Space, all, 57, " ", "⌃⌥⇧⌘Space"};
        QTest::newRow("A alone") << Press{false, Qt::Key_A, {}, 8, "a", waiting};
        QTest::newRow("shift+A") << Press{false, Qt::Key_A, shift, 8, "A", waiting};
        // On X11 the second modifier of a chord arrives with the first held: no shortcut yet.
        QTest::newRow("alt while ctrl held") << Press{false, Qt::Key_Alt, ctrl, 66, {}, waiting};
    }

    // Pressed with the snippet field focused: a shortcut is taken from it, all else passes on.
    void recordKey()
    {
        QFETCH(Press, p);
        const bool takes = p.shown != waiting;
        SettingsFixture f;
        f.state->setTypingMode(TypingMode::Playlist);
        QVERIFY(f.open());
        const QString before = shortcutOf(*f.state, p.prev), other = shortcutOf(*f.state, !p.prev);
        QQuickItem *field = f.item(u"newSnippetField"_s);
        f.click(field);
        QTRY_VERIFY(field->hasActiveFocus());
        f.click(button(f, p.prev));
        QVERIFY(field->hasActiveFocus());
        const int installs = f.fake.tap.installs;
        f.pressKey(p.key, p.mods, p.scanCode, p.text);
        QCOMPARE(field->property("text").toString(), takes ? QString() : p.text);
        QCOMPARE(shortcutOf(*f.state, p.prev), takes ? p.shown : before);
        QCOMPARE(shortcutOf(*f.state, !p.prev), other);
        // Registered anew exactly once, with all five fields already in place.
        QCOMPARE(f.fake.tap.installs, installs + int(takes));
        QCOMPARE(f.recorder()->isMonitoring(), !takes);
        QCOMPARE(label(f, p.prev), p.shown);
        QCOMPARE(shortcutOf(*f.load(), p.prev), takes ? p.shown : before); // persisted
    }

    // A click on the other button moves the recording there; hiding the window ends it.
    void recordingMovesAndEnds()
    {
        SettingsFixture f;
        QVERIFY(f.open());
        const QString main = shortcutOf(*f.state, false), prev = shortcutOf(*f.state, true);
        f.click(button(f, false));
        f.click(button(f, true));
        QVERIFY(!f.recorder()->isRecordingShortcut() && f.recorder()->isRecordingPrevShortcut());
        QCOMPARE(label(f, false), main);
        f.window()->hide();
        // At once, before the window is torn down.
        QVERIFY(!f.recorder()->isRecordingPrevShortcut() && !f.recorder()->isMonitoring());
        QTRY_VERIFY(!f.window());
        QVERIFY(f.open());
        QCOMPARE(label(f, true), prev);
        f.pressKey(Qt::Key_B, Qt::ControlModifier, 11 + 8, {});
        QVERIFY(shortcutOf(*f.state, false) == main && shortcutOf(*f.state, true) == prev);
    }

    void speedSlider_data()
    {
        QTest::addColumn<double>("where");
        QTest::addColumn<double>("stored");
        QTest::newRow("left end") << 0.0 << 5.0;
        QTest::newRow("right end") << 1.0 << 200.0;
    }

    // Each move writes at once, always a whole step within the bounds; the preview follows.
    void speedSlider()
    {
        QFETCH(double, where);
        QFETCH(double, stored);
        SettingsFixture f;
        QVERIFY(f.open());
        QQuickItem *slider = f.item(u"speedSlider"_s);
        f.reveal(slider);
        QList<double> written;
        connect(f.state.get(), &AppState::typingSpeedMsChanged, this,
                [&] { written.append(f.state->typingSpeedMs()); });
        f.drag(f.at(slider), f.at(slider, where));
        QCOMPARE(f.state->typingSpeedMs(), stored);
        QVERIFY(written.size() > 1);
        for (double v : std::as_const(written))
            QVERIFY2(v >= 5 && v <= 200 && std::fmod(v, 5.0) == 0, qPrintable(QString::number(v)));
        QCOMPARE(f.text(u"speedLabel"_s), u"%1 ms"_s.arg(stored));
        QCOMPARE(*f.clock.delay, ns(int(stored) * 1ms));
    }

    void preview_data()
    {
        QTest::addColumn<Text>("clipboard");
        QTest::addColumn<QStringList>("shown"); // empty: the sample text, labelled so
        QTest::newRow("no text") << Text() << QStringList();
        QTest::newRow("only blanks") << Text(u" \t\r\n\u00A0\u2028\u3000"_s) << QStringList();
        QTest::newRow("  hi\\n, untrimmed")
            << Text(u"  hi\n"_s) << QStringList{" ", "  ", "  h", "  hi", "  hi\n"};
        QTest::newRow("emoji with skin tone")
            << Text(u"👍🏽a"_s) << QStringList{u"👍🏽"_s, u"👍🏽a"_s};
        QTest::newRow("CR LF counts once")
            << Text(u"a\r\nb"_s) << QStringList{"a", "a\r\n", "a\r\nb"};
    }

    // One user-perceived character per step at the current delay, then a one-second hold.
    void preview()
    {
        QFETCH(Text, clipboard);
        QFETCH(QStringList, shown);
        SettingsFixture f;
        f.fake.clipboard.content = clipboard;
        f.state->setTypingSpeedMs(45);
        QVERIFY(f.open());
        const bool sample = shown.isEmpty();
        QCOMPARE(f.text(u"previewSource"_s), sample ? u"Sample text"_s : u"From clipboard"_s);
        QCOMPARE(f.visible(u"clearClipboard"_s), !sample);
        if (sample)
            shown = {TypingPreview::defaultSampleText.left(1),
                     TypingPreview::defaultSampleText.left(2)};
        QStringList seen{f.preview()->previewText()}; // the first one at once
        while (seen.size() < shown.size() && *f.clock.delay == 45ms && f.clock.fire())
            seen.append(f.preview()->previewText());
        QCOMPARE(seen, shown);
        QCOMPARE(f.text(u"previewText"_s), shown.last());
        if (sample)
            return;
        QVERIFY(*f.clock.delay == 45ms && f.clock.fire());
        QCOMPARE(f.preview()->previewText(), shown.last());
        QVERIFY(*f.clock.delay == 1s && f.clock.fire());
        QCOMPARE(f.preview()->previewText(), shown.first());
    }

    // A snippet's ends lose blanks and line ends of every kind, and nothing else.
    void snippetTextIsTrimmed()
    {
        const std::pair<QString, QString> cases[] = {
            {u"\t\n\v\f\r x \u0085\u2028\u2029"_s, u"x"_s},
            {u"\u00A0\u1680\u2000\u2005\u200A\u202F\u205Fx\u3000"_s, u"x"_s},
            {u"\u200Bx\u0301\uFEFF"_s, u"\u200Bx\u0301\uFEFF"_s}, // format characters, marks
            {u" a \u3000\n b "_s, u"a \u3000\n b"_s}};
        for (const auto &[text, kept] : cases)
            QCOMPARE(SnippetListModel::trimmed(text), kept);
    }

    void addSnippet_data()
    {
        QTest::addColumn<QString>("typed"); // "\n" is typed as Shift+Return
        QTest::addColumn<bool>("byReturn");
        QTest::addColumn<QString>("added"); // empty: nothing added, the field kept
        QTest::newRow("button, word in blanks") << u"  x  "_s << false << u"x"_s;
        QTest::newRow("button, blank lines") << u" \n \n"_s << false << QString();
        QTest::newRow("return after shift+return") << u" one\ntwo "_s << true << u"one\ntwo"_s;
    }

    // In list mode, picked from clipboard mode; the list stays when clipboard mode comes back.
    void addSnippet()
    {
        QFETCH(QString, typed);
        QFETCH(bool, byReturn);
        QFETCH(QString, added);
        SettingsFixture f;
        f.state->addSnippet(u"first"_s);
        QVERIFY(f.open());
        f.click(f.item(u"modePlaylist"_s));
        QCOMPARE(f.state->typingMode(), TypingMode::Playlist);
        QQuickItem *field = f.item(u"newSnippetField"_s);
        f.click(field);
        QTRY_VERIFY(field->hasActiveFocus());
        for (QChar c : typed) {
            if (c == u'\n')
                QTest::keyClick(f.window(), Qt::Key_Return, Qt::ShiftModifier);
            else
                QTest::keyClick(f.window(), c.toLatin1());
        }
        QCOMPARE(f.item(u"addButton"_s)->isEnabled(), !added.isEmpty());
        if (byReturn)
            QTest::keyClick(f.window(), Qt::Key_Return);
        else
            f.click(f.item(u"addButton"_s));
        const QStringList list =
            added.isEmpty() ? QStringList{"first"} : QStringList{"first", added};
        QCOMPARE(texts(*f.state), list);
        QCOMPARE(field->property("text").toString(), added.isEmpty() ? typed : QString());
        f.click(f.item(u"modeClipboard"_s));
        QVERIFY(f.state->typingMode() == TypingMode::Clipboard &&
                !f.visible(u"snippetListFrame"_s));
        QCOMPARE(texts(*f.load()), list); // persisted
    }

    void editSnippets_data()
    {
        QTest::addColumn<Edit>("e");
        const QStringList abc{"A", "B", "C"};
        QTest::newRow("marker selects") << Edit{"marker", 2, 0, abc, "oo*", "Current: 3 of 3", 0};
        QTest::newRow("reset to first")
            << Edit{"resetToFirst", -1, 0, abc, "*oo", "Current: 1 of 3"};
        QTest::newRow("delete the current")
            << Edit{"deleteButton", 1, 0, {"A", "C"}, "o*", "Current: 2 of 2", 1};
        QTest::newRow("clear all") << Edit{"clearAll", -1, 0, {}, "", ""};
        // Row A, grabbed at its middle, lands before the first row whose middle is below its own.
        QTest::newRow("drag below C's middle")
            << Edit{{}, 0, 0.9, {"B", "C", "A"}, "oo*", "Current: 3 of 3", 0};
        QTest::newRow("drag above C's middle")
            << Edit{{}, 0, 0.3, {"B", "A", "C"}, "o*o", "Current: 2 of 3", 0};
    }

    // What the user sees and what is stored agree after each change.
    void editSnippets()
    {
        QFETCH(Edit, e);
        SettingsFixture f;
        f.state->setTypingMode(TypingMode::Playlist);
        for (const char *text : {"A", "B", "C"})
            f.state->addSnippet(QString::fromLatin1(text));
        f.state->setCurrentSnippetIndex(e.current);
        QVERIFY(f.open());
        if (e.clicked.isEmpty()) {
            f.reveal(f.item(u"snippetListFrame"_s));
            f.drag(f.at(f.item(u"snippetRow_0"_s)), f.at(f.item(u"snippetRow_2"_s), 0.5, e.y));
        } else {
            QQuickItem *target = e.row >= 0 ? inRow(f, e.row, e.clicked) : f.item(e.clicked);
            QVERIFY(target);
            f.click(target);
        }
        QTRY_COMPARE(texts(*f.state), e.list);
        QCOMPARE(texts(*f.load()), e.list); // persisted
        QCOMPARE(f.state->currentSnippetIndex(), qMax(0, e.marks.indexOf(u'*')));
        QTRY_COMPARE(markers(f), e.marks);
        QCOMPARE(f.visible(u"statusLine"_s) ? f.text(u"statusLine"_s) : QString(), e.status);
        QVERIFY(f.visible(u"emptyText"_s) == e.list.isEmpty() &&
                f.visible(u"clearAll"_s) != e.list.isEmpty());
    }

    // Rows are inserted, removed or moved, never reset: views keep their place.
    void modelSignalsAreFineGrained()
    {
        StateFixture f;
        for (const char *text : {"A", "B", "C"})
            f.state->addSnippet(QString::fromLatin1(text));
        SnippetListModel model;
        model.setAppState(f.state.get());
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
        f.state->addSnippet(u"D"_s);
        model.remove(1);
        model.move(0, 3);
        QCOMPARE(texts(*f.state), (QStringList{"C", "D", "A"}));
        QVERIFY(reset.isEmpty() && inserted.size() == 1 && removed.size() == 1 && !moved.isEmpty());
        for (int row = 0; row < 3; ++row)
            QCOMPARE(model.index(row).data().toString(), texts(*f.state).at(row));
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
