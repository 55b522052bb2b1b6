// The program on a headless sway (sway.sh), KWin or mutter (desktop.sh, typing through the
// desktop portal), driven by its command line as a desktop's own shortcut would drive it, typing into
// real receivers: a terminal in raw mode, a Qt field on Wayland and one under Xwayland. The
// text comes through the Wayland clipboard.
#include "QtFieldOutput.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

enum class Receiver { Terminal, QtWayland, QtXwayland };

QString env(const char *name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

QString stateValue(const QString &key)
{
    QFile file(env("KEYLOOM_SWAY_STATE"));
    if (file.open(QIODevice::ReadOnly))
        for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n'))
            if (line.startsWith(key + u'='))
                return line.mid(key.size() + 1);
    return {};
}

// Waits with events going on, so the receivers' output is read meanwhile.
bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition() && !deadline.hasExpired())
        QTest::qWait(20);
    return condition();
}

void startInSession(QProcess &process, const QString &verb, const QStringList &arguments,
                    QProcess::ProcessChannelMode mode = QProcess::ForwardedErrorChannel)
{
    process.setProcessChannelMode(mode);
    process.start(env("KEYLOOM_SWAY_SCRIPT"),
                  QStringList{verb, env("KEYLOOM_SWAY_STATE")} + arguments);
}

// The exit code, or -1 after a crash or the deadline.
int inSession(const QString &verb, const QStringList &arguments)
{
    QProcess process;
    startInSession(process, verb, arguments);
    const bool done = waitFor([&] { return process.state() == QProcess::NotRunning; }, 300000);
    return done && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A receiver in a process of its own, focused by the compositor.
class Client {
public:
    bool start(Receiver receiver)
    {
        m_terminal = receiver == Receiver::Terminal;
        const QString stage = stateValue(QStringLiteral("STAGE"));
        m_output = stage + QStringLiteral("/terminal.out");
        QFile::remove(m_output);
        QFile::remove(m_output + QStringLiteral(".ready"));
        startInSession(m_process, QStringLiteral("run"),
                       m_terminal ? QStringList{QStringLiteral("foot"),
                                                QStringLiteral("--log-level=warning"),
                                                QStringLiteral("--app-id=keyloom-receiver"),
                                                stage + QStringLiteral("/rawsink.sh"), m_output}
                                  : QStringList{receiver == Receiver::QtWayland
                                                    ? QStringLiteral("QT_QPA_PLATFORM=wayland")
                                                    : QStringLiteral("QT_QPA_PLATFORM=xcb"),
                                                stage + QStringLiteral("/x11_qtfield")});
        const QString criteria = m_terminal ? QStringLiteral("[app_id=\"^keyloom-receiver$\"]")
                                 : receiver == Receiver::QtWayland
                                     ? QStringLiteral("[app_id=\"^x11_qtfield$\"]")
                                     : QStringLiteral("[class=\"^x11_qtfield$\"]");
        return inSession(QStringLiteral("focus"), {criteria}) == 0 &&
               waitFor([&] { return poll(), m_out.ready; }, 60000);
    }
    QString text() { return poll(), m_out.text; }
    // The modifiers the Qt field's toolkit believes are down; -1 until it answers.
    int modifiers()
    {
        return m_out.askModifiers(m_process, [](auto done) { waitFor(done, 10000); });
    }

private:
    void poll()
    {
        if (m_terminal) {
            QFile file(m_output);
            m_out.ready = QFile::exists(m_output + QStringLiteral(".ready"));
            if (file.open(QIODevice::ReadOnly))
                m_out.text = QString::fromUtf8(file.readAll());
        }
        m_out.read(m_process);
    }

    QProcess m_process;
    bool m_terminal = false;
    QString m_output;
    QtFieldOutput m_out;
};

// The program in the session, with settings of its own; its settings are read at start.
class Keyloom {
public:
    Keyloom()
    {
        // Read as it comes, or a full pipe would hold the program up.
        QObject::connect(&m_process, &QProcess::readyRead, &m_process,
                         [this] { m_said += QString::fromUtf8(m_process.readAll()); });
    }
    bool start(const QList<std::pair<QString, QVariant>> &settings, bool granted = true)
    {
        stop();
        m_said.clear();
        const QString config = stateValue(QStringLiteral("STAGE")) + QStringLiteral("/keyloom-config");
        QDir(config).removeRecursively();
        QDir().mkpath(config + QStringLiteral("/keyloom"));
        {
            QSettings file(config + QStringLiteral("/keyloom/keyloom.conf"), QSettings::IniFormat);
            for (const auto &[key, value] : settings)
                file.setValue(key, value);
        }
        // The session's user writes the list position back.
        for (const QString &path : {config, config + QStringLiteral("/keyloom"),
                                    config + QStringLiteral("/keyloom/keyloom.conf")})
            QFile::setPermissions(path, QFile::Permissions(0x7777));
        startInSession(m_process, QStringLiteral("run"),
                       {u"XDG_CONFIG_HOME="_s + config, QStringLiteral("QT_QPA_PLATFORM=offscreen"),
                        QStringLiteral("ASAN_OPTIONS=detect_leaks=0"), program()},
                       QProcess::MergedChannels);
        // Up once it takes commands. Where the desktop asks for consent, the first run asks
        // and types nothing (KWin grants it to a program outside a sandbox at once).
        if (waitFor([] { return command(QStringLiteral("--stop")) == 0; }, 60000))
            return !asksConsent() || !granted || consent();
        qWarning("keyloom takes no commands: %s", m_process.state() == QProcess::NotRunning
                     ? qPrintable(u"it ended with status %1"_s.arg(m_process.exitCode()))
                     : "it still runs");
        return false;
    }
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(30000))
                m_process.kill(), m_process.waitForFinished();
        }
    }
    ~Keyloom() { stop(); }

    /// What the program has said on its output since it started.
    QString said() { return m_said; }
    static bool asksConsent() { return stateValue(QStringLiteral("CONSENT")) == u"ask"; }
    static bool consent();

    static QString program() { return stateValue(QStringLiteral("STAGE")) + QStringLiteral("/keyloom"); }
    static int command(const QString &option) { return inSession(QStringLiteral("run"), {program(), option}); }

