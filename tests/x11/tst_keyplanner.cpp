// Which keysyms a text becomes, and which keys type them on keymaps compiled from layout
// names: no display server needed.
#include "platform/xkb/TextKeysyms.h"
#include "platform/xkb/KeyPlanner.h"

#include <QTest>

#include <xkbcommon/xkbcommon.h>

using Plan = KeyPlanner::Plan;

namespace {

constexpr unsigned S = KeyPlanner::ShiftKey, L3 = KeyPlanner::Level3Key;
constexpr unsigned none = 99; // no plan expected

} // namespace

class TestKeyPlanner : public QObject {
    Q_OBJECT

private slots:
    void keysyms_data();
    void keysyms();
    void plans_data();
    void plans();
};

void TestKeyPlanner::keysyms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::vector<quint32>>("expected");
    QTest::newRow("latin-1 uses legacy keysyms")
        << QStringLiteral("aZ~ä") << std::vector<quint32>{0x61, 0x5a, 0x7e, 0xe4};
    QTest::newRow("cyrillic, beyond the BMP, combining")
        << QStringLiteral("ж👍e\u0301") << std::vector<quint32>{0x6d6, 0x101f44d, 0x65, 0x1000301};
    QTest::newRow("LF, CR, CR LF are one Return each, tab")
        << QStringLiteral("\n\r\r\n\t") << std::vector<quint32>{0xff0d, 0xff0d, 0xff0d, 0xff09};
    QTest::newRow("escape, backspace, DEL and C1 never pressed")
        << QStringLiteral("\x1b\x08\x7f\u0085\u009f") << std::vector<quint32>{};
    QTest::newRow("lone surrogates")
        << (QString(QChar(0xD83D)) + QStringLiteral("a") + QChar(0xDC00))
        << std::vector<quint32>{0x100fffd, 0x61, 0x100fffd};
}

void TestKeyPlanner::keysyms()
{
    QFETCH(QString, text);
    QFETCH(std::vector<quint32>, expected);
    QCOMPARE(TextKeysyms::forText(text), expected);
}

void TestKeyPlanner::plans_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("group");
    QTest::addColumn<QString>("locks"); // "caps", "num"
    QTest::addColumn<QString>("held");  // a key name the user holds
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<unsigned>("shifts");
    const auto row = [](const char *name, const char *layout, int group, const char *locks,
                        const char *held, const QString &text, const char *key, unsigned shifts) {
        QTest::newRow(name) << QString::fromLatin1(layout) << group << QString::fromLatin1(locks)
                            << QString::fromLatin1(held) << text << QString::fromLatin1(key)
                            << shifts;
    };
    row("lower case on its key", "us", 0, "", "", "a", "AC01", 0);
    row("capital with Shift", "us", 0, "", "", "A", "AC01", S);
    row("shifted symbol", "us", 0, "", "", "!", "AE01", S);
    row("main block before the ISO key", "us", 0, "", "", "<", "AB08", S);
    row("CapsLock gives the capital alone", "us", 0, "caps", "", "A", "AC01", 0);
    row("CapsLock: Shift for lower case", "us", 0, "caps", "", "a", "AC01", S);
    row("CapsLock leaves digits alone", "us", 0, "caps", "", "1", "AE01", 0);
    row("NumLock: main row, not the keypad", "us", 0, "num", "", "5", "AE05", 0);
    row("tab key", "us", 0, "", "", "\t", "TAB", 0);
    row("held Shift types capitals", "us", 0, "", "LFSH", "A", "AC01", 0);
    row("held Shift hides lower case", "us", 0, "", "LFSH", "a", "", none);
    row("AltGr at", "de", 0, "", "", "@", "AD01", L3);
    row("AltGr brace", "de", 0, "", "", "{", "AE07", L3);
    row("capital umlaut under CapsLock", "de", 0, "caps", "", "Ü", "AD11", 0);
    row("only on the ISO key", "de", 0, "", "", "|", "LSGT", L3);
    row("dead key never used", "de", 0, "", "", "^", "", none);
    row("azerty digit needs Shift", "fr", 0, "", "", "1", "AE01", S);
    row("azerty AltGr at", "fr", 0, "", "", "@", "AE10", L3);
    row("second group", "us,ru", 1, "", "", "ж", "AC10", 0);
    row("second group capital", "us,ru", 1, "", "", "Ж", "AC10", S);
    row("Latin is not in the second group", "us,ru", 1, "", "", "a", "", none);
    row("not on the layout", "us", 0, "", "", "日", "", none);
}

void TestKeyPlanner::plans()
{
    QFETCH(QString, layout);
    QFETCH(int, group);
    QFETCH(QString, locks);
    QFETCH(QString, held);
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(unsigned, shifts);

    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    QVERIFY(context);
    const QByteArray layoutName = layout.toLatin1();
    const xkb_rule_names names{"evdev", "pc105", layoutName.constData(), "", ""};
    xkb_keymap *keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    QVERIFY(keymap);
    {
        KeyPlanner planner(keymap);
        KeyPlanner::ModMask locked = 0;
        if (locks.contains(QLatin1String("caps")))
            locked |= 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CAPS);
        if (locks.contains(QLatin1String("num")))
            locked |= 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_NUM);
        std::vector<KeyPlanner::Keycode> heldKeys;
        if (!held.isEmpty())
            heldKeys.push_back(xkb_keymap_key_by_name(keymap, held.toLatin1().constData()));
        planner.setState(quint32(group), locked, heldKeys);

        const char32_t ucs = text.toUcs4().value(0);
        const xkb_keysym_t sym = ucs == U'\t' ? XKB_KEY_Tab : xkb_utf32_to_keysym(ucs);
        const std::optional<Plan> plan = planner.plan(sym);
        if (shifts == none) {
            QVERIFY2(!plan, plan ? xkb_keymap_key_get_name(keymap, plan->key) : "");
        } else {
            QVERIFY(plan);
            QCOMPARE(QString::fromLatin1(xkb_keymap_key_get_name(keymap, plan->key)), key);
            QCOMPARE(plan->shifts, shifts);
            // Real keys a keyboard has, not the keymap's virtual ones.
            if (shifts & L3)
                QCOMPARE(xkb_keymap_key_get_name(keymap, *planner.shiftKey(KeyPlanner::Level3Key)),
                         "RALT");
        }
    }
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
}

QTEST_APPLESS_MAIN(TestKeyPlanner)
#include "tst_keyplanner.moc"
