#include "SettingsFixture.h"

#include <QTest>

// Recording both shortcuts by example: key presses reach the recorder through the
// window before any control; the fake tap maps a native scan code s to key code s - 8.
class TestShortcutRecorder : public QObject {
    Q_OBJECT
private slots:
    void records_data();
    void records();
    void passesOnWithoutQualifyingModifier_data();
    void passesOnWithoutQualifyingModifier();
    void switchingRecorders();
    void clickingAgainCancels();
    void closingStopsRecording();
    void buttonsShowShortcuts();
};

namespace {

struct Shortcut {
    qint64 keyCode;
    bool control, command, option, shift;
    friend bool operator==(const Shortcut &, const Shortcut &) = default;
};

Shortcut mainShortcut(const AppState &s)
{
    return {s.hotkeyKeyCode(), s.hotkeyControl(), s.hotkeyCommand(), s.hotkeyOption(), s.hotkeyShift()};
}

Shortcut prevShortcut(const AppState &s)
{
    return {s.prevHotkeyKeyCode(), s.prevHotkeyControl(), s.prevHotkeyCommand(), s.prevHotkeyOption(),
            s.prevHotkeyShift()};
}

} // namespace

Q_DECLARE_METATYPE(Shortcut)

void TestShortcutRecorder::records_data()
{
    QTest::addColumn<bool>("prev");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<quint32>("scanCode");
    QTest::addColumn<Shortcut>("stored");
    QTest::addColumn<QString>("shown");

    QTest::newRow("ctrl+shift+A") << false << int(Qt::Key_A) << (Qt::ControlModifier | Qt::ShiftModifier) << 8u
                                  << Shortcut{0, true, false, false, true} << QStringLiteral("⌃⇧A");
    QTest::newRow("alt+esc") << false << int(Qt::Key_Escape) << Qt::KeyboardModifiers(Qt::AltModifier) << 61u
                             << Shortcut{53, false, false, true, false} << QStringLiteral("⌥Escape");
    QTest::newRow("super+1 on prev") << true << int(Qt::Key_1) << Qt::KeyboardModifiers(Qt::MetaModifier) << 26u
                                     << Shortcut{18, false, true, false, false} << QStringLiteral("⌘1");
    QTest::newRow("all four, space") << false << int(Qt::Key_Space)
                                     << (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier)
                                     << 57u << Shortcut{49, true, true, true, true} << QStringLiteral("⌃⌥⇧⌘Space");
}

void TestShortcutRecorder::records()
{
    QFETCH(bool, prev);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(quint32, scanCode);
    QFETCH(Shortcut, stored);
    QFETCH(QString, shown);

    SettingsFixture f;
    QVERIFY(f.open());
    const Shortcut otherBefore = prev ? mainShortcut(*f.state) : prevShortcut(*f.state);
    ShortcutRecorder *recorder = f.view()->recorder();
    QQuickItem *button = f.item(prev ? QStringLiteral("prevRecorder") : QStringLiteral("mainRecorder"));
    f.click(button);
    QCOMPARE(prev ? recorder->isRecordingPrevShortcut() : recorder->isRecordingShortcut(), true);
    QCOMPARE(textOf(button->property("contentItem").value<QQuickItem *>()), QStringLiteral("Press shortcut..."));
    const int installsBefore = f.fake.tap.installs;

    f.pressKey(key, modifiers, scanCode);

    QCOMPARE(prev ? prevShortcut(*f.state) : mainShortcut(*f.state), stored);
    QCOMPARE(prev ? mainShortcut(*f.state) : prevShortcut(*f.state), otherBefore);
    // Registered anew exactly once, with all five fields already in place.
    QCOMPARE(f.fake.tap.installs, installsBefore + 1);
    QVERIFY(!recorder->isRecordingShortcut());
    QVERIFY(!recorder->isRecordingPrevShortcut());
    QVERIFY(!recorder->isMonitoring());
    QCOMPARE(textOf(button->property("contentItem").value<QQuickItem *>()), shown);

    // Persisted: a fresh state on the same file reads it back.
    AppState reread(f.fake.platform(), f.dir.filePath(QStringLiteral("k.conf")), f.fake.pauser);
    QCOMPARE(prev ? prevShortcut(reread) : mainShortcut(reread), stored);
}

void TestShortcutRecorder::passesOnWithoutQualifyingModifier_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<quint32>("scanCode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("typed");
    QTest::newRow("A alone") << int(Qt::Key_A) << Qt::KeyboardModifiers() << 8u << "a" << "a";
    QTest::newRow("shift+A") << int(Qt::Key_A) << Qt::KeyboardModifiers(Qt::ShiftModifier) << 8u << "A" << "A";
    // On X11 the second modifier of a chord arrives with the first held: no shortcut yet.
    QTest::newRow("alt pressed while ctrl held") << int(Qt::Key_Alt) << Qt::KeyboardModifiers(Qt::ControlModifier)
                                                 << 66u << "" << "";
}

