// Loading and saving the settings file: a real file in a temporary directory.
#include "FakePlatform.h"
#include "StreamCapture.h"
#include "model/AppState.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Fixture {
    QTemporaryDir dir;
    FakePlatform fake;
    QString path() const { return dir.filePath(u"keyloom/keyloom.conf"_s); }

    QSettings settings() const
    {
        QDir().mkpath(QFileInfo(path()).absolutePath());
        return QSettings(path(), QSettings::IniFormat);
    }
    void writeFile(const QByteArray &content) const
    {
        QDir().mkpath(QFileInfo(path()).absolutePath());
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    QByteArray readFile() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QVariant stored(const QString &key) const { return settings().value(key); }
    std::unique_ptr<AppState> load()
    {
        return std::make_unique<AppState>(fake.platform(), path(), fake.pauser);
    }
};

const QByteArray idA = "0F6C3A36-2E4B-4C4B-9D4E-1A2B3C4D5E6F";

} // namespace

class TestPreferences : public QObject {
    Q_OBJECT

private slots:
    void firstStartHasTheDocumentedShortcutsAndWritesNothing()
    {
        Fixture f;
        auto state = f.load();
        QCOMPARE(state->hotkeySpelledOut(), u"Ctrl+Super+;"_s);
        QCOMPARE(state->prevHotkeySpelledOut(), u"Ctrl+Alt+Super+;"_s);
        QCOMPARE(state->typingSpeedMs(), 30.0);
        QCOMPARE(state->typingMode(), TypingMode::Clipboard);
        QCOMPARE(f.settings().allKeys(), QStringList());
    }

