// The X11 backend on Xvfb: typing through the real injector into real clients, and global
// shortcuts through real passive grabs, pressed via XTEST.
#include "X11TestSupport.h"

#include "RealRun.h"
#include "hotkey/HotkeyManager.h"
#include "platform/KeyCodes.h"
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11DeferredRestore.h"
#include "platform/x11/X11ExitGuard.h"
#include "platform/x11/X11KeyInjector.h"
#include "platform/x11/X11KeyboardTap.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <csignal>
#include <memory>

#define KeyCode XKeyCode
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#undef KeyCode

using namespace X11TestSupport;

namespace {

constexpr KeyCombo mainCombo{KeyCode::Semicolon, ModifierFlag::Control | ModifierFlag::Command};
constexpr KeyCombo prevCombo{KeyCode::Semicolon,
                             ModifierFlag::Control | ModifierFlag::Option | ModifierFlag::Command};

using Calls = QList<std::pair<quint16, quint64>>;

// A tap that records each call and answers as told.
struct RecordingTap {
    explicit RecordingTap(const QByteArray &display, bool answer = true) : tap(display)
    {
        installed = tap.install([this, answer](quint16 keyCode, quint64 flags) {
            calls.append({keyCode, flags & ModifierFlag::Mask});
            return answer;
        });
    }
    X11KeyboardTap tap;
    Calls calls;
    bool installed = false;
};

// Viewer: the recorder as a VM console or remote-desktop viewer that forwards key codes to a
// guest, with a viewer's window class unless the case gives one.
enum class Client { Recorder, QtField, Viewer };

// One typing case: the text, pace and client, and the keyboard state it meets.
struct Case {
    QString text = {};
    double delayMs = 5;
    Client client = Client::Recorder;
    QString layout = {}; // setxkbmap's layout argument, us when empty
    bool capsLock = false, holdShift = false;
    int slowMs = 0; // the client stalls this long per key press
    KeyForwarding forwarding = KeyForwarding::Automatic;
    const char *windowClass = nullptr;
};

// What a client shows for a text: Return arrives as CR from Xlib and as LF in a Qt field.
// (Which characters are skipped or replaced is the keysym table's test.)
QString expectedText(QString text, Client client)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return client == Client::QtField ? text : text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
}

QString longText()
{
    return QStringLiteral(
               "Lorem ipsum Grüße Ελληνικά Русский 日本語 👍🏽 e\u0301 "
               "{[(<>)]} "
               "~^`|\\ ")
        .repeated(40);
}

using Run = RealRun;