void TestShortcutRecorder::passesOnWithoutQualifyingModifier()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(quint32, scanCode);
    QFETCH(QString, text);
    QFETCH(QString, typed);

    SettingsFixture f;
    f.state->setTypingMode(TypingMode::Playlist);
    QVERIFY(f.open());
    QQuickItem *field = f.item(QStringLiteral("newSnippetField"));
    QVERIFY(field);
    f.click(field);
    QTRY_VERIFY(field->hasActiveFocus());
    ShortcutRecorder *recorder = f.view()->recorder();
    f.click(f.item(QStringLiteral("mainRecorder")));
    QVERIFY(recorder->isRecordingShortcut());
    QVERIFY(field->hasActiveFocus());
    const Shortcut before = mainShortcut(*f.state);
    const int installsBefore = f.fake.tap.installs;

    f.pressKey(key, modifiers, scanCode, text);

    QCOMPARE(textOf(field), typed);
    QVERIFY(recorder->isRecordingShortcut());
    QVERIFY(recorder->isMonitoring());
    QCOMPARE(mainShortcut(*f.state), before);
    QCOMPARE(f.fake.tap.installs, installsBefore);
    QCOMPARE(textOf(f.item(QStringLiteral("mainRecorder"))->property("contentItem").value<QQuickItem *>()),
             QStringLiteral("Press shortcut..."));
}

void TestShortcutRecorder::switchingRecorders()
{
    SettingsFixture f;
    QVERIFY(f.open());
    ShortcutRecorder *recorder = f.view()->recorder();
    QQuickItem *mainButton = f.item(QStringLiteral("mainRecorder"));
    QQuickItem *prevButton = f.item(QStringLiteral("prevRecorder"));
    f.click(mainButton);
    QVERIFY(recorder->isRecordingShortcut());
    f.click(prevButton);
    QVERIFY(!recorder->isRecordingShortcut());
    QVERIFY(recorder->isRecordingPrevShortcut());
    QCOMPARE(textOf(mainButton->property("contentItem").value<QQuickItem *>()), f.state->hotkeyDisplayString());
    QCOMPARE(textOf(prevButton->property("contentItem").value<QQuickItem *>()), QStringLiteral("Press shortcut..."));

    // The key now goes to the previous-snippet shortcut only.
    const Shortcut mainBefore = mainShortcut(*f.state);
    f.pressKey(Qt::Key_B, Qt::ControlModifier, 11 + 8);
    QCOMPARE(prevShortcut(*f.state), (Shortcut{11, true, false, false, false}));
    QCOMPARE(mainShortcut(*f.state), mainBefore);
}

void TestShortcutRecorder::clickingAgainCancels()
{
    SettingsFixture f;
    QVERIFY(f.open());
    ShortcutRecorder *recorder = f.view()->recorder();
    QQuickItem *button = f.item(QStringLiteral("mainRecorder"));
    const Shortcut before = mainShortcut(*f.state);
    const int installsBefore = f.fake.tap.installs;
    f.click(button);
    QVERIFY(recorder->isRecordingShortcut());
    f.click(button);
    QVERIFY(!recorder->isRecordingShortcut());
    QVERIFY(!recorder->isMonitoring());
    QCOMPARE(mainShortcut(*f.state), before);
    QCOMPARE(f.fake.tap.installs, installsBefore);

    // Nothing is caught any more.
    f.pressKey(Qt::Key_A, Qt::ControlModifier, 8);
    QCOMPARE(mainShortcut(*f.state), before);
}

void TestShortcutRecorder::closingStopsRecording()
{
    SettingsFixture f;
    QVERIFY(f.open());
    ShortcutRecorder *recorder = f.view()->recorder();
    f.click(f.item(QStringLiteral("prevRecorder")));
    QVERIFY(recorder->isMonitoring());
    f.window()->hide();
    // At once, before the window is torn down: recording stopped, filter removed.
    QVERIFY(!recorder->isRecordingPrevShortcut());
    QVERIFY(!recorder->isMonitoring());
    QTRY_VERIFY(!f.window());

    QVERIFY(f.open());
    QVERIFY(!f.view()->recorder()->isRecordingShortcut());
    QVERIFY(!f.view()->recorder()->isRecordingPrevShortcut());
    QCOMPARE(textOf(f.item(QStringLiteral("prevRecorder"))->property("contentItem").value<QQuickItem *>()),
             f.state->prevHotkeyDisplayString());
}

void TestShortcutRecorder::buttonsShowShortcuts()
{
    SettingsFixture f;
    QVERIFY(f.open());
    QQuickItem *mainLabel = f.item(QStringLiteral("mainRecorder"))->property("contentItem").value<QQuickItem *>();
    QQuickItem *prevLabel = f.item(QStringLiteral("prevRecorder"))->property("contentItem").value<QQuickItem *>();
    // The tooltip says the symbols in words.
    const auto toolTip = [&f](const char *recorder) {
        for (QObject *child : f.item(QString::fromLatin1(recorder))->children()) {
            if (child->inherits("QQuickToolTipAttached"))
                return child->property("text").toString();
        }
        return QString();
    };
    QCOMPARE(textOf(mainLabel), QStringLiteral("⌃⌘;"));
    QCOMPARE(toolTip("mainRecorder"), QStringLiteral("Ctrl+Super+;"));
    QCOMPARE(textOf(prevLabel), QStringLiteral("⌃⌥⌘;"));
    QCOMPARE(toolTip("prevRecorder"), QStringLiteral("Ctrl+Alt+Super+;"));
    QVERIFY(mainLabel->width() >= 100);
    // A change from elsewhere shows at once.
    f.state->setHotkeyShift(true);
    QCOMPARE(textOf(mainLabel), QStringLiteral("⌃⇧⌘;"));
    QCOMPARE(toolTip("mainRecorder"), QStringLiteral("Ctrl+Shift+Super+;"));
    QCOMPARE(textOf(f.item(QStringLiteral("shortcutHint"))),
             QStringLiteral("Click a button, then press your desired key combination."));
}

QTEST_MAIN(TestShortcutRecorder)
#include "tst_shortcutrecorder.moc"
