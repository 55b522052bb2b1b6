#include "KeyloomHarness.h"
#include "model/Snippet.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSettings>
#include <QTest>

#define KeyCode XKeyCode
#include <X11/Xlib.h>
#undef KeyCode

using namespace X11TestSupport;

namespace KeyloomHarness {

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    // Held once is enough: a read of the window tree races windows coming and going, so a
    // second look may miss what the first saw.
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
}

static QProcessEnvironment environment(const QByteArray &display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!display.isEmpty())
        env.insert("DISPLAY", QString::fromLocal8Bit(display));
    return env;
}

std::optional<QByteArray> run(const QString &program, const QStringList &arguments,
                              const QByteArray &display)
{
    QProcess p;
    p.setProcessEnvironment(environment(display));
    p.start(program, arguments);
    if (!p.waitForFinished(deadlineMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode())
        return std::nullopt;
    return p.readAllStandardOutput();
}

QStringList search(const QByteArray &display, const QStringList &arguments)
{
    const auto ids = run("xdotool", QStringList{"search"} + arguments, display);
    return QString(ids.value_or("")).split('\n', Qt::SkipEmptyParts);
}

QString trayItem(const QByteArray &display)
{
    // Keyloom's windows below top level: embedded in the tray.
    QStringList items = search(display, {"--class", "^keyloom$"});
    for (const QString &top : search(display, {"--maxdepth", "1", "--class", "^keyloom$"}))
        items.removeAll(top);
    return items.size() == 1 ? items[0] : QString();
}

void DesktopTest::initTestCase()
{
    name = fixtureDisplay("KEYLOOM_XVFB_STATE");
    display = name.isEmpty() ? nullptr : XOpenDisplay(name.constData());
    QVERIFY(display && !qEnvironmentVariableIsEmpty("KEYLOOM_BIN"));
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; }); // windows come and go
    m_keymap = keymapSnapshot(display);
    // A tray host, so the program shows its item instead of its settings window. Ready once it
    // owns the tray selection and shows; before that the program would see no tray.
    m_trayHost.setProcessEnvironment(environment(name));
    m_trayHost.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel",
                                "--width", "120", "--height", "32"});
    const Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
    QVERIFY(waitFor([&] {
        return XGetSelectionOwner(display, selection) != None &&
               !search(name, {"--onlyvisible", "--maxdepth", "1", "--class", "^trayer$"}).isEmpty();
    }));
}

void DesktopTest::init()
{
    config = std::make_unique<QTemporaryDir>();
    runtime = std::make_unique<QTemporaryDir>();
    m_output.clear();
    QVERIFY(restartClient());
}

void DesktopTest::cleanup()
{
    for (QProcess &k : m_keylooms) {
        k.terminate();
        if (!k.waitForFinished(deadlineMs))
            k.kill(), k.waitForFinished();
    }
    const QByteArray said = output();
    const QString got = typed();
    m_keylooms.clear();
    client.reset();
    clipboardOwner.kill();
    clipboardOwner.waitForFinished();
    // Typed texts may be secrets: no six characters of them in a row in what it wrote.
    for (qsizetype i = 0; i + 6 <= got.size(); ++i)
        QVERIFY2(!said.contains(got.mid(i, 6).toUtf8()), qPrintable(got.mid(i, 6)));
    QVERIFY2(waitFor([this] { return keysDown(display).isEmpty(); }), "a key is left down");
    QVERIFY2(waitFor([this] { return keymapSnapshot(display) == m_keymap; }), "keymap changed");
}

QProcess &DesktopTest::keyloom(const QByteArray &on)
{
    QProcess &k = m_keylooms.emplace_back();
    QProcessEnvironment env = environment(on.isEmpty() ? name : on);
    env.insert("XDG_CONFIG_HOME", config->path());
    env.insert("XDG_RUNTIME_DIR", runtime->path());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("LC_ALL", "C.UTF-8");
    env.remove("QT_IM_MODULE");
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    k.setProcessEnvironment(env);
    k.setProcessChannelMode(QProcess::MergedChannels);
    k.setProgram(qEnvironmentVariable("KEYLOOM_BIN"));
    return k;
}

int DesktopTest::command(const QString &option)
{
    QProcess &k = keyloom();
    k.setArguments({option});
    k.start();
    return k.waitForFinished(deadlineMs) && k.exitStatus() == QProcess::NormalExit ? k.exitCode()
                                                                                   : -1;
}

