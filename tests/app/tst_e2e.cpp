// The real keyloom program on a private X server, driven only from outside as a
// user would: XTEST key presses, the clipboard set by another process, a tray
// host, and a focused client that records what it receives.
#include "X11TestSupport.h"
#include "model/Snippet.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>


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
const QList<quint32> prevChord{XK_Control_L, XK_Alt_L, XK_Super_L, XK_semicolon};

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

// The program's window embedded in the tray, or 0.
Window trayItemWindow(Display *display, Window window, Window root)
{
    Window found = 0, rootReturn = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(display, window, &rootReturn, &parent, &children, &n))
        return 0;
    for (unsigned i = 0; i < n && !found; ++i) {
        XClassHint hint{};
        if (window != root && XGetClassHint(display, children[i], &hint)) {
            if (hint.res_class && QByteArray(hint.res_class) == "keyloom")
                found = children[i];
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        if (!found)
            found = trayItemWindow(display, children[i], root);
    }
    if (children)
        XFree(children);
    return found;
}

// The pixels the tray item shows now.
QByteArray trayItemPixels(Display *display)
{
    const Window item = trayItemWindow(display, DefaultRootWindow(display), DefaultRootWindow(display));
    XWindowAttributes attributes{};
    if (!item || !XGetWindowAttributes(display, item, &attributes))
        return {};
    XImage *image = XGetImage(display, item, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                              AllPlanes, ZPixmap);
    if (!image)
        return {};
    QByteArray out;
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x)
            out += QByteArray::number(qulonglong(XGetPixel(image, x, y)), 16) + ',';
    }
    XDestroyImage(image);
    return out;
}

// Top-level windows whose title starts with the text.
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
            if (QByteArray(reinterpret_cast<const char *>(property.value)).startsWith(prefix)) {
                XWindowAttributes attributes{};
                if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
                    ++count;
            }
            XFree(property.value);
        }
    }
    if (children)
        XFree(children);
    return count;
}

// The keyloom binary in a process of its own, with its own config and runtime directories.
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
        // Its standard error joins the test log, where a failure needs it.
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }

    ~Keyloom() { stop(); }

    bool start()
    {
        m_process.start(program("KEYLOOM_BIN"), {});
        return m_process.waitForStarted(deadlineMs);
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(deadlineMs)) {
            m_process.kill();
            m_process.waitForFinished(deadlineMs);
        }
    }

    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

QString withReturns(QString text)
{
    // The focused client sees Return for a line feed and reports it as a carriage return.
    return text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
}

} // namespace

class TestEndToEnd : public QObject {
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

    QString configPath() const { return m_config->filePath(QStringLiteral("keyloom/keyloom.conf")); }

    void chord(const QList<quint32> &keys)
    {
        for (quint32 key : keys)
            fakeKey(m_display, key, true);
        for (auto it = keys.rbegin(); it != keys.rend(); ++it)
            fakeKey(m_display, *it, false);
    }

    // What the client received, without the Esc presses of idle probes.
    QString typed()
    {
        m_client->poll();
        QString out;
        for (const Press &press : m_client->presses()) {
            if (press.keysym != XK_Escape)
                out += press.text;
        }
        return out;
    }

    int escapesReceived()
    {
        m_client->poll();
        int n = 0;
        for (const Press &press : m_client->presses())
            n += press.keysym == XK_Escape;
        return n;
    }

