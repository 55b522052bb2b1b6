// Matching key presses to shortcuts, registration, and the texts that name shortcuts.
#include "FakePlatform.h"
#include "hotkey/HotkeyManager.h"
#include "hotkey/KeyNames.h"
#include "model/AppState.h"
#include "platform/KeyCodes.h"

#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr quint64 shift = ModifierFlag::Shift;
constexpr quint64 control = ModifierFlag::Control;
constexpr quint64 option = ModifierFlag::Option;
constexpr quint64 command = ModifierFlag::Command;
constexpr quint64 capsLock = 0x10000;
constexpr quint64 function = 0x800000;

// Captures what the code under test prints on standard output.
class StdoutCapture {
public:
    StdoutCapture()
    {
        m_file.open();
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }
    QString finish()
    {
        std::fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
        m_file.seek(0);
        return QString::fromUtf8(m_file.readAll());
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

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

        const quint64 cc = control | command;
        const quint64 coc = control | option | command;
        QTest::newRow("main") << quint16(41) << cc << quint16(41) << coc << true << quint16(41) << cc << "main";
        QTest::newRow("main, caps lock on") << quint16(41) << cc << quint16(41) << coc << true << quint16(41) << (cc | capsLock) << "main";
        QTest::newRow("main, fn bit") << quint16(41) << cc << quint16(41) << coc << true << quint16(41) << (cc | function) << "main";
        QTest::newRow("main, extra shift") << quint16(41) << cc << quint16(41) << coc << true << quint16(41) << (cc | shift) << "";
        QTest::newRow("main, one modifier missing") << quint16(41) << cc << quint16(41) << coc << true << quint16(41) << control << "";
        QTest::newRow("other key") << quint16(41) << cc << quint16(41) << coc << true << quint16(40) << cc << "";
        QTest::newRow("prev") << quint16(41) << cc << quint16(41) << coc << true << quint16(41) << coc << "prev";
        QTest::newRow("prev disabled") << quint16(41) << cc << quint16(41) << coc << false << quint16(41) << coc << "";
        QTest::newRow("prev disabled, esc") << quint16(41) << cc << quint16(53) << coc << false << quint16(53) << coc << "esc";
        QTest::newRow("main equals prev") << quint16(41) << cc << quint16(41) << cc << true << quint16(41) << cc << "main";
        QTest::newRow("esc bare") << quint16(41) << cc << quint16(41) << coc << true << quint16(53) << quint64(0) << "esc";
        QTest::newRow("esc with modifiers") << quint16(41) << cc << quint16(41) << coc << true << quint16(53) << (shift | option | capsLock) << "esc";
        QTest::newRow("esc is main") << quint16(53) << quint64(0) << quint16(41) << coc << true << quint16(53) << quint64(0) << "main";
        QTest::newRow("esc is main, with shift") << quint16(53) << quint64(0) << quint16(41) << coc << true << quint16(53) << shift << "esc";
        QTest::newRow("no modifiers") << quint16(0) << quint64(0) << quint16(41) << coc << true << quint16(0) << quint64(0) << "main";
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

        for (const bool answer : {true, false}) {
            FakeKeyboardTap tap;
            HotkeyManager manager(tap);
            manager.keyCode = mainKey;
            manager.modifiers = mainMods;
            manager.prevKeyCode = prevKey;
            manager.prevModifiers = prevMods;
            manager.prevEnabled = prevEnabled;
            QStringList calls;
            manager.onHotkeyTriggered = [&] { calls << QStringLiteral("main"); return answer; };
            manager.onPrevTriggered = [&] { calls << QStringLiteral("prev"); return answer; };
            manager.onEscapePressed = [&] { calls << QStringLiteral("esc"); return answer; };

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
        QVERIFY(!manager.handleTapEvent(41, control | command));
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
            QCOMPARE(tap.watched, (QList<KeyCombo>{{41, control | command}}));
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
        manager.prevModifiers = control | option | command;
        manager.prevEnabled = true;

        tap.refuseInstall = true;
        StdoutCapture refused;
        manager.installTap();
        QCOMPARE(refused.finish(),
                 QStringLiteral("[Keyloom] Failed to create event tap - check Accessibility permissions.\n"));
        QVERIFY(!manager.isInstalled());

        tap.refuseInstall = false;
        tap.takenByOthers = {{41, control | command}};
        StdoutCapture taken;
        manager.installTap();
        QCOMPARE(taken.finish(),
                 QStringLiteral("[Keyloom] Shortcut ⌃⌘; is already in use by another application.\n"));
        QVERIFY(manager.isInstalled());
        QCOMPARE(tap.watched.size(), 2); // the other shortcut is still watched
    }

    void registration()
    {
        QTemporaryDir dir;
        FakePlatform fake;
        AppState state(fake.platform(), dir.filePath(QStringLiteral("k.conf")), fake.pauser);
        HotkeyManager &manager = state.hotkeyManager();
        QCOMPARE(manager.keyCode, quint16(41));
        QCOMPARE(manager.modifiers, quint64(0x140000));
        QCOMPARE(manager.prevKeyCode, quint16(41));
        QCOMPARE(manager.prevModifiers, quint64(0x1C0000));
        QVERIFY(manager.prevEnabled);
        QCOMPARE(fake.tap.installs, 1);

        // Recording control + shift + K.
        state.setHotkeyKeyCode(40);
        state.setHotkeyCommand(false);
        state.setHotkeyShift(true);
        QCOMPARE(manager.keyCode, quint16(41)); // assignments alone do not reach the manager
        state.updateHotkey();
        QCOMPARE(manager.keyCode, quint16(40));
        QCOMPARE(manager.modifiers, quint64(0x60000));
        QCOMPARE(manager.prevModifiers, quint64(0x1C0000));
        QCOMPARE(fake.tap.installs, 2);
    }

    void keyNames_data()
    {
        QTest::addColumn<quint16>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("A") << quint16(0) << "A";
        QTest::newRow("semicolon") << quint16(41) << ";";
        QTest::newRow("backslash") << quint16(42) << "\\";
        QTest::newRow("6 before 5") << quint16(22) << "6";
        QTest::newRow("5 after 6") << quint16(23) << "5";
        QTest::newRow("return") << quint16(36) << "Return";
        QTest::newRow("space") << quint16(49) << "Space";
        QTest::newRow("escape") << quint16(53) << "Escape";
        QTest::newRow("F1") << quint16(122) << "F1";
        QTest::newRow("F13") << quint16(105) << "F13";
        QTest::newRow("up") << quint16(126) << "Up";
        QTest::newRow("unnamed 10") << quint16(10) << "Key10";
        QTest::newRow("unnamed 76") << quint16(76) << "Key76";
        QTest::newRow("unnamed 117") << quint16(117) << "Key117";
        QTest::newRow("unnamed 127") << quint16(127) << "Key127";
        QTest::newRow("largest") << quint16(65535) << "Key65535";
    }

    void keyNames()
    {
        QFETCH(quint16, code);
        QFETCH(QString, name);
        QCOMPARE(keyName(code), name);
    }

    void displayStrings_data()
    {
        QTest::addColumn<qint64>("code");
        QTest::addColumn<bool>("ctrl");
        QTest::addColumn<bool>("opt");
        QTest::addColumn<bool>("shft");
        QTest::addColumn<bool>("cmd");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("words");
        QTest::newRow("default main") << qint64(41) << true << false << false << true << "⌃⌘;"
                                      << "Ctrl+Super+;";
        QTest::newRow("default previous") << qint64(41) << true << true << false << true << "⌃⌥⌘;"
                                          << "Ctrl+Alt+Super+;";
        QTest::newRow("all four") << qint64(49) << true << true << true << true << "⌃⌥⇧⌘Space"
                                  << "Ctrl+Alt+Shift+Super+Space";
        QTest::newRow("none") << qint64(53) << false << false << false << false << "Escape"
                              << "Escape";
        QTest::newRow("out of range")
            << qint64(70000) << true << false << false << false << "⌃Key70000"
            << "Ctrl+Key70000";
        QTest::newRow("negative") << qint64(-3) << false << false << false << false << "Key-3"
                                  << "Key-3";
    }

    void displayStrings()
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
