// The portal tap under a real AppState, against a fake portal on a private session bus.
#include "StateFixture.h"
#include "platform/desktop/PortalWhenOffered.h"
#include "platform/portal/GnomeInputSources.h"
#include "platform/portal/PortalShortcutTap.h"

#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

const QString portalPath = u"/org/freedesktop/portal/desktop"_s;
constexpr quint64 ctrl = ModifierFlag::Control, alt = ModifierFlag::Option,
                  shift = ModifierFlag::Shift, logo = ModifierFlag::Command;

// Just what the tap uses of the portal: sessions that bind once, and the version.
class FakePortal final : public QDBusVirtualObject {
public:
    struct Bind {
        QString session;
        QStringList shortcuts; // "id trigger"
    };
    explicit FakePortal(QDBusConnection bus) : m_bus(std::move(bus)) {}
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &) override
    {
        const std::lock_guard lock(mutex);
        if (m.member() == u"Get" &&
            m.arguments() ==
                QVariantList{u"org.freedesktop.portal.GlobalShortcuts"_s, u"version"_s})
            return m_bus.send(m.createReply(QVariant::fromValue(QDBusVariant(1u))));
        if (m.member() == u"Close") {
            closed << m.path();
            return m_bus.send(m.createReply());
        }
        const QString client = m.service().mid(1).replace(u'.', u'_') + u'/';
        const auto options = qdbus_cast<QVariantMap>(m.arguments().last());
        const QString request =
            portalPath + u"/request/"_s + client + options.value(u"handle_token"_s).toString();
        QVariantMap results;
        if (m.member() == u"CreateSession") {
            results[u"session_handle"_s] = QVariant::fromValue(
                QDBusObjectPath(portalPath + u"/session/"_s + client +
                                options.value(u"session_handle_token"_s).toString()));
        } else if (m.member() == u"BindShortcuts") {
            Bind bind{m.arguments().at(0).value<QDBusObjectPath>().path(), {}};
            for (const auto &s :
                 qdbus_cast<QList<PortalShortcutTap::Shortcut>>(m.arguments().at(1)))
                bind.shortcuts << s.id + u' ' +
                                      s.properties.value(u"preferred_trigger"_s).toString();
            binds << bind;
        } else {
            return false;
        }
        m_bus.send(m.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage response =
            QDBusMessage::createSignal(request, u"org.freedesktop.portal.Request"_s, u"Response"_s);
        return m_bus.send(response << (m.member() == u"BindShortcuts" ? bindAnswer : 0u)
                                   << results);
    }
    std::mutex mutex;
    uint bindAnswer = 0; // 2: the desktop did not bind them
    QList<Bind> binds;
    QStringList closed;

private:
    QDBusConnection m_bus;
};

// Passes everything on to the portal tap and keeps each press's release flag.
class TapSpy final : public KeyboardTap {
public:
    using Code = std::optional<quint16>;
    using Flag = std::shared_ptr<const std::atomic<bool>>;
    explicit TapSpy(PortalShortcutTap &tap) : m_tap(tap)
    {
        m_tap.problemChanged = [this] {
            if (problemChanged)
                problemChanged();
        };
    }
    QString problem() const override { return m_tap.problem(); }
    bool install(Handler h) override
    {
        return m_tap.install([this, h](quint16 key, quint64 flags) {
            presses << KeyCombo{key, flags};
            released = m_tap.releaseOfCurrentPress();
            return h(key, flags);
        });
    }
    void remove() override { m_tap.remove(); }
    QList<KeyCombo> watch(const QList<KeyCombo> &c, bool e) override { return m_tap.watch(c, e); }
    Code keyCodeForScanCode(quint32 s) const override { return m_tap.keyCodeForScanCode(s); }
    Flag releaseOfCurrentPress() const override { return m_tap.releaseOfCurrentPress(); }
    QList<KeyCombo> presses;
    Flag released;

private:
    PortalShortcutTap &m_tap;
};

} // namespace

class TestPortal : public QObject {
    Q_OBJECT

