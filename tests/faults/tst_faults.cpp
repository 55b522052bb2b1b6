// Faults around the real keyloom program on a private X server: settings that cannot
// be saved, the X server dying, clipboard owners that vanish or serve odd bytes, a
// huge clipboard cancelled early, two instances racing, SIGQUIT, and no secret in its output.
#include "X11TestSupport.h"
#include "model/Snippet.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#define KeyCode XKeyCode
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef KeyCode

using namespace X11TestSupport;

namespace {

constexpr int deadlineMs = 30000;
const QList<quint32> mainChord{XK_Control_L, XK_Super_L, XK_semicolon};
const QByteArray saveFailure = "[Keyloom] Cannot save settings to ";

QString program(const char *variable)
{
    return QString::fromLocal8Bit(qgetenv(variable));
}

// Windows of the program embedded in another one (the tray), found by class.
int trayItems(Display *display, Window window, Window root)
{
    int count = 0;
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(display, window, &rootReturn, &parent, &children, &n))
        return 0;
    for (unsigned i = 0; i < n; ++i) {
        XClassHint hint{};
        if (window != root && XGetClassHint(display, children[i], &hint)) {
            count += hint.res_class && QByteArray(hint.res_class) == "keyloom";
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        count += trayItems(display, children[i], root);
    }
    if (children)
        XFree(children);
    return count;
}

// Viewable top-level windows whose title starts with the text.
int windowsTitled(Display *display, const QByteArray &prefix)
{
    Window root = DefaultRootWindow(display), rootReturn = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    int count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &n))
        return 0;
    for (unsigned i = 0; i < n; ++i) {
        XTextProperty property{};
        if (XGetWMName(display, children[i], &property) && property.value) {
            XWindowAttributes attributes{};
            if (QByteArray(reinterpret_cast<const char *>(property.value)).startsWith(prefix)
                && XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
                ++count;
            XFree(property.value);
        }
    }
    if (children)
        XFree(children);
    return count;
}

// Resident memory of a process in kB, from /proc.
qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool run(const QString &command, const QStringList &arguments)
{
    QProcess p;
    p.start(command, arguments);
    return p.waitForFinished(deadlineMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The keyloom binary with its own config and runtime directories; output kept for checks.
class Keyloom {
public:
    Keyloom(const QByteArray &display, const QString &configHome, const QString &runtimeDir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(display));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        env.remove(QStringLiteral("QT_IM_MODULE"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        m_process.setProcessEnvironment(env);
    }

    ~Keyloom() { stop(); }

    /// Adds a variable to the program's environment; call before start().
    void setEnvironment(const QString &name, const QString &value)
    {
        QProcessEnvironment env = m_process.processEnvironment();
        env.insert(name, value);
        m_process.setProcessEnvironment(env);
    }

    bool start()
    {
        m_process.start(program("KEYLOOM_BIN"), {});
        return m_process.waitForStarted(deadlineMs);
    }

    // Ends it as a session does, with SIGTERM; true when it went in time, by exiting or
    // by that signal (which it raises again after tidying up), not by a crash.
    bool stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(deadlineMs)) {
                m_process.kill();
                m_process.waitForFinished(deadlineMs);
                return false;
            }
        }
        return m_process.exitStatus() == QProcess::NormalExit || m_process.exitCode() == SIGTERM;
    }

    // Everything it wrote so far on both channels.
    QByteArray output()
    {
        m_out += m_process.readAllStandardOutput();
        m_err += m_process.readAllStandardError();
        return m_out + m_err;
    }

    QByteArray standardError()
    {
        output();
        return m_err;
    }

    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_out;
    QByteArray m_err;
};

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

