// The Wayland backend on a headless sway: typing through the real virtual keyboard into a
// Qt text field running on that compositor.
#include "QtFieldOutput.h"
#include "RealRun.h"
#include "X11TestSupport.h"
#include "platform/wayland/WaylandClipboardReader.h"
#include "platform/wayland/WaylandKeyInjector.h"
#include "platform/wayland/WaylandKeymap.h"
#include "platform/x11/X11WindowProgress.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <xkbcommon/xkbcommon.h>

namespace {

// The compositor's socket, an absolute path, and Xwayland's display, from the sway fixture's
// KEY=VALUE state file.
QByteArray socketOf(const QString &stateFile, QByteArray *xDisplay = nullptr)
{
    QFile file(stateFile);
    QByteArray dir, name;
    for (const QByteArray &line :
         file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>{}) {
        if (line.startsWith("XDG_RUNTIME_DIR="))
            dir = line.mid(16).trimmed();
        else if (line.startsWith("WAYLAND_DISPLAY="))
            name = line.mid(16).trimmed();
        else if (line.startsWith("DISPLAY=") && xDisplay)
            *xDisplay = line.mid(8).trimmed();
    }
    return name.startsWith('/') || name.isEmpty() ? name : dir + '/' + name;
}

// The field in a process of its own, and what it received.
class Field {
public:
    ~Field()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool start(const QByteArray &socket)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), QString::fromLocal8Bit(socket));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        env.remove(QStringLiteral("QT_IM_MODULE"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QString::fromLocal8Bit(qgetenv("KEYLOOM_QTFIELD")), QStringList{});
        if (!m_process.waitForStarted(10000))
            return false;
        const QDeadlineTimer deadline(30000);
        while (!m_out.ready && !deadline.hasExpired() && m_process.state() == QProcess::Running)
            m_process.waitForReadyRead(100), m_out.read(m_process);
        return m_out.ready;
    }
    QString text() { return m_out.read(m_process), m_out.text; }
    // The modifiers the field sees now; -1 when it does not answer.
    int modifiers()
    {
        return m_out.askModifiers(m_process, [this](auto done) {
            const QDeadlineTimer deadline(10000);
            while (!done() && !deadline.hasExpired())
                m_process.waitForReadyRead(100);
        });
    }

private:
    QProcess m_process;
    QtFieldOutput m_out;
};

using Run = RealRun;

int extraKeyCount()
{
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const auto keymap = WaylandKeymap::fromDefaults(context);
    const int count = keymap ? int(keymap->freeKeycodes().size()) : 0;
    xkb_context_unref(context);
    return count;
}

