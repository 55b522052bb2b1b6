// Global shortcuts through real passive grabs on Xvfb, pressed via XTEST.
#include "X11TestSupport.h"

#include "hotkey/HotkeyManager.h"
#include "platform/KeyCodes.h"
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11KeyInjector.h"
#include "platform/x11/X11KeyboardTap.h"

#include <QCoreApplication>
#include <QTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

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

struct Call {
    quint16 keyCode;
    quint64 flags;
};

QString recorderPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/x11_recorder");
}

} // namespace

class TestX11Tap : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void pressesAreMatchedAndAnswered_data();
    void pressesAreMatchedAndAnswered();

    void comboHeldByAnotherClientIsReported();
    void regrabsAfterLayoutChange();

    void scanCodesMapToKeyPositions_data();
    void scanCodesMapToKeyPositions();

    void trustedOnAServerWithXTest();
    void withoutXTestInstallFailsCleanly();

private:
    void press(const QList<quint32> &keysyms);
    bool sentinelArrived(FocusClient &client);

    QByteArray m_displayName;
    Display *m_display = nullptr;
};

void TestX11Tap::initTestCase()
{
    m_displayName = fixtureDisplay();
    QVERIFY2(!m_displayName.isEmpty(), "no Xvfb fixture");
    m_display = XOpenDisplay(m_displayName.constData());
    QVERIFY(m_display);
    QVERIFY(setLayout(m_displayName, {QStringLiteral("us")}));
}

void TestX11Tap::init()
{
    // Start every case with no lock key on, whatever an earlier one left.
    XkbLockModifiers(m_display, XkbUseCoreKbd, 0xff, 0);
    XSync(m_display, False);
}

void TestX11Tap::cleanupTestCase()
{
    if (m_display)
        XCloseDisplay(m_display);
}

void TestX11Tap::press(const QList<quint32> &keysyms)
{
    for (quint32 k : keysyms)
        fakeKey(m_display, k, true);
    for (qsizetype i = keysyms.size() - 1; i >= 0; --i)
        fakeKey(m_display, keysyms[i], false);
    // A sentinel after the keys: once it arrives, everything before it has been decided.
    fakeKey(m_display, XK_z, true);
    fakeKey(m_display, XK_z, false);
}

bool TestX11Tap::sentinelArrived(FocusClient &client)
{
    client.poll();
    const QList<Press> presses = client.presses();
    return !presses.isEmpty() && presses.last().keyCode == XKeysymToKeycode(m_display, XK_z);
}

void TestX11Tap::pressesAreMatchedAndAnswered_data()
{
    QTest::addColumn<QList<quint32>>("keys");
    QTest::addColumn<bool>("escapeWatched");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<quint32>("lockKey");
    QTest::addColumn<bool>("called");
    QTest::addColumn<quint64>("flags");
    QTest::addColumn<bool>("delivered");

    const QList<quint32> main{XK_Control_L, XK_Super_L, XK_semicolon};
    const QList<quint32> prev{XK_Control_L, XK_Alt_L, XK_Super_L, XK_semicolon};
    const quint64 mainFlags = mainCombo.modifiers;
    const quint64 prevFlags = prevCombo.modifiers;
    QTest::newRow("main swallowed") << main << false << true << 0u << true << mainFlags << false;
    QTest::newRow("main, right-hand modifiers")
        << QList<quint32>{XK_Control_R, XK_Super_R, XK_semicolon} << false << true << 0u << true
        << mainFlags << false;
    QTest::newRow("main with caps lock")
        << main << false << true << quint32(XK_Caps_Lock) << true << mainFlags << false;
    QTest::newRow("main with num lock")
        << main << false << true << quint32(XK_Num_Lock) << true << mainFlags << false;
    QTest::newRow("main with extra shift not matched")
        << QList<quint32>{XK_Control_L, XK_Super_L, XK_Shift_L, XK_semicolon} << false << true << 0u
        << false << quint64(0) << true;
    QTest::newRow("prev swallowed") << prev << false << true << 0u << true << prevFlags << false;
    QTest::newRow("prev let through") << prev << false << false << 0u << true << prevFlags << true;
    QTest::newRow("esc while idle")
        << QList<quint32>{XK_Escape} << false << true << 0u << false << quint64(0) << true;
    QTest::newRow("esc while running")
        << QList<quint32>{XK_Escape} << true << true << 0u << true << quint64(0) << false;
    QTest::newRow("shift+esc while running")
        << QList<quint32>{XK_Shift_L, XK_Escape} << true << true << 0u << true
        << quint64(ModifierFlag::Shift) << false;
}

