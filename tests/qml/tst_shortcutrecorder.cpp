#include "SettingsFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Recording both shortcuts by example: key presses reach the recorder through the
// window before any control; the fake tap maps a native scan code s to key code s - 8.
namespace {

struct Shortcut {
    qint64 keyCode;
    bool control, command, option, shift;
    friend bool operator==(const Shortcut &, const Shortcut &) = default;
};

Shortcut shortcutOf(const AppState &s, bool prev)
{
    if (prev)
        return {s.prevHotkeyKeyCode(), s.prevHotkeyControl(), s.prevHotkeyCommand(),
                s.prevHotkeyOption(), s.prevHotkeyShift()};
    return {s.hotkeyKeyCode(), s.hotkeyControl(), s.hotkeyCommand(), s.hotkeyOption(),
            s.hotkeyShift()};
}

QQuickItem *recorderButton(const SettingsFixture &f, bool prev)
{
    return f.item(prev ? u"prevRecorder"_s : u"mainRecorder"_s);
}

QString label(const SettingsFixture &f, bool prev)
{
    return textOf(recorderButton(f, prev)->property("contentItem").value<QQuickItem *>());
}

const QString waiting = u"Press shortcut..."_s;

} // namespace

Q_DECLARE_METATYPE(Shortcut)

class TestShortcutRecorder : public QObject {
    Q_OBJECT
private slots:
    void records_data()
    {
        QTest::addColumn<bool>("prev");
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<quint32>("scanCode");
        QTest::addColumn<Shortcut>("stored");
        QTest::addColumn<QString>("shown");
        using M = Qt::KeyboardModifiers;
        QTest::newRow("ctrl+shift+A")
            << false << int(Qt::Key_A) << M(Qt::ControlModifier | Qt::ShiftModifier) << 8u
            << Shortcut{0, true, false, false, true} << u"⌃⇧A"_s;
        QTest::newRow("alt+esc") << false << int(Qt::Key_Escape) << M(Qt::AltModifier) << 61u
                                 << Shortcut{53, false, false, true, false} << u"⌥Escape"_s;
        QTest::newRow("super+1 on prev") << true << int(Qt::Key_1) << M(Qt::MetaModifier) << 26u
                                         << Shortcut{18, false, true, false, false} << u"⌘1"_s;
        QTest::newRow("all four, space")
            << false << int(Qt::Key_Space)
            << M(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier)
            << 57u << Shortcut{49, true, true, true, true} << u"⌃⌥⇧⌘Space"_s;
    }

    void records()
    {
        QFETCH(bool, prev);
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(quint32, scanCode);
        QFETCH(Shortcut, stored);
        QFETCH(QString, shown);
        SettingsFixture f;
        QVERIFY(f.open());
        const Shortcut otherBefore = shortcutOf(*f.state, !prev);
        ShortcutRecorder *recorder = f.view()->recorder();
        f.click(recorderButton(f, prev));
        QVERIFY(prev ? recorder->isRecordingPrevShortcut() : recorder->isRecordingShortcut());
        QCOMPARE(label(f, prev), waiting);
        const int installsBefore = f.fake.tap.installs;

        f.pressKey(key, modifiers, scanCode);

        QCOMPARE(shortcutOf(*f.state, prev), stored);
        QCOMPARE(shortcutOf(*f.state, !prev), otherBefore);
        // Registered anew exactly once, with all five fields already in place.
        QCOMPARE(f.fake.tap.installs, installsBefore + 1);
        QVERIFY(!recorder->isRecordingShortcut() && !recorder->isRecordingPrevShortcut());
        QVERIFY(!recorder->isMonitoring());
        QCOMPARE(label(f, prev), shown);
        // Persisted: a fresh state on the same file reads it back.
        AppState reread(f.fake.platform(), f.dir.filePath(u"k.conf"_s), f.fake.pauser);
        QCOMPARE(shortcutOf(reread, prev), stored);
    }