QString programPath(Client client)
{
    return QCoreApplication::applicationDirPath() + (client == Client::QtField
                                                         ? QStringLiteral("/x11_qtfield")
                                                         : QStringLiteral("/x11_recorder"));
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestX11Injector : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_displayName = fixtureDisplay();
        QVERIFY2(!m_displayName.isEmpty(), "no Xvfb fixture");
        m_closer.reset(m_display = XOpenDisplay(m_displayName.constData()));
        QVERIFY(m_display);
        QVERIFY(setLayout(m_displayName, {QStringLiteral("us")}));
        m_spareKeys = spareKeyCount(m_display);
        // The first injector of a process lets go of every XTEST key, and the tests hold
        // keys through XTEST as a user's keyboard would.
        X11KeyInjector first(m_displayName);
        QVERIFY2(m_spareKeys > 8, "the keymap leaves too few spare keycodes");
    }

    void init()
    {
        XkbLockModifiers(m_display, XkbUseCoreKbd, 0xff, 0);
        XkbLockGroup(m_display, XkbUseCoreKbd, 0);
        XSync(m_display, False);
    }

    void cleanup()
    {
        // A key left down would garble every later row: end here, not after each row's timeouts.
        if (!keysDown(m_display).isEmpty()) {
            X11ExitGuard::releaseXTestKeys(m_display);
            qFatal("a key was left down");
        }
        // A failed row may leave spare keys bound and another layout behind.
        X11DeferredRestore::instance().finishAll();
        if (std::exchange(m_layoutChanged, false))
            QVERIFY(setLayout(m_displayName, {QStringLiteral("us")}));
    }

    void textsArriveExactly_data()
    {
        QTest::addColumn<Case>("c");
        const QList<std::pair<const char *, QString>> texts = {
            {"ascii",
             QStringLiteral("The quick brown fox jumps over the lazy dog 0123456789 "
                            "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~ ABCDEFGHIJKLMNOPQRSTUVWXYZ")},
            {"european",
             QStringLiteral("Grüße àéîõü ÿ ß æøå ÆØÅ ñç œŒ €£¥©®±¿¡ Łódź Čeština őű șț")},
            {"scripts", QStringLiteral("Καλημέρα ΐ Съешь ЁЖЗ їєґ 日本語のテキスト、中文、한국어")},
            {"emoji, flags, combining",
             QStringLiteral("👍🏽 👋🏿 👨‍👩‍👧‍👦 🇩🇪🇯🇵 e\u0301 "
                            "cafe\u0301 n\u0303")},
            {"tab, lf, crlf", QStringLiteral("a\tb\t\tc one\ntwo\n\nfour\r\nfive\r\n")},
            {"more than spare keys hold", manyDistinct(m_spareKeys * 4 + 20)},
            {"2000 characters", longText()},
        };
        for (const auto &[client, delay] :
             {std::pair{Client::Recorder, 5.0}, {Client::Recorder, 30.0}, {Client::QtField, 5.0}}) {
            for (const auto &[name, text] : texts)
                QTest::addRow("%s @%gms%s", name, delay,
                              client == Client::QtField ? ", qt field" : "")
                    << Case{.text = text, .delayMs = delay, .client = client};
        }
        // Keyboard states must not change the text. The viewer translates with the keymap it read
        // at the start: only characters the layout has, on their own keys with Shift or AltGr.
        const QString mixed =
            QStringLiteral("Typed: abc XYZ 123 !@#$%^&*()_+{}:\"<>? äöü ÄÖÜ ß é ñ Ж ж "
                           "λ 日本 👍🏽 e\u0301\tend\n");
        const QString ascii =
            QStringLiteral("Hi, Bob! ~!@#$%^&*()_+{}|:\"<>? `-=[]\\;',./ 0123456789 XYZ\tend\n");
        const QString de = QStringLiteral("de"), fr = QStringLiteral("fr"),
                      ru = QStringLiteral("us,ru");
        const Client viewer = Client::Viewer, field = Client::QtField;
        const std::pair<const char *, Case> rows[] = {
            {"held Shift", {.text = mixed, .holdShift = true}},
            {"de", {.text = mixed, .layout = de}},
            {"fr", {.text = mixed, .layout = fr}},
            {"us,ru on group 2", {.text = mixed, .layout = ru}},
            {"caps lock", {.text = mixed, .capsLock = true}},
            {"caps lock, qt field", {.text = mixed, .client = field, .capsLock = true}},
            {"de, qt field", {.text = mixed, .client = field, .layout = de}},
            {"slow client", {.text = mixed, .slowMs = 8}},
            // Far behind: a spare key waits for the client to handle its last press, which
            // its answer to a ping tells.
            {"slow client, spare keys given again",
             {.text = manyDistinct(m_spareKeys * 4 + 20), .slowMs = 30}},
            {"viewer, us", {.text = ascii, .client = viewer}},
            {"viewer, us, caps lock", {.text = ascii, .client = viewer, .capsLock = true}},
            {"viewer, de level 3",
             {.text = QStringLiteral("@ € { } [ ] \\ | ~ zY ÄÖß"), .client = viewer, .layout = de}},
            {"viewer, fr level 3",
             {.text = QStringLiteral("@ # { [ | ` \\ ^ ] } € ~ azerty AZ 0123456789"),
              .client = viewer,
              .layout = fr}},
            {"viewer, us,ru on group 2",
             {.text = QStringLiteral("Съешь ЁЖЗ, №1!"), .client = viewer, .layout = ru}},
            // Only keys a PC keyboard has, accents through the layout's dead keys.
            {"viewer, us, PC keys only",
             {.text = QStringLiteral("Hello, World! (y*2)+z"), .client = viewer}},
            {"viewer, fr dead keys",
             {.text = QStringLiteral("fenêtre, âme, août, où, ça"), .client = viewer, .layout = fr}},
            {"viewer, es dead keys",
             {.text = QStringLiteral("¿Qué pasó, señor? á é í ó ú ü ñ"),
              .client = viewer,
              .layout = QStringLiteral("es")}},
            {"viewer, de dead keys",
             {.text = QStringLiteral("5^2 und `x` Grüße"), .client = viewer, .layout = de}},
            {"viewer not known, typed for as one",
             {.text = QStringLiteral("fenêtre (1)"),
              .client = viewer,
              .layout = fr,
              .forwarding = KeyForwarding::EveryWindow,
              .windowClass = "browser"}},
            {"known viewer class, typed for as any window",
             {.text = QStringLiteral("fenêtre 日本"),
              .layout = fr,
              .forwarding = KeyForwarding::NoWindow,
              .windowClass = "Qemu-system-x86_64"}},
        };
        for (const auto &[name, c] : rows) {
            QTest::addRow("%s @5ms", name) << c;
            if (c.client == Client::Viewer) {
                Case slower = c;
                slower.delayMs = 30;
                QTest::addRow("%s @30ms", name) << slower;
            }
        }
    }

    void textsArriveExactly()
    {
        QFETCH(Case, c);
        if (!c.layout.isEmpty()) {
            m_layoutChanged = true;
            QVERIFY(setLayout(m_displayName, {c.layout}));
            if (c.layout.contains(QLatin1Char(','))) // the second group, as a user switches to it
                QVERIFY(XkbLockGroup(m_display, XkbUseCoreKbd, 1));
        }
        if (c.capsLock) {
            m_layoutChanged = true;
            fakeKey(m_display, XK_Caps_Lock, true);
            fakeKey(m_display, XK_Caps_Lock, false);
            QTRY_VERIFY(capsLockOn(m_display));
        }
        const unsigned shift = XKeysymToKeycode(m_display, XK_Shift_L);
        if (c.holdShift)
            fakeKey(m_display, XK_Shift_L, true);
        const auto letGo = qScopeGuard([&] {
            if (c.holdShift)
                fakeKey(m_display, XK_Shift_L, false);
        });
        FocusClient target;
        QStringList args;
        if (c.client != Client::QtField)
            args << QString::fromLocal8Bit(m_displayName);
        if (c.slowMs)
            args << QString::number(c.slowMs);
        if (c.client == Client::Viewer)
            args << QStringLiteral("--forward");
        if (const char *name = c.windowClass ? c.windowClass
                               : c.client == Client::Viewer ? "remote-viewer"
                                                            : nullptr)
            args << QStringLiteral("--class") << QString::fromLatin1(name);
        QVERIFY2(target.start(programPath(c.client), args, m_displayName), "no focus");

        const QByteArray keymapBefore = keymapSnapshot(m_display);
        X11KeyInjector injector(m_displayName);
        Run run(injector, c.text, c.delayMs, c.forwarding);
        const QString expected = expectedText(c.text, c.client);
        const int deadline = 30000 + int(c.text.size() * (c.delayMs + 20) * 3);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished != -1, deadline);
        QCOMPARE(run.finished.load(), 1);
        run.run.reset();
        if (c.client == Client::QtField) {
            QTRY_COMPARE_WITH_TIMEOUT((target.poll(), target.text()), expected, deadline);
        } else {
            // The run's keys all reached the server before it finished: read up to them, then
            // compare.
            QVERIFY2(target.sync(m_display, deadline), "the client did not read its events");
            QCOMPARE(target.text(), expected);
        }
        // No modifier of ours left down; what the user holds neither released nor pressed again.
        QCOMPARE(keysDown(m_display), c.holdShift ? QList<unsigned>{shift} : QList<unsigned>{});
        for (const Press &p : target.presses())
            QVERIFY(!c.holdShift || p.keyCode != shift);
        // The keymap comes back once the last keys can no longer be in flight.
        QTRY_COMPARE_WITH_TIMEOUT(keymapSnapshot(m_display), keymapBefore, 20000);
    }

    void cancelledRunLeavesNothingBehind_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("typedBeforeStop");
        QTest::newRow("long text") << longText() << 100;
        // One cluster of 100,000 marks: a stop must not wait for its end.
        QTest::newRow("huge cluster") << QStringLiteral("a") + QString(100000, QChar(0x0301)) << 0;
    }

    void cancelledRunLeavesNothingBehind()
    {
        QFETCH(QString, text);
        QFETCH(int, typedBeforeStop);
        FocusClient target;
        QVERIFY(startRecorder(target));
        const QByteArray keymapBefore = keymapSnapshot(m_display);
        X11KeyInjector injector(m_displayName);
        Run stopped(injector, text, 5);
        QTRY_VERIFY_WITH_TIMEOUT((target.poll(), target.presses().size() > typedBeforeStop), 60000);
        stopped.run->requestStop();
        QTRY_VERIFY_WITH_TIMEOUT(stopped.finished != -1, 5000); // not the minutes of the whole text
        QCOMPARE(stopped.finished.load(), 0);
        stopped.run.reset();
        QVERIFY(target.sync(m_display, 30000));
        // Everything typed before the stop arrived, in order and whole.
        const QString beforeStop = target.text();
        const QString expected = expectedText(text, Client::Recorder);
        QVERIFY(beforeStop.size() < expected.size());
        QCOMPARE(beforeStop, expected.left(beforeStop.size()));
        QCOMPARE(keysDown(m_display), QList<unsigned>{});

        // A run started at once takes over the stopped run's spare keys and types every character,
        // more than they hold; nothing of the stopped run comes late between.
        const QString next = manyDistinct(m_spareKeys * 4 + 20);
        Run run(injector, next, 5);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished != -1, 60000);
        run.run.reset();
        QVERIFY(target.sync(m_display, 60000));
        QCOMPARE(target.text(), beforeStop + next);
        // The keymap comes back once the last keys can no longer be in flight.
        QTRY_COMPARE_WITH_TIMEOUT(keymapSnapshot(m_display), keymapBefore, 20000);
    }

    void keyPositionsMapBothWays()
    {
        const std::unique_ptr<KeySession> session = X11KeyInjector(m_displayName).openSession();
        QVERIFY(session);
        constexpr quint16 x = 7; // the X position
        fakeKey(m_display, XK_x, true);
        const bool seen = session->isKeyDown(x) && !session->isKeyDown(8);
        fakeKey(m_display, XK_x, false);
        QVERIFY(seen && !session->isKeyDown(x));
        // And the other way, for the key events of our own windows.
        const X11KeyboardTap tap(m_displayName);
        for (const auto &[sym, code] : {std::pair{XK_a, 0},
                                        {XK_semicolon, 41},
                                        {XK_Control_R, 62},
                                        {XK_KP_Up, 91},
                                        {XK_Print, 128}})
            QCOMPARE(tap.keyCodeForScanCode(XKeysymToKeycode(m_display, sym)),
                     std::optional(quint16(code)));
    }

    void restoreLeavesOtherClientsChangesAlone()
    {
        const auto firstSym = [this](unsigned kc) {
            int per = 0;
            KeySym *syms = XGetKeyboardMapping(m_display, XKeyCode(kc), 1, &per);
            const KeySym first = syms[0]; // spare keys always fill their first level
            XFree(syms);
            return first;
        };
        QList<unsigned> spare, bound;
        for (unsigned kc = 8; kc < 256; ++kc) {
            if (!firstSym(kc))
                spare << kc;
        }
        X11KeyInjector injector(m_displayName);
        {
            // More characters than one keycode carries, so several keycodes are bound.
            const QString text = QStringLiteral("äöü€Жßæøå");
            const std::unique_ptr<KeySession> session = injector.openSession();
            QVERIFY(session);
            session->prepare(text);
            QCOMPARE(session->typeCluster(text), ClusterEnd{});
        }
        for (unsigned kc : std::as_const(spare)) {
            if (firstSym(kc))
                bound << kc;
        }
        QVERIFY(bound.size() >= 2);
        // Within the grace period, another client remaps one of our keycodes and one between ours.
        m_layoutChanged = true;
        const unsigned between = bound[0] + 1 < bound[1] ? bound[1] - 1 : bound[0] - 1;
        KeySym mine = XK_F21, theirs = XK_F22;
        XChangeKeyboardMapping(m_display, int(bound[0]), 1, &mine, 1);
        XChangeKeyboardMapping(m_display, int(between), 1, &theirs, 1);
        XSync(m_display, False);
        X11DeferredRestore::instance().finishAll();
        QCOMPARE(firstSym(bound[0]), mine);
        QCOMPARE(firstSym(between), theirs);
        for (qsizetype i = 1; i < bound.size(); ++i)
            QCOMPARE(firstSym(bound[i]), KeySym(NoSymbol));
    }

    void keymapIsRestoredWhenTheProcessEnds_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGKILL, mended by the next start") << int(SIGKILL);
    }

    void keymapIsRestoredWhenTheProcessEnds()
    {
        QFETCH(int, sig);
        const QByteArray keymapBefore = keymapSnapshot(m_display);
        // As a run killed in the middle of a capital would leave it: the next start lets go.
        fakeKey(m_display, XK_Shift_L, true);
        QProcess holder;
        holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        holder.start(QCoreApplication::applicationDirPath() + QStringLiteral("/x11_keyholder"),
                     {QString::fromLocal8Bit(m_displayName)});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += holder.readAllStandardOutput()).contains("BOUND"), 20000);
        QCOMPARE(keysDown(m_display), QList<unsigned>{});
        QVERIFY(keymapSnapshot(m_display) != keymapBefore);

        kill(pid_t(holder.processId()), sig);
        QVERIFY(holder.waitForFinished(20000));
        if (sig == SIGKILL) {
            // Nothing ran in the killed process; the next start undoes what both its sessions left.
            QVERIFY(keymapSnapshot(m_display) != keymapBefore);
            X11KeyInjector injector(m_displayName);
            QCOMPARE(keymapSnapshot(m_display), keymapBefore);
        }
        QTRY_COMPARE_WITH_TIMEOUT(keymapSnapshot(m_display), keymapBefore, 20000);
    }

    void pressesAreMatchedAndAnswered_data()
    {
        QTest::addColumn<QList<quint32>>("keys");
        QTest::addColumn<bool>("escapeWatched");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<quint32>("lockKey");
        QTest::addColumn<qint64>("flags"); // -1: the tap is not called

        const QList<quint32> main{XK_Control_L, XK_Super_L, XK_semicolon};
        const QList<quint32> prev{XK_Control_L, XK_Alt_L, XK_Super_L, XK_semicolon};
        const qint64 mainFlags = qint64(mainCombo.modifiers),
                     prevFlags = qint64(prevCombo.modifiers);
        const auto row = [](const char *name, const QList<quint32> &keys, bool escape, bool answer,
                            quint32 lock, qint64 flags) {
            QTest::newRow(name) << keys << escape << answer << lock << flags;
        };
        row("main", main, false, true, 0, mainFlags);
        row("main, right-hand modifiers", {XK_Control_R, XK_Super_R, XK_semicolon}, false, true, 0,
            mainFlags);
        row("main with caps lock", main, false, true, XK_Caps_Lock, mainFlags);
        row("main with num lock", main, false, true, XK_Num_Lock, mainFlags);
        row("extra shift is another shortcut", {XK_Control_L, XK_Super_L, XK_Shift_L, XK_semicolon},
            false, true, 0, -1);
        row("prev", prev, false, true, 0, prevFlags);
        row("prev let through", prev, false, false, 0, prevFlags);
        row("esc while idle", {XK_Escape}, false, true, 0, -1);
        row("esc while running", {XK_Escape}, true, true, 0, 0);
        row("shift+esc while running", {XK_Shift_L, XK_Escape}, true, true, 0, ModifierFlag::Shift);
    }

    void pressesAreMatchedAndAnswered()
    {
        FocusClient client;
        QVERIFY(startRecorder(client));
        QFETCH(QList<quint32>, keys);
        QFETCH(bool, escapeWatched);
        QFETCH(bool, answer);
        QFETCH(quint32, lockKey);
        QFETCH(qint64, flags);

        RecordingTap rec(m_displayName, answer);
        QVERIFY(rec.installed);
        QCOMPARE(rec.tap.watch({mainCombo, prevCombo}, escapeWatched), QList<KeyCombo>{});
        if (lockKey)
            press(client, {lockKey});
        client.clear();
        press(client, keys);
        const quint16 code = keys.last() == XK_Escape ? KeyCode::Escape : KeyCode::Semicolon;
        QCOMPARE(rec.calls, (flags < 0 ? Calls{} : Calls{{code, quint64(flags)}}));
        // A swallowed press never reaches the focused client; any other is replayed to it.
        const unsigned last = XKeysymToKeycode(m_display, keys.last());
        const QList<Press> presses = client.presses();
        const bool seen = std::any_of(presses.begin(), presses.end(),
                                      [&](const Press &p) { return p.keyCode == last; });
        QCOMPARE(seen, flags < 0 || !answer);
        if (lockKey)
            press(client, {lockKey});
        rec.tap.remove();
        QCOMPARE(keysDown(m_display), QList<unsigned>{});
    }

    // Between two capitals no Shift of the run is held, so the shortcut, matched on its exact
    // modifiers, still stops the run.
    void shortcutStopsARunOfCapitals()
    {
        FocusClient client;
        QVERIFY(startRecorder(client));
        RecordingTap rec(m_displayName);
        QVERIFY(rec.installed);
        QCOMPARE(rec.tap.watch({mainCombo}, false), QList<KeyCombo>{});
        X11KeyInjector injector(m_displayName);
        Run run(injector, QStringLiteral("HELLOWORLD").repeated(5), 200);
        QTRY_VERIFY_WITH_TIMEOUT((client.poll(), client.text().size() >= 3), 20000);
        // A press may land in the few milliseconds a capital holds Shift: then once more.
        for (int attempt = 0; attempt < 3 && rec.calls.isEmpty(); ++attempt)
            press(client, {XK_Control_L, XK_Super_L, XK_semicolon});
        QCOMPARE(rec.calls.value(0), (std::pair{KeyCode::Semicolon, mainCombo.modifiers}));
        run.run->requestStop();
        QTRY_COMPARE_WITH_TIMEOUT(run.finished.load(), 0, 5000);
    }

    void comboHeldByAnotherClientIsReported()
    {
        FocusClient client;
        QVERIFY(startRecorder(client));
        Display *other = XOpenDisplay(m_displayName.constData());
        QVERIFY(other);
        const std::unique_ptr<Display, int (*)(Display *)> closer(other, XCloseDisplay);
        const unsigned semicolon = XKeysymToKeycode(other, XK_semicolon);
        XGrabKey(other, int(semicolon), ControlMask | Mod4Mask, DefaultRootWindow(other), False,
                 GrabModeAsync, GrabModeAsync);
        XSync(other, False);

        RecordingTap rec(m_displayName);
        QVERIFY(rec.installed);
        QCOMPARE(rec.tap.watch({mainCombo, prevCombo}, false), QList<KeyCombo>{mainCombo});
        // The other shortcut still works.
        press(client, {XK_Control_L, XK_Alt_L, XK_Super_L, XK_semicolon});
        press(client, {XK_Control_L, XK_Super_L, XK_semicolon});
        QCOMPARE(rec.calls.size(), 1);
        QCOMPARE(rec.calls[0].second, prevCombo.modifiers);
    }

    void regrabsAfterLayoutChange()
    {
        FocusClient client;
        QVERIFY(startRecorder(client));
        RecordingTap rec(m_displayName);
        QVERIFY(rec.installed);
        QCOMPARE(rec.tap.watch({mainCombo}, false), QList<KeyCombo>{});
        // On a German layout the ; position carries ö; the shortcut follows the position.
        QVERIFY(setLayout(m_displayName, {QStringLiteral("de")}));
        press(client, {XK_Control_L, XK_Super_L, XK_odiaeresis});
        QVERIFY(setLayout(m_displayName, {QStringLiteral("us")}));
        QCOMPARE(rec.calls, (Calls{{KeyCode::Semicolon, mainCombo.modifiers}}));
    }

    void trustAndFailureWithoutXTest()
    {
        QVERIFY(X11AccessibilityTrust(m_displayName).isTrusted());
        const QByteArray display = fixtureDisplay("KEYLOOM_XVFB_NOXTEST_STATE");
        QVERIFY2(!display.isEmpty(), "no Xvfb fixture without XTEST");
        X11KeyboardTap tap(display);
        HotkeyManager manager(tap);
        manager.installTap();
        QVERIFY(!manager.isInstalled());
        X11AccessibilityTrust trust(display);
        QVERIFY(!trust.isTrusted());
        QVERIFY(trust.missingReason().contains(QLatin1String("XTEST")));
        QVERIFY(
            X11AccessibilityTrust(QByteArrayLiteral(":999")).missingReason().contains("display"));
        QVERIFY(!X11KeyInjector(display).openSession());
    }

private:
    // Presses the keys in order, releases them in reverse, then a sentinel key; waits until
    // the client has it, so everything before it has been decided.
    void press(FocusClient &client, const QList<quint32> &keysyms)
    {
        for (quint32 k : keysyms)
            fakeKey(m_display, k, true);
        for (qsizetype i = keysyms.size() - 1; i >= 0; --i)
            fakeKey(m_display, keysyms[i], false);
        fakeKey(m_display, XK_z, true);
        fakeKey(m_display, XK_z, false);
        const unsigned z = XKeysymToKeycode(m_display, XK_z);
        QTRY_VERIFY(
            (client.poll(), !client.presses().isEmpty() && client.presses().last().keyCode == z));
    }

    bool startRecorder(FocusClient &client)
    {
        return client.start(programPath(Client::Recorder), {QString::fromLocal8Bit(m_displayName)},
                            m_displayName);
    }

    QByteArray m_displayName;
    Display *m_display = nullptr;
    std::unique_ptr<Display, int (*)(Display *)> m_closer{nullptr, XCloseDisplay};
    int m_spareKeys = 0;
    bool m_layoutChanged = false;
};

QTEST_GUILESS_MAIN(TestX11Injector)
#include "tst_x11injector.moc"