bool DesktopTest::startKeyloom(QProcess &k)
{
    // The tray item is shown only after the shortcuts are grabbed.
    k.start();
    if (waitFor([&] { return !trayItem(name).isEmpty() || k.state() == QProcess::NotRunning; }) &&
        !trayItem(name).isEmpty())
        return true;
    qWarning("keyloom did not show its tray item; it wrote: %s", output().constData());
    return false;
}

QByteArray DesktopTest::output()
{
    for (QProcess &k : m_keylooms)
        m_output += k.readAll();
    return m_output;
}

bool DesktopTest::restartClient()
{
    client = std::make_unique<FocusClient>();
    return client->start(qEnvironmentVariable("KEYLOOM_RECORDER"), {QString(name)}, name);
}

void DesktopTest::chord(const QList<quint32> &keys, Display *on)
{
    for (quint32 key : keys)
        fakeKey(on ? on : display, key, true);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
        fakeKey(on ? on : display, *it, false);
}

QString DesktopTest::typed(FocusClient *from)
{
    from = from ? from : client.get();
    from->poll();
    return from->text().remove(QChar(0x1b));
}

bool DesktopTest::waitForTyped(const QString &expected)
{
    return waitFor([&] { return typed() == expected; }) ||
           (qWarning("typed \"%s\", expected \"%s\"", qPrintable(typed()), qPrintable(expected)),
            false);
}

bool DesktopTest::waitUntilIdle()
{
    const auto escapes = [this] { return client->poll(), client->text().count(QChar(0x1b)); };
    for (QDeadlineTimer deadline(deadlineMs); !deadline.hasExpired();) {
        const auto before = escapes();
        chord({XK_Escape});
        if (waitFor([&] { return escapes() > before; }, 1000))
            return true;
    }
    return false;
}

bool DesktopTest::chooseFromMenu(int upPresses)
{
    // A click opens the menu, which then holds the keyboard; Up from no selection goes to
    // the last item.
    const QString item = trayItem(name);
    if (item.isEmpty() ||
        !run("xdotool", {"mousemove", "--window", item, "4", "4", "click", "1"}, name) ||
        !waitFor([this] {
            return search(name, {"--onlyvisible", "--maxdepth", "1", "--class", "^keyloom$"})
                       .size() == 1;
        }))
        return false;
    for (int i = 0; i < upPresses; ++i)
        chord({XK_Up});
    chord({XK_Return});
    return true;
}

int DesktopTest::storedIndex() const
{
    QFile file(configPath());
    const QByteArray key = "currentSnippetIndex=";
    for (const QByteArray &line :
         file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>{}) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().toInt();
    }
    return -1;
}

void DesktopTest::writeSettings(const QList<std::pair<QString, QVariant>> &values)
{
    QSettings settings(configPath(), QSettings::IniFormat);
    for (const auto &[key, value] : values)
        settings.setValue(key, value);
}

void DesktopTest::writePlaylist(const QStringList &texts)
{
    SnippetList list;
    for (const QString &text : texts)
        list.append(Snippet{QUuid::createUuid(), text});
    writeSettings({{"typingMode", "playlist"},
                   {"currentSnippetIndex", 0},
                   {"snippets", encodeSnippets(list)}});
}

bool DesktopTest::setClipboard(const QByteArray &bytes, const QByteArray &on)
{
    clipboardOwner.kill();
    clipboardOwner.waitForFinished();
    clipboardOwner.setProcessEnvironment(environment(on.isEmpty() ? name : on));
    clipboardOwner.start("xclip", {"-quiet", "-selection", "clipboard", "-i"});
    clipboardOwner.write(bytes);
    clipboardOwner.closeWriteChannel();
    // Ready once another reader gets the bytes back.
    return waitFor([&] {
        return run("xclip", {"-o", "-selection", "clipboard"}, on.isEmpty() ? name : on) == bytes;
    });
}

QByteArray DesktopTest::icon()
{
    return run("import", {"-window", trayItem(name), "rgb:-"}, name).value_or("");
}

QByteArray DesktopTest::settledIcon()
{
    QByteArray last;
    return waitFor([&] { return !(last = icon()).isEmpty() && last == icon(); }) ? last : "";
}

} // namespace KeyloomHarness
