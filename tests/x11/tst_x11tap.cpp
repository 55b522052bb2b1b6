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
    void trustAndFailureWithoutXTest();

private:
    // Presses the keys in order, releases them in reverse, then a sentinel key; waits until
    // the client has it, so everything before it has been decided.
    void press(FocusClient &client, const QList<quint32> &keysyms);

    QByteArray m_displayName;
    Display *m_display = nullptr;
    std::unique_ptr<FocusClient> m_client;
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
    // A client of its own per case: what one case's grabs did to the focus stays there.
    m_client = std::make_unique<FocusClient>();
    QVERIFY(
        m_client->start(QCoreApplication::applicationDirPath() + QStringLiteral("/x11_recorder"),
                        {QString::fromLocal8Bit(m_displayName)}, m_displayName));
}

void TestX11Tap::cleanupTestCase()
{
    if (m_display)
        XCloseDisplay(m_display);
}

void TestX11Tap::press(FocusClient &client, const QList<quint32> &keysyms)
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

void TestX11Tap::pressesAreMatchedAndAnswered_data()
{
    QTest::addColumn<QList<quint32>>("keys");
    QTest::addColumn<bool>("escapeWatched");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<quint32>("lockKey");
    QTest::addColumn<qint64>("flags"); // -1: the tap is not called

    const QList<quint32> main{XK_Control_L, XK_Super_L, XK_semicolon};
    const QList<quint32> prev{XK_Control_L, XK_Alt_L, XK_Super_L, XK_semicolon};
    const qint64 mainFlags = qint64(mainCombo.modifiers);
    QTest::newRow("main") << main << false << true << 0u << mainFlags;
    QTest::newRow("main, right-hand modifiers")
        << QList<quint32>{XK_Control_R, XK_Super_R, XK_semicolon} << false << true << 0u
        << mainFlags;
    QTest::newRow("main with caps lock")
        << main << false << true << quint32(XK_Caps_Lock) << mainFlags;
    QTest::newRow("main with num lock")
        << main << false << true << quint32(XK_Num_Lock) << mainFlags;
    QTest::newRow("extra shift is another shortcut")
        << QList<quint32>{XK_Control_L, XK_Super_L, XK_Shift_L, XK_semicolon} << false << true << 0u
        << qint64(-1);
    QTest::newRow("prev") << prev << false << true << 0u << qint64(prevCombo.modifiers);
    QTest::newRow("prev let through")
        << prev << false << false << 0u << qint64(prevCombo.modifiers);
    QTest::newRow("esc while idle")
        << QList<quint32>{XK_Escape} << false << true << 0u << qint64(-1);
    QTest::newRow("esc while running")
        << QList<quint32>{XK_Escape} << true << true << 0u << qint64(0);
    QTest::newRow("shift+esc while running") << QList<quint32>{XK_Shift_L, XK_Escape} << true
                                             << true << 0u << qint64(ModifierFlag::Shift);
}

void TestX11Tap::pressesAreMatchedAndAnswered()
{
    QFETCH(QList<quint32>, keys);
    QFETCH(bool, escapeWatched);
    QFETCH(bool, answer);
    QFETCH(quint32, lockKey);
    QFETCH(qint64, flags);

    RecordingTap rec(m_displayName, answer);
    QVERIFY(rec.installed);
    QCOMPARE(rec.tap.watch({mainCombo, prevCombo}, escapeWatched), QList<KeyCombo>{});
    if (lockKey)
        press(*m_client, {lockKey});
    m_client->clear();
    press(*m_client, keys);
    const quint16 code = keys.last() == XK_Escape ? KeyCode::Escape : KeyCode::Semicolon;
    QCOMPARE(rec.calls, (flags < 0 ? Calls{} : Calls{{code, quint64(flags)}}));
    // A swallowed press never reaches the focused client; any other is replayed to it.
    const unsigned last = XKeysymToKeycode(m_display, keys.last());
    const QList<Press> presses = m_client->presses();
    const bool seen = std::any_of(presses.begin(), presses.end(),
                                  [&](const Press &p) { return p.keyCode == last; });
    QCOMPARE(seen, flags < 0 || !answer);
    if (lockKey)
        press(*m_client, {lockKey});
    rec.tap.remove();
    QCOMPARE(keysDown(m_display), QList<unsigned>{});
}