private:
    QProcess m_process;
    QString m_said;
};

bool copy(const QString &text)
{
    // wl-copy stays behind to serve the text: not on our output, which CTest waits to see closed.
    return inSession(u"run"_s, {u"sh"_s, u"-c"_s, u"exec wl-copy -- \"$1\" 2>/dev/null"_s, u"sh"_s, text}) == 0;
}

// Types the text through the clipboard, as a user binding `keyloom --toggle` would.
bool typeThroughClipboard(const QString &text)
{
    return copy(text) && Keyloom::command(QStringLiteral("--toggle")) == 0;
}

bool Keyloom::consent()
{
    // The run that asks types nothing; the dialog, where there is one, is answered as a
    // person would, and the focus goes back to the receiver.
    if (!typeThroughClipboard(u"consent"_s) || inSession(u"consent"_s, {}) != 0)
        return false;
    QTest::qWait(1500);
    return true;
}

// Sets the fixture's layouts ("us,de") and the active one: 0 when set, 2 where the session
// cannot set them.
int useLayouts(const QString &layouts)
{
    const qsizetype colon = layouts.indexOf(u':');
    QStringList arguments{colon < 0 ? layouts : layouts.left(colon)};
    if (colon >= 0)
        arguments << layouts.mid(colon + 1);
    return inSession(QStringLiteral("layouts"), arguments);
}

} // namespace

Q_DECLARE_METATYPE(Receiver)

