#include "KeyloomHarness.h"
#include "model/Snippet.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <csignal>

#define KeyCode XKeyCode
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#undef KeyCode

using namespace X11TestSupport;

namespace KeyloomHarness {

namespace {

struct WindowInfo {
    Window id = 0;
    int depth = 0; // 1 for a top-level window
    QByteArray windowClass;
    QByteArray title;
    bool viewable = false;
    bool popup = false;
};

// Every window below the root; windows may vanish meanwhile, so errors are ignored.
void collect(Display *display, Window window, int depth, QList<WindowInfo> &out)
{
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(display, window, &rootReturn, &parent, &children, &n))
        return;
    for (unsigned i = 0; i < n; ++i) {
        WindowInfo info;
        info.id = children[i];
        info.depth = depth + 1;
        XClassHint hint{};
        if (XGetClassHint(display, children[i], &hint)) {
            info.windowClass = hint.res_class;
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        XTextProperty property{};
        if (XGetWMName(display, children[i], &property) && property.value) {
            info.title = reinterpret_cast<const char *>(property.value);
            XFree(property.value);
        }
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes)) {
            info.viewable = attributes.map_state == IsViewable;
            info.popup = attributes.override_redirect;
        }
        out << info;
        collect(display, children[i], depth + 1, out);
    }
    if (children)
        XFree(children);
}

QList<WindowInfo> windows(Display *display)
{
    QList<WindowInfo> out;
    collect(display, DefaultRootWindow(display), 0, out);
    return out;
}

template <class Test> QList<Window> matching(Display *display, Test test)
{
    QList<Window> out;
    for (const WindowInfo &w : windows(display)) {
        if (test(w))
            out << w.id;
    }
    return out;
}

bool isTrayItem(const WindowInfo &w)
{
    return w.depth > 1 && w.windowClass == "keyloom";
}

QProcessEnvironment displayEnvironment(const QByteArray &display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(display));
    return env;
}

} // namespace

QString program(const char *variable)
{
    return QString::fromLocal8Bit(qgetenv(variable));
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition() && !deadline.hasExpired())
        QTest::qWait(20);
    return condition();
}

int trayItems(Display *display)
{
    return int(matching(display, isTrayItem).size());
}

int windowsTitled(Display *display, const QByteArray &prefix)
{
    return int(matching(display, [&](const WindowInfo &w) {
                   return w.depth == 1 && w.viewable && w.title.startsWith(prefix);
               }).size());
}