void TestX11Tap::pressesAreMatchedAndAnswered()
{
    QFETCH(QList<quint32>, keys);
    QFETCH(bool, escapeWatched);
    QFETCH(bool, answer);
    QFETCH(quint32, lockKey);
    QFETCH(bool, called);
    QFETCH(quint64, flags);
    QFETCH(bool, delivered);

    FocusClient client;
    QVERIFY(client.start(recorderPath(), {QString::fromLocal8Bit(m_displayName)}, m_displayName));
    X11KeyboardTap tap(m_displayName);
    QList<Call> calls;
    QVERIFY(tap.install([&](quint16 keyCode, quint64 f) {
        calls.append({keyCode, f});
        return answer;
    }));
    QCOMPARE(tap.watch({mainCombo, prevCombo}, escapeWatched), QList<KeyCombo>{});
    if (lockKey) {
        press({lockKey});
        QTRY_VERIFY(sentinelArrived(client));
        client.clear();
    }

    press(keys);
    QTRY_VERIFY(sentinelArrived(client));
    const quint16 expectedCode = keys.last() == XK_Escape ? KeyCode::Escape : KeyCode::Semicolon;
    if (called) {
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].keyCode, expectedCode);
        QCOMPARE(calls[0].flags & ModifierFlag::Mask, flags);
    } else {
        QCOMPARE(calls.size(), 0);
    }
    const unsigned lastKeyCode = XKeysymToKeycode(m_display, keys.last());
    bool seen = false;
    for (const Press &p : client.presses())
        seen = seen || p.keyCode == lastKeyCode;
    QCOMPARE(seen, delivered);

    if (lockKey) {
        press({lockKey});
        QTRY_VERIFY(sentinelArrived(client));
    }
    tap.remove();
    QCOMPARE(keysDown(m_display), QList<unsigned>{});
}

void TestX11Tap::comboHeldByAnotherClientIsReported()
{
    FocusClient client;
    QVERIFY(client.start(recorderPath(), {QString::fromLocal8Bit(m_displayName)}, m_displayName));
    Display *other = XOpenDisplay(m_displayName.constData());
    QVERIFY(other);
    const std::unique_ptr<Display, int (*)(Display *)> closer(other, XCloseDisplay);
    const unsigned semicolon = XKeysymToKeycode(other, XK_semicolon);
    XGrabKey(other, int(semicolon), ControlMask | Mod4Mask, DefaultRootWindow(other), False,
             GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    X11KeyboardTap tap(m_displayName);
    QList<Call> calls;
    QVERIFY(tap.install([&](quint16 keyCode, quint64 f) {
        calls.append({keyCode, f});
        return true;
    }));
    QCOMPARE(tap.watch({mainCombo, prevCombo}, false), QList<KeyCombo>{mainCombo});

    // The other shortcut still works.
    press({XK_Control_L, XK_Alt_L, XK_Super_L, XK_semicolon});
    QTRY_VERIFY(sentinelArrived(client));
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].flags & ModifierFlag::Mask, prevCombo.modifiers);

    // And the other client still gets its own.
    press({XK_Control_L, XK_Super_L, XK_semicolon});
    QTRY_VERIFY(sentinelArrived(client));
    bool otherGotIt = false;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            while (XPending(other)) {
                XEvent e;
                XNextEvent(other, &e);
                otherGotIt = otherGotIt || (e.type == KeyPress && e.xkey.keycode == semicolon);
            }
            return otherGotIt;
        }(),
        10000);
    QCOMPARE(calls.size(), 1);
    tap.remove();
}

void TestX11Tap::regrabsAfterLayoutChange()
{
    FocusClient client;
    QVERIFY(client.start(recorderPath(), {QString::fromLocal8Bit(m_displayName)}, m_displayName));
    X11KeyboardTap tap(m_displayName);
    QList<Call> calls;
    QVERIFY(tap.install([&](quint16 keyCode, quint64 f) {
        calls.append({keyCode, f});
        return true;
    }));
    QCOMPARE(tap.watch({mainCombo}, false), QList<KeyCombo>{});
    // On a German layout the ; position carries ö; the shortcut follows the position.
    QVERIFY(setLayout(m_displayName, {QStringLiteral("de")}));
    press({XK_Control_L, XK_Super_L, XK_odiaeresis});
    QTRY_VERIFY(sentinelArrived(client));
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].keyCode, KeyCode::Semicolon);
    tap.remove();
    QVERIFY(setLayout(m_displayName, {QStringLiteral("us")}));
}

