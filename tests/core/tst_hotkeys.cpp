// Matching key presses to shortcuts, registration, and the texts that name shortcuts.
#include "FakePlatform.h"
#include "StreamCapture.h"
#include "hotkey/HotkeyManager.h"
#include "hotkey/KeyNames.h"
#include "model/AppState.h"
#include "platform/KeyCodes.h"

#include <QTemporaryDir>
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

} // namespace

class TestHotkeys : public QObject {
    Q_OBJECT

private slots:
    void matching_data()
    {
        QTest::addColumn<quint16>("mainKey");
        QTest::addColumn<quint64>("mainMods");
        QTest::addColumn<quint16>("prevKey");
        QTest::addColumn<quint64>("prevMods");
        QTest::addColumn<bool>("prevEnabled");
        QTest::addColumn<quint16>("key");
        QTest::addColumn<quint64>("flags");
        QTest::addColumn<QString>("called"); // "main", "prev", "esc" or ""

        // Main is ⌃⌘; and previous ⌃⌥⌘; unless a row says otherwise.
        struct Row {
            const char *name;
            quint16 key;
            quint64 flags;
            const char *called;
            quint16 mainKey = 41;
            quint64 mainMods = cc;
            quint16 prevKey = 41;
            quint64 prevMods = coc;
            bool prevEnabled = true;
        };
        const Row rows[] = {
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
        for (const Row &r : rows) {
            QTest::newRow(r.name) << r.mainKey << r.mainMods << r.prevKey << r.prevMods
                                  << r.prevEnabled << r.key << r.flags
                                  << QString::fromLatin1(r.called);
        }
    }

    void matching()
    {
        QFETCH(quint16, mainKey);
        QFETCH(quint64, mainMods);
        QFETCH(quint16, prevKey);
        QFETCH(quint64, prevMods);
        QFETCH(bool, prevEnabled);
        QFETCH(quint16, key);
        QFETCH(quint64, flags);
        QFETCH(QString, called);

        // A press is swallowed exactly when a callback takes it.
        for (const bool answer : {true, false}) {
            FakeKeyboardTap tap;
            HotkeyManager manager(tap);
            manager.keyCode = mainKey;
            manager.modifiers = mainMods;
            manager.prevKeyCode = prevKey;
            manager.prevModifiers = prevMods;
            manager.prevEnabled = prevEnabled;
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
            const bool swallowed = manager.handleTapEvent(key, flags);
            QCOMPARE(calls, called.isEmpty() ? QStringList() : QStringList{called});
            QCOMPARE(swallowed, !called.isEmpty() && answer);
        }
    }

    void absentCallbackLetsThePressThrough()
    {
        FakeKeyboardTap tap;
        HotkeyManager manager(tap);
        bool escCalled = false;
        manager.onEscapePressed = [&] { return escCalled = true; };
        QVERIFY(!manager.handleTapEvent(41, cc));
        QVERIFY(!escCalled);
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
        QTemporaryDir dir;
        FakePlatform fake;
        AppState state(fake.platform(), dir.filePath(u"k.conf"_s), fake.pauser);
        HotkeyManager &manager = state.hotkeyManager();
        QCOMPARE(fake.tap.watched, (QList<KeyCombo>{{41, cc}, {41, coc}}));
        QCOMPARE(fake.tap.installs, 1);
        state.setHotkeyKeyCode(40);
        state.setHotkeyCommand(false);
        state.setHotkeyShift(true);
        QCOMPARE(manager.keyCode, quint16(41));
        state.updateHotkey();
        QCOMPARE(fake.tap.watched, (QList<KeyCombo>{{40, control | shift}, {41, coc}}));
        QCOMPARE(fake.tap.installs, 2);
    }

    void shortcutTexts_data()
    {
        QTest::addColumn<qint64>("code");
        QTest::addColumn<bool>("ctrl");
        QTest::addColumn<bool>("opt");
        QTest::addColumn<bool>("shft");
        QTest::addColumn<bool>("cmd");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("words");
        QTest::newRow("default main")
            << 41ll << true << false << false << true << u"⌃⌘;"_s << u"Ctrl+Super+;"_s;
        QTest::newRow("all four") << 49ll << true << true << true << true << u"⌃⌥⇧⌘Space"_s
                                  << u"Ctrl+Alt+Shift+Super+Space"_s;
        QTest::newRow("none") << 53ll << false << false << false << false << u"Escape"_s
                              << u"Escape"_s;
        QTest::newRow("6 before 5")
            << 22ll << false << false << true << false << u"⇧6"_s << u"Shift+6"_s;
        QTest::newRow("backslash")
            << 42ll << false << true << false << false << u"⌥\\"_s << u"Alt+\\"_s;
        QTest::newRow("F13") << 105ll << false << false << false << true << u"⌘F13"_s
                             << u"Super+F13"_s;
        QTest::newRow("unnamed") << 117ll << true << false << false << false << u"⌃Key117"_s
                                 << u"Ctrl+Key117"_s;
        QTest::newRow("largest") << 65535ll << false << false << false << false << u"Key65535"_s
                                 << u"Key65535"_s;
        QTest::newRow("out of range")
            << 70000ll << true << false << false << false << u"⌃Key70000"_s << u"Ctrl+Key70000"_s;
        QTest::newRow("negative") << -3ll << false << false << false << false << u"Key-3"_s
                                  << u"Key-3"_s;
    }

    void shortcutTexts()
    {
        QFETCH(qint64, code);
        QFETCH(bool, ctrl);
        QFETCH(bool, opt);
        QFETCH(bool, shft);
        QFETCH(bool, cmd);
        QFETCH(QString, text);
        QFETCH(QString, words);
        QCOMPARE(shortcutDisplayString(code, ctrl, opt, shft, cmd), text);
        QCOMPARE(shortcutSpelledOut(code, ctrl, opt, shft, cmd), words);
    }
};

QTEST_GUILESS_MAIN(TestHotkeys)
#include "tst_hotkeys.moc"
