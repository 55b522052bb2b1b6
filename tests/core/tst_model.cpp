// The model over the fakes: settings on a real file, shortcuts, and runs started by them.
#include "StateFixture.h"
#include "hotkey/HotkeyManager.h"
#include "hotkey/KeyNames.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <limits>

using namespace Qt::StringLiterals;
using Op = std::function<void(AppState &)>;
Q_DECLARE_METATYPE(Op)

namespace {

constexpr quint64 shift = ModifierFlag::Shift, control = ModifierFlag::Control,
                  option = ModifierFlag::Option, command = ModifierFlag::Command;
constexpr quint64 cc = control | command, coc = control | option | command;
constexpr quint64 capsLock = 0x10000;

// Main is ⌃⌘; and previous ⌃⌥⌘; unless a row says otherwise.
struct MatchRow {
    const char *name;
    quint16 key;
    quint64 flags;
    const char *called; // "main", "prev", "esc" or ""
    quint16 mainKey = 41;
    quint64 mainMods = cc;
    quint16 prevKey = 41;
    quint64 prevMods = coc;
    bool prevEnabled = true;
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QVariant storedValue(const StateFixture &f, const QString &key)
{
    return QSettings(f.path(), QSettings::IniFormat).value(key);
}

const QByteArray idA = "\"0F6C3A36-2E4B-4C4B-9D4E-1A2B3C4D5E6F\"";

struct Fixture : StateFixture {
    explicit Fixture(const QStringList &snippets = {}, qint64 index = 0,
                     const QByteArray &file = {})
        : StateFixture(file)
    {
        for (const QString &text : snippets)
            state->addSnippet(text);
        if (!snippets.isEmpty())
            state->setTypingMode(TypingMode::Playlist);
        state->setCurrentSnippetIndex(index);
    }
    bool pressMain() { return fake.tap.press(KeyCode::Semicolon, cc); }
    bool pressPrev() { return fake.tap.press(KeyCode::Semicolon, cc | ModifierFlag::Option); }
};

} // namespace

Q_DECLARE_METATYPE(MatchRow)

class TestModel : public QObject {
    Q_OBJECT

private slots:
    // The documented shortcuts at first, which writes nothing; only changes notify.
    void settingsSurviveARestart()
    {
        StateFixture f;
        AppState &state = *f.state;
        QCOMPARE(state.hotkeySpelledOut(), u"Ctrl+Super+;"_s);
        QCOMPARE(state.prevHotkeySpelledOut(), u"Ctrl+Alt+Super+;"_s);
        QCOMPARE(contents(f.path()), QByteArray());
        QSignalSpy changed(&state, &AppState::typingSpeedMsChanged);
        state.setTypingSpeedMs(30.0);
        state.setTypingSpeedMs(12.5);
        QCOMPARE(changed.count(), 1);
        state.setHotkeyKeyCode(40);
        state.setHotkeyCommand(false);
        state.setHotkeyShift(true);
        state.setPrevHotkeyKeyCode(53);
        state.setPrevHotkeyOption(false);
        state.setTypingMode(TypingMode::Playlist);
        const QStringList texts{u"  first \"line\"\nsecond\tline \n"_s, u"é 🇫🇷 👍🏽"_s};
        for (const QString &text : texts)
            state.addSnippet(text);
        state.setCurrentSnippetIndex(1);
        f.state.reset();

        // Upper-case ids, as stored files have them.
        const QRegularExpression id(u"\\\\\"id\\\\\":\\\\\"([0-9A-Fa-f-]{36})"_s);
        const QString file = QString::fromUtf8(contents(f.path()));
        QCOMPARE(file.count(id), 2);
        for (const QRegularExpressionMatch &m : id.globalMatch(file))
            QCOMPARE(m.captured(1), m.captured(1).toUpper());
        const auto reloaded = f.load();
        QCOMPARE(reloaded->typingSpeedMs(), 12.5);
        QCOMPARE(reloaded->hotkeySpelledOut(), u"Ctrl+Shift+K"_s);
        QCOMPARE(reloaded->prevHotkeySpelledOut(), u"Ctrl+Super+Escape"_s);
        QCOMPARE(reloaded->typingMode(), TypingMode::Playlist);
        QCOMPARE(reloaded->snippets().size(), 2);
        QCOMPARE(reloaded->snippets().at(0).text, texts.at(0));
        QCOMPARE(reloaded->snippets().at(1).text, texts.at(1));
        QCOMPARE(reloaded->currentSnippetIndex(), 1);
    }

