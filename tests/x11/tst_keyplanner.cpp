// Which keysyms a text becomes, which keys type them, and what a typing session sends for
// them, on keymaps compiled from layout names: no display server needed.
#include "platform/xkb/KeyPlanner.h"
#include "platform/xkb/PlannedKeySession.h"
#include "platform/xkb/TextKeysyms.h"

#include <QTest>

#include <xkbcommon/xkbcommon.h>

using Plan = KeyPlanner::Plan;

namespace {

constexpr unsigned S = KeyPlanner::ShiftKey, L3 = KeyPlanner::Level3Key;
using Clock = ExtraKeyPool::Clock;

// A keymap compiled from layout names, given up with the pointer.
std::shared_ptr<xkb_keymap> compileLayout(const char *layout)
{
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names{"evdev", "pc105", layout, "", ""};
    std::shared_ptr<xkb_keymap> keymap(
        xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS), xkb_keymap_unref);
    xkb_context_unref(context);
    return keymap;
}

// A desktop that records what it is told: "+LFSH" a key down by name, "-AC01" up,
// "bind 250:0 eacute" a keymap edit. Its extra keys sit on key codes from 250 up.
class FakeBackend final : public KeyBackend {
public:
    FakeBackend(xkb_keymap *keymap, QStringList &log, int count, int levels, Clock::time_point &now)
        : m_keymap(keymap), m_log(log), m_levels(levels),
          m_pool(levels == 1, [&now] { return now += std::chrono::milliseconds(50); })
    {
        std::vector<ExtraKeyPool::Slot> found;
        for (int i = 0; i < count * levels; ++i)
            found.push_back({Keycode(250 + i / levels), i % levels});
        m_pool.reconcile(found);
    }
    bool refresh() override { return true; }
    xkb_keymap *keymap() const override { return m_keymap; }
    std::uint64_t keymapSerial() const override { return 1; }
    ExtraKeyPool &pool() override { return m_pool; }
    ExtraKeyType extraKeyType() const override { return {m_levels, m_levels > 1}; }
    bool forwardsKeys() const override { return forwarding; }
    bool commit(const std::vector<ExtraKeyPool::Edit> &edits) override
    {
        for (const ExtraKeyPool::Edit &e : edits) {
            char name[64] = "none";
            xkb_keysym_get_name(e.keysym, name, sizeof name);
            m_log << QStringLiteral("bind %1:%2 %3").arg(e.keycode).arg(e.level).arg(name);
        }
        if (refuse)
            return false;
        m_pool.apply(edits);
        return true;
    }
    void sendKey(Keycode keycode, bool down) override
    {
        const char *name = xkb_keymap_key_get_name(m_keymap, keycode);
        m_log << (down ? u'+' : u'-') +
                     (name ? QString::fromLatin1(name) : QString::number(keycode));
        if (down && --stopAfter == 0)
            stop.request_stop();
    }
    bool flush(bool) override { return true; }

    bool refuse = false, forwarding = false;
    int stopAfter = -1; // key downs before a stop is requested
    std::stop_source stop;

private:
    xkb_keymap *m_keymap;
    QStringList &m_log;
    int m_levels;
    ExtraKeyPool m_pool;
};

} // namespace