    void passesOnWithoutQualifyingModifier_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<quint32>("scanCode");
        QTest::addColumn<QString>("text");
        QTest::newRow("A alone") << int(Qt::Key_A) << Qt::KeyboardModifiers() << 8u << u"a"_s;
        QTest::newRow("shift+A") << int(Qt::Key_A) << Qt::KeyboardModifiers(Qt::ShiftModifier) << 8u
                                 << u"A"_s;
        // On X11 the second modifier of a chord arrives with the first held: no shortcut yet.
        QTest::newRow("alt pressed while ctrl held")
            << int(Qt::Key_Alt) << Qt::KeyboardModifiers(Qt::ControlModifier) << 66u << QString();
    }

    void passesOnWithoutQualifyingModifier()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(quint32, scanCode);
        QFETCH(QString, text);
        SettingsFixture f;
        f.state->setTypingMode(TypingMode::Playlist);
        QVERIFY(f.open());
        QQuickItem *field = f.item(u"newSnippetField"_s);
        f.click(field);
        QTRY_VERIFY(field->hasActiveFocus());
        ShortcutRecorder *recorder = f.view()->recorder();
        f.click(recorderButton(f, false));
        QVERIFY(field->hasActiveFocus());
        const Shortcut before = shortcutOf(*f.state, false);
        const int installsBefore = f.fake.tap.installs;

        f.pressKey(key, modifiers, scanCode, text);

        QCOMPARE(textOf(field), text);
        QVERIFY(recorder->isRecordingShortcut() && recorder->isMonitoring());
        QCOMPARE(shortcutOf(*f.state, false), before);
        QCOMPARE(f.fake.tap.installs, installsBefore);
        QCOMPARE(label(f, false), waiting);
    }

    // A click on the other button moves the recording there; a second click on the
    // same button cancels it.
    void secondClick_data() { addBoolRows("other", "same button", "other button"); }

    void secondClick()
    {
        QFETCH(bool, other);
        SettingsFixture f;
        QVERIFY(f.open());
        ShortcutRecorder *recorder = f.view()->recorder();
        const Shortcut mainBefore = shortcutOf(*f.state, false);
        const Shortcut prevBefore = shortcutOf(*f.state, true);
        f.click(recorderButton(f, false));
        f.click(recorderButton(f, other));
        QVERIFY(!recorder->isRecordingShortcut());
        QCOMPARE(recorder->isRecordingPrevShortcut(), other);
        QCOMPARE(recorder->isMonitoring(), other);
        QCOMPARE(label(f, false), f.state->hotkeyDisplayString());
        QCOMPARE(label(f, true), other ? waiting : f.state->prevHotkeyDisplayString());

        f.pressKey(Qt::Key_B, Qt::ControlModifier, 11 + 8);
        QCOMPARE(shortcutOf(*f.state, false), mainBefore);
        const Shortcut ctrlB{11, true, false, false, false};
        QCOMPARE(shortcutOf(*f.state, true), other ? ctrlB : prevBefore);
    }

    void closingStopsRecording()
    {
        SettingsFixture f;
        QVERIFY(f.open());
        ShortcutRecorder *recorder = f.view()->recorder();
        f.click(recorderButton(f, true));
        QVERIFY(recorder->isMonitoring());
        f.window()->hide();
        // At once, before the window is torn down: recording stopped, filter removed.
        QVERIFY(!recorder->isRecordingPrevShortcut());
        QVERIFY(!recorder->isMonitoring());
        QTRY_VERIFY(!f.window());
        QVERIFY(f.open());
        QVERIFY(!f.view()->recorder()->isRecordingPrevShortcut());
        QCOMPARE(label(f, true), f.state->prevHotkeyDisplayString());
    }

    // The buttons follow the stored shortcuts at once.
    void buttonsFollowTheShortcuts()
    {
        SettingsFixture f;
        QVERIFY(f.open());
        f.state->setHotkeyShift(true);
        QCOMPARE(label(f, false), u"⌃⇧⌘;"_s);
        f.state->setPrevHotkeyKeyCode(40);
        QCOMPARE(label(f, true), u"⌃⌥⌘K"_s);
    }
};

QTEST_MAIN(TestShortcutRecorder)
#include "tst_shortcutrecorder.moc"