    void loadConvertsStrictly_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<bool>("taken");
        const QVariant playlist = QVariant::fromValue(TypingMode::Playlist);
        const QVariant clipboard = QVariant::fromValue(TypingMode::Clipboard);
        const auto row = [](const char *line, const QVariant &expected, bool taken) {
            QTest::newRow(line) << QByteArray(line) << expected << taken;
        };
        row("typingSpeedMs=12.5", 12.5, true);
        row("typingSpeedMs=fast", 30.0, false);
        row("typingSpeedMs=nan", 30.0, false);
        row("typingSpeedMs=-5", 30.0, false);
        row("hotkeyKeyCode=12.0", 12ll, true);
        row("hotkeyKeyCode=12.5", 41ll, false);
        row("hotkeyKeyCode=65536", 41ll, false);
        row("prevHotkeyKeyCode=65535", 65535ll, true);
        row("hotkeyControl=false", false, true);
        row("hotkeyOption=1", false, false);
        row("typingMode=playlist", playlist, true);
        row("currentSnippetIndex=7", 7ll, true); // beyond the list
        row("currentSnippetIndex=seven", 0ll, false);
    }

    void loadConvertsStrictly()
    {
        QFETCH(QByteArray, line);
        QFETCH(QVariant, expected);
        QFETCH(bool, taken);
        Fixture f;
        f.writeFile("[General]\n" + line + "\n");
        const QByteArray before = f.readFile();
        auto state = f.load();
        const QString key = QString::fromLatin1(line.left(line.indexOf('=')));
        QCOMPARE(state->property(key.toLatin1()), expected);
        // A taken value is written back alone; a refused one is left in the file untouched.
        if (taken)
            QCOMPARE(f.settings().allKeys(), QStringList{key});
        else
            QCOMPARE(f.readFile(), before);
    }

    void everyAssignmentWritesButOnlyChangesNotify()
    {
        Fixture f;
        auto state = f.load();
        QSignalSpy changed(state.get(), &AppState::typingSpeedMsChanged);
        QSignalSpy written(&state->store(), &PreferenceStore::written);
        state->setTypingSpeedMs(30.0);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(written.count(), 1);
        state->setTypingSpeedMs(55.5);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(written.count(), 2);
    }

    void settingsSurviveARestart()
    {
        Fixture f;
        const SnippetList snippets{{QUuid::createUuid(), u"first \"line\"\nsecond\tline"_s},
                                   {QUuid::createUuid(), u"é 🇫🇷 👍🏽"_s}};
        {
            auto state = f.load();
            state->setTypingSpeedMs(12.5);
            state->setHotkeyKeyCode(40);
            state->setHotkeyCommand(false);
            state->setHotkeyShift(true);
            state->setPrevHotkeyKeyCode(53);
            state->setPrevHotkeyOption(false);
            state->setTypingMode(TypingMode::Playlist);
            for (const Snippet &snippet : snippets)
                state->addSnippet(snippet.text);
            state->setCurrentSnippetIndex(1);
        }
        auto state = f.load();
        QCOMPARE(state->typingSpeedMs(), 12.5);
        QCOMPARE(state->hotkeySpelledOut(), u"Ctrl+Shift+K"_s);
        QCOMPARE(state->prevHotkeySpelledOut(), u"Ctrl+Super+Escape"_s);
        QCOMPARE(state->typingMode(), TypingMode::Playlist);
        QCOMPARE(state->snippets().size(), 2);
        QCOMPARE(state->snippets().at(0).text, snippets.at(0).text);
        QCOMPARE(state->snippets().at(1).text, snippets.at(1).text);
        QCOMPARE(state->currentSnippetIndex(), 1);
    }

    void snippetDecodingIsStrict_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("count"); // -1: unreadable
        QTest::newRow("lower case") << "[{\"id\":\"" + idA.toLower() + "\",\"text\":\"x\"}]" << 1;
        QTest::newRow("extra member") << "[{\"id\":\"" + idA + "\",\"text\":\"x\",\"n\":1}]" << 1;
        QTest::newRow("empty") << QByteArray("[]") << 0;
        QTest::newRow("braced id") << "[{\"id\":\"{" + idA + "}\",\"text\":\"x\"}]" << -1;
        QTest::newRow("missing text") << "[{\"id\":\"" + idA + "\"}]" << -1;
        QTest::newRow("text not a string") << "[{\"id\":\"" + idA + "\",\"text\":5}]" << -1;
        QTest::newRow("element not an object") << QByteArray("[\"x\"]") << -1;
        QTest::newRow("object, not array") << "{\"id\":\"" + idA + "\",\"text\":\"x\"}" << -1;
        QTest::newRow("truncated") << "[{\"id\":\"" + idA + "\",\"te" << -1;
    }

    void snippetDecodingIsStrict()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, count);
        const std::optional<SnippetList> decoded = decodeSnippets(json);
        QCOMPARE(decoded ? int(decoded->size()) : -1, count);
    }

    void unreadableSnippetsAreRescuedBeforeTheFirstSave_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("earlierRescue");
        QTest::newRow("bad id") << QVariant(QByteArray("[{\"id\":\"nope\",\"text\":\"secret\"}]"))
                                << QVariant();
        QTest::newRow("not json") << QVariant(QByteArray("\x01\x02 my notes")) << QVariant();
        QTest::newRow("text, not bytes") << QVariant(u"[{\"id\":\"x\"}]"_s) << QVariant();
        QTest::newRow("after an earlier rescue")
            << QVariant(QByteArray("newer")) << QVariant(QByteArray("older"));
    }

    void unreadableSnippetsAreRescuedBeforeTheFirstSave()
    {
        QFETCH(QVariant, stored);
        QFETCH(QVariant, earlierRescue);
        Fixture f;
        if (earlierRescue.isValid())
            f.settings().setValue(u"snippetsUnreadable"_s, earlierRescue);
        f.settings().setValue(u"snippets"_s, stored);
        const QByteArray before = f.readFile();
        auto state = f.load();
        QVERIFY(state->snippets().isEmpty());
        QCOMPARE(f.readFile(), before);

        // An earlier rescue is never overwritten: the next free key takes this one.
        const QString key =
            earlierRescue.isValid() ? u"snippetsUnreadable2"_s : u"snippetsUnreadable"_s;
        for (const char *text : {"new", "more"}) {
            state->addSnippet(QString::fromLatin1(text));
            QCOMPARE(f.stored(key), stored);
            if (earlierRescue.isValid())
                QCOMPARE(f.stored(u"snippetsUnreadable"_s), earlierRescue);
        }
        const auto reread = decodeSnippets(f.stored(u"snippets"_s).toByteArray());
        QVERIFY(reread);
        QCOMPARE(reread->size(), 2);
    }

    void anUnwritableStoreKeepsWorkingAndSaysSoOnce()
    {
        QTemporaryDir dir;
        // A file where the folder should be: no write can succeed, even as root.
        QFile blocker(dir.filePath(u"keyloom"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        FakePlatform fake;
        StreamCapture captured(STDERR_FILENO);
        {
            AppState state(fake.platform(), dir.filePath(u"keyloom/keyloom.conf"_s), fake.pauser);
            state.setTypingSpeedMs(70);
            state.addSnippet(u"kept in memory"_s);
            state.setCurrentSnippetIndex(0);
            QCOMPARE(state.typingSpeedMs(), 70.0);
            QCOMPARE(state.snippets().size(), 1);
        }
        const QByteArray said = captured.finish();
        QCOMPARE(said.count('\n'), 1);
        QVERIFY(said.startsWith("[Keyloom] Cannot save settings to "));
        QVERIFY(!said.contains("kept in memory"));
    }

    void fileAndFolderArePrivate()
    {
        Fixture f;
        f.writeFile("[General]\ntypingSpeedMs=40\n");
        QFile::setPermissions(f.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                            QFile::ReadOther);
        auto state = f.load();
        state->addSnippet(u"secret"_s);
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        const QFile::Permissions file = QFileInfo(f.path()).permissions();
        QVERIFY(file.testFlags(QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(file & others, QFile::Permissions());
        QCOMPARE(QFileInfo(QFileInfo(f.path()).absolutePath()).permissions() & others,
                 QFile::Permissions());
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