    // The names shortcut texts show, the same in every language and layout; any other key is
    // "Key" and its code.
    void keyNamesAreFixed()
    {
        const QStringList table = QStringLiteral(
            "0 A 1 S 2 D 3 F 4 H 5 G 6 Z 7 X 8 C 9 V 11 B 12 Q 13 W 14 E 15 R 16 Y 17 T 31 O 32 U "
            "34 I 35 P 37 L 38 J 40 K 45 N 46 M 18 1 19 2 20 3 21 4 22 6 23 5 25 9 26 7 28 8 29 0 "
            "24 = 27 - 30 ] 33 [ 39 ' 41 ; 42 \\ 43 , 44 / 47 . 50 ` 36 Return 48 Tab 49 Space "
            "51 Delete 53 Escape 122 F1 120 F2 99 F3 118 F4 96 F5 97 F6 98 F7 100 F8 101 F9 "
            "109 F10 103 F11 111 F12 105 F13 123 Left 124 Right 125 Down 126 Up").split(u' ');
        QHash<quint16, QString> names;
        for (qsizetype i = 0; i + 1 < table.size(); i += 2)
            names.insert(table[i].toUShort(), table[i + 1]);
        QCOMPARE(names.size(), 69);
        for (quint32 code = 0; code <= 0xFFFF; ++code) {
            if (keyName(quint16(code)) != names.value(quint16(code), u"Key%1"_s.arg(code)))
                QFAIL(qPrintable(u"key %1 is named %2"_s.arg(code).arg(keyName(quint16(code)))));
        }
    }

    void loadConvertsStrictly_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<bool>("taken");
        const auto row = [](const char *line, const QVariant &expected, bool taken) {
            QTest::newRow(line) << QByteArray(line) << expected << taken;
        };
        row("typingSpeedMs=12.5", 12.5, true);
        row("typingSpeedMs=nan", 30.0, false);
        row("typingSpeedMs=-5", 30.0, false);
        row("hotkeyKeyCode=12.0", 12ll, true);
        row("hotkeyKeyCode=65536", 41ll, false);
        row("prevHotkeyKeyCode=65535", 65535ll, true);
        row("hotkeyControl=false", false, true);
        row("hotkeyOption=1", false, false);
        row("typingMode=playlist", QVariant::fromValue(TypingMode::Playlist), true);
        row("currentSnippetIndex=7", 7ll, true); // beyond the list
        row("keyForwarding=never", 2, true);
        row("keyForwarding=Always", 0, false);
    }

    void loadConvertsStrictly()
    {
        QFETCH(QByteArray, line);
        QFETCH(QVariant, expected);
        QFETCH(bool, taken);
        StateFixture f("[General]\n" + line + "\n");
        const QString key = QString::fromLatin1(line.left(line.indexOf('=')));
        QCOMPARE(f.state->property(key.toLatin1()), expected);
        // A taken value is written back alone; a refused one is left in the file untouched.
        if (taken)
            QCOMPARE(QSettings(f.path(), QSettings::IniFormat).allKeys(), QStringList{key});
        else
            QCOMPARE(contents(f.path()), "[General]\n" + line + "\n");
    }