struct Case {
    QString text = {};
    double delayMs = 5;
    QByteArray layout = {};     // the layout the keyboard types with, us when empty
    QString otherKeyboard = {}; // typed first through another injector's keyboard, kept open
    bool whole = true;          // false: a character cannot be typed, so nothing is
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestWaylandInjector : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QFile state(QString::fromLocal8Bit(qgetenv("KEYLOOM_SWAY_STATE")));
        if (state.open(QIODevice::ReadOnly) && state.peek(5) == "SKIP=")
            QSKIP(state.readAll().mid(5).trimmed().constData());
        m_socket = socketOf(state.fileName(), &m_xDisplay);
        QVERIFY2(!m_socket.isEmpty(), "no sway fixture");
        QVERIFY(WaylandKeyInjector::available(m_socket));
        QVERIFY(!WaylandKeyInjector::available("/nonexistent/wayland-0"));
        m_extraKeys = extraKeyCount();
        QVERIFY2(m_extraKeys > 8, "the keymap leaves too few free key codes");
    }

    void textsArriveExactly_data()
    {
        QTest::addColumn<Case>("c");
        // One cluster with more distinct marks than the extra keys hold: nothing of the text is typed.
        QString hugeCluster = QStringLiteral("a");
        for (char32_t mark = 0x0300; hugeCluster.size() <= m_extraKeys + 1 && mark < 0x2100;
             ++mark) {
            if (QChar::isMark(mark) && QChar::category(mark) == QChar::Mark_NonSpacing)
                hugeCluster += QChar(mark);
        }
        const std::pair<const char *, Case> rows[] = {
            // The texts themselves are the program suite's; here what the injector adds.
            {"more than the extra keys hold", {.text = manyDistinct(m_extraKeys * 3 + 5)}},
            {"cluster too big",
             {.text = QStringLiteral("x") + hugeCluster + QStringLiteral("Y"),
              .whole = false}},
            {"de layout, AltGr",
             {.text = QStringLiteral("@ € { } [ ] \\ | ~ zY ÄÖß µ Q"), .layout = "de"}},
            {"at 0 ms",
             {.text = QStringLiteral("Mixed ÄÖÜ 日本 👍🏽 Text!").repeated(5),
              .delayMs = 0}},
            {"after another keyboard of ours",
             {.text = QStringLiteral("ü日 é AND"), .otherKeyboard = QStringLiteral("é本")}},
        };
        for (const auto &[name, c] : rows)
            QTest::newRow(name) << c;
    }

    void textsArriveExactly()
    {
        QFETCH(Case, c);
        // With no keyboard on the seat, the layout is xkbcommon's default.
        if (!c.layout.isEmpty())
            qputenv("XKB_DEFAULT_LAYOUT", c.layout);
        const auto resetLayout = qScopeGuard([] { qunsetenv("XKB_DEFAULT_LAYOUT"); });
        Field field;
        QVERIFY2(field.start(m_socket), "the field got no focus");

        // The seat then announces that keyboard's keymap, extra keys and all.
        WaylandKeyInjector otherInjector(m_socket);
        std::unique_ptr<KeySession> other;
        if (!c.otherKeyboard.isEmpty()) {
            other = otherInjector.openSession();
            QVERIFY(other);
            other->prepare(c.otherKeyboard);
            for (QChar ch : c.otherKeyboard) {
                other->typeCluster(QString(ch));
            }
            QTRY_COMPARE_WITH_TIMEOUT(field.text(), c.otherKeyboard, 20000);
        }

        WaylandKeyInjector injector(m_socket);
        QString expected = c.whole ? c.text : QString();
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
        expected.prepend(c.otherKeyboard);
        const int deadline = 30000 + int(c.text.size() * (c.delayMs + 20) * 3);
        // Twice on one injector: the second run starts on what the first left bound.
        for (int round = 0; round < 2; ++round) {
            Run run(injector, c.text, c.delayMs);
            QTRY_VERIFY_WITH_TIMEOUT(run.finished != -1, deadline);
            QCOMPARE(run.finished.load(), int(c.whole));
            run.run.reset();
            QTRY_COMPARE_WITH_TIMEOUT(field.text(), expected, deadline);
            // No modifier left set once the keyboard is gone.
            QCOMPARE(field.modifiers(), 0);
            expected += c.whole ? c.text : QString();
            expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
        }
    }

    // An X window under Xwayland, far behind: an extra key waits for the window to handle its
    // last press, which its answer to a ping through Xwayland tells once the compositor has
    // passed the keys on. At 50 ms a key, the first answer comes only after the 5 s that a
    // window that never answers is given.
    void slowXwaylandWindowGetsEveryCharacter()
    {
        X11TestSupport::FocusClient recorder;
        QVERIFY2(recorder.start(qEnvironmentVariable("KEYLOOM_RECORDER"),
                                {QString::fromLocal8Bit(m_xDisplay), QStringLiteral("50")},
                                m_xDisplay),
                 "the recorder got no focus");
        WaylandKeyInjector injector(
            m_socket, [this] { return X11WindowProgress::forFocusedWindow(m_xDisplay); });
        const QString text = manyDistinct(m_extraKeys * 3 + 20);
        Run run(injector, text, 5);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished != -1, 120000);
        QCOMPARE(run.finished.load(), 1);
        run.run.reset();
        QTRY_COMPARE_WITH_TIMEOUT((recorder.poll(), recorder.text()), text, 60000);
    }

    void lostCompositorEndsTheRun()
    {
        // A compositor of its own, ended mid-run: the run stops at once, unfinished. The
        // receiver is an X window, so its Xwayland goes too, which ends nothing else.
        const QString script = QString::fromLocal8Bit(qgetenv("KEYLOOM_SWAY_SCRIPT"));
        const QString state = QDir::temp().filePath(
            QStringLiteral("keyloom-lost-%1.state").arg(QCoreApplication::applicationPid()));
        QCOMPARE(QProcess::execute(script, {QStringLiteral("start"), state}), 0);
        const auto stop = qScopeGuard([&] {
            QProcess::execute(script, {QStringLiteral("stop"), state});
        });
        QByteArray x;
        const QByteArray socket = socketOf(state, &x);
        QVERIFY(!socket.isEmpty());
        X11TestSupport::FocusClient recorder;
        QVERIFY2(recorder.start(qEnvironmentVariable("KEYLOOM_RECORDER"), {QString(x)}, x),
                 "the recorder got no focus");
        WaylandKeyInjector injector(socket, [x] { return X11WindowProgress::forFocusedWindow(x); });
        const QString text = QStringLiteral("Typed on and on, ÄÖÜ 日本 ").repeated(200);
        Run run(injector, text, 5);
        QTRY_VERIFY_WITH_TIMEOUT((recorder.poll(), recorder.text().size() > 20), 30000);
        QCOMPARE(QProcess::execute(script, {QStringLiteral("stop"), state}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished != -1, 15000); // not the minute the text would take
        QCOMPARE(run.finished.load(), 0);
        QVERIFY(!injector.openSession());
    }

    // A compositor that takes the connection and never answers is given up, not waited for: the
    // start and "Clear Clipboard" ask it from the main thread.
    void silentCompositorIsGivenUp()
    {
        QTemporaryDir dir;
        const QByteArray path = dir.filePath(QStringLiteral("silent")).toLocal8Bit();
        const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        QVERIFY(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        QVERIFY(listen(listener, 8) == 0);
        const QByteArray previous = qgetenv("WAYLAND_DISPLAY");
        qputenv("WAYLAND_DISPLAY", path);
        // Asked on a thread of its own, so that a hang fails the test instead of stalling it.
        auto answers = std::make_shared<std::atomic<int>>(-1);
        std::thread([answers, path] {
            *answers = WaylandKeyInjector::available(path) + WaylandClipboardReader::available() +
                       WaylandClipboardReader::clear();
        }).detach();
        QTRY_VERIFY_WITH_TIMEOUT(*answers != -1, 30000);
        QCOMPARE(answers->load(), 0);
        qputenv("WAYLAND_DISPLAY", previous);
        close(listener);
    }

    void keymapsKeepTheirLayout_data()
    {
        QTest::addColumn<QByteArray>("layout");
        for (const char *layout : {"us", "de", "fr", "us,ru", "jp"})
            QTest::newRow(layout) << QByteArray(layout);
    }

    void keymapsKeepTheirLayout()
    {
        // A seat's keymap, typed with extra keys on every free key code, and recognised as ours
        // when the seat hands it back.
        QFETCH(QByteArray, layout);
        xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        const auto unref = qScopeGuard([&] { xkb_context_unref(context); });
        const xkb_rule_names names{nullptr, nullptr, layout.constData(), nullptr, nullptr};
        xkb_keymap *seat = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        QVERIFY(seat);
        char *seatText = xkb_keymap_get_as_string(seat, XKB_KEYMAP_FORMAT_TEXT_V1);
        const auto unrefSeat = qScopeGuard([&] {
            free(seatText);
            xkb_keymap_unref(seat);
        });
        QVERIFY(!WaylandKeymap::hasExtraKeys(seatText));
        const auto keymap = WaylandKeymap::fromText(context, seatText);
        QVERIFY(keymap);
        const std::vector<WaylandKeymap::Keycode> spare = keymap->freeKeycodes();
        QVERIFY(spare.size() > 8);
        std::vector<std::pair<WaylandKeymap::Keycode, WaylandKeymap::Keysym>> bindings;
        for (WaylandKeymap::Keycode kc : spare) {
            // Unused, or a function key: nothing we type needs it.
            const xkb_keysym_t *syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(seat, kc, 0, 0, &syms);
            QVERIFY(kc <= 255 && (count == 0 || xkb_keysym_to_utf32(syms[0]) == 0));
            bindings.emplace_back(kc, xkb_utf32_to_keysym(0x4E00 + kc));
        }
        const std::optional<std::string> typed = keymap->text(bindings);
        QVERIFY(typed);
        xkb_keymap *ours = xkb_keymap_new_from_string(
            context, typed->c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        QVERIFY(ours);
        const auto unrefOurs = qScopeGuard([&] { xkb_keymap_unref(ours); });
        for (xkb_keycode_t kc = 8; kc <= 255; ++kc) {
            const xkb_keysym_t *wanted = nullptr, *got = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(seat, kc, 0, 0, &wanted);
            const bool isSpare = std::find(spare.begin(), spare.end(), kc) != spare.end();
            QCOMPARE(xkb_keymap_key_get_syms_by_level(ours, kc, 0, 0, &got), isSpare ? 1 : count);
            QCOMPARE(got ? got[0] : 0, isSpare ? xkb_utf32_to_keysym(0x4E00 + kc)
                                       : count ? wanted[0]
                                               : 0);
        }
        char *oursText = xkb_keymap_get_as_string(ours, XKB_KEYMAP_FORMAT_TEXT_V1);
        QVERIFY(WaylandKeymap::hasExtraKeys(oursText));
        const auto stripped = WaylandKeymap::fromText(context, oursText);
        free(oursText);
        QVERIFY(stripped && !WaylandKeymap::hasExtraKeys(stripped->baseText()));
        QCOMPARE(stripped->freeKeycodes(), spare);
    }

private:
    QByteArray m_socket;
    QByteArray m_xDisplay;
    int m_extraKeys = 0;
};

QTEST_GUILESS_MAIN(TestWaylandInjector)
#include "tst_waylandinjector.moc"