    // Presses Esc until one reaches the client: Esc is only taken while a run is in
    // progress, so that proves the run is over and nothing more will be typed.
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
        if (typed() == expected)
            return true;
        QByteArray seen;
        for (const Press &press : m_client->presses())
            seen += QByteArray::number(press.keysym, 16) + ' ';
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(m_display, &focus, &revert);
        XTextProperty name{};
        XGetWMName(m_display, focus, &name);
        qWarning("the client received the keysyms %s; the focus is on 0x%lx %s", seen.constData(), focus,
                 name.value ? reinterpret_cast<const char *>(name.value) : "");
        return false;
    }

    QVariant storedValue(const QString &key) const
    {
        QSettings settings(configPath(), QSettings::IniFormat);
        return settings.value(key);
    }

    bool waitForStoredIndex(qint64 index) const
    {
        const QDeadlineTimer deadline(deadlineMs);
        while (storedValue(QStringLiteral("currentSnippetIndex")).toLongLong() != index && !deadline.hasExpired())
            QTest::qWait(20);
        return storedValue(QStringLiteral("currentSnippetIndex")).toLongLong() == index;
    }

    int trayItemCount() { return trayItems(m_display, DefaultRootWindow(m_display), DefaultRootWindow(m_display)); }

    bool startKeyloom(Keyloom &keyloom)
    {
        if (!keyloom.start())
            return false;
        // The tray item is shown only after the shortcuts are grabbed.
        const QDeadlineTimer deadline(deadlineMs);
        while (trayItemCount() != 1 && !deadline.hasExpired()
               && keyloom.process().state() == QProcess::Running)
            QTest::qWait(50);
        if (trayItemCount() == 1)
            return true;
        qWarning("keyloom did not show its tray item; it wrote: %s %s",
                 keyloom.process().readAllStandardOutput().constData(),
                 keyloom.process().readAllStandardError().constData());
        return false;
    }

    void writeSettings(const QList<std::pair<QString, QVariant>> &values)
    {
        QDir().mkpath(m_config->filePath(QStringLiteral("keyloom")));
        QSettings settings(configPath(), QSettings::IniFormat);
        for (const auto &[key, value] : values)
            settings.setValue(key, value);
    }

    void writePlaylist(const QStringList &texts, qint64 index, double speedMs = 5)
    {
        SnippetList list;
        for (const QString &text : texts)
            list.append(Snippet{QUuid::createUuid(), text});
        writeSettings({{QStringLiteral("typingMode"), QStringLiteral("playlist")},
                       {QStringLiteral("currentSnippetIndex"), index},
                       {QStringLiteral("typingSpeedMs"), speedMs},
                       {QStringLiteral("snippets"), encodeSnippets(list)}});
    }

    void stopClipboardOwner()
    {
        if (!m_clipboardOwner)
            return;
        m_clipboardOwner->kill();
        m_clipboardOwner->waitForFinished(deadlineMs);
        m_clipboardOwner.reset();
    }

    // Another program owns the clipboard with this text until the test ends.
    bool setClipboard(const QString &text)
    {
        stopClipboardOwner();
        m_clipboardOwner = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(m_displayName));
        m_clipboardOwner->setProcessEnvironment(env);
        m_clipboardOwner->start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                                          QStringLiteral("clipboard"), QStringLiteral("-i")});
        if (!m_clipboardOwner->waitForStarted(deadlineMs))
            return false;
        m_clipboardOwner->write(text.toUtf8());
        m_clipboardOwner->closeWriteChannel();
        // Ready once another reader gets the text back.
        const QDeadlineTimer deadline(deadlineMs);
        while (!deadline.hasExpired()) {
            QProcess reader;
            reader.setProcessEnvironment(env);
            reader.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"),
                                                   QStringLiteral("clipboard")});
            if (reader.waitForFinished(deadlineMs) && reader.readAllStandardOutput() == text.toUtf8())
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // Viewable top-level windows of a program, by its class.
    int viewableWindowsOfClass(const QByteArray &windowClass)
    {
        Window root = DefaultRootWindow(m_display), rootReturn = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        int count = 0;
        if (!XQueryTree(m_display, root, &rootReturn, &parent, &children, &n))
            return 0;
        for (unsigned i = 0; i < n; ++i) {
            XWindowAttributes attributes{};
            XClassHint hint{};
            if (!XGetWindowAttributes(m_display, children[i], &attributes) || attributes.map_state != IsViewable
                || !XGetClassHint(m_display, children[i], &hint))
                continue;
            count += hint.res_class && QByteArray(hint.res_class) == windowClass;
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        if (children)
            XFree(children);
        return count;
    }

    // Viewable pop-up windows of the program: its open menu.
    int openMenus()
    {
        Window root = DefaultRootWindow(m_display), rootReturn = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        int count = 0;
        if (!XQueryTree(m_display, root, &rootReturn, &parent, &children, &n))
            return 0;
        for (unsigned i = 0; i < n; ++i) {
            XWindowAttributes attributes{};
            XClassHint hint{};
            if (!XGetWindowAttributes(m_display, children[i], &attributes) || attributes.map_state != IsViewable
                || !attributes.override_redirect || !XGetClassHint(m_display, children[i], &hint))
                continue;
            count += hint.res_class && QByteArray(hint.res_class) == "keyloom";
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        if (children)
            XFree(children);
        return count;
    }

    // Opens the tray item's menu with a click and chooses an item by keyboard: the open
    // menu holds the keyboard, and Up from no selection goes to the last item.
    bool chooseFromMenu(int upPresses)
    {
        const Window item = trayItemWindow(m_display, DefaultRootWindow(m_display), DefaultRootWindow(m_display));
        if (!item)
            return false;
        XWindowAttributes attributes{};
        XGetWindowAttributes(m_display, item, &attributes);
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(m_display, item, DefaultRootWindow(m_display), attributes.width / 2,
                              attributes.height / 2, &x, &y, &child);
        XTestFakeMotionEvent(m_display, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(m_display, 1, True, CurrentTime);
        XTestFakeButtonEvent(m_display, 1, False, CurrentTime);
        XSync(m_display, False);
        const QDeadlineTimer deadline(deadlineMs);
        while (openMenus() != 1 && !deadline.hasExpired())
            QTest::qWait(20);
        if (openMenus() != 1)
            return false;
        for (int i = 0; i < upPresses; ++i)
            chord({XK_Up});
        chord({XK_Return});
        return true;
    }

    // Chooses "Quit Keyloom", the last item, and waits for a clean exit.
    bool quitFromMenu(Keyloom &keyloom)
    {
        if (!chooseFromMenu(1))
            return false;
        keyloom.process().waitForFinished(deadlineMs);
        if (keyloom.process().state() != QProcess::NotRunning || keyloom.process().exitCode() != 0)
            qWarning("keyloom did not quit cleanly: %s", keyloom.process().readAllStandardError().constData());
        return keyloom.process().state() == QProcess::NotRunning
            && keyloom.process().exitStatus() == QProcess::NormalExit && keyloom.process().exitCode() == 0;
    }

    // What another client reads from the clipboard; nothing when it gets no text.
    std::optional<QByteArray> readClipboard()
    {
        QProcess reader;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(m_displayName));
        reader.setProcessEnvironment(env);
        reader.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"),
                                               QStringLiteral("clipboard")});
        if (!reader.waitForFinished(deadlineMs) || reader.exitCode() != 0)
            return std::nullopt;
        return reader.readAllStandardOutput();
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
        m_displayName = fixtureDisplay("KEYLOOM_E2E_XVFB_STATE");
        QVERIFY(!m_displayName.isEmpty());
        m_display = XOpenDisplay(m_displayName.constData());
        QVERIFY(m_display);
        m_keymap = keymapSnapshot(m_display);

        // A tray host, so the program shows its item instead of its settings window.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(m_displayName));
        m_trayHost.setProcessEnvironment(env);
        m_trayHost.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                                    QStringLiteral("--align"), QStringLiteral("right"),
                                                    QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                                                    QStringLiteral("--width"), QStringLiteral("120"),
                                                    QStringLiteral("--height"), QStringLiteral("32")});
        QVERIFY(m_trayHost.waitForStarted(deadlineMs));
        // Ready once it owns the tray selection; before that the program would take the
        // desktop for one without a tray and open its settings window.
        const Atom traySelection = XInternAtom(m_display, "_NET_SYSTEM_TRAY_S0", False);
        QTRY_VERIFY_WITH_TIMEOUT(XGetSelectionOwner(m_display, traySelection) != None, deadlineMs);
        QTRY_VERIFY_WITH_TIMEOUT(viewableWindowsOfClass("trayer") > 0, deadlineMs);
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
        // No key left down and every keymap entry given back, whatever the test did.
        QTRY_VERIFY_WITH_TIMEOUT(keysDown(m_display).isEmpty(), deadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(keymapSnapshot(m_display), m_keymap, deadlineMs);
    }

    void clipboardModeTypesExactly()
    {
        const QString text = QStringLiteral("Gr\u00FC\u00DFe, \u65E5\u672C! caf\u00E9 e\u0301\n\u20AC 42\tok");
        QVERIFY(setClipboard(text));
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(keyloom));

        chord(mainChord);
        QVERIFY2(waitForTyped(withReturns(text)), qPrintable(typed()));
        QVERIFY(waitUntilIdle());
        QCOMPARE(typed(), withReturns(text));
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
        QString text;
        for (int i = 0; i < 40; ++i)
            text += QStringLiteral("e\u0301");
        writeSettings({{QStringLiteral("typingSpeedMs"), 150.0}});
        QVERIFY(setClipboard(text));
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(keyloom));

        // The icon drawn while idle, once it has settled in the tray.
        QByteArray idle;
        QTRY_VERIFY_WITH_TIMEOUT(!(idle = trayItemPixels(m_display)).isEmpty() && idle == trayItemPixels(m_display),
                                 deadlineMs);

        chord(mainChord);
        QTRY_VERIFY_WITH_TIMEOUT(typed().size() >= 2, deadlineMs);
        // While the run goes on the item shows the other icon.
        QTRY_VERIFY_WITH_TIMEOUT(trayItemPixels(m_display) != idle, deadlineMs);
        chord(stopKeys);
        QVERIFY(waitUntilIdle());
        QTRY_COMPARE_WITH_TIMEOUT(trayItemPixels(m_display), idle, deadlineMs);
        const QString got = typed();
        QVERIFY2(got.size() < text.size(), qPrintable(got));
        QVERIFY(text.startsWith(got));
        QCOMPARE(got.size() % 2, 0);
    }

    void clearClipboardFromTheMenu()
    {
        QVERIFY(setClipboard(QStringLiteral("secret")));
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(keyloom));
        // Quit, Settings..., Clear Clipboard: three up from the bottom.
        QVERIFY(chooseFromMenu(3));
        QTRY_VERIFY_WITH_TIMEOUT(readClipboard().value_or(QByteArray()).isEmpty(), deadlineMs);
        // The program still runs, and the shortcut now has nothing to type.
        QCOMPARE(keyloom.process().state(), QProcess::Running);
        chord(mainChord);
        QVERIFY(waitUntilIdle());
        QCOMPARE(typed(), QString());
    }

    void escapeWhileIdleReachesTheClient()
    {
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(keyloom));
        chord({XK_Escape});
        QTRY_COMPARE_WITH_TIMEOUT(escapesReceived(), 1, deadlineMs);
    }

    void listModeStepsAndPersists()
    {
        writePlaylist({QStringLiteral("one "), QStringLiteral("two "), QStringLiteral("three ")}, 0);
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(keyloom));

        const QStringList expected{QStringLiteral("one "), QStringLiteral("two "), QStringLiteral("three "),
                                   QStringLiteral("one ")};
        const QList<qint64> indexAfter{1, 2, 0, 1};
        QString all;
        for (int i = 0; i < expected.size(); ++i) {
            chord(mainChord);
            all += expected.at(i);
            QVERIFY2(waitForTyped(all), qPrintable(typed()));
            QVERIFY(waitForStoredIndex(indexAfter.at(i)));
            // The index moves just before the run ends; a press before that would stop it.
            QVERIFY(waitUntilIdle());
        }

        chord(prevChord);
        QVERIFY(waitForStoredIndex(0));
        chord(prevChord);
        QVERIFY(waitForStoredIndex(2)); // wraps backwards too
        chord(mainChord);
        all += QStringLiteral("three ");
        QVERIFY2(waitForTyped(all), qPrintable(typed()));
        QVERIFY(waitForStoredIndex(0));
    }

    void restartKeepsEverything()
    {
        const QStringList texts{QStringLiteral("alpha "), QStringLiteral("beta "), QStringLiteral("gamma ")};
        writePlaylist(texts, 1, 12);
        {
            Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
            QVERIFY(startKeyloom(keyloom));
            chord(mainChord);
            QVERIFY(waitForTyped(QStringLiteral("beta ")));
            QVERIFY(waitForStoredIndex(2));
            QVERIFY(waitUntilIdle());
            QVERIFY(quitFromMenu(keyloom));
        }
        QCOMPARE(trayItemCount(), 0);
        const QByteArray before = [this] {
            QFile file(configPath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();

        Keyloom again(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(again));
        m_client->clear();
        chord(mainChord);
        QVERIFY2(waitForTyped(QStringLiteral("gamma ")), qPrintable(typed()));
        QVERIFY(waitForStoredIndex(0));
        QCOMPARE(storedValue(QStringLiteral("typingSpeedMs")).toDouble(), 12.0);
        QCOMPARE(storedValue(QStringLiteral("typingMode")).toString(), QStringLiteral("playlist"));
        QCOMPARE(decodeSnippets(storedValue(QStringLiteral("snippets")).toByteArray()).value_or(SnippetList()).size(), 3);
        QVERIFY(before.contains("snippets="));
    }

    void garbageSettingsStartWithDefaults()
    {
        const QByteArray garbage = "[General]\n"
                                   "typingSpeedMs=fast\n"
                                   "typingMode=sideways\n"
                                   "hotkeyKeyCode=semicolon\n"
                                   "hotkeyControl=perhaps\n"
                                   "currentSnippetIndex=minus one\n"
                                   "snippets=not-json-but-keep-me-42\n";
        QDir().mkpath(m_config->filePath(QStringLiteral("keyloom")));
        {
            QFile file(configPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(garbage);
        }
        QVERIFY(setClipboard(QStringLiteral("fine")));
        Keyloom keyloom(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(keyloom));

        // Default mode and shortcut.
        chord(mainChord);
        QVERIFY2(waitForTyped(QStringLiteral("fine")), qPrintable(typed()));
        QVERIFY(waitUntilIdle());
        QVERIFY(quitFromMenu(keyloom));

        QFile file(configPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().contains("not-json-but-keep-me-42"), "the unreadable snippets were lost");
    }

    void startsWithoutPermissionOrTray()
    {
        // A server without XTEST: no shortcut can be watched and nothing typed.
        const QByteArray display = fixtureDisplay("KEYLOOM_E2E_NOXTEST_STATE");
        QVERIFY(!display.isEmpty());
        Display *x = XOpenDisplay(display.constData());
        QVERIFY(x);
        const auto closeDisplay = qScopeGuard([x] { XCloseDisplay(x); });

        Keyloom keyloom(display, m_config->path(), m_runtime->path());
        QVERIFY(keyloom.start());
        // Without a tray the settings window stands in, and start-up went on after the tap failed.
        QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(x, "Keyloom Settings"), 1, deadlineMs);
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT(
            (output += keyloom.process().readAllStandardOutput())
                .contains("[Keyloom] Failed to create event tap - check Accessibility permissions.\n"),
            deadlineMs);
        QCOMPARE(trayItems(x, DefaultRootWindow(x), DefaultRootWindow(x)), 0);

        // A tray that starts later gets the item.
        QProcess tray;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(display));
        tray.setProcessEnvironment(env);
        tray.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top")});
        QVERIFY(tray.waitForStarted(deadlineMs));
        const auto stopTray = qScopeGuard([&tray] {
            tray.kill();
            tray.waitForFinished(deadlineMs);
        });
        QTRY_COMPARE_WITH_TIMEOUT(trayItems(x, DefaultRootWindow(x), DefaultRootWindow(x)), 1, deadlineMs);
        QVERIFY(keyloom.process().state() == QProcess::Running);
    }

    void secondInstanceWakesTheFirst()
    {
        QVERIFY(setClipboard(QStringLiteral("once")));
        Keyloom first(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(startKeyloom(first));

        Keyloom second(m_displayName, m_config->path(), m_runtime->path());
        QVERIFY(second.start());
        QVERIFY(second.process().waitForFinished(deadlineMs));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 0);
        QCOMPARE(trayItemCount(), 1);
        // The running one opened its settings window.
        QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(m_display, "Keyloom Settings"), 1, deadlineMs);

        // Still exactly one set of grabs: the shortcut types once.
        m_client = std::make_unique<FocusClient>();
        QVERIFY(m_client->start(program("KEYLOOM_RECORDER"), {QString::fromLocal8Bit(m_displayName)},
                                m_displayName));
        chord(mainChord);
        QVERIFY2(waitForTyped(QStringLiteral("once")), qPrintable(typed()));
        QVERIFY(waitUntilIdle());
        QCOMPARE(typed(), QStringLiteral("once"));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