    // Unreadable snippets start an empty list; their bytes are moved aside at the first save.
    void snippetsAreDecodedStrictlyAndRescued_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("count"); // -1: unreadable
        QTest::addColumn<QVariant>("earlierRescue");
        const auto row = [](const char *name, const QByteArray &json, int count) {
            QTest::newRow(name) << QVariant(json) << count << QVariant();
        };
        row("empty", "[]", 0);
        row("braced id", "[{\"id\":\"{" + idA.mid(1, 36) + "}\",\"text\":\"x\"}]", -1);
        row("missing text", "[{\"id\":" + idA + "}]", -1);
        row("text not a string", "[{\"id\":" + idA + ",\"text\":5}]", -1);
        row("object, not array", "{\"id\":" + idA + ",\"text\":\"x\"}", -1);
        row("not json", "\x01\x02 my notes", -1);
        QTest::newRow("text, not bytes") << QVariant(u"[]"_s) << -1 << QVariant();
        QTest::newRow("after an earlier rescue")
            << QVariant(QByteArray("newer")) << -1 << QVariant(QByteArray("older"));
    }

    void snippetsAreDecodedStrictlyAndRescued()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, count);
        QFETCH(QVariant, earlierRescue);
        StateFixture f;
        {
            QSettings settings(f.path(), QSettings::IniFormat);
            if (earlierRescue.isValid())
                settings.setValue(u"snippetsUnreadable"_s, earlierRescue);
            settings.setValue(u"snippets"_s, stored);
        }
        const QByteArray before = contents(f.path());
        f.state = f.load();
        QCOMPARE(f.state->snippets().size(), std::max(count, 0));
        if (count >= 0)
            return;
        QCOMPARE(contents(f.path()), before);
        // An earlier rescue is never overwritten: the next free key takes this one.
        f.state->addSnippet(u"new"_s);
        QCOMPARE(storedValue(f, earlierRescue.isValid() ? u"snippetsUnreadable2"_s
                                                        : u"snippetsUnreadable"_s),
                 stored);
        if (earlierRescue.isValid())
            QCOMPARE(storedValue(f, u"snippetsUnreadable"_s), earlierRescue);
        QCOMPARE(f.load()->snippets().size(), 1);
    }

    // Each distinct unreadable file is kept byte for byte, owner-only, and told of once; the
    // newest few stay.
    void unreadableFilesAreKeptEachOnce()
    {
        StateFixture f;
        const QDir dir = QFileInfo(f.path()).dir();
        QList<QByteArray> written, kept;
        const int limit = PreferenceStore::keptUnreadableLimit;
        for (int i = 0; i < limit + 3; ++i) {
            // The second content twice: kept and told of once. Each content has a size of its
            // own: QSettings takes a file of the same size and time as unchanged, and file
            // times here are only a few milliseconds fine.
            const QByteArray broken =
                "[General\nsnippets=" + QByteArray(std::max(i - 1, 0) + 1, 'x');
            if (QFile out(f.path()); out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                out.write(broken);
            f.fake.notifier.shown.clear();
            f.state = f.load();
            QCOMPARE(f.fake.notifier.shown.size(), int(!written.contains(broken)));
            if (!written.contains(broken))
                written << broken;
            kept.clear();
            for (QString name :
                 dir.entryList({u"k.conf.unreadable-*"_s}, QDir::Files, QDir::Name)) {
                name = dir.filePath(name);
                const bool shared =
                    QFileInfo(name).permissions() & (QFile::ReadGroup | QFile::ReadOther);
                kept << (shared ? "not private" : contents(name));
            }
            QCOMPARE(kept, written.mid(std::max<qsizetype>(0, written.size() - limit)));
        }
    }

    void fileAndFolderArePrivate()
    {
        StateFixture f("[General]\ntypingSpeedMs=40\n");
        const QString folder = QFileInfo(f.path()).absolutePath();
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QFile::setPermissions(f.path(), QFile::ReadOwner | QFile::WriteOwner | others);
        QFile::setPermissions(folder,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | others);
        f.load()->addSnippet(u"secret"_s);
        const QFile::Permissions file = QFileInfo(f.path()).permissions();
        QVERIFY(file.testFlags(QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(file & others, QFile::Permissions());
        QCOMPARE(QFileInfo(folder).permissions() & others, QFile::Permissions());
    }

    void operations_data()
    {
        QTest::addColumn<QString>("list"); // one letter per snippet
        QTest::addColumn<qint64>("index");
        QTest::addColumn<Op>("op");
        QTest::addColumn<QString>("expectedList");
        QTest::addColumn<qint64>("expectedIndex");
        QTest::addColumn<QString>("writes"); // in order: S the list, I the index

        const auto add = [](QString text) { return Op([=](AppState &s) { s.addSnippet(text); }); };
        const auto del = [](qint64 at) { return Op([=](AppState &s) { s.deleteSnippet(at); }); };
        const auto move = [](QList<qint64> from, qint64 to) {
            return Op([=](AppState &s) { s.moveSnippets(from, to); });
        };
        const auto row = [](const char *name, const char *list, qint64 index, const Op &op,
                            const char *after, qint64 afterIndex, const char *writes) {
            QTest::newRow(name) << QString::fromUtf8(list) << index << op
                                << QString::fromUtf8(after) << afterIndex
                                << QString::fromLatin1(writes);
        };
        row("add empty text", "AB", 0, add(""), "AB", 0, "");
        row("add a blank", "AB", 0, add(" "), "AB ", 0, "S");
        row("delete before current", "ABC", 1, del(0), "BC", 1, "S");
        row("delete current at end", "ABC", 2, del(2), "AB", 1, "SI");
        row("delete only snippet", "A", 0, del(0), "", 0, "SI");
        row("delete with index far out", "ABC", 5, del(1), "AC", 1, "SI");
        row("delete outside list refused", "ABC", 0, del(3), "ABC", 0, "");
        row(
            "clear", "ABC", 2, [](AppState &s) { s.clearAllSnippets(); }, "", 0, "SI");
        row("move 0 to 2", "ABCD", 1, move({0}, 2), "BACD", 0, "SI");
        row("move 1 to end", "ABCD", 1, move({1}, 4), "ACDB", 3, "SI");
        row("move block", "ABCD", 3, move({1, 3}, 2), "ABDC", 2, "SI");
        // Two equal texts are two snippets: the current one is followed by its id.
        row("move follows identity", "ABA", 2, move({2}, 1), "AAB", 1, "SI");
        row("move with index out of range", "ABC", 5, move({0}, 3), "BCA", 5, "S");
        row(
            "select", "ABC", 0, [](AppState &s) { s.setCurrentSnippetIndex(2); }, "ABC", 2, "I");
    }

    void operations()
    {
        QFETCH(QString, list);
        QFETCH(qint64, index);
        QFETCH(Op, op);
        QFETCH(QString, expectedList);
        QFETCH(qint64, expectedIndex);
        QFETCH(QString, writes);
        StateFixture f;
        AppState &state = *f.state;
        for (QChar c : list)
            state.addSnippet(QString(c));
        state.setCurrentSnippetIndex(index);

        QSignalSpy written(&state.store(), &PreferenceStore::written);
        QSignalSpy listChanged(&state, &AppState::snippetsChanged);
        op(state);

        QString letters, keys;
        for (const Snippet &snippet : state.snippets())
            letters += snippet.text;
        for (const QList<QVariant> &args : written)
            keys += args.at(0).toString() == u"snippets" ? u'S' : u'I';
        QCOMPARE(letters, expectedList);
        QCOMPARE(state.currentSnippetIndex(), expectedIndex);
        QCOMPARE(keys, writes);
        QCOMPARE(listChanged.count(), writes.count(u'S'));
    }

    void matching_data()
    {
        QTest::addColumn<MatchRow>("r");
        const MatchRow rows[] = {
            {"main", 41, cc, "main"},
            {"main, caps lock on", 41, cc | capsLock, "main"},
            {"main, extra shift", 41, cc | shift, ""},
            {"main, one modifier missing", 41, control, ""},
            {"other key", 40, cc, ""},
            {"prev", 41, coc, "prev"},
            {"prev disabled", 41, coc, "", 41, cc, 41, coc, false},
            {"prev disabled, esc", 53, coc, "esc", 41, cc, 53, coc, false},
            {"main equals prev", 41, cc, "main", 41, cc, 41, cc},
            {"esc with modifiers", 53, shift | option | capsLock, "esc"},
            {"esc is main", 53, 0, "main", 53, 0},
            {"esc is main, with shift", 53, shift, "esc", 53, 0},
        };
        for (const MatchRow &r : rows)
            QTest::newRow(r.name) << r;
    }

    void matching()
    {
        QFETCH(MatchRow, r);
        FakeKeyboardTap tap;
        HotkeyManager manager(tap);
        manager.keyCode = r.mainKey;
        manager.modifiers = r.mainMods;
        manager.prevKeyCode = r.prevKey;
        manager.prevModifiers = r.prevMods;
        manager.prevEnabled = r.prevEnabled;
        QString called;
        manager.onHotkeyTriggered = [&] { return called += u"main", true; };
        manager.onPrevTriggered = [&] { return called += u"prev", true; };
        manager.onEscapePressed = [&] { return called += u"esc", true; };
        QCOMPARE(manager.handleTapEvent(r.key, r.flags), *r.called != 0);
        QCOMPARE(called, QString::fromLatin1(r.called));
    }

    void registration()
    {
        StateFixture f;
        FakeKeyboardTap &tap = f.fake.tap;
        QCOMPARE(tap.watched, (QList<KeyCombo>{{41, cc}, {41, coc}}));
        QCOMPARE(tap.installs, 1);
        f.state->setHotkeyKeyCode(40);
        f.state->setHotkeyCommand(false);
        f.state->setHotkeyShift(true);
        QCOMPARE(f.state->hotkeyManager().keyCode, quint16(41));
        f.state->updateHotkey();
        QCOMPARE(tap.watched, (QList<KeyCombo>{{40, control | shift}, {41, coc}}));
        QCOMPARE(tap.installs, 2);
    }

    void runs_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("snippets"); // none: the clipboard's text
        QTest::addColumn<qint64>("index");
        QTest::addColumn<std::optional<QString>>("clipboard");
        QTest::addColumn<QString>("typed"); // empty: nothing to type, no run
        QTest::addColumn<qint64>("after");
        QTest::addColumn<bool>("failed"); // ends at a character not typeable here
        const auto row = [](const char *name, const QStringList &snippets, qint64 index,
                            const std::optional<QString> &clipboard, const QString &typed,
                            qint64 after, const QByteArray &file = {}, bool failed = false) {
            QTest::newRow(name) << file << snippets << index << clipboard << typed << after
                                << failed;
        };
        const QStringList list{u"one"_s, u"two"_s, u"three"_s};
        const QString text = u"a\r\nb\t"_s;
        row("clipboard", {}, 0, text, u"a\nb\t"_s, 0);
        row("first", list, 0, text, u"one"_s, 1);
        row("last wraps", list, 2, text, u"three"_s, 0);
        row("negative types first", list, -1, text, u"one"_s, 0);
        row("max index", list, std::numeric_limits<qint64>::max(), text, u"three"_s, 2);
        row("not typeable keeps the place", {u"one"_s, u"t\u2717o"_s}, 1, text, u"t"_s, 1, {},
            true);
        row("no clipboard text", {}, 0, std::nullopt, {}, 0);
        row("empty clipboard text", {}, 0, u""_s, {}, 0);
        row("empty list", {}, 0, text, {}, 0, "[General]\ntypingMode=playlist\n");
        // Adding ignores empty texts, so an empty snippet can only come from the file.
        row("empty snippet", {}, 0, text, {}, 0,
            "[General]\ntypingMode=playlist\nsnippets=\"@ByteArray([{\\\"id\\\":\\\"0F6C3A36-2E4B-"
            "4C4B-9D4E-1A2B3C4D5E6F\\\",\\\"text\\\":\\\"\\\"}])\"\n");
    }

    // The shortcut is taken even with nothing to type; Esc only while a run goes on.
    void runs()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, snippets);
        QFETCH(qint64, index);
        QFETCH(std::optional<QString>, clipboard);
        QFETCH(QString, typed);
        QFETCH(qint64, after);
        QFETCH(bool, failed);
        Fixture f(snippets, index, file);
        f.fake.injector.untypeable = u"\u2717"_s;
        f.fake.injector.untypeableLate = true;
        f.fake.clipboard.content = clipboard;
        f.state->setTypingSpeedMs(12.5);
        QSignalSpy typing(f.state.get(), &AppState::isTypingChanged);
        QVERIFY(f.pressMain());
        QCOMPARE(f.fake.tap.escapeWatched, !typed.isEmpty());
        QVERIFY(waitForRunsToEnd(*f.state));
        QCOMPARE(typing.count(), typed.isEmpty() ? 0 : 2);
        QVERIFY(!f.fake.tap.escapeWatched);
        QVERIFY(!f.fake.tap.press(KeyCode::Escape, 0));
        QCOMPARE(f.fake.recorder.typedText(), typed);
        QCOMPARE(f.fake.recorder.sessionsClosed.load(), typed.isEmpty() ? 0 : 1);
        QCOMPARE(f.state->currentSnippetIndex(), after);
        QCOMPARE(f.fake.notifier.shown.size(), int(failed));
        if (!typed.isEmpty())
            QCOMPARE(f.fake.recorder.steps().last(), u"pause 12500000"_s);
    }

    void aStoppedRunLeavesTheIndex()
    {
        Fixture f({u"abc"_s, u"def"_s}, 0);
        QVERIFY(f.startHeld());
        QVERIFY(f.fake.tap.press(KeyCode::Escape, shift | option)); // Esc, whatever the modifiers
        QVERIFY(!f.state->isTyping());
        QVERIFY(!f.fake.tap.escapeWatched);
        f.fake.pauser->release();
        QVERIFY(waitForRunsToEnd(*f.state));
        QCOMPARE(f.state->currentSnippetIndex(), 0);
        // Held in the settle pause: nothing was typed, and no key was left half-pressed.
        QCOMPARE(f.fake.recorder.typedText(), QString());
        QCOMPARE(f.fake.recorder.sessionsClosed.load(), 1);
    }

    // The stopped run reports while the newer one is held: its report must not end it.
    void aStaleRunDoesNotEndTheNewOne()
    {
        Fixture f({u"abc"_s, u"def"_s}, 0);
        QVERIFY(f.startHeld());
        QVERIFY(f.pressMain()); // stop: the first run winds down and reports
        QVERIFY(f.pressMain()); // start again; the new run is held in its first pause
        QSignalSpy ended(f.state.get(), &AppState::typingTaskEnded);
        QVERIFY(ended.wait());
        QVERIFY(f.state->isTyping());
        QVERIFY(f.fake.tap.escapeWatched);
        QCOMPARE(f.state->currentSnippetIndex(), 0);
        f.state->setTypingMode(TypingMode::Clipboard); // the run keeps its list mode
        f.fake.pauser->release();
        QVERIFY(waitForRunsToEnd(*f.state));
        QVERIFY(!f.state->isTyping());
        QCOMPARE(f.fake.recorder.typedText(), u"abc"_s);
        QCOMPARE(f.state->currentSnippetIndex(), 1);
    }

    void previousShortcut_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("index");
        QTest::addColumn<bool>("listMode");
        QTest::addColumn<qint64>("after"); // -1: passed through
        QTest::newRow("wraps to last") << 3 << 0ll << true << 2ll;
        QTest::newRow("min index") << 3 << std::numeric_limits<qint64>::min() << true << 0ll;
        QTest::newRow("empty list") << 0 << 0ll << true << -1ll;
        QTest::newRow("clipboard mode") << 1 << 0ll << false << -1ll;
    }

    void previousShortcut()
    {
        QFETCH(int, count);
        QFETCH(qint64, index);
        QFETCH(bool, listMode);
        QFETCH(qint64, after);
        Fixture f(QStringList(count, u"s"_s), index);
        f.state->setTypingMode(listMode ? TypingMode::Playlist : TypingMode::Clipboard);
        QSignalSpy written(&f.state->store(), &PreferenceStore::written);
        QCOMPARE(f.pressPrev(), after >= 0);
        QCOMPARE(f.state->currentSnippetIndex(), after >= 0 ? after : index);
        QCOMPARE(written.count(), after >= 0 ? 1 : 0);
    }

    // Without a session nothing was typed, so the list stays where it was.
    void aRunWithoutASessionLeavesTheIndex()
    {
        Fixture f({u"a"_s, u"b"_s}, 0);
        f.fake.injector.failToOpen = true;
        QVERIFY(f.pressMain());
        QVERIFY(waitForRunsToEnd(*f.state));
        QCOMPARE(f.state->currentSnippetIndex(), 0);
    }

    void destroyingTheStateStopsARun()
    {
        Fixture f;
        f.fake.clipboard.content = u"abcdef"_s;
        QVERIFY(f.startHeld());
        f.state.reset();
        QCOMPARE(f.fake.recorder.sessionsClosed.load(), 1);
        QVERIFY(!f.fake.tap.installed);
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
