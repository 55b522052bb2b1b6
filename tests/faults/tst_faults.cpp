// Faults around the real keyloom program: settings that cannot be saved, the X server
// dying, clipboard owners that vanish or serve odd bytes, a huge clipboard cancelled
// early, two instances at once, SIGQUIT, and no secret in its output.
#include "KeyloomHarness.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#define KeyCode XKeyCode
#include <X11/Xlib.h>
#undef KeyCode

using namespace KeyloomHarness;

namespace {

qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf("VmRSS:");
    return at < 0 ? -1 : text.mid(at + 6).trimmed().split(' ').value(0).toLongLong();
}

bool run(const QString &command, const QStringList &arguments)
{
    QProcess p;
    p.start(command, arguments);
    return p.waitForFinished(deadlineMs) && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

    Desktop d;
    QStringList m_mounts;

    // The settings folder refuses writes while its files stay readable. Root ignores file
    // modes, so it gets a read-only bind mount, or a small file system filled up.
    bool makeUnwritable(bool diskFull)
    {
        const QString dir = d.configDir();
        if (!diskFull && geteuid() != 0)
            return QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
        if (!diskFull) {
            m_mounts << dir;
            return run(QStringLiteral("mount"), {QStringLiteral("--bind"), dir, dir}) &&
                   run(QStringLiteral("mount"),
                       {QStringLiteral("-o"), QStringLiteral("remount,ro,bind"), dir});
        }
        const QByteArray bytes = readFile(d.configPath());
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        m_mounts << dir;
        if (!run(QStringLiteral("mount"),
                 {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                  QStringLiteral("size=256k,mode=0700"), QStringLiteral("tmpfs"), dir}))
            return false;
        QFile file(d.configPath());
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
            return false;
        QFile filler(dir + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        if (const QString missing = Desktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(missing + QStringLiteral(" is missing")));
        QVERIFY(d.open("KEYLOOM_FAULTS_XVFB_STATE"));
    }
    void cleanupTestCase() { d.close(); }
    void init() { QVERIFY(d.init()); }

    void cleanup()
    {
        for (const QString &mount : std::as_const(m_mounts))
            run(QStringLiteral("umount"), {QStringLiteral("-l"), mount});
        m_mounts.clear();
        QFile::setPermissions(d.configDir(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(d.cleanup(), "a key is left down or the keymap was not given back");
    }

    void unsavableSettingsKeepWorkingFromMemory_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("read-only folder") << false;
        QTest::newRow("disk full") << true;
    }

    void unsavableSettingsKeepWorkingFromMemory()
    {
        QFETCH(bool, diskFull);
        if (diskFull && geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        d.writePlaylist({QStringLiteral("one "), QStringLiteral("two "), QStringLiteral("three ")},
                        0);
        if (!makeUnwritable(diskFull))
            QSKIP("this machine does not let the test make the folder unwritable");
        const QByteArray saved = readFile(d.configPath());
        QVERIFY(saved.contains("snippets="));

        const auto keyloom = d.keyloom();
        QVERIFY(d.startKeyloom(*keyloom));
        // Each completed run moves the position on, a write that fails.
        QString all;
        for (const char *text : {"one ", "two ", "three ", "one "}) {
            d.chord(mainChord);
            QVERIFY(d.waitForTyped(all += QLatin1String(text)));
            QVERIFY(d.waitUntilIdle());
        }
        QVERIFY(keyloom->stop());
        const QByteArray err = keyloom->standardError();
        QCOMPARE(err.count("[Keyloom] Cannot save settings to "), 1);
        QVERIFY2(err.contains("changes are kept until Keyloom quits"), err.constData());
        QCOMPARE(readFile(d.configPath()), saved);
    }

    void xServerGoingAwayEndsTheProgram_data()
    {
        QTest::addColumn<int>("serverSignal");
        QTest::newRow("server killed") << SIGKILL;
        QTest::newRow("server stopped, then SIGTERM") << SIGSTOP;
    }

    void xServerGoingAwayEndsTheProgram()
    {
        // A server of its own, killed or stopped in the middle of a run.
        QFETCH(int, serverSignal);
        QTemporaryDir scratch;
        const QString state = scratch.filePath(QStringLiteral("xvfb.state"));
        const QString script = program("KEYLOOM_XVFB_SCRIPT");
        QVERIFY(run(script, {QStringLiteral("start"), state}));
        const auto stopServer = qScopeGuard([&] { run(script, {QStringLiteral("stop"), state}); });
        const QList<QByteArray> lines = readFile(state).split('\n');
        const QByteArray name = lines.value(0);
        Display *x = XOpenDisplay(name.constData());
        QVERIFY(x && lines.value(1).toLongLong() > 0);

        d.writeSettings({{QStringLiteral("typingSpeedMs"), 30.0}});
        QVERIFY(d.setClipboard(QStringLiteral("ab\u00E9\u65E5").repeated(200).toUtf8(), name));
        const auto keyloom = d.keyloom(name);
        QVERIFY(keyloom->start());
        // Without a tray the settings window opens once start-up, grabs included, is done.
        QVERIFY(waitFor([&] { return windowsTitled(x, "Keyloom Settings") == 1; }));
        X11TestSupport::FocusClient client;
        QVERIFY(client.start(program("KEYLOOM_RECORDER"), {QString::fromLocal8Bit(name)}, name));
        d.chord(mainChord, x);
        QVERIFY(waitFor([&] { return d.typed(&client).size() >= 3; }));

        XCloseDisplay(x);
        const pid_t server = pid_t(lines.value(1).toLongLong());
        QVERIFY(::kill(server, serverSignal) == 0);
        const auto thaw = qScopeGuard([&] { ::kill(server, SIGCONT); });
        if (serverSignal == SIGSTOP) {
            keyloom->process().terminate();
            QVERIFY2(keyloom->process().waitForFinished(2000),
                     "SIGTERM does not end keyloom while its X server is stopped");
            QCOMPARE(keyloom->process().exitCode(), SIGTERM);
            QCOMPARE(keyloom->process().exitStatus(), QProcess::CrashExit);
            return d.stopClipboardOwner();
        }
        QVERIFY2(keyloom->process().waitForFinished(deadlineMs),
                 "keyloom hangs after its X server died");
        QCOMPARE(keyloom->process().exitStatus(), QProcess::NormalExit);
        d.stopClipboardOwner();
    }

    void vanishingClipboardOwner_data()
    {
        QTest::addColumn<bool>("frozen");
        QTest::addColumn<QList<quint32>>("stop"); // pressed while the owner is asked
        QTest::addColumn<int>("then");            // sent to the owner after that
        const QList<quint32> none;
        QTest::newRow("killed before the shortcut") << false << none << 0;
        QTest::newRow("frozen, then killed") << true << none << SIGKILL;
        QTest::newRow("frozen for good") << true << none << 0;
        QTest::newRow("frozen, stopped by the shortcut, thawed") << true << mainChord << SIGCONT;
        QTest::newRow("frozen, stopped by Esc, thawed")
            << true << QList<quint32>{XK_Escape} << SIGCONT;
    }

    void vanishingClipboardOwner()
    {
        QFETCH(bool, frozen);
        QFETCH(QList<quint32>, stop);
        QFETCH(int, then);
        QVERIFY(d.setClipboard("vanishing"));
        const auto keyloom = d.keyloom();
        QVERIFY(d.startKeyloom(*keyloom));
        const pid_t owner = pid_t(d.clipboardOwner->processId());
        if (frozen)
            QVERIFY(::kill(owner, SIGSTOP) == 0);
        else
            d.stopClipboardOwner();
        d.chord(mainChord);
        // The keyboard goes on working while the owner is asked.
        QTest::qWait(50);
        d.chord({XK_x});
        QVERIFY2(waitFor([&] { return d.typed() == QLatin1String("x"); }, 200),
                 "the keyboard froze");
        d.chord(stop);
        if (then)
            QVERIFY(::kill(owner, then) == 0);
        QVERIFY(d.waitUntilIdle());
        // An answer that comes after the stop, or after the timeout, types nothing.
        QCOMPARE(d.typed(), QStringLiteral("x"));

        // Not wedged: a new owner's text is typed.
        d.client->clear();
        QVERIFY(d.setClipboard("next"));
        d.chord(mainChord);
        QVERIFY(d.waitForTyped(QStringLiteral("next")));
        QVERIFY(d.waitUntilIdle());
        QCOMPARE(keyloom->process().state(), QProcess::Running);
    }

    void oddClipboardBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected"); // a pattern: U+FFFD may come once or more
        QTest::newRow("NUL and controls") << QByteArray("a\0b\x01"
                                                        "c\x1b"
                                                        "d\x7f"
                                                        "e\xc2\x85"
                                                        "f\x08g",
                                                        15)
                                          << QStringLiteral("abcdefg");
        QTest::newRow("tab, LF, CR, CRLF")
            << QByteArray("1\t2\n3\r4\r\n5") << QStringLiteral("1\t2\r3\r4\r5");
        QTest::newRow("lone surrogate bytes")
            << QByteArray("x\xed\xa0\x80y") << QStringLiteral("x\uFFFD+y");
        QTest::newRow("stray and cut-off bytes")
            << QByteArray("p\x80q\xe6\x97r") << QStringLiteral("p\uFFFD+q\uFFFD+r");
        QTest::newRow("only controls") << QByteArray("\x01\x02\x03\0", 4) << QString();
    }

    void oddClipboardBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(expected));
        QVERIFY(d.setClipboard(bytes));
        const auto keyloom = d.keyloom();
        QVERIFY(d.startKeyloom(*keyloom));
        d.chord(mainChord);
        QVERIFY(expected.isEmpty() || waitFor([&] { return pattern.match(d.typed()).hasMatch(); }));
        QVERIFY(d.waitUntilIdle());
        QVERIFY2(pattern.match(d.typed()).hasMatch(), qPrintable(d.typed()));
        QVERIFY(keyloom->stop());
    }

    void hugeClipboardCancelledEarly()
    {
        QByteArray big = QByteArray("0123456789 abcdefghijklmnopqrstuvwxyz \n").repeated(260'000);
        big.truncate(10'000'000);
        d.writeSettings({{QStringLiteral("typingSpeedMs"), 30.0}});
        QVERIFY(d.setClipboard(big));
        const auto keyloom = d.keyloom();
        // A sanitizer build keeps freed memory in a quarantine; give it back at once.
        QString asan = qEnvironmentVariable("ASAN_OPTIONS");
        keyloom->setEnvironment(
            QStringLiteral("ASAN_OPTIONS"),
            asan + (asan.isEmpty() ? "" : ":") +
                QStringLiteral("quarantine_size_mb=0:thread_local_quarantine_size_kb=0"));
        QVERIFY(d.startKeyloom(*keyloom));
        const qint64 pid = keyloom->process().processId();
        const qint64 before = residentKb(pid);
        QVERIFY(before > 0);

        d.chord(mainChord);
        QVERIFY(waitFor([&] { return d.typed().size() >= 3; }));
        d.chord({XK_Escape});
        QVERIFY(d.waitUntilIdle());
        const QString got = d.typed();
        QVERIFY2(got.size() < 2000 && withReturns(QString::fromUtf8(big)).startsWith(got),
                 qPrintable(got));
        // The text (20 MB as UTF-16) is given back: well within half of it.
        QVERIFY2(
            waitFor([&] { return residentKb(pid) < before + 10'000; }),
            qPrintable(QStringLiteral("%1 kB before, %2 kB now").arg(before).arg(residentKb(pid))));
        QVERIFY(keyloom->stop());
    }

    void secondStartReachesTheFirst_data()
    {
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("after the first is up") << false;
        for (int i = 0; i < 3; ++i)
            QTest::addRow("at once, round %d", i) << true;
    }

    void secondStartReachesTheFirst()
    {
        QFETCH(bool, atOnce);
        QVERIFY(d.setClipboard("once"));
        const auto first = d.keyloom();
        const auto second = d.keyloom();
        QVERIFY(atOnce ? first->start() : d.startKeyloom(*first));
        QVERIFY(second->start());
        // Exactly one goes, cleanly, after the other opened its settings window for it.
        QVERIFY(waitFor([&] {
            return first->process().state() == QProcess::NotRunning ||
                   second->process().state() == QProcess::NotRunning;
        }));
        Keyloom &gone = first->process().state() == QProcess::NotRunning ? *first : *second;
        Keyloom &kept = &gone == first.get() ? *second : *first;
        QCOMPARE(gone.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(gone.process().exitCode(), 0);
        QVERIFY(waitFor([&] { return trayItems(d.display) == 1; }));
        QVERIFY(waitFor([&] { return windowsTitled(d.display, "Keyloom Settings") == 1; }));
        QCOMPARE(kept.process().state(), QProcess::Running);

        // One set of grabs: the shortcut types once. The client takes the focus back first.
        QVERIFY(d.restartClient());
        d.chord(mainChord);
        QVERIFY(d.waitForTyped(QStringLiteral("once")));
        QVERIFY(d.waitUntilIdle());
        QCOMPARE(d.typed(), QStringLiteral("once"));
        QVERIFY(kept.stop());
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
        const auto keyloom = d.keyloom();
        keyloom->process().setChildProcessModifier(withoutPtrace);
        QVERIFY(d.startKeyloom(*keyloom));
        const qint64 pid = keyloom->process().processId();
        QProcess reader;
        reader.setChildProcessModifier(withoutPtrace);
        reader.start(QStringLiteral("head"),
                     {QStringLiteral("-c0"), QStringLiteral("/proc/%1/mem").arg(pid)});
        QVERIFY(reader.waitForFinished(deadlineMs));
        QCOMPARE(reader.exitCode(), 1); // could not open it

        QCOMPARE(::kill(pid_t(pid), SIGQUIT), 0);
        QVERIFY(keyloom->process().waitForFinished(deadlineMs));
        const bool exited = keyloom->process().exitStatus() == QProcess::NormalExit;
        QCOMPARE(keyloom->process().exitCode(), exited ? 0 : SIGTERM);
    }

    void typedTextNeverReachesTheOutput()
    {
        const QString secret =
            QStringLiteral("Zq7-secret-\u00E9t\u00E9-\u65E5\u672C-horse-battery-81726354");
        const QString other = QStringLiteral("Wv3-snippet-\u00FCber-staple-44018827");
        // From the list, then the same secret from the clipboard after a restart.
        d.writePlaylist({secret, other}, 0);
        QByteArray output;
        for (const bool fromList : {true, false}) {
            if (!fromList) {
                d.writeSettings({{QStringLiteral("typingMode"), QStringLiteral("clipboard")}});
                QVERIFY(d.setClipboard(secret.toUtf8()));
                d.client->clear();
            }
            const auto keyloom = d.keyloom();
            QVERIFY(d.startKeyloom(*keyloom));
            for (const QString &expected :
                 fromList ? QStringList{secret, secret + other} : QStringList{secret}) {
                d.chord(mainChord);
                QVERIFY(d.waitForTyped(expected));
                QVERIFY(d.waitUntilIdle());
            }
            QVERIFY(keyloom->stop());
            output += keyloom->output();
        }
        // No piece of either text, six characters or more, in what it wrote.
        for (const QString &text : {secret, other}) {
            for (qsizetype i = 0; i + 6 <= text.size(); ++i)
                QVERIFY2(!output.contains(text.mid(i, 6).toUtf8()), qPrintable(text.mid(i, 6)));
        }
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