private:
    QByteArray m_displayName;
    Display *m_display = nullptr;
    QByteArray m_keymap;
    QProcess m_trayHost;
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<FocusClient> m_client;
    std::unique_ptr<QProcess> m_clipboardOwner;
    QStringList m_mounts;

    QString configDir() const { return m_config->filePath(QStringLiteral("keyloom")); }
    QString configPath() const { return m_config->filePath(QStringLiteral("keyloom/keyloom.conf")); }

    void chord(Display *display, const QList<quint32> &keys)
    {
        for (quint32 key : keys)
            fakeKey(display, key, true);
        for (auto it = keys.rbegin(); it != keys.rend(); ++it)
            fakeKey(display, *it, false);
    }

    void chord(const QList<quint32> &keys) { chord(m_display, keys); }

    QString typed(FocusClient &client)
    {
        client.poll();
        QString out;
        for (const Press &press : client.presses()) {
            if (press.keysym != XK_Escape)
                out += press.text;
        }
        return out;
    }

    QString typed() { return typed(*m_client); }

    int escapesReceived()
    {
        m_client->poll();
        int n = 0;
        for (const Press &press : m_client->presses())
            n += press.keysym == XK_Escape;
        return n;
    }

    // Esc until one reaches the client: the program takes Esc only during a run.
    bool waitUntilIdle()
    {
        const QDeadlineTimer deadline(deadlineMs);
        while (!deadline.hasExpired()) {
            const int before = escapesReceived();
            chord({XK_Escape});
            const QDeadlineTimer probe(1000);
            while (!probe.hasExpired()) {
                if (escapesReceived() > before)
                    return true;
                QTest::qWait(20);
            }
        }
        return false;
    }

    bool waitForTyped(const QString &expected)
    {
        const QDeadlineTimer deadline(deadlineMs);
        while (typed() != expected && !deadline.hasExpired())
            QTest::qWait(20);
        return typed() == expected;
    }

    int trayItemCount() { return trayItems(m_display, DefaultRootWindow(m_display), DefaultRootWindow(m_display)); }

    bool startKeyloom(Keyloom &keyloom)
    {
        if (!keyloom.start())
            return false;
        // The tray item is shown only after the shortcuts are grabbed.
        const QDeadlineTimer deadline(deadlineMs);
        while (trayItemCount() != 1 && !deadline.hasExpired() && keyloom.process().state() == QProcess::Running)
            QTest::qWait(50);
        if (trayItemCount() == 1)
            return true;
        qWarning("keyloom did not show its tray item; it wrote: %s", keyloom.output().constData());
        return false;
    }

    void writePlaylist(const QStringList &texts, qint64 index, double speedMs = 5)
    {
        QDir().mkpath(configDir());
        SnippetList list;
        for (const QString &text : texts)
            list.append(Snippet{QUuid::createUuid(), text});
        QSettings settings(configPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("typingMode"), QStringLiteral("playlist"));
        settings.setValue(QStringLiteral("currentSnippetIndex"), index);
        settings.setValue(QStringLiteral("typingSpeedMs"), speedMs);
        settings.setValue(QStringLiteral("snippets"), encodeSnippets(list));
    }

    void writeSpeed(double speedMs)
    {
        QDir().mkpath(configDir());
        QSettings settings(configPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("typingSpeedMs"), speedMs);
    }

    QProcessEnvironment displayEnvironment(const QByteArray &display) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(display));
        return env;
    }

    void stopClipboardOwner()
    {
        if (!m_clipboardOwner)
            return;
        m_clipboardOwner->kill();
        m_clipboardOwner->waitForFinished(deadlineMs);
        m_clipboardOwner.reset();
    }

    // Another program owns the clipboard with these bytes until the test ends.
    bool setClipboard(const QByteArray &bytes, const QByteArray &display = {})
    {
        const QProcessEnvironment env = displayEnvironment(display.isEmpty() ? m_displayName : display);
        stopClipboardOwner();
        m_clipboardOwner = std::make_unique<QProcess>();
        m_clipboardOwner->setProcessEnvironment(env);
        m_clipboardOwner->start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                                          QStringLiteral("clipboard"), QStringLiteral("-i")});
        if (!m_clipboardOwner->waitForStarted(deadlineMs))
            return false;
        m_clipboardOwner->write(bytes);
        m_clipboardOwner->closeWriteChannel();
        const QDeadlineTimer deadline(deadlineMs * 2);
        while (!deadline.hasExpired()) {
            QProcess reader;
            reader.setProcessEnvironment(env);
            reader.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"),
                                                   QStringLiteral("clipboard")});
            if (reader.waitForFinished(deadlineMs) && reader.readAllStandardOutput() == bytes)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    QByteArray readFile(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Makes the settings folder refuse writes while its files stay readable. Root ignores
    // file modes, so it gets a read-only bind mount or a full file system instead.
    bool makeUnwritable(const QString &how)
    {
        if (how == QLatin1String("read-only")) {
            if (geteuid() != 0)
                return QFile::setPermissions(configDir(), QFile::ReadOwner | QFile::ExeOwner);
            if (!run(QStringLiteral("mount"), {QStringLiteral("--bind"), configDir(), configDir()}))
                return false;
            m_mounts << configDir();
            return run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro,bind"), configDir()});
        }
        // Disk full: the saved file moved onto a small file system, the rest filled up.
        const QByteArray bytes = readFile(configPath());
        QDir(configDir()).removeRecursively();
        QDir().mkpath(configDir());
        if (!run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                           QStringLiteral("size=256k,mode=0700"), QStringLiteral("tmpfs"),
                                           configDir()}))
            return false;
        m_mounts << configDir();
        QFile file(configPath());
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
            return false;
        file.close();
        QFile filler(m_config->filePath(QStringLiteral("keyloom/filler")));
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
        if (program("KEYLOOM_BIN").isEmpty() || program("KEYLOOM_RECORDER").isEmpty())
            QSKIP("the program or the recording client was not built");
        for (const char *tool : {"xclip", "trayer"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool))));
        }
        m_displayName = fixtureDisplay("KEYLOOM_FAULTS_XVFB_STATE");
        QVERIFY(!m_displayName.isEmpty());
        m_display = XOpenDisplay(m_displayName.constData());
        QVERIFY(m_display);
        m_keymap = keymapSnapshot(m_display);

        // A tray host, so the program shows its item instead of its settings window.
        m_trayHost.setProcessEnvironment(displayEnvironment(m_displayName));
        m_trayHost.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                                    QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                                                    QStringLiteral("--width"), QStringLiteral("120"),
                                                    QStringLiteral("--height"), QStringLiteral("32")});
        QVERIFY(m_trayHost.waitForStarted(deadlineMs));
        const Atom traySelection = XInternAtom(m_display, "_NET_SYSTEM_TRAY_S0", False);
        QTRY_VERIFY_WITH_TIMEOUT(XGetSelectionOwner(m_display, traySelection) != None, deadlineMs);
    }

    void cleanupTestCase()
    {
        m_trayHost.kill();
        m_trayHost.waitForFinished(deadlineMs);
        if (m_display)
            XCloseDisplay(m_display);
    }

    void init()
    {
        m_config = std::make_unique<QTemporaryDir>();
        m_runtime = std::make_unique<QTemporaryDir>();
        QFile::setPermissions(m_runtime->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_client = std::make_unique<FocusClient>();
        QVERIFY(m_client->start(program("KEYLOOM_RECORDER"), {QString::fromLocal8Bit(m_displayName)},
                                m_displayName));
    }

    void cleanup()
    {
        m_client.reset();
        stopClipboardOwner();
        for (const QString &mount : std::as_const(m_mounts))
            run(QStringLiteral("umount"), {QStringLiteral("-l"), mount});
        m_mounts.clear();
        QFile::setPermissions(configDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // No key left down and every keymap entry given back, whatever the test did.
        QTRY_VERIFY_WITH_TIMEOUT(keysDown(m_display).isEmpty(), deadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(keymapSnapshot(m_display), m_keymap, deadlineMs);
    }

    void unsavableSettingsKeepWorkingFromMemory_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("read-only folder") << QStringLiteral("read-only");
        QTest::newRow("disk full") << QStringLiteral("full");
    }

    void unsavableSettingsKeepWorkingFromMemory()
    {
        QFETCH(QString, how);
        if (how == QLatin1String("full") && geteuid() != 0)
            QSKIP("mounting a small file system needs root");
        writePlaylist({QStringLiteral("one "), QStringLiteral("two "), QStringLiteral("three ")}, 0);
        if (!makeUnwritable(how))
            QSKIP("this machine does not let the test make the folder unwritable");
        const QByteArray saved = readFile(configPath());
        QVERIFY(saved.contains("snippets="));

        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(keyloom));
        // Each completed run moves the position on, which is a write that fails.
        QString all;
        for (const QString &text : {QStringLiteral("one "), QStringLiteral("two "), QStringLiteral("three "),
                                    QStringLiteral("one ")}) {
            chord(mainChord);
            all += text;
            QVERIFY2(waitForTyped(all), qPrintable(typed()));
            QVERIFY(waitUntilIdle());
        }
        QVERIFY(keyloom.stop());
        const QByteArray err = keyloom.standardError();
        QCOMPARE(err.count(saveFailure), 1);
        QVERIFY2(err.contains("changes are kept until Keyloom quits"), err.constData());
        // What was saved before is there, byte for byte.
        QCOMPARE(readFile(configPath()), saved);
    }

    void xServerGoingAwayEndsTheProgram()
    {
        // A server of its own, killed in the middle of a run.
        QTemporaryDir scratch;
        const QString state = scratch.filePath(QStringLiteral("xvfb.state"));
        const QString script = program("KEYLOOM_XVFB_SCRIPT");
        QVERIFY(run(script, {QStringLiteral("start"), state}));
        const QList<QByteArray> lines = readFile(state).split('\n');
        const QByteArray display = lines.value(0);
        const qint64 serverPid = lines.value(1).toLongLong();
        QVERIFY(!display.isEmpty() && serverPid > 0);
        const auto stopServer = qScopeGuard([&] { run(script, {QStringLiteral("stop"), state}); });
        Display *x = XOpenDisplay(display.constData());
        QVERIFY(x);

        QString text;
        for (int i = 0; i < 200; ++i)
            text += QStringLiteral("ab\u00E9\u65E5");
        writeSpeed(30);
        QVERIFY(setClipboard(text.toUtf8(), display));
        Keyloom keyloom(display, m_config->path(), m_runtime->path());
        QVERIFY(keyloom.start());
        // Without a tray the settings window opens once start-up, grabs included, is done.
        QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(x, "Keyloom Settings"), 1, deadlineMs);
        FocusClient client;
        QVERIFY(client.start(program("KEYLOOM_RECORDER"), {QString::fromLocal8Bit(display)}, display));
        chord(x, mainChord);
        XSync(x, False);
        QTRY_VERIFY_WITH_TIMEOUT(typed(client).size() >= 3, deadlineMs);

        XCloseDisplay(x);
        QVERIFY(::kill(pid_t(serverPid), SIGKILL) == 0);
        // It ends by itself, promptly and without crashing.
        QVERIFY2(keyloom.process().waitForFinished(deadlineMs), "keyloom hangs after its X server died");
        QCOMPARE(keyloom.process().exitStatus(), QProcess::NormalExit);
        stopClipboardOwner();
    }

    void vanishingClipboardOwner_data()
    {
        QTest::addColumn<bool>("frozenFirst");
        QTest::newRow("killed before the shortcut") << false;
        QTest::newRow("frozen, then killed after the shortcut") << true;
    }

    void vanishingClipboardOwner()
    {
        QFETCH(bool, frozenFirst);
        QVERIFY(setClipboard("vanishing"));
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(keyloom));

        const qint64 owner = m_clipboardOwner->processId();
        if (frozenFirst) {
            // An owner that stops answering, then dies while the request may be pending.
            QVERIFY(::kill(pid_t(owner), SIGSTOP) == 0);
            chord(mainChord);
            XSync(m_display, False);
            QVERIFY(::kill(pid_t(owner), SIGKILL) == 0);
        } else {
            stopClipboardOwner();
            chord(mainChord);
        }
        QVERIFY(waitUntilIdle());
        const QString got = typed();
        QVERIFY2(got.isEmpty() || got == QStringLiteral("vanishing"), qPrintable(got));
        stopClipboardOwner();

        // Not wedged: a new owner's text is typed.
        m_client->clear();
        QVERIFY(setClipboard("next"));
        chord(mainChord);
        QVERIFY2(waitForTyped(QStringLiteral("next")), qPrintable(typed()));
        QVERIFY(waitUntilIdle());
        QCOMPARE(keyloom.process().state(), QProcess::Running);
    }

    void oddClipboardBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        // Controls other than tab, line feed and carriage return are skipped.
        QTest::newRow("NUL and controls") << QByteArray("a\0b\x01" "c\x1b" "d\x7f" "e\xc2\x85" "f\x08g", 15)
                                          << QStringLiteral("abcdefg");
        QTest::newRow("tab, LF, CR, CRLF") << QByteArray("1\t2\n3\r4\r\n5") << QStringLiteral("1\t2\r3\r4\r5");
        // Bytes that are no UTF-8 (an encoded lone surrogate, a stray continuation byte,
        // a cut-off sequence) arrive as replacement characters.
        QTest::newRow("lone surrogate bytes") << QByteArray("x\xed\xa0\x80y") << QStringLiteral("x\uFFFD+y");
        QTest::newRow("stray and cut-off bytes") << QByteArray("p\x80q\xe6\x97r") << QStringLiteral("p\uFFFD+q\uFFFD+r");
        QTest::newRow("only controls") << QByteArray("\x01\x02\x03\0", 4) << QString();
    }

    void oddClipboardBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QVERIFY(setClipboard(bytes));
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(keyloom));
        chord(mainChord);
        if (!expected.isEmpty()) {
            const QRegularExpression pattern(QRegularExpression::anchoredPattern(expected));
            QTRY_VERIFY2_WITH_TIMEOUT(pattern.match(typed()).hasMatch(), qPrintable(typed()), deadlineMs);
        }
        QVERIFY(waitUntilIdle());
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(expected)).match(typed()).hasMatch(),
                 qPrintable(typed()));
        QCOMPARE(keyloom.process().state(), QProcess::Running);
        QVERIFY(keyloom.stop());
    }

    void hugeClipboardCancelledEarly()
    {
        QByteArray big;
        big.reserve(10'000'000);
        while (big.size() < 10'000'000)
            big += "0123456789 abcdefghijklmnopqrstuvwxyz \n";
        big.truncate(10'000'000);
        writeSpeed(30);
        QVERIFY(setClipboard(big));
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        // In a sanitizer build freed memory waits in a quarantine; give it back at once.
        QString asan = qEnvironmentVariable("ASAN_OPTIONS");
        asan += QStringLiteral("%1quarantine_size_mb=0:thread_local_quarantine_size_kb=0")
                    .arg(asan.isEmpty() ? QString() : QStringLiteral(":"));
        keyloom.setEnvironment(QStringLiteral("ASAN_OPTIONS"), asan);
        QVERIFY(startKeyloom(keyloom));
        const qint64 pid = keyloom.process().processId();
        const qint64 before = residentKb(pid);
        QVERIFY(before > 0);

        chord(mainChord);
        QTRY_VERIFY_WITH_TIMEOUT(typed().size() >= 3, deadlineMs);
        chord({XK_Escape});
        QVERIFY(waitUntilIdle());
        const QString got = typed();
        QVERIFY(QString::fromUtf8(big).replace(QLatin1Char('\n'), QLatin1Char('\r')).startsWith(got));
        QVERIFY2(got.size() < 2000, qPrintable(QString::number(got.size())));
        // The text (20 MB as UTF-16) is given back: well within half of it.
        QTRY_VERIFY2_WITH_TIMEOUT(residentKb(pid) < before + 10'000,
                                  qPrintable(QStringLiteral("%1 kB before, %2 kB now").arg(before).arg(residentKb(pid))),
                                  deadlineMs);
        QVERIFY(keyloom.stop());
    }

    void secondInstanceRacingTheFirst_data()
    {
        QTest::addColumn<int>("round");
        for (int i = 0; i < 3; ++i)
            QTest::addRow("round %d", i) << i;
    }

    void secondInstanceRacingTheFirst()
    {
        QVERIFY(setClipboard("once"));
        Keyloom first(m_displayName, m_config->path(), m_runtime->path());
        Keyloom second(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(first.start());
        QVERIFY(second.start());
        // Exactly one goes, cleanly, the other keeps running with the tray item.
        QTRY_VERIFY_WITH_TIMEOUT(first.process().state() == QProcess::NotRunning
                                     || second.process().state() == QProcess::NotRunning,
                                 deadlineMs);
        Keyloom &gone = first.process().state() == QProcess::NotRunning ? first : second;
        Keyloom &kept = &gone == &first ? second : first;
        QCOMPARE(gone.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(gone.process().exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(trayItemCount(), 1, deadlineMs);
        QCOMPARE(kept.process().state(), QProcess::Running);

        // One set of grabs: the shortcut types once. The opened settings window may hold the
        // focus, so the client takes it back first.
        m_client = std::make_unique<FocusClient>();
        QVERIFY(m_client->start(program("KEYLOOM_RECORDER"), {QString::fromLocal8Bit(m_displayName)},
                                m_displayName));
        chord(mainChord);
        QVERIFY2(waitForTyped(QStringLiteral("once")), qPrintable(typed()));
        QVERIFY(waitUntilIdle());
        QCOMPARE(typed(), QStringLiteral("once"));
        QCOMPARE(trayItemCount(), 1);
        QVERIFY(kept.stop());
    }

    // Typed texts may be secrets: the program cannot be dumped, and SIGQUIT ends it as
    // SIGTERM does rather than by writing a core.
    void quitSignalEndsItWithoutACore()
    {
        // Without CAP_SYS_PTRACE on either side (a user never has it; root gives it up here),
        // a process may open another one's memory only when that one is dumpable.
        const auto withoutPtrace = [] {
            if (prctl(PR_CAPBSET_DROP, CAP_SYS_PTRACE, 0, 0, 0) != 0 && geteuid() == 0)
                _exit(125);
        };
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        keyloom.process().setChildProcessModifier(withoutPtrace);
        QVERIFY(startKeyloom(keyloom));
        const qint64 pid = keyloom.process().processId();
        QProcess reader;
        reader.setChildProcessModifier(withoutPtrace);
        reader.start(QStringLiteral("head"),
                     {QStringLiteral("-c0"), QStringLiteral("/proc/%1/mem").arg(pid)});
        QVERIFY(reader.waitForFinished(deadlineMs));
        QCOMPARE(reader.exitCode(), 1); // could not open it

        QCOMPARE(kill(pid_t(pid), SIGQUIT), 0);
        QVERIFY(keyloom.process().waitForFinished(deadlineMs));
        if (keyloom.process().exitStatus() == QProcess::NormalExit)
            QCOMPARE(keyloom.process().exitCode(), 0);
        else
            QCOMPARE(keyloom.process().exitCode(), SIGTERM);
    }

    void typedTextNeverReachesTheOutput()
    {
        const QString secret = QStringLiteral("Zq7-secret-\u00E9t\u00E9-\u65E5\u672C-horse-battery-81726354");
        const QString other = QStringLiteral("Wv3-snippet-\u00FCber-staple-44018827");
        writePlaylist({secret, other}, 0, 5);
        // List mode first, then the same secret from the clipboard.
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(keyloom));
        chord(mainChord);
        QVERIFY2(waitForTyped(secret), qPrintable(typed()));
        QVERIFY(waitUntilIdle());
        chord(mainChord);
        QVERIFY2(waitForTyped(secret + other), qPrintable(typed()));
        QVERIFY(waitUntilIdle());
        QVERIFY(keyloom.stop());

        {
            QSettings settings(configPath(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("typingMode"), QStringLiteral("clipboard"));
        }
        QVERIFY(setClipboard(secret.toUtf8()));
        m_client->clear();
        Keyloom again(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(again));
        chord(mainChord);
        QVERIFY2(waitForTyped(secret), qPrintable(typed()));
        QVERIFY(waitUntilIdle());
        QVERIFY(again.stop());

        // No piece of either text, six characters or more, in what either run wrote.
        const QByteArray output = keyloom.output() + again.output();
        for (const QString &text : {secret, other}) {
            for (qsizetype i = 0; i + 6 <= text.size(); ++i) {
                const QByteArray piece = text.mid(i, 6).toUtf8();
                QVERIFY2(!output.contains(piece), piece.constData());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