QByteArray trayItemPixels(Display *display)
{
    const Window item = matching(display, isTrayItem).value(0);
    XWindowAttributes attributes{};
    if (!item || !XGetWindowAttributes(display, item, &attributes))
        return {};
    XImage *image = XGetImage(display, item, 0, 0, unsigned(attributes.width),
                              unsigned(attributes.height), AllPlanes, ZPixmap);
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

Keyloom::Keyloom(const QByteArray &display, const QString &configHome, const QString &runtimeDir)
{
    QProcessEnvironment env = displayEnvironment(display);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("QT_IM_MODULE"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_process.setProcessEnvironment(env);
}

void Keyloom::setEnvironment(const QString &name, const QString &value)
{
    QProcessEnvironment env = m_process.processEnvironment();
    env.insert(name, value);
    m_process.setProcessEnvironment(env);
}

bool Keyloom::start()
{
    m_process.start(program("KEYLOOM_BIN"), {});
    return m_process.waitForStarted(deadlineMs);
}

bool Keyloom::stop()
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

QByteArray Keyloom::output()
{
    m_out += m_process.readAllStandardOutput();
    m_err += m_process.readAllStandardError();
    return m_out + m_err;
}

QString Desktop::missingTool()
{
    if (program("KEYLOOM_BIN").isEmpty() || program("KEYLOOM_RECORDER").isEmpty())
        return QStringLiteral("the program or the recording client");
    for (const QString &tool : {QStringLiteral("xclip"), QStringLiteral("trayer")}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    }
    return {};
}

bool Desktop::open(const char *stateVariable)
{
    name = fixtureDisplay(stateVariable);
    display = name.isEmpty() ? nullptr : XOpenDisplay(name.constData());
    if (!display)
        return false;
    // Windows come and go under the tree queries; their errors must not end the test.
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
    m_keymap = keymapSnapshot(display);
    // A tray host, so the program shows its item instead of its settings window.
    m_trayHost.setProcessEnvironment(displayEnvironment(name));
    m_trayHost.start(QStringLiteral("trayer"),
                     QStringLiteral("--edge top --align right --widthtype pixel --width 120 "
                                    "--height 32")
                         .split(QLatin1Char(' ')));
    // Ready once it owns the tray selection and shows; before that the program would take
    // the desktop for one without a tray.
    const Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
    return m_trayHost.waitForStarted(deadlineMs) && waitFor([&] {
               const QList<WindowInfo> all = windows(display);
               return XGetSelectionOwner(display, selection) != None &&
                      std::any_of(all.begin(), all.end(), [](const WindowInfo &w) {
                          return w.depth == 1 && w.viewable && w.windowClass == "trayer";
                      });
           });
}

void Desktop::close()
{
    m_trayHost.kill();
    m_trayHost.waitForFinished(deadlineMs);
    if (display)
        XCloseDisplay(display);
    display = nullptr;
}

bool Desktop::init()
{
    config = std::make_unique<QTemporaryDir>();
    runtime = std::make_unique<QTemporaryDir>();
    QFile::setPermissions(runtime->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return restartClient();
}

bool Desktop::cleanup()
{
    client.reset();
    stopClipboardOwner();
    return waitFor([this] { return keysDown(display).isEmpty(); }) &&
           waitFor([this] { return keymapSnapshot(display) == m_keymap; });
}

std::unique_ptr<Keyloom> Desktop::keyloom(const QByteArray &on) const
{
    return std::make_unique<Keyloom>(on.isEmpty() ? name : on, config->path(), runtime->path());
}

bool Desktop::startKeyloom(Keyloom &keyloom)
{
    if (!keyloom.start())
        return false;
    // The tray item is shown only after the shortcuts are grabbed.
    if (waitFor([&] {
            return trayItems(display) == 1 || keyloom.process().state() != QProcess::Running;
        }) &&
        trayItems(display) == 1)
        return true;
    qWarning("keyloom did not show its tray item; it wrote: %s", keyloom.output().constData());
    return false;
}

bool Desktop::restartClient()
{
    client = std::make_unique<FocusClient>();
    return client->start(program("KEYLOOM_RECORDER"), {QString::fromLocal8Bit(name)}, name);
}

void Desktop::chord(const QList<quint32> &keys, Display *on)
{
    on = on ? on : display;
    for (quint32 key : keys)
        fakeKey(on, key, true);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
        fakeKey(on, *it, false);
}

QString Desktop::typed(FocusClient *from)
{
    from = from ? from : client.get();
    from->poll();
    QString out;
    for (const Press &press : from->presses()) {
        if (press.keysym != XK_Escape)
            out += press.text;
    }
    return out;
}

int Desktop::escapes()
{
    client->poll();
    const QList<Press> presses = client->presses();
    return int(std::count_if(presses.begin(), presses.end(),
                             [](const Press &press) { return press.keysym == XK_Escape; }));
}

bool Desktop::waitForTyped(const QString &expected)
{
    if (waitFor([&] { return typed() == expected; }))
        return true;
    qWarning("typed \"%s\", expected \"%s\"", qPrintable(typed()), qPrintable(expected));
    return false;
}

bool Desktop::waitUntilIdle()
{
    const QDeadlineTimer deadline(deadlineMs);
    while (!deadline.hasExpired()) {
        const int before = escapes();
        chord({XK_Escape});
        if (waitFor([&] { return escapes() > before; }, 1000))
            return true;
    }
    return false;
}

bool Desktop::chooseFromMenu(int upPresses)
{
    // A click opens the menu, which then holds the keyboard; Up from no selection goes to
    // the last item.
    const Window item = matching(display, isTrayItem).value(0);
    XWindowAttributes attributes{};
    if (!item || !XGetWindowAttributes(display, item, &attributes))
        return false;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, item, DefaultRootWindow(display), attributes.width / 2,
                          attributes.height / 2, &x, &y, &child);
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    const auto menuOpen = [this] {
        return matching(display, [](const WindowInfo &w) {
                   return w.depth == 1 && w.viewable && w.popup && w.windowClass == "keyloom";
               }).size() == 1;
    };
    if (!waitFor(menuOpen))
        return false;
    for (int i = 0; i < upPresses; ++i)
        chord({XK_Up});
    chord({XK_Return});
    return true;
}

bool Desktop::quitFromMenu(Keyloom &keyloom)
{
    if (!chooseFromMenu(1) || !keyloom.process().waitForFinished(deadlineMs))
        return false;
    return keyloom.process().exitStatus() == QProcess::NormalExit &&
           keyloom.process().exitCode() == 0;
}

void Desktop::writeSettings(const QList<std::pair<QString, QVariant>> &values)
{
    QDir().mkpath(configDir());
    QSettings settings(configPath(), QSettings::IniFormat);
    for (const auto &[key, value] : values)
        settings.setValue(key, value);
}

void Desktop::writePlaylist(const QStringList &texts, qint64 index, double speedMs)
{
    SnippetList list;
    for (const QString &text : texts)
        list.append(Snippet{QUuid::createUuid(), text});
    writeSettings({{QStringLiteral("typingMode"), QStringLiteral("playlist")},
                   {QStringLiteral("currentSnippetIndex"), index},
                   {QStringLiteral("typingSpeedMs"), speedMs},
                   {QStringLiteral("snippets"), encodeSnippets(list)}});
}

QVariant Desktop::stored(const QString &key) const
{
    return QSettings(configPath(), QSettings::IniFormat).value(key);
}

bool Desktop::waitForStoredIndex(qint64 index) const
{
    return waitFor(
        [&] { return stored(QStringLiteral("currentSnippetIndex")).toLongLong() == index; });
}

bool Desktop::setClipboard(const QByteArray &bytes, const QByteArray &on)
{
    stopClipboardOwner();
    clipboardOwner = std::make_unique<QProcess>();
    clipboardOwner->setProcessEnvironment(displayEnvironment(on.isEmpty() ? name : on));
    clipboardOwner->start(QStringLiteral("xclip"),
                          {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                           QStringLiteral("clipboard"), QStringLiteral("-i")});
    if (!clipboardOwner->waitForStarted(deadlineMs))
        return false;
    clipboardOwner->write(bytes);
    clipboardOwner->closeWriteChannel();
    // Ready once another reader gets the bytes back.
    return waitFor([&] { return readClipboard(on) == bytes; }, 2 * deadlineMs);
}

void Desktop::stopClipboardOwner()
{
    if (!clipboardOwner)
        return;
    clipboardOwner->kill();
    clipboardOwner->waitForFinished(deadlineMs);
    clipboardOwner.reset();
}

std::optional<QByteArray> Desktop::readClipboard(const QByteArray &on)
{
    QProcess reader;
    reader.setProcessEnvironment(displayEnvironment(on.isEmpty() ? name : on));
    reader.start(QStringLiteral("xclip"),
                 {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
    if (!reader.waitForFinished(deadlineMs) || reader.exitCode() != 0)
        return std::nullopt;
    return reader.readAllStandardOutput();
}

} // namespace KeyloomHarness