class TestKeyPlanner : public QObject {
    Q_OBJECT

private slots:
    void keysyms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::vector<quint32>>("expected");
        QTest::newRow("latin-1 uses legacy keysyms")
            << QStringLiteral("aZ~ä") << std::vector<quint32>{0x61, 0x5a, 0x7e, 0xe4};
        QTest::newRow("cyrillic, beyond the BMP, combining")
            << QStringLiteral("ж👍e\u0301")
            << std::vector<quint32>{0x6d6, 0x101f44d, 0x65, 0x1000301};
        QTest::newRow("LF, CR, CR LF are one Return each, tab")
            << QStringLiteral("\n\r\r\n\t") << std::vector<quint32>{0xff0d, 0xff0d, 0xff0d, 0xff09};
        QTest::newRow("escape, backspace, DEL and C1 never pressed")
            << QStringLiteral("\x1b\x08\x7f\u0085\u009f") << std::vector<quint32>{};
        QTest::newRow("lone surrogates")
            << (QString(QChar(0xD83D)) + QStringLiteral("a") + QChar(0xDC00))
            << std::vector<quint32>{0x100fffd, 0x61, 0x100fffd};
    }

    void keysyms()
    {
        QFETCH(QString, text);
        QFETCH(std::vector<quint32>, expected);
        QCOMPARE(TextKeysyms::forText(text), expected);
    }

    void plans_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("group");
        QTest::addColumn<QString>("state"); // "caps", "num" locked; "fwd" a key-forwarding window
        QTest::addColumn<QString>("held");  // a key name the user holds
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // keys pressed in turn, each with its shifts
        const auto row = [](const char *name, const char *layout, int group, const char *state,
                            const char *held, const QString &text, const char *expected) {
            QTest::newRow(name) << QString::fromLatin1(layout) << group
                                << QString::fromLatin1(state) << QString::fromLatin1(held) << text
                                << QString::fromLatin1(expected);
        };
        row("lower case on its key", "us", 0, "", "", "a", "AC01");
        row("capital with Shift", "us", 0, "", "", "A", "AC01+S");
        row("shifted symbol", "us", 0, "", "", "!", "AE01+S");
        row("main block before keys only the keymap has", "us", 0, "", "", "(", "AE09+S");
        row("main block before the ISO key", "us", 0, "", "", "<", "AB08+S");
        row("CapsLock gives the capital alone", "us", 0, "caps", "", "A", "AC01");
        row("CapsLock: Shift for lower case", "us", 0, "caps", "", "a", "AC01+S");
        row("CapsLock leaves digits alone", "us", 0, "caps", "", "1", "AE01");
        row("NumLock: main row, not the keypad", "us", 0, "num", "", "5", "AE05");
        row("tab key", "us", 0, "", "", "\t", "TAB");
        row("held Shift types capitals", "us", 0, "", "LFSH", "A", "AC01");
        row("held Shift hides lower case", "us", 0, "", "LFSH", "a", "");
        row("AltGr at", "de", 0, "", "", "@", "AD01+L3");
        row("AltGr brace", "de", 0, "", "", "{", "AE07+L3");
        row("capital umlaut under CapsLock", "de", 0, "caps", "", "Ü", "AD11");
        row("only on the ISO key", "de", 0, "", "", "|", "LSGT+L3");
        row("dead key only where asked for", "de", 0, "", "", "^", "");
        row("azerty digit needs Shift", "fr", 0, "", "", "1", "AE01+S");
        row("azerty AltGr at", "fr", 0, "", "", "@", "AE10+L3");
        row("second group", "us,ru", 1, "", "", "ж", "AC10");
        row("second group capital", "us,ru", 1, "", "", "Ж", "AC10+S");
        row("Latin is not in the second group", "us,ru", 1, "", "", "a", "");
        row("not on the layout", "us", 0, "", "", "日", "");
        // A guest: its own locks, off; dead key then base key; nothing the layout lacks.
        row("guest: CapsLock of the host ignored", "us", 0, "fwd caps", "", "a", "AC01");
        row("guest: dead circumflex then e", "fr", 0, "fwd", "", "ê", "AD11 AD03");
        row("guest: lone circumflex with space", "de", 0, "fwd", "", "^", "TLDE SPCE");
        row("guest: dead diaeresis with Shift", "es", 0, "fwd", "", "ü", "AC11+S AD07");
        row("guest: capital through dead key", "pt", 0, "fwd", "", "Ã", "BKSL AC01+S");
        row("guest: direct key before dead key", "fr", 0, "fwd", "", "é", "AE02");
        row("guest: not on the layout", "fr", 0, "fwd", "", "日", "");
    }

    void plans()
    {
        QFETCH(QString, layout);
        QFETCH(int, group);
        QFETCH(QString, state);
        QFETCH(QString, held);
        QFETCH(QString, text);
        QFETCH(QString, expected);

        const auto owned = compileLayout(layout.toLatin1().constData());
        xkb_keymap *keymap = owned.get();
        QVERIFY(keymap);
        KeyPlanner planner(keymap, {}, state.contains(QLatin1String("fwd")));
        KeyPlanner::ModMask locked = 0;
        if (state.contains(QLatin1String("caps")))
            locked |= 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CAPS);
        if (state.contains(QLatin1String("num")))
            locked |= 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_NUM);
        std::vector<KeyPlanner::Keycode> heldKeys;
        if (!held.isEmpty())
            heldKeys.push_back(xkb_keymap_key_by_name(keymap, held.toLatin1().constData()));
        planner.setState(quint32(group), locked, heldKeys);

        const char32_t ucs = text.toUcs4().value(0);
        const xkb_keysym_t sym = ucs == U'\t' ? XKB_KEY_Tab : xkb_utf32_to_keysym(ucs);
        std::vector<Plan> plans = planner.deadKeyPlan(sym);
        if (const std::optional<Plan> plan = planner.plan(sym))
            plans = {*plan};
        QStringList keys;
        for (const Plan &p : plans) {
            keys << QString::fromLatin1(xkb_keymap_key_get_name(keymap, p.key)) +
                        QLatin1String(p.shifts & S ? "+S" : "") +
                        QLatin1String(p.shifts & L3 ? "+L3" : "");
            // Real keys a keyboard has, not the keymap's virtual ones.
            if (p.shifts & L3)
                QCOMPARE(xkb_keymap_key_get_name(keymap, *planner.shiftKey(KeyPlanner::Level3Key)),
                         "RALT");
        }
        QCOMPARE(keys.join(u' '), expected);
    }

    void sessions_data()
    {
        QTest::addColumn<QString>("clusters"); // typed one after the other, split at |
        QTest::addColumn<int>("keys");
        QTest::addColumn<int>("levels");
        QTest::addColumn<bool>("refuse"); // the desktop refuses keymap changes after the first
        QTest::addColumn<int>("stopAfter");
        QTest::addColumn<bool>("forwarding"); // the window forwards key codes to a guest
        QTest::addColumn<QString>("expected"); // what the desktop is told, each cluster's end in []
        const auto row = [](const char *name, const QString &clusters, const QString &expected,
                            int keys = 4, int levels = 1, bool refuse = false, int stopAfter = -1,
                            bool forwarding = false) {
            QTest::newRow(name) << clusters << keys << levels << refuse << stopAfter << forwarding
                                << expected;
        };
        row("a guest: no extra key; a dead key, then the base key",
            QStringLiteral("\u65e5|\u00ea|\u00c8"),
            QStringLiteral("[keys only] +TLDE -TLDE +AD03 -AD03 [ok] "
                           "+LFSH +AE12 -AE12 +AD03 -AD03 -LFSH [ok]"),
            4, 1, false, -1, true);
        row("Shift for each capital, let go before the pause and a lower case",
            QStringLiteral("H|I|i"),
            QStringLiteral("+LFSH +AC06 -AC06 -LFSH [ok] "
                           "+LFSH +AD08 -AD08 -LFSH [ok] +AD08 -AD08 [ok]"));
        row("Shift held inside one character only", QStringLiteral("A\u0301a"),
            QStringLiteral(
                "bind 250:0 combining_acute +LFSH +AC01 -AC01 -LFSH +I250 -I250 +AC01 -AC01 [ok]"));
        row("Shift let go before a keymap change", QStringLiteral("A|\u00e9"),
            QStringLiteral("+LFSH +AC01 -AC01 -LFSH [ok] bind 250:0 eacute +I250 -I250 [ok]"));
        row("characters coming next ride along", QStringLiteral("\u00e9|\u0436|\u00e9"),
            QStringLiteral(
                "bind 250:0 eacute bind 251:0 Cyrillic_zhe +I250 -I250 [ok] +I251 -I251 [ok] "
                "+I250 -I250 [ok]"));
        row("four levels: the second level with Shift", QStringLiteral("\u00c9|\u00e9"),
            QStringLiteral("bind 250:0 Eacute bind 250:1 eacute +I250 -I250 [ok] +LFSH +I250 -I250 "
                           "-LFSH [ok]"),
            2, 4);
        row("a refused change types nothing, and no key bound before is pressed for it",
            QStringLiteral("\u00e9|\u0436"),
            QStringLiteral(
                "bind 250:0 eacute +I250 -I250 [ok] bind 250:0 Cyrillic_zhe bind 250:0 Cyrillic_zhe "
                "bind 250:0 Cyrillic_zhe [keymap refused]"),
            1, 1, true);
        row("more distinct characters than extra keys: none of it typed",
            QStringLiteral("e\u0301\u0302\u0303|a"), QStringLiteral("[too many] +AC01 -AC01 [ok]"),
            2);
        row("no extra keys at all", QStringLiteral("\u65e5|a"),
            QStringLiteral("[no key] +AC01 -AC01 [ok]"), 0);
        QString marks = QStringLiteral("A"),
                expected = QStringLiteral("bind 250:0 combining_acute +LFSH +AC01 -AC01 -LFSH");
        for (int i = 0; i < 100; ++i)
            marks += QChar(0x0301);
        for (int i = 1; i < 60; ++i)
            expected += QStringLiteral(" +I250 -I250");
        row("a stop inside a long character, at the next check", marks,
            expected + QStringLiteral(" [stopped]"), 1, 1, false, 40);
    }

    void sessions()
    {
        QFETCH(QString, clusters);
        QFETCH(int, keys);
        QFETCH(int, levels);
        QFETCH(bool, refuse);
        QFETCH(int, stopAfter);
        QFETCH(bool, forwarding);
        QFETCH(QString, expected);
        const auto owned = compileLayout("de"); // with dead keys
        xkb_keymap *keymap = owned.get();
        QVERIFY(keymap);
        QStringList log;
        Clock::time_point now{};
        {
            auto owned = std::make_unique<FakeBackend>(keymap, log, keys, levels, now);
            FakeBackend &backend = *owned;
            backend.stopAfter = stopAfter;
            backend.forwarding = forwarding;
            PlannedKeySession session(std::move(owned));
            session.watchStop(backend.stop.get_token());
            session.prepare(QString(clusters).remove(u'|'));
            for (const QString &cluster : clusters.split(u'|')) {
                const ClusterEnd end = session.typeCluster(cluster);
                backend.refuse = refuse;
                const char *kinds[] = {"ok", "", "stopped", "lost"},
                           *reasons[] = {"no key", "too many", "keymap refused", "keys only"};
                log << u'[' +
                           QLatin1String(end.kind == ClusterEnd::Kind::NotTypeable
                                             ? reasons[int(end.reason)]
                                             : kinds[int(end.kind)]) +
                           u']';
            }
        }
        QCOMPARE(log.join(u' '), expected);
    }

    // Slots are taken cheapest first (free, bound but never pressed, pressed longest ago); one
    // pressed within its grace is waited for.
    void poolOrderAndGrace()
    {
        using namespace std::chrono_literals;
        using Edits = std::vector<ExtraKeyPool::Edit>;
        Clock::time_point now{};
        ExtraKeyPool pool(true, [&now] { return now; });
        pool.reconcile({{1, 0}, {2, 0}, {3, 0}});
        const auto bind = [&](std::vector<quint32> required, std::vector<quint32> upcoming = {}) {
            const ExtraKeyPool::Allocation a = pool.allocate(required, upcoming, 1);
            pool.apply(a.edits);
            return a;
        };
        QCOMPARE(bind({'a'}, {'a', 'b'}).edits, (Edits{{1, 0, 'a'}, {2, 0, 'b'}}));
        pool.markUsed(1, 0);
        QCOMPARE(bind({'c'}).edits, (Edits{{3, 0, 'c'}})); // free first
        now += 100ms;
        pool.markUsed(3, 0);
        QCOMPARE(bind({'d'}).edits, (Edits{{2, 0, 'd'}})); // then never pressed
        now += 50ms;
        pool.markUsed(2, 0);
        now += 500ms;
        // All pressed within their grace: the first to pass it is key 1, pressed at 0.
        ExtraKeyPool::Allocation waiting = pool.allocate({'e'}, {}, 1);
        QVERIFY(waiting.edits.empty());
        QCOMPARE(waiting.waitUntil, std::optional(Clock::time_point{} + pool.grace()));
        now = *waiting.waitUntil;
        QCOMPARE(bind({'e'}).edits, (Edits{{1, 0, 'e'}}));
        // A character this one needs is never given up for it, nor are more than fit.
        QVERIFY(pool.allocate({'e', 'f', 'g', 'h'}, {}, 1).impossible);
        now += 10s;
        QCOMPARE(bind({'e', 'f'}).edits, (Edits{{3, 0, 'f'}})); // the one pressed longest ago
    }
};

QTEST_APPLESS_MAIN(TestKeyPlanner)
#include "tst_keyplanner.moc"