void TestX11Tap::scanCodesMapToKeyPositions_data()
{
    QTest::addColumn<quint32>("keysym");
    QTest::addColumn<quint16>("keyCode");
    QTest::newRow("a") << quint32(XK_a) << quint16(0);
    QTest::newRow("s") << quint32(XK_s) << quint16(1);
    QTest::newRow("5") << quint32(XK_5) << quint16(23);
    QTest::newRow(";") << quint32(XK_semicolon) << quint16(41);
    QTest::newRow("return") << quint32(XK_Return) << quint16(36);
    QTest::newRow("tab") << quint32(XK_Tab) << quint16(48);
    QTest::newRow("escape") << quint32(XK_Escape) << quint16(53);
    QTest::newRow("left super") << quint32(XK_Super_L) << quint16(55);
    QTest::newRow("right control") << quint32(XK_Control_R) << quint16(62);
    QTest::newRow("F1") << quint32(XK_F1) << quint16(122);
    QTest::newRow("F5") << quint32(XK_F5) << quint16(96);
    QTest::newRow("up") << quint32(XK_Up) << quint16(126);
    QTest::newRow("keypad 8") << quint32(XK_KP_Up) << quint16(91);
    QTest::newRow("print screen (own code)") << quint32(XK_Print) << quint16(128);
}

void TestX11Tap::scanCodesMapToKeyPositions()
{
    QFETCH(quint32, keysym);
    QFETCH(quint16, keyCode);
    X11KeyboardTap tap(m_displayName);
    const unsigned native = XKeysymToKeycode(m_display, keysym);
    QVERIFY(native);
    QCOMPARE(tap.keyCodeForScanCode(native), std::optional<quint16>(keyCode));
}

void TestX11Tap::trustedOnAServerWithXTest()
{
    X11AccessibilityTrust trust(m_displayName);
    QVERIFY(trust.isTrusted());
    QCOMPARE(trust.missingReason(), QString());

    // On Wayland the limit is said, while XWayland windows still work.
    qputenv("XDG_SESSION_TYPE", "wayland");
    QVERIFY(trust.isTrusted());
    QVERIFY(X11AccessibilityTrust::sessionNote().contains(QLatin1String("XWayland")));
    qputenv("XDG_SESSION_TYPE", "x11");
    qunsetenv("WAYLAND_DISPLAY");
    QCOMPARE(X11AccessibilityTrust::sessionNote(), QString());
}

void TestX11Tap::withoutXTestInstallFailsCleanly()
{
    const QByteArray display = fixtureDisplay("KEYLOOM_XVFB_NOXTEST_STATE");
    QVERIFY2(!display.isEmpty(), "no Xvfb fixture without XTEST");

    X11KeyboardTap tap(display);
    HotkeyManager manager(tap);
    // Capture what the manager prints on stdout.
    std::fflush(stdout);
    int fds[2];
    QVERIFY(pipe(fds) == 0);
    const int saved = dup(STDOUT_FILENO);
    dup2(fds[1], STDOUT_FILENO);
    manager.installTap();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(fds[1]);
    QByteArray printed;
    char buffer[512];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        printed.append(buffer, n);
    close(fds[0]);
    QCOMPARE(
        printed,
        QByteArray("[Keyloom] Failed to create event tap - check Accessibility permissions.\n"));
    QVERIFY(!manager.isInstalled());

    X11AccessibilityTrust trust(display);
    QVERIFY(!trust.isTrusted());
    QVERIFY(trust.missingReason().contains(QLatin1String("XTEST")));
    X11AccessibilityTrust unreachable(QByteArrayLiteral(":999"));
    QVERIFY(!unreachable.isTrusted());
    QVERIFY(unreachable.missingReason().contains(QLatin1String("display")));
    X11KeyInjector injector(display);
    QVERIFY(!injector.openSession());
}

QTEST_GUILESS_MAIN(TestX11Tap)
#include "tst_x11tap.moc"
