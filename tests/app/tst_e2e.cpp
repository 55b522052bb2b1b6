// The real keyloom program end to end, and its faults: unsavable settings, a server that goes
// away, clipboard owners that vanish or freeze, a second start, SIGQUIT.
#include "KeyloomHarness.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QLockFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>

#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#define KeyCode XKeyCode
#include <X11/Xlib.h>
#undef KeyCode

using namespace KeyloomHarness;

namespace {

// The desktop's notification service as a stand-in on a private bus: it keeps what it is shown.
class Notifications final : public QDBusVirtualObject {
public:
    ~Notifications() override { daemon.kill(), daemon.waitForFinished(); }
    bool start()
    {
        daemon.start("dbus-daemon", {"--session", "--print-address", "--nofork"});
        daemon.waitForReadyRead(deadlineMs); // else no address, and no bus
        address = QString::fromUtf8(daemon.readLine().trimmed());
        QDBusConnection bus = QDBusConnection::connectToBus(address, address);
        return bus.registerVirtualObject("/org/freedesktop/Notifications", this) &&
               bus.registerService("org.freedesktop.Notifications");
    }
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override
    {
        if (m.member() != "Notify" || m.arguments().size() != 8)
            return false;
        shown << m.arguments().at(3).toString() + ": " + m.arguments().at(4).toString();
        return bus.send(m.createReply(QVariant::fromValue(uint(shown.size()))));
    }
    QProcess daemon;
    QString address;
    QStringList shown;
};

// The desktop's tray host as a stand-in on such a bus: Qt's tray item then registers with it and
// exports its menu beside it (dbusmenu), where the menu's texts can be read.
class TrayWatcher final : public QDBusVirtualObject {
public:
    bool start(const QString &address)
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, "tray " + address);
        return bus.registerVirtualObject("/StatusNotifierWatcher", this) &&
               bus.registerService("org.kde.StatusNotifierWatcher");
    }
    QString introspect(const QString &) const override
    {
        return R"(<interface name="org.kde.StatusNotifierWatcher">
            <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
            <property name="IsStatusNotifierHostRegistered" type="b" access="read"/></interface>)";
    }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override
    {
        if (m.member() == "Get")
            return bus.send(m.createReply(QVariant::fromValue(QDBusVariant(true))));
        if (m.member() != "RegisterStatusNotifierItem")
            return false;
        item = m.arguments().value(0).toString();
        return bus.send(m.createReply());
    }
    QString item;
};

} // namespace