class TestWayland : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (const QString reason = stateValue(QStringLiteral("SKIP")); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        QVERIFY2(!stateValue(QStringLiteral("WAYLAND_DISPLAY")).isEmpty(), "no fixture");
        // The session's user may not reach the build tree: it runs copies from its stage.
        for (const QString &path : {env("KEYLOOM_QTFIELD"), env("KEYLOOM_RAWSINK"), env("KEYLOOM_BIN")}) {
            const QString copy = stateValue(QStringLiteral("STAGE")) + path.mid(path.lastIndexOf(u'/'));
            QFile::remove(copy);
            QVERIFY(QFile::copy(path, copy));
            QVERIFY(QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ReadOther |
                                                    QFile::ExeOther));
        }
    }

    void textsArriveExactly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Receiver>("receiver");
        QTest::addColumn<double>("delay");
        QTest::addColumn<QString>("layouts");
        const QString ascii = QStringLiteral("The quick brown fox jumps over the lazy dog 0123456789 "
                                             "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~ ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        if (Keyloom::asksConsent()) {
            // Only what the layout has: the portal takes no keymap of ours.
            const QString german = QStringLiteral("@ € { } [ ] \\ | ~ äöü ÄÖÜ ß µ ² ³ °^");
            const QList<std::tuple<const char *, QString, QString>> rows = {
                {"ascii", ascii, u"us"_s},
                {"tab, newline", u"a\tb\t\tc one\ntwo\n\nfour\n"_s, u"us"_s},
                {"german altgr", german, u"de"_s},
                {"second group active", ascii + german, u"us,de:1"_s},
                {"2000 characters", (ascii + u"\t\n"_s).repeated(21).left(2000), u"us"_s},
            };
            // foot stops on an arithmetic fault under KWin's virtual outputs: the Qt field alone.
            for (const double delay : {5.0, 30.0})
                for (const auto &[rowName, text, layouts] : rows)
                    QTest::addRow("%s, qt wayland, %g ms", rowName, delay)
                        << text << Receiver::QtWayland << delay << layouts;
            return;
        }
        const QList<std::pair<const char *, QString>> texts = {
            {"ascii", ascii},
            {"european", QStringLiteral("Grüße àéîõü ÿ ß æøå ÆØÅ ñç œŒ €£¥©®±¿¡ Łódź Čeština őű șț")},
            {"cjk", QStringLiteral("日本語のテキスト、中文、한국어")},
            {"emoji", QStringLiteral(
                          "👍🏽 👋🏿 👨‍👩‍👧‍👦 🧑🏻‍💻 🏳️‍🌈 "
                          "🇩🇪")},
            {"tab, newline", QStringLiteral("a\tb\t\tc one\ntwo\n\nfour\n")},
            {"2000 characters", QStringLiteral("Grüße Ελληνικά Русский 日本語 👍🏽 e\u0301 {[(<>)]} "
                                               "~^`|\\ ab")
                                    .repeated(40)},
        };
        for (const auto &[client, name] : {std::pair{Receiver::Terminal, "terminal"},
                                           {Receiver::QtWayland, "qt wayland"},
                                           {Receiver::QtXwayland, "qt xwayland"}})
            for (const auto &[textName, text] : texts)
                QTest::addRow("%s, %s, 5 ms", textName, name) << text << client << 5.0 << QString();
        for (const auto &[client, name] :
             {std::pair{Receiver::Terminal, "terminal"}, {Receiver::QtWayland, "qt wayland"}})
            for (const int i : {0, 3})
                QTest::addRow("%s, %s, 30 ms", texts[i].first, name)
                    << texts[i].second << client << 30.0 << QString();
    }

    void textsArriveExactly()
    {
        QFETCH(QString, text);
        QFETCH(Receiver, receiver);
        QFETCH(double, delay);
        QFETCH(QString, layouts);
        if (layouts != m_layouts) {
            m_layouts.clear();
            const int set = useLayouts(layouts);
            if (set == 2)
                QSKIP("this session keeps one layout");
            QCOMPARE(set, 0);
            m_layouts = layouts;
        }
        if (delay != m_delay) {
            m_delay = -1;
            QVERIFY(m_keyloom.start({{u"typingSpeedMs"_s, delay}}));
            m_delay = delay;
        }
        Client client;
        QVERIFY2(client.start(receiver), "the receiver did not start or take the focus");
        QVERIFY(typeThroughClipboard(text));
        // Return reaches a raw terminal as CR.
        const QString expected =
            receiver == Receiver::Terminal ? QString(text).replace(u'\n', u'\r') : text;
        waitFor([&] { return client.text().size() >= expected.size(); }, 120000);
        QCOMPARE(client.text(), expected);
        // A typist that exits with a modifier down leaves the client believing it held.
        if (receiver != Receiver::Terminal)
            QTRY_COMPARE_WITH_TIMEOUT(client.modifiers(), 0, 10000);
        if (Keyloom::asksConsent())
            return; // no other typist there
        // A plain letter after the run arrives as it is: no shift, compose or control left over.
        QCOMPARE(inSession(QStringLiteral("run"), {QStringLiteral("wtype"), QStringLiteral("z")}), 0);
        waitFor([&] { return client.text().size() > expected.size(); }, 30000);
        QCOMPARE(client.text(), expected + u'z');
    }

    // The shortcut again stops a run; in list mode the previous-snippet command steps back.
    void commandsStopAndStepBack()
    {
        m_delay = -1;
        QVERIFY(m_keyloom.start({{u"typingSpeedMs"_s, 30.0}}));
        Client client;
        QVERIFY(client.start(Receiver::QtWayland));
        const QString long_ = QStringLiteral("abcdefghij").repeated(30);
        QVERIFY(typeThroughClipboard(long_));
        QVERIFY(waitFor([&] { return client.text().size() >= 5; }, 60000));
        QCOMPARE(Keyloom::command(QStringLiteral("--toggle")), 0);
        QTest::qWait(1000);
        const QString stopped = client.text();
        QTest::qWait(1500);
        QCOMPARE(client.text(), stopped);
        QVERIFY2(stopped.size() < long_.size() && long_.startsWith(stopped), qPrintable(stopped));
        QTRY_COMPARE_WITH_TIMEOUT(client.modifiers(), 0, 10000);

        QVERIFY(m_keyloom.start({{u"typingMode"_s, u"playlist"_s},
                                 {u"snippets"_s, QByteArray(R"([{"id":"6F1D6B4E-6C0A-4C55-9B8E-0E5B2C3C0A01","text":"one "},)"
                                                            R"({"id":"6F1D6B4E-6C0A-4C55-9B8E-0E5B2C3C0A02","text":"two "}])")}}));
        Client list;
        QVERIFY(list.start(Receiver::QtWayland));
        for (const QString &option : {u"--toggle"_s, u"--toggle"_s, u"--previous"_s, u"--toggle"_s}) {
            const qsizetype before = list.text().size();
            QCOMPARE(Keyloom::command(option), 0);
            // Once the text is in, the run ends within milliseconds; the next toggle must not stop it.
            if (option == u"--toggle")
                QVERIFY(waitFor([&] { return list.text().size() >= before + 4; }, 60000));
            QTest::qWait(1000);
        }
        QCOMPARE(list.text(), u"one two two "_s);

        // Ended by a signal with Shift held: the keys are let go first.
        QVERIFY(m_keyloom.start({{u"typingSpeedMs"_s, 30.0}}));
        Client shifted;
        QVERIFY(shifted.start(Receiver::QtWayland));
        QVERIFY(typeThroughClipboard(u"ABCDEFGHIJ"_s.repeated(30)));
        QVERIFY(waitFor([&] { return shifted.text().size() >= 5; }, 60000));
        m_keyloom.stop();
        QTRY_COMPARE_WITH_TIMEOUT(shifted.modifiers(), 0, 10000);
    }

    // Where no keymap of ours reaches the desktop, what the layout lacks is told, and nothing of
    // the text is typed.
    void lackingCharacterIsTold()
    {
        if (!Keyloom::asksConsent())
            QSKIP("a virtual keyboard binds keys of its own for it (textsArriveExactly)");
        Client client;
        QVERIFY(startOnUs(client));
        QVERIFY(typeThroughClipboard(u"ab€c"_s));
        QVERIFY2(waitFor([&] { return m_keyloom.said().contains(u"1 character cannot be typed here."_s); }, 30000),
                 qPrintable(m_keyloom.said()));
        QCOMPARE(client.text(), QString());
    }

    // A refused consent types nothing, and the next run asks again.
    void refusedConsentAsksAgain()
    {
        if (stateValue(u"DESKTOP"_s) != u"gnome")
            QSKIP("only GNOME shows a consent dialog here");
        Client client;
        QVERIFY(startOnUs(client, false));
        QVERIFY(typeThroughClipboard(u"refused"_s));
        QCOMPARE(inSession(u"consent"_s, {u"refuse"_s}), 0);
        QTest::qWait(1500);
        QCOMPARE(client.text(), QString());
        QVERIFY(Keyloom::consent()); // a dialog again, answered this time
        QVERIFY(typeThroughClipboard(u"granted"_s));
        QVERIFY(waitFor([&] { return client.text().size() >= 7; }, 30000));
        QCOMPARE(client.text(), u"granted"_s);
    }

    // KDE's shortcut service fires the shortcut Keyloom gave the portal, as its keys would.
    void desktopShortcutTypes()
    {
        if (stateValue(u"DESKTOP"_s) != u"kde")
            QSKIP("only KDE's portal binds shortcuts here");
        Client client;
        QVERIFY(startOnUs(client));
        const QString text = u"Hello, World! (1)"_s;
        QVERIFY(copy(text));
        // The shortcuts' component exists once the portal has taken them; one press only, as
        // a second stops the run.
        bool pressed = false;
        QVERIFY(waitFor([&] {
            return pressed = pressed ||
                             inSession(u"run"_s, {u"dbus-send"_s, u"--session"_s, u"--print-reply"_s,
                                                  u"--dest=org.kde.kglobalaccel"_s, u"/component/Keyloom"_s,
                                                  u"org.kde.kglobalaccel.Component.invokeShortcut"_s,
                                                  u"string:type"_s}) == 0;
        }, 30000));
        QVERIFY(waitFor([&] { return client.text().size() >= text.size(); }, 30000));
        QCOMPARE(client.text(), text);
        QVERIFY2(!m_keyloom.said().contains(u"shortcuts"_s), qPrintable(m_keyloom.said()));
    }

    // Where nothing tells when the shortcut's keys are let go, a run started with them down
    // must not type while they are: Super+l locks GNOME's screen.
    void heldShortcutKeysStayOut()
    {
        if (stateValue(u"DESKTOP"_s) != u"gnome")
            QSKIP("only mutter lets the tests hold keys as the user");
        Client client;
        QVERIFY(startOnUs(client));
        const QString text = u"lHello, World! (1)"_s;
        QVERIFY(copy(text));
        QProcess held; // Ctrl and Super down as the user's, let go 300 ms later
        startInSession(held, u"keys"_s, {u"300"_s, u"29"_s, u"125"_s});
        QVERIFY(waitFor([&] { return held.canReadLine() || held.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(held.readLine(), QByteArray("down\n"));
        QCOMPARE(Keyloom::command(u"--toggle"_s), 0);
        QVERIFY(waitFor([&] { return client.text().size() >= text.size(); }, 30000));
        QVERIFY(held.waitForFinished(30000));
        QCOMPARE(client.text(), text);
        QTRY_COMPARE_WITH_TIMEOUT(client.modifiers(), 0, 10000);
    }

private:
    // The program at 5 ms on the us layout, and a Qt field with the focus.
    bool startOnUs(Client &client, bool granted = true)
    {
        if (useLayouts(u"us"_s) != 0)
            return false;
        m_layouts = u"us"_s;
        m_delay = -1;
        return m_keyloom.start({{u"typingSpeedMs"_s, 5.0}}, granted) && client.start(Receiver::QtWayland);
    }

    Keyloom m_keyloom;
    double m_delay = -1;
    QString m_layouts;
};

QTEST_GUILESS_MAIN(TestWayland)
#include "tst_wayland.moc"