    QProcess m_daemon;
    QThread m_portalThread;
    std::unique_ptr<QDBusConnection> m_portalBus;
    FakePortal *m_portal = nullptr;
    std::unique_ptr<PortalShortcutTap> m_tap;
    std::unique_ptr<TapSpy> m_spy;
    QTemporaryDir m_dir;
    FakePlatform m_fake;
    std::unique_ptr<AppState> m_state;

    template <typename F> auto portal(F f)
    {
        const std::lock_guard lock(m_portal->mutex);
        return f(*m_portal);
    }
    FakePortal::Bind lastBind()
    {
        return portal([](FakePortal &p) { return p.binds.value(p.binds.size() - 1); });
    }
    // "Activated type", "Deactivated previous other": the portal's signal, for our session or
    // another.
    void send(const QString &line)
    {
        const QStringList w = line.split(u' ');
        const QString session =
            w.size() > 2 ? portalPath + u"/session/x/other"_s : lastBind().session;
        QDBusMessage signal = QDBusMessage::createSignal(
            portalPath, u"org.freedesktop.portal.GlobalShortcuts"_s, w[0]);
        m_portalBus->send(signal << QVariant::fromValue(QDBusObjectPath(session)) << w[1]
                                 << qulonglong(0) << QVariantMap());
    }
    // Signals reach the tap in order: once a press of the previous-snippet shortcut has
    // arrived, so has everything sent before it. It steps back in the list of two.
    void barrier()
    {
        // A press sent just before may itself still be on its way: wait for this one.
        const KeyCombo previous{KeyCode::Semicolon, ctrl | alt | logo};
        const qint64 index = m_state->currentSnippetIndex();
        send(u"Activated previous"_s);
        QTRY_VERIFY(!m_spy->presses.isEmpty() && m_spy->presses.last() == previous);
        m_spy->presses.removeLast();
        QCOMPARE(m_state->currentSnippetIndex(), 1 - index);
    }
    qsizetype polls() { return m_fake.recorder.steps().count(u"pause 5000000"_s); }

private slots:
    void initTestCase()
    {
        m_daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--print-address"_s, u"--nofork"_s});
        QVERIFY(m_daemon.waitForReadyRead(20000));
        const QString address = QString::fromUtf8(m_daemon.readLine().trimmed());
        m_portalBus =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, u"portal"_s));
        m_tap = std::make_unique<PortalShortcutTap>(
            QDBusConnection::connectToBus(address, u"client"_s));
        // The portal answers on a thread of its own, so that it can be kept busy.
        m_portal = new FakePortal(*m_portalBus);
        m_portal->moveToThread(&m_portalThread);
        m_portalThread.start();
        bool registered = false;
        QMetaObject::invokeMethod(
            m_portal,
            [&] {
                registered = m_portalBus->registerVirtualObject(portalPath, m_portal,
                                                                QDBusConnection::SubPath);
            },
            Qt::BlockingQueuedConnection);
        QVERIFY(registered);
        QVERIFY(m_portalBus->registerService(u"org.freedesktop.portal.Desktop"_s));
        // The probe never waits on the portal: here the portal answers only after it returned.
        std::optional<bool> offered;
        {
            const std::lock_guard busy(m_portal->mutex);
            PortalShortcutTap::probe(
                this, [&](bool yes) { offered = yes; }, QDBusConnection(u"client"_s));
            QVERIFY(!offered);
        }
        QTRY_VERIFY(offered && *offered);
        m_spy = std::make_unique<TapSpy>(*m_tap);
        m_state = std::make_unique<AppState>(
            Platform{m_fake.injector, *m_spy, m_fake.clipboard, m_fake.trust, m_fake.notifier},
            m_dir.filePath(u"k.conf"_s), m_fake.pauser);
        QTRY_VERIFY(!lastBind().session.isEmpty());
        m_state->addSnippet(u"hi"_s);
        m_state->addSnippet(u"hi"_s);
        m_state->setTypingMode(TypingMode::Playlist);
    }
    void cleanupTestCase()
    {
        m_state.reset();
        m_tap.reset();
        m_portalBus->unregisterObject(portalPath, QDBusConnection::UnregisterTree);
        m_portalThread.quit();
        m_portalThread.wait();
        delete m_portal;
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    // A run starts on Activated and waits for Deactivated of that press before it types.
    void press_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<bool>("typing");   // after the signal
        QTest::addColumn<bool>("released"); // the run's release flag
        QTest::addColumn<QString>("typed");
        const QString hi = u"hi"_s;
        QTest::newRow("released") << u"Deactivated type"_s << true << true << hi;
        QTest::newRow("never released: the deadline") << QString() << true << false << hi;
        QTest::newRow("the other one released") << u"Deactivated previous"_s << true << false << hi;
        QTest::newRow("released elsewhere") << u"Deactivated type other"_s << true << false << hi;
        QTest::newRow("pressed elsewhere") << u"Activated type other"_s << true << false << hi;
        QTest::newRow("pressed again: stops") << u"Activated type"_s << false << true << QString();
    }
    void press()
    {
        QFETCH(QString, sent);
        QFETCH(bool, typing);
        QFETCH(bool, released);
        QFETCH(QString, typed);
        m_fake.pauser->hold();
        m_spy->presses.clear();
        m_fake.recorder.with([](Recorded &d) { d = {}; });
        send(u"Activated type"_s);
        QTRY_VERIFY(m_state->isTyping());
        QVERIFY(m_fake.pauser->waitUntilHeld());
        QCOMPARE(m_spy->presses, (QList<KeyCombo>{{KeyCode::Semicolon, ctrl | logo}}));
        const auto flag = m_spy->released;
        QVERIFY(flag && !*flag);
        QVERIFY(polls() > 0);
        QCOMPARE(m_fake.recorder.typedText(), QString());
        if (!sent.isEmpty())
            send(sent);
        barrier();
        QCOMPARE(m_state->isTyping(), typing);
        QCOMPARE(flag->load(), released);
        const qsizetype before = polls();
        m_fake.pauser->release();
        QVERIFY(waitForRunsToEnd(*m_state));
        QCOMPARE(m_fake.recorder.typedText(), typed);
        if (released) // the run stopped polling at once
            QCOMPARE(polls(), before);
        send(u"Deactivated type"_s);
    }

    // Every change of the shortcuts binds them in a new session and closes the old one.
    void bindings_data()
    {
        QTest::addColumn<KeyCombo>("main");
        QTest::addColumn<KeyCombo>("previous");
        QTest::addColumn<QStringList>("bound");
        QTest::addColumn<uint>("answer"); // the desktop's to the binding
        const auto row = [](KeyCombo main, KeyCombo previous, const char *bound, uint answer = 0) {
            QTest::newRow(bound) << main << previous << QString::fromLatin1(bound).split(u',')
                                 << answer;
        };
        row({96, shift}, {96, ctrl | shift}, "type SHIFT+F5,previous CTRL+SHIFT+F5");
        row({0, alt | shift}, {18, logo}, "type ALT+SHIFT+a,previous LOGO+1");
        row({49, ctrl}, {50, ctrl | alt}, "type CTRL+space,previous CTRL+ALT+grave");
        row({36, logo}, {52, ctrl}, "type LOGO+Return,previous ");     // 52 names no key
        row({123, ctrl}, {123, ctrl}, "type CTRL+Left");               // the same twice: one
        row({12, ctrl}, {13, ctrl}, "type CTRL+q,previous CTRL+w", 2); // shown until bound
        row({41, ctrl | logo}, {41, ctrl | alt | logo},
            "type CTRL+LOGO+semicolon,previous CTRL+ALT+LOGO+semicolon"); // the defaults
    }
    void bindings()
    {
        QFETCH(KeyCombo, main);
        QFETCH(KeyCombo, previous);
        QFETCH(QStringList, bound);
        QFETCH(uint, answer);
        portal([&](FakePortal &p) { return p.bindAnswer = answer; });
        const FakePortal::Bind before = lastBind();
        for (const auto &[prefix, c] :
             {std::pair{"hotkey", main}, std::pair{"prevHotkey", previous}}) {
            const QByteArray p(prefix);
            m_state->setProperty(p + "KeyCode", c.keyCode);
            m_state->setProperty(p + "Control", bool(c.modifiers & ctrl));
            m_state->setProperty(p + "Option", bool(c.modifiers & alt));
            m_state->setProperty(p + "Shift", bool(c.modifiers & shift));
            m_state->setProperty(p + "Command", bool(c.modifiers & logo));
        }
        m_state->updateHotkey();
        QTRY_VERIFY(lastBind().session != before.session);
        QCOMPARE(lastBind().shortcuts, bound);
        QTRY_VERIFY(portal([&](FakePortal &p) { return p.closed.contains(before.session); }));
        QTRY_COMPARE(m_state->shortcutProblem().contains(u"did not bind"_s), answer != 0);
    }

    // Our own windows' scan codes are evdev codes plus 8, as X keycodes.
    void scanCodes()
    {
        const std::pair<quint32, quint16> keys[] = {{47, 41}, {38, 0}, {9, 53}, {133, 55}};
        for (const auto &[scan, code] : keys)
            QCOMPARE(m_tap->keyCodeForScanCode(scan), std::optional(code));
        QVERIFY(!m_tap->keyCodeForScanCode(3000));
    }

    // Until the portal answers, the shortcuts go through the tap the session has without it;
    // then the portal binds them, and whoever shows the binding hears of it.
    void portalTakesOverOnceItAnswers()
    {
        struct First final : KeyboardTap {
            bool installed = false;
            bool install(Handler) override { return installed = true; }
            void remove() override { installed = false; }
            QList<KeyCombo> watch(const QList<KeyCombo> &, bool) override { return {}; }
            std::optional<quint16> keyCodeForScanCode(quint32) const override { return {}; }
            Binding binding() const override { return Binding::Unbound; }
        };
        auto owned = std::make_unique<First>();
        const First &first = *owned;
        const qsizetype binds = portal([](FakePortal &p) { return p.binds.size(); });
        PortalWhenOffered tap(std::move(owned), QDBusConnection(u"client"_s));
        int told = 0;
        tap.problemChanged = [&] { ++told; };
        QVERIFY(tap.install([](quint16, quint64) { return true; }));
        tap.watch({{KeyCode::Semicolon, ctrl | logo}}, true);
        QCOMPARE(tap.binding(), KeyboardTap::Binding::Unbound);
        QVERIFY(first.installed);
        QTRY_COMPARE(tap.binding(), KeyboardTap::Binding::DesktopBound);
        QCOMPARE(told, 1);
        QTRY_COMPARE(portal([](FakePortal &p) { return p.binds.size(); }), binds + 1);
        QCOMPARE(lastBind().shortcuts, QStringList{u"type CTRL+LOGO+semicolon"_s});
    }

    // GNOME's layout group in force, from its input sources and their most-recent list.
    void gnomeLayoutGroup_data()
    {
        QTest::addColumn<QString>("sources");
        QTest::addColumn<QString>("mostRecent");
        QTest::addColumn<int>("group"); // -1: not known
        QTest::newRow("one source") << u"xkb us"_s << u""_s << 0;
        QTest::newRow("the second in force") << u"xkb us,xkb de"_s << u"xkb de,xkb us"_s << 1;
        QTest::newRow("most recent since removed") << u"xkb us,xkb de"_s << u"xkb fr"_s << 0;
        QTest::newRow("a layout twice is one group") << u"xkb us,xkb us,xkb de"_s << u"xkb de"_s << 1;
        QTest::newRow("the fourth begins a keymap") << u"xkb us,xkb de,xkb fr,xkb es"_s << u"xkb es"_s << 0;
        QTest::newRow("an input method") << u"xkb us,ibus anthy"_s << u"xkb us"_s << -1;
        QTest::newRow("no sources") << u""_s << u"xkb de"_s << -1;
    }
    void gnomeLayoutGroup()
    {
        QFETCH(QString, sources);
        QFETCH(QString, mostRecent);
        QFETCH(int, group);
        const auto parse = [](const QString &list) {
            std::vector<gnome::InputSource> parsed;
            for (const QString &source : list.split(u',', Qt::SkipEmptyParts))
                parsed.emplace_back(source.section(u' ', 0, 0).toStdString(),
                                    source.section(u' ', 1).toStdString());
            return parsed;
        };
        QCOMPARE(int(gnome::layoutGroup(parse(sources), parse(mostRecent)).value_or(-1)), group);
    }
};

QTEST_GUILESS_MAIN(TestPortal)
#include "tst_portal.moc"
