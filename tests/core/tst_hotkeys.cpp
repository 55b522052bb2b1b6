// Matching key presses to shortcuts, registration, and the texts that name shortcuts.
#include "StateFixture.h"
#include "StreamCapture.h"
#include "hotkey/HotkeyManager.h"
#include "hotkey/KeyNames.h"
#include "platform/KeyCodes.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr quint64 shift = ModifierFlag::Shift;
constexpr quint64 control = ModifierFlag::Control;
constexpr quint64 option = ModifierFlag::Option;
constexpr quint64 command = ModifierFlag::Command;
constexpr quint64 cc = control | command;
constexpr quint64 coc = control | option | command;
constexpr quint64 capsLock = 0x10000;
constexpr quint64 function = 0x800000;

// Main is ⌃⌘; and previous ⌃⌥⌘; unless a row says otherwise.
struct MatchRow {
    const char *name;
    quint16 key;
    quint64 flags;
    const char *called; // "main", "prev", "esc" or ""
    quint16 mainKey = 41;
    quint64 mainMods = cc;
    quint16 prevKey = 41;
    quint64 prevMods = coc;
    bool prevEnabled = true;
};

} // namespace

Q_DECLARE_METATYPE(MatchRow)

class TestHotkeys : public QObject {
    Q_OBJECT

private slots:
    void matching_data()
    {
        QTest::addColumn<MatchRow>("r");
        const MatchRow rows[] = {
            {"main", 41, cc, "main"},
            {"main, caps lock on", 41, cc | capsLock, "main"},
            {"main, fn bit", 41, cc | function, "main"},
            {"main, extra shift", 41, cc | shift, ""},
            {"main, one modifier missing", 41, control, ""},
            {"other key", 40, cc, ""},
            {"prev", 41, coc, "prev"},
            {"prev disabled", 41, coc, "", 41, cc, 41, coc, false},
            {"prev disabled, esc", 53, coc, "esc", 41, cc, 53, coc, false},
            {"main equals prev", 41, cc, "main", 41, cc, 41, cc},
            {"esc bare", 53, 0, "esc"},
            {"esc with modifiers", 53, shift | option | capsLock, "esc"},
            {"esc is main", 53, 0, "main", 53, 0},
            {"esc is main, with shift", 53, shift, "esc", 53, 0},
            {"no modifiers", 0, 0, "main", 0, 0},
        };
        for (const MatchRow &r : rows)
            QTest::newRow(r.name) << r;
    }

    void matching()
    {
        QFETCH(MatchRow, r);
        const QString called = QString::fromLatin1(r.called);
        // A press is swallowed exactly when a callback takes it.
        for (const bool answer : {true, false}) {
            FakeKeyboardTap tap;
            HotkeyManager manager(tap);
            manager.keyCode = r.mainKey;
            manager.modifiers = r.mainMods;
            manager.prevKeyCode = r.prevKey;
            manager.prevModifiers = r.prevMods;
            manager.prevEnabled = r.prevEnabled;
            QStringList calls;
            const auto record = [&](const char *name) {
                return [&calls, name, answer] {
                    calls << QString::fromLatin1(name);
                    return answer;
                };
            };
            manager.onHotkeyTriggered = record("main");
            manager.onPrevTriggered = record("prev");
            manager.onEscapePressed = record("esc");
            const bool swallowed = manager.handleTapEvent(r.key, r.flags);
            QCOMPARE(calls, called.isEmpty() ? QStringList() : QStringList{called});
            QCOMPARE(swallowed, !called.isEmpty() && answer);
        }
    }

    void installAndRemove()
    {
        FakeKeyboardTap tap;
        {
            HotkeyManager manager(tap);
            manager.installTap();
            manager.installTap();
            QVERIFY(tap.installed);
            QCOMPARE(tap.installs, 2);
            QCOMPARE(tap.watched, (QList<KeyCombo>{{41, cc}}));
            manager.removeTap();
            manager.removeTap();
            QVERIFY(!tap.installed);
            manager.installTap();
        }
        QVERIFY(!tap.installed); // the manager removes its tap when it goes
    }

    void failuresAreSaidOnStandardOutput()
    {
        FakeKeyboardTap tap;
        HotkeyManager manager(tap);
        manager.prevKeyCode = 41;
        manager.prevModifiers = coc;
        manager.prevEnabled = true;

        tap.refuseInstall = true;
        StreamCapture refused(STDOUT_FILENO);
        manager.installTap();
        QCOMPARE(refused.finish(),
                 "[Keyloom] Failed to create event tap - check Accessibility permissions.\n");
        QVERIFY(!manager.isInstalled());

        tap.refuseInstall = false;
        tap.takenByOthers = {{41, cc}};
        StreamCapture taken(STDOUT_FILENO);
        manager.installTap();
        QCOMPARE(QString::fromUtf8(taken.finish()),
                 u"[Keyloom] Shortcut ⌃⌘; is already in use by another application.\n"_s);
        QVERIFY(manager.isInstalled());
        QCOMPARE(tap.watched.size(), 2); // the other shortcut is still watched
    }

    // Recorded shortcuts reach the manager only through updateHotkey, all fields at once.
    void registration()
    {
        StateFixture f;
        FakeKeyboardTap &tap = f.fake.tap;
        AppState &state = *f.state;
        HotkeyManager &manager = state.hotkeyManager();
        QCOMPARE(tap.watched, (QList<KeyCombo>{{41, cc}, {41, coc}}));
        QCOMPARE(tap.installs, 1);
        state.setHotkeyKeyCode(40);
        state.setHotkeyCommand(false);
        state.setHotkeyShift(true);
        QCOMPARE(manager.keyCode, quint16(41));
        state.updateHotkey();
        QCOMPARE(tap.watched, (QList<KeyCombo>{{40, control | shift}, {41, coc}}));
        QCOMPARE(tap.installs, 2);
    }

    void shortcutTexts_data()
    {
        QTest::addColumn<qint64>("code");
        QTest::addColumn<quint64>("mods");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("words");
        QTest::newRow("default main") << 41ll << cc << u"⌃⌘;"_s << u"Ctrl+Super+;"_s;
        QTest::newRow("all four") << 49ll << (coc | shift) << u"⌃⌥⇧⌘Space"_s
                                  << u"Ctrl+Alt+Shift+Super+Space"_s;
        QTest::newRow("none") << 53ll << 0ull << u"Escape"_s << u"Escape"_s;
        QTest::newRow("6 before 5") << 22ll << shift << u"⇧6"_s << u"Shift+6"_s;
        QTest::newRow("backslash") << 42ll << option << u"⌥\\"_s << u"Alt+\\"_s;
        QTest::newRow("unnamed") << 117ll << control << u"⌃Key117"_s << u"Ctrl+Key117"_s;
        QTest::newRow("out of range") << 70000ll << control << u"⌃Key70000"_s << u"Ctrl+Key70000"_s;
        QTest::newRow("negative") << -3ll << 0ull << u"Key-3"_s << u"Key-3"_s;
    }

    void shortcutTexts()
    {
        QFETCH(qint64, code);
        QFETCH(quint64, mods);
        QFETCH(QString, text);
        QFETCH(QString, words);
        const bool c = mods & control, o = mods & option, s = mods & shift, m = mods & command;
        QCOMPARE(shortcutDisplayString(code, c, o, s, m), text);
        QCOMPARE(shortcutSpelledOut(code, c, o, s, m), words);
    }
};

QTEST_GUILESS_MAIN(TestHotkeys)
#include "tst_hotkeys.moc"