void TestX11Tap::comboHeldByAnotherClientIsReported()
{
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
    // The other shortcut still works, and the other client still gets its own.
    press(*m_client, {XK_Control_L, XK_Alt_L, XK_Super_L, XK_semicolon});
    press(*m_client, {XK_Control_L, XK_Super_L, XK_semicolon});
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].second, prevCombo.modifiers);
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
}

void TestX11Tap::regrabsAfterLayoutChange()
{
    RecordingTap rec(m_displayName);
    QVERIFY(rec.installed);
    QCOMPARE(rec.tap.watch({mainCombo}, false), QList<KeyCombo>{});
    // On a German layout the ; position carries ö; the shortcut follows the position.
    QVERIFY(setLayout(m_displayName, {QStringLiteral("de")}));
    press(*m_client, {XK_Control_L, XK_Super_L, XK_odiaeresis});
    QVERIFY(setLayout(m_displayName, {QStringLiteral("us")}));
    QCOMPARE(rec.calls, (Calls{{KeyCode::Semicolon, mainCombo.modifiers}}));
}

void TestX11Tap::scanCodesMapToKeyPositions_data()
{
    QTest::addColumn<quint32>("keysym");
    QTest::addColumn<quint16>("keyCode");
    QTest::newRow("a") << quint32(XK_a) << quint16(0);
    QTest::newRow(";") << quint32(XK_semicolon) << quint16(41);
    QTest::newRow("escape") << quint32(XK_Escape) << quint16(53);
    QTest::newRow("right control") << quint32(XK_Control_R) << quint16(62);
    QTest::newRow("F5") << quint32(XK_F5) << quint16(96);
    QTest::newRow("keypad 8") << quint32(XK_KP_Up) << quint16(91);
    QTest::newRow("print screen (own code)") << quint32(XK_Print) << quint16(128);
}

void TestX11Tap::scanCodesMapToKeyPositions()
{
    QFETCH(quint32, keysym);
    QFETCH(quint16, keyCode);
    const unsigned native = XKeysymToKeycode(m_display, keysym);
    QVERIFY(native);
    QCOMPARE(X11KeyboardTap(m_displayName).keyCodeForScanCode(native), std::optional(keyCode));
}

void TestX11Tap::trustAndFailureWithoutXTest()
{
    QVERIFY(X11AccessibilityTrust(m_displayName).isTrusted());
    // On Wayland the limit is said, while XWayland windows still work.
    qputenv("XDG_SESSION_TYPE", "wayland");
    QVERIFY(X11AccessibilityTrust::sessionNote().contains(QLatin1String("XWayland")));
    qputenv("XDG_SESSION_TYPE", "x11");
    qunsetenv("WAYLAND_DISPLAY");
    QCOMPARE(X11AccessibilityTrust::sessionNote(), QString());

    const QByteArray display = fixtureDisplay("KEYLOOM_XVFB_NOXTEST_STATE");
    QVERIFY2(!display.isEmpty(), "no Xvfb fixture without XTEST");
    X11KeyboardTap tap(display);
    HotkeyManager manager(tap);
    std::fflush(stdout);
    FILE *captured = std::tmpfile();
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(captured), STDOUT_FILENO);
    manager.installTap();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    char printed[256] = {};
    std::rewind(captured);
    [[maybe_unused]] const size_t n = std::fread(printed, 1, sizeof printed - 1, captured);
    std::fclose(captured);
    QCOMPARE(QByteArray(printed),
             "[Keyloom] Failed to create event tap - check Accessibility permissions.\n");
    QVERIFY(!manager.isInstalled());
    X11AccessibilityTrust trust(display);
    QVERIFY(!trust.isTrusted());
    QVERIFY(trust.missingReason().contains(QLatin1String("XTEST")));
    QVERIFY(X11AccessibilityTrust(QByteArrayLiteral(":999")).missingReason().contains("display"));
    QVERIFY(!X11KeyInjector(display).openSession());
}

QTEST_GUILESS_MAIN(TestX11Tap)
#include "tst_x11tap.moc"