class TestEndToEnd : public DesktopTest {
    Q_OBJECT
private slots:
    void clipboardArrivesThenClearFromTheMenu_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected"); // a pattern: U+FFFD may come once or more
        const QString text = "Gr\u00FC\u00DFe, \u65E5\u672C! caf\u00E9 e\u0301\n\u20AC 42\tok";
        QTest::newRow("text") << (text + "\r\n5\r6").toUtf8()
                              << QRegularExpression::escape(QString(text).replace('\n', '\r') +
                                                            "\r5\r6");
        QTest::newRow("NUL and controls")
            << QByteArray("a\0b\1c\33d\177e\302\205f\10g", 15) << "abcdefg";
        QTest::newRow("malformed UTF-8")
            << QByteArray("x\xed\xa0\x80y p\x80q\xe6\x97r") << "x\uFFFD+y p\uFFFD+q\uFFFD+r";
    }

    void clipboardArrivesThenClearFromTheMenu()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(expected));
        QVERIFY(setClipboard(bytes));
        QProcess &k = keyloom();
        QVERIFY(startKeyloom(k));
        chord(mainChord);
        QVERIFY(waitFor([&] { return pattern.match(typed()).hasMatch(); }));
        QVERIFY(waitUntilIdle());
        QVERIFY2(pattern.match(typed()).hasMatch(), qPrintable(typed()));

        const QString got = typed();
        QVERIFY(chooseFromMenu(3)); // Quit, Settings..., Clear Clipboard
        QVERIFY(waitFor([&] { return run("xclip", {"-o", "-sel", "c"}, name) == ""; }));
        chord(mainChord);
        QVERIFY(waitUntilIdle());
        QCOMPARE(typed(), got);
    }

    void stopMidRun_data()
    {
        QTest::addColumn<QList<quint32>>("stopKeys");
        QTest::newRow("shortcut again") << mainChord;
        QTest::newRow("Esc") << QList<quint32>{XK_Escape};
    }

    void stopMidRun()
    {
        QFETCH(QList<quint32>, stopKeys);
        // Clusters of two code points, so a cut inside one would show.
        const QString text = QString("e\u0301").repeated(40);
        writeSettings({{"typingSpeedMs", 150.0}});
        QVERIFY(setClipboard(text.toUtf8()));
        QProcess &k = keyloom();
        QVERIFY(startKeyloom(k));
        const QByteArray idle = settledIcon();
        QVERIFY(!idle.isEmpty());
        chord(mainChord);
        QVERIFY(waitFor([&] { return typed().size() >= 2 && icon() != idle; }));
        chord(stopKeys);
        QVERIFY(waitUntilIdle());
        QVERIFY(waitFor([&] { return icon() == idle; }));
        const QString got = typed();
        QVERIFY2(got.size() < text.size() && text.startsWith(got) && got.size() % 2 == 0,
                 qPrintable(got));
    }

    // One character needs more spare keys than there are: nothing is typed, the notification
    // says how many characters and why but none of the text, and the menu types the rest.
    void untypeableTextIsToldThenTypedAnyway()
    {
        Notifications notifications;
        QVERIFY(notifications.start());
        QString cluster = "\u0449"; // and every combining diacritical mark
        for (char16_t mark = 0x0300; mark < 0x0370; ++mark)
            cluster += QChar(mark);
        const QString text = "\u0416" + cluster + "\u042E";
        writePlaylist({text, "next"});
        QProcess &k = keyloom();
        QProcessEnvironment env = k.processEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", notifications.address);
        k.setProcessEnvironment(env);
        QVERIFY(startKeyloom(k));
        chord(mainChord);
        QVERIFY(waitFor([&] { return notifications.shown.size() == 1; }));
        const QString shown = notifications.shown.first();
        QVERIFY2(shown.contains("1 character cannot be typed here."), qPrintable(shown));
        for (QChar c : text)
            QVERIFY2(!shown.contains(c), qPrintable(shown));
        QVERIFY(waitUntilIdle());
        QCOMPARE(typed(), QString());
        QCOMPARE(std::max(storedIndex(), 0), 0);
        QVERIFY(chooseFromMenu(4)); // Quit, Settings..., Clear Clipboard, Type Anyway Without Them
        QVERIFY(waitForTyped("\u0416\u042E"));
        QVERIFY(waitFor([&] { return storedIndex() == 1; }));
    }

    void listPositionSurvivesARestart()
    {
        writePlaylist({"first ", "second ", "third "});
        const auto at = [&](int i) { return waitFor([&] { return storedIndex() == i; }); };
        QProcess &k = keyloom();
        QVERIFY(startKeyloom(k));
        chord(mainChord);
        QVERIFY(waitForTyped("first "));
        QVERIFY(at(1));
        chord(prevChord);
        QVERIFY(at(0));
        chord(prevChord);
        QVERIFY(at(2)); // wraps backwards
        QVERIFY(chooseFromMenu(1) && k.waitForFinished(deadlineMs));
        QVERIFY2(k.exitStatus() == QProcess::NormalExit && k.exitCode() == 0, k.readAll());
        QProcess &again = keyloom();
        QVERIFY(startKeyloom(again));
        chord(mainChord);
        QVERIFY(waitForTyped("first third "));
        QVERIFY(at(0));
    }

    // The keyboard never waits on Keyloom: while its settings write waits (here on the file's
    // lock, as on a slow home folder), a key typed right after the shortcut arrives.
    void keysPassWhileTheSettingsWriteWaits()
    {
        writePlaylist({"first ", "second "});
        QProcess &k = keyloom();
        QVERIFY(startKeyloom(k));
        QLockFile busy(configPath() + ".lock");
        QVERIFY(busy.tryLock(0));
        chord(prevChord);
        chord({XK_a});
        QVERIFY(waitForTyped("a"));
        busy.unlock();
        QVERIFY(waitFor([&] { return storedIndex() == 1; }));
    }

    // What a shortcut of the desktop's own runs: the keys it is bound to are unknown, so a run
    // waits until every key is up.
    void commandLineControlsTheRunningOne()
    {
        writePlaylist({"first ", "second "});
        QCOMPARE(command("--toggle"), 1); // none runs yet
        QProcess &k = keyloom();
        QVERIFY(startKeyloom(k));
        const QByteArray idle = settledIcon();
        X11TestSupport::fakeKey(display, XK_Control_L, true);
        QCOMPARE(command("--toggle"), 0);
        QVERIFY(waitFor([&] { return icon() != idle; }));
        QTest::qWait(300);
        const QString early = typed();
        X11TestSupport::fakeKey(display, XK_Control_L, false);
        QCOMPARE(early, QString());
        QVERIFY(waitForTyped("first "));
        QVERIFY(waitFor([&] { return icon() == idle; }));
        QCOMPARE(command("--previous"), 0);
        QCOMPARE(command("--toggle"), 0);
        QVERIFY(waitForTyped("first first "));
        QVERIFY(waitFor([&] { return icon() == idle; }));
        QCOMPARE(command("--stop"), 0);
    }

    void startsWithoutTapOrTray()
    {
        // A server without XTEST: no shortcut can be watched and nothing typed. Start-up goes on,
        // and without a tray the settings window stands in.
        const QByteArray noXTest = X11TestSupport::fixtureDisplay("KEYLOOM_E2E_NOXTEST_STATE");
        QProcess &k = keyloom(noXTest);
        QVERIFY((k.start(), k.waitForStarted()));
        QVERIFY(waitFor([&] { return search(noXTest, settingsWindow).size() == 1; }));
        QVERIFY(waitFor([&] { return output().contains("[Keyloom] Failed to create event tap"); }));
        QCOMPARE(k.state(), QProcess::Running);
    }

    void readOnlySettingsKeepWorkingFromMemory()
    {
        writePlaylist({"first ", "second ", "third "});
        const auto saved = run("cat", {configPath()});
        // Root ignores file modes, not a read-only bind mount.
        const QString dir = config->filePath("keyloom");
        QVERIFY(geteuid() ? QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner)
                          : run("mount", {"--bind", dir, dir}) &&
                                run("mount", {"-o", "remount,ro,bind", dir}));
        const auto writable = qScopeGuard([&] {
            run("umount", {"-l", dir});
            QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        QProcess &k = keyloom();
        QVERIFY(startKeyloom(k));
        const QByteArray idle = settledIcon();
        QVERIFY(!idle.isEmpty());
        // Each completed run moves the position on, a write that fails. An Esc to see the run
        // over could stop it before it counts as complete; the idle icon comes after.
        QString all;
        for (const char *text : {"first ", "second ", "third ", "first "}) {
            chord(mainChord);
            QVERIFY(waitForTyped(all += text));
            QVERIFY(waitFor([&] { return icon() == idle; }));
        }
        k.terminate();
        QVERIFY(k.waitForFinished(deadlineMs));
        QCOMPARE(output().count("[Keyloom] Cannot save settings to "), 1);
        QVERIFY(saved && run("cat", {configPath()}) == saved);
    }

    void xServerGoingAwayEndsTheProgram_data()
    {
        QTest::addColumn<int>("serverSignal");
        QTest::newRow("server killed") << SIGKILL;
        QTest::newRow("server stopped, then SIGTERM") << SIGSTOP;
    }

    void xServerGoingAwayEndsTheProgram()
    {
        // A server of its own without a tray, killed or stopped in the middle of a run.
        QFETCH(int, serverSignal);
        QTemporaryDir scratch;
        const QString state = scratch.filePath("xvfb.state"),
                      script = qEnvironmentVariable("KEYLOOM_XVFB_SCRIPT");
        QVERIFY(run(script, {"start", state}));
        const auto stopServer = qScopeGuard([&] { run(script, {"stop", state}); });
        const QList<QByteArray> lines = run("cat", {state}).value_or("").split('\n');
        const QByteArray x = lines.value(0);
        const pid_t server = pid_t(lines.value(1).toLongLong());
        Display *xd = XOpenDisplay(x.constData());
        QVERIFY(xd && server > 0);
        writeSettings({{"typingSpeedMs", 30.0}});
        QVERIFY(setClipboard(QString("ab\u00E9\u65E5").repeated(200).toUtf8(), x));
        QProcess &k = keyloom(x);
        QVERIFY((k.start(), k.waitForStarted()));
        // The settings window opens once start-up, grabs included, is done.
        QVERIFY(waitFor([&] { return search(x, settingsWindow).size() == 1; }));
        X11TestSupport::FocusClient other;
        QVERIFY(other.start(qEnvironmentVariable("KEYLOOM_RECORDER"), {QString(x)}, x));
        chord(mainChord, xd);
        QVERIFY(waitFor([&] { return typed(&other).size() >= 3; }));

        XCloseDisplay(xd);
        QVERIFY(::kill(server, serverSignal) == 0);
        const auto thaw = qScopeGuard([&] { ::kill(server, SIGCONT), clipboardOwner.kill(); });
        if (serverSignal == SIGSTOP)
            k.terminate();
        QVERIFY2(k.waitForFinished(serverSignal == SIGSTOP ? 2000 : deadlineMs), "it hangs");
        // By the signal as asked, or by leaving on its own when the server is gone.
        QCOMPARE(k.exitCode(), serverSignal == SIGSTOP ? SIGTERM : 1);
    }

    void vanishingClipboardOwner_data()
    {
        QTest::addColumn<bool>("frozen");
        QTest::addColumn<int>("thaw"); // -1 never; 0 after Esc stopped the run; else after ms
        QTest::newRow("gone before the shortcut") << false << -1;
        QTest::newRow("frozen for good") << true << -1;
        QTest::newRow("frozen, stopped by Esc, thawed") << true << 0;
        // Well past the owner's second: given up on, so its answer types nothing.
        QTest::newRow("frozen, thawed after 2.5 s") << true << 2500;
    }

    void vanishingClipboardOwner()
    {
        QFETCH(bool, frozen);
        QFETCH(int, thaw);
        QVERIFY(setClipboard("vanishing"));
        QProcess &k = keyloom();
        QVERIFY(startKeyloom(k));
        const pid_t owner = pid_t(clipboardOwner.processId());
        frozen ? void(::kill(owner, SIGSTOP)) : clipboardOwner.kill();
        chord(mainChord);
        // The keyboard goes on working while the owner is asked.
        QTest::qWait(50);
        chord({XK_x});
        QVERIFY2(waitFor([&] { return typed() == "x"; }, 200), "the keyboard froze");
        if (thaw == 0)
            chord({XK_Escape}), ::kill(owner, SIGCONT);
        if (thaw > 0) {
            QTest::qWait(thaw);
            ::kill(owner, SIGCONT);
            QVERIFY(!waitFor([&] { return typed() != "x"; }, 1000));
        }
        QVERIFY(waitUntilIdle());
        // An answer that comes after the stop, or after the timeout, types nothing.
        QCOMPARE(typed(), QString("x"));
        // Not wedged: a new owner's text is typed.
        QVERIFY(setClipboard("next"));
        chord(mainChord);
        QVERIFY(waitForTyped("xnext"));
        QVERIFY(waitUntilIdle());
    }

    void secondStartReachesTheFirst_data()
    {
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("after the first is up") << false;
        QTest::newRow("at once, round 1") << true;
        QTest::newRow("at once, round 2") << true;
    }

    void secondStartReachesTheFirst()
    {
        QFETCH(bool, atOnce);
        QVERIFY(setClipboard("once"));
        QProcess &first = keyloom(), &second = keyloom();
        QVERIFY(atOnce ? (first.start(), true) : startKeyloom(first));
        second.start();
        // Exactly one goes, cleanly, after the other opened its settings window for it.
        const auto gone = [&]() -> QProcess & { return first.state() ? second : first; };
        QVERIFY(waitFor([&] { return gone().state() == QProcess::NotRunning; }));
        QVERIFY(gone().exitStatus() == QProcess::NormalExit && gone().exitCode() == 0);
        QVERIFY(waitFor(
            [&] { return !trayItem(name).isEmpty() && search(name, settingsWindow).size() == 1; }));
        QCOMPARE((&gone() == &first ? second : first).state(), QProcess::Running);
        // One set of grabs: the shortcut types once. The client takes the focus back first.
        QVERIFY(restartClient());
        chord(mainChord);
        QVERIFY(waitForTyped("once"));
        QVERIFY(waitUntilIdle());
        QCOMPARE(typed(), QString("once"));
    }

    // The tray menu and the settings window in the session's language, chosen as gettext does;
    // the shortcut's key names stay as they are.
    void speaksTheSessionsLanguage_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("texts"); // of the menu, then the window's title
        const QStringList english{"Keyloom Paste  ⌃⌘;", "Settings...", "Quit Keyloom",
                                  "Keyloom Settings"};
        QTest::newRow("de") << QStringList{"LANG=de_DE.UTF-8"}
                            << QStringList{"Mit Keyloom einfügen  ⌃⌘;", "Einstellungen...",
                                           "Keyloom beenden", "Keyloom-Einstellungen"};
        QTest::newRow("fr") << QStringList{"LANG=fr_FR.UTF-8"}
                            << QStringList{"Coller avec Keyloom  ⌃⌘;", "Paramètres...",
                                           "Quitter Keyloom", "Paramètres de Keyloom"};
        QTest::newRow("es, first of LANGUAGE Keyloom has")
            << QStringList{"LANG=de_DE.UTF-8", "LANGUAGE=pt_BR:es:fr"}
            << QStringList{"Pegar con Keyloom  ⌃⌘;", "Configuración...", "Salir de Keyloom",
                           "Configuración de Keyloom"};
        QTest::newRow("unknown") << QStringList{"LANG=xx_YY.UTF-8"} << english;
        QTest::newRow("C overrides LANGUAGE")
            << QStringList{"LC_ALL=C.UTF-8", "LANGUAGE=de"} << english;
        QTest::newRow("LC_MESSAGES before LANG")
            << QStringList{"LC_MESSAGES=en_GB.UTF-8", "LANG=fr_FR.UTF-8"} << english;
    }
    void speaksTheSessionsLanguage()
    {
        QFETCH(QStringList, environment);
        QFETCH(QStringList, texts);
        Notifications bus;
        TrayWatcher tray;
        QVERIFY(bus.start() && tray.start(bus.address));
        QProcess &k = keyloom();
        QProcessEnvironment env = k.processEnvironment();
        env.remove("LC_ALL");
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address);
        for (const QString &setting : environment)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        k.setProcessEnvironment(env);
        k.start();
        QVERIFY(waitFor([&] { return !tray.item.isEmpty(); }));
        const QString title = texts.takeLast();
        QString menu;
        const auto shown = [&] {
            return std::ranges::all_of(
                texts, [&](const QString &t) { return menu.contains('"' + t + '"'); });
        };
        // Read until it shows them: the menu's texts follow the shortcut's registration.
        QVERIFY2(waitFor([&] {
                     if (!shown())
                         menu = run("dbus-send",
                                    {"--bus=" + bus.address, "--print-reply", "--dest=" + tray.item,
                                     "/MenuBar", "com.canonical.dbusmenu.GetLayout", "int32:0",
                                     "int32:-1", "array:string:label"})
                                    .value_or("");
                     return shown();
                 }),
                 qPrintable(menu));
        QCOMPARE(command("--settings"), 0);
        // By the window's UTF-8 name: its older name property is Latin-1.
        const QStringList windowNames{"search",  "--onlyvisible", "--maxdepth",    "1",
                                      "--class", "^keyloom$",     "getwindowname", "%@"};
        QVERIFY(waitFor([&] {
            return run("xdotool", windowNames, name).value_or("").contains(title.toUtf8());
        }));
    }

    // Typed texts may be secrets: the program cannot be dumped, and SIGQUIT ends it as
    // SIGTERM does rather than by writing a core.
    void quitSignalEndsItWithoutACore()
    {
        // Without CAP_SYS_PTRACE on either side (root gives it up here), a process may open
        // another one's memory only when that one is dumpable.
        const auto withoutPtrace = [] {
            if (prctl(PR_CAPBSET_DROP, CAP_SYS_PTRACE, 0, 0, 0) != 0 && geteuid() == 0)
                _exit(125);
        };
        QProcess &k = keyloom();
        k.setChildProcessModifier(withoutPtrace);
        QVERIFY(startKeyloom(k));
        QProcess reader;
        reader.setChildProcessModifier(withoutPtrace);
        reader.start("head", {"-c0", QString("/proc/%1/mem").arg(k.processId())});
        QVERIFY(reader.waitForFinished(deadlineMs));
        QCOMPARE(reader.exitCode(), 1); // could not open it
        QCOMPARE(::kill(pid_t(k.processId()), SIGQUIT), 0);
        QVERIFY(k.waitForFinished(deadlineMs));
        QCOMPARE(k.exitCode(), k.exitStatus() == QProcess::NormalExit ? 0 : SIGTERM);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
