// Loading and saving the settings file: a real file in a temporary directory.
#include "FakePlatform.h"
#include "model/AppState.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <limits>

namespace {

struct Fixture {
    QTemporaryDir dir;
    FakePlatform fake;
    QString path() const { return dir.filePath(QStringLiteral("keyloom/keyloom.conf")); }

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

    QStringList storedKeys() const { return QSettings(path(), QSettings::IniFormat).allKeys(); }
    QVariant stored(const QString &key) const
    {
        return QSettings(path(), QSettings::IniFormat).value(key);
    }

    std::unique_ptr<AppState> load()
    {
        return std::make_unique<AppState>(fake.platform(), path(), fake.pauser);
    }
};

const QByteArray idA = "0F6C3A36-2E4B-4C4B-9D4E-1A2B3C4D5E6F";
const QByteArray idB = "8E2D9C1B-7A6F-4E5D-8C3B-2A1F0E9D8C7B";

} // namespace

class TestPreferences : public QObject {
    Q_OBJECT

private slots:
    void firstStartHasInitialValuesAndWritesNothing()
    {
        Fixture f;
        auto state = f.load();
        QCOMPARE(state->typingSpeedMs(), 30.0);
        QCOMPARE(state->hotkeyKeyCode(), 41);
        QVERIFY(state->hotkeyControl() && state->hotkeyCommand());
        QVERIFY(!state->hotkeyOption() && !state->hotkeyShift());
        QCOMPARE(state->prevHotkeyKeyCode(), 41);
        QVERIFY(state->prevHotkeyControl() && state->prevHotkeyCommand() &&
                state->prevHotkeyOption() && !state->prevHotkeyShift());
        QCOMPARE(state->typingMode(), TypingMode::Clipboard);
        QVERIFY(state->snippets().isEmpty());
        QCOMPARE(state->currentSnippetIndex(), 0);
        QVERIFY(!state->isTyping());
        QVERIFY(!state->isInitializing());
        QCOMPARE(state->hotkeyModifierFlags(), quint64(0x140000));
        QCOMPARE(state->prevHotkeyModifierFlags(), quint64(0x1C0000));
        QCOMPARE(f.storedKeys(), QStringList());
    }

    void loadConvertsStrictly_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<bool>("writtenBack");

        QTest::newRow("delay") << QByteArray("typingSpeedMs=45") << "typingSpeedMs" << QVariant(45.0) << true;
        QTest::newRow("delay fraction") << QByteArray("typingSpeedMs=12.5") << "typingSpeedMs" << QVariant(12.5) << true;
        QTest::newRow("delay out of slider range kept") << QByteArray("typingSpeedMs=250") << "typingSpeedMs" << QVariant(250.0) << true;
        QTest::newRow("delay text") << QByteArray("typingSpeedMs=fast") << "typingSpeedMs" << QVariant(30.0) << false;
        QTest::newRow("delay negative") << QByteArray("typingSpeedMs=-5") << "typingSpeedMs" << QVariant(30.0) << false;
        QTest::newRow("delay nan") << QByteArray("typingSpeedMs=nan") << "typingSpeedMs" << QVariant(30.0) << false;
        QTest::newRow("delay inf") << QByteArray("typingSpeedMs=inf") << "typingSpeedMs" << QVariant(30.0) << false;
        QTest::newRow("delay absurd") << QByteArray("typingSpeedMs=1e300") << "typingSpeedMs" << QVariant(30.0) << false;
        QTest::newRow("key code") << QByteArray("hotkeyKeyCode=40") << "hotkeyKeyCode" << QVariant(qint64(40)) << true;
        QTest::newRow("key code whole float") << QByteArray("hotkeyKeyCode=12.0") << "hotkeyKeyCode" << QVariant(qint64(12)) << true;
        QTest::newRow("key code fraction") << QByteArray("hotkeyKeyCode=12.5") << "hotkeyKeyCode" << QVariant(qint64(41)) << false;
        QTest::newRow("key code string") << QByteArray("hotkeyKeyCode=semicolon") << "hotkeyKeyCode" << QVariant(qint64(41)) << false;
        QTest::newRow("key code too big") << QByteArray("hotkeyKeyCode=65536") << "hotkeyKeyCode" << QVariant(qint64(41)) << false;
        QTest::newRow("key code max") << QByteArray("prevHotkeyKeyCode=65535") << "prevHotkeyKeyCode" << QVariant(qint64(65535)) << true;
        QTest::newRow("key code negative") << QByteArray("prevHotkeyKeyCode=-1") << "prevHotkeyKeyCode" << QVariant(qint64(41)) << false;
        QTest::newRow("bool false") << QByteArray("hotkeyControl=false") << "hotkeyControl" << QVariant(false) << true;
        QTest::newRow("bool true") << QByteArray("hotkeyShift=true") << "hotkeyShift" << QVariant(true) << true;
        QTest::newRow("bool as number") << QByteArray("hotkeyOption=1") << "hotkeyOption" << QVariant(false) << false;
        QTest::newRow("bool as word") << QByteArray("prevHotkeyOption=no") << "prevHotkeyOption" << QVariant(true) << false;
        QTest::newRow("mode playlist") << QByteArray("typingMode=playlist") << "typingMode" << QVariant::fromValue(TypingMode::Playlist) << true;
        QTest::newRow("mode other case") << QByteArray("typingMode=Playlist") << "typingMode" << QVariant::fromValue(TypingMode::Clipboard) << false;
        QTest::newRow("mode unknown") << QByteArray("typingMode=list") << "typingMode" << QVariant::fromValue(TypingMode::Clipboard) << false;
        QTest::newRow("index beyond list kept") << QByteArray("currentSnippetIndex=7") << "currentSnippetIndex" << QVariant(qint64(7)) << true;
        QTest::newRow("index text") << QByteArray("currentSnippetIndex=seven") << "currentSnippetIndex" << QVariant(qint64(0)) << false;
    }

    void loadConvertsStrictly()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, property);
        QFETCH(QVariant, expected);
        QFETCH(bool, writtenBack);

        Fixture f;
        f.writeFile("[General]\n" + line + "\n");
        const QByteArray before = f.readFile();
        auto state = f.load();
        QCOMPARE(state->property(property.toLatin1()), expected);
        // A taken value is written back; a refused one is left alone in the file.
        if (writtenBack)
            QCOMPARE(f.storedKeys(), QStringList{property});
        else
            QCOMPARE(f.readFile(), before);
    }

    void onlyTheLoadedKeyIsWrittenBack()
    {
        Fixture f;
        f.writeFile("[General]\ntypingSpeedMs=45\n");
        auto state = f.load();
        QCOMPARE(state->typingSpeedMs(), 45.0);
        QCOMPARE(state->hotkeyKeyCode(), 41);
        QCOMPARE(f.storedKeys(), QStringList{QStringLiteral("typingSpeedMs")});
        QCOMPARE(f.stored(QStringLiteral("typingSpeedMs")).toString(), QStringLiteral("45"));
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
        QCOMPARE(f.stored(QStringLiteral("typingSpeedMs")).toString(), QStringLiteral("30"));

        state->setTypingSpeedMs(55.5);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(written.count(), 2);

        // NaN equals nothing, not even itself.
        state->setTypingSpeedMs(std::numeric_limits<double>::quiet_NaN());
        state->setTypingSpeedMs(std::numeric_limits<double>::quiet_NaN());
        QCOMPARE(changed.count(), 3);

        QSignalSpy display(state.get(), &AppState::hotkeyDisplayStringChanged);
        QSignalSpy prevDisplay(state.get(), &AppState::prevHotkeyDisplayStringChanged);
        state->setHotkeyShift(true);
        state->setHotkeyShift(true);
        QCOMPARE(display.count(), 1);
        QCOMPARE(prevDisplay.count(), 0);
    }

    void settingsSurviveARestart()
    {
        Fixture f;
        {
            auto state = f.load();
            state->setTypingSpeedMs(12.5);
            state->setHotkeyKeyCode(40);
            state->setHotkeyCommand(false);
            state->setHotkeyShift(true);
            state->setPrevHotkeyKeyCode(53);
            state->setPrevHotkeyOption(false);
            state->setTypingMode(TypingMode::Playlist);
            state->addSnippet(QStringLiteral("first \"line\"\nsecond\tline"));
            state->addSnippet(QStringLiteral("é 🇫🇷 👍🏽"));
            state->setCurrentSnippetIndex(1);
        }
        const QByteArray saved = f.readFile();
        Fixture g;
        g.writeFile(saved);
        auto state = g.load();
        QCOMPARE(state->typingSpeedMs(), 12.5);
        QCOMPARE(state->hotkeyKeyCode(), 40);
        QVERIFY(!state->hotkeyCommand() && state->hotkeyShift());
        QCOMPARE(state->prevHotkeyKeyCode(), 53);
        QVERIFY(!state->prevHotkeyOption());
        QCOMPARE(state->typingMode(), TypingMode::Playlist);
        QCOMPARE(state->snippets().size(), 2);
        QCOMPARE(state->snippets().at(0).text, QStringLiteral("first \"line\"\nsecond\tline"));
        QCOMPARE(state->snippets().at(1).text, QStringLiteral("é 🇫🇷 👍🏽"));
        QCOMPARE(state->currentSnippetIndex(), 1);
    }

    void snippetsAreStoredAsCompactJson()
    {
        const SnippetList list{{QUuid::fromString(QLatin1String(idA.toLower())), QStringLiteral("a\"b\n")},
                               {QUuid::fromString(QLatin1String(idB)), QStringLiteral("ü")}};
        QCOMPARE(encodeSnippets(list),
                 QByteArray("[{\"id\":\"" + idA + "\",\"text\":\"a\\\"b\\n\"},{\"id\":\"" + idB +
                            "\",\"text\":\"\xC3\xBC\"}]"));
        QCOMPARE(encodeSnippets({}), QByteArray("[]"));
    }

    void snippetDecodingIsStrict_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("count"); // -1: unreadable

        QTest::newRow("upper case") << "[{\"id\":\"" + idA + "\",\"text\":\"x\"}]" << 1;
        QTest::newRow("lower case") << "[{\"id\":\"" + idA.toLower() + "\",\"text\":\"x\"}]" << 1;
        QTest::newRow("extra member") << "[{\"id\":\"" + idA + "\",\"text\":\"x\",\"n\":1}]" << 1;
        QTest::newRow("empty") << QByteArray("[]") << 0;
        QTest::newRow("braced id") << "[{\"id\":\"{" + idA + "}\",\"text\":\"x\"}]" << -1;
        QTest::newRow("short id") << QByteArray("[{\"id\":\"0F6C3A36\",\"text\":\"x\"}]") << -1;
        QTest::newRow("missing text") << "[{\"id\":\"" + idA + "\"}]" << -1;
        QTest::newRow("text not a string") << "[{\"id\":\"" + idA + "\",\"text\":5}]" << -1;
        QTest::newRow("id not a string") << QByteArray("[{\"id\":5,\"text\":\"x\"}]") << -1;
        QTest::newRow("element not an object") << QByteArray("[\"x\"]") << -1;
        QTest::newRow("object, not array") << "{\"id\":\"" + idA + "\",\"text\":\"x\"}" << -1;
        QTest::newRow("truncated") << "[{\"id\":\"" + idA + "\",\"te" << -1;
        QTest::newRow("not json") << QByteArray("\xff\xfe garbage") << -1;
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
        QTest::newRow("bad id") << QVariant(QByteArray("[{\"id\":\"nope\",\"text\":\"secret\"}]"));
        QTest::newRow("not json") << QVariant(QByteArray("\x01\x02 my notes"));
        QTest::newRow("text, not bytes") << QVariant(QStringLiteral("[{\"id\":\"x\"}]"));
    }

    void unreadableSnippetsAreRescuedBeforeTheFirstSave()
    {
        QFETCH(QVariant, stored);
        Fixture f;
        {
            QDir().mkpath(QFileInfo(f.path()).absolutePath());
            QSettings settings(f.path(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("snippets"), stored);
        }
        const QByteArray before = f.readFile();
        auto state = f.load();
        QVERIFY(state->snippets().isEmpty());
        QCOMPARE(f.readFile(), before);

        state->addSnippet(QStringLiteral("new"));
        QCOMPARE(f.stored(QStringLiteral("snippetsUnreadable")), stored);
        const auto reread = decodeSnippets(f.stored(QStringLiteral("snippets")).toByteArray());
        QVERIFY(reread);
        QCOMPARE(reread->size(), 1);

        // Later saves leave the rescued copy alone.
        state->addSnippet(QStringLiteral("more"));
        QCOMPARE(f.stored(QStringLiteral("snippetsUnreadable")), stored);
    }

    void aSecondRescueDoesNotOverwriteTheFirst()
    {
        Fixture f;
        {
            QDir().mkpath(QFileInfo(f.path()).absolutePath());
            QSettings settings(f.path(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("snippetsUnreadable"), QByteArray("older"));
            settings.setValue(QStringLiteral("snippets"), QByteArray("newer"));
        }
        auto state = f.load();
        state->addSnippet(QStringLiteral("x"));
        QCOMPARE(f.stored(QStringLiteral("snippetsUnreadable")).toByteArray(), QByteArray("older"));
        QCOMPARE(f.stored(QStringLiteral("snippetsUnreadable2")).toByteArray(), QByteArray("newer"));
    }

    void anUnwritableStoreKeepsWorkingAndSaysSoOnce()
    {
        QTemporaryDir dir;
        // A file where the folder should be: no write can succeed, even as root.
        QFile blocker(dir.filePath(QStringLiteral("keyloom")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        FakePlatform fake;

        QTemporaryFile captured;
        QVERIFY(captured.open());
        std::fflush(stderr);
        const int saved = dup(STDERR_FILENO);
        dup2(captured.handle(), STDERR_FILENO);
        {
            AppState state(fake.platform(), dir.filePath(QStringLiteral("keyloom/keyloom.conf")),
                           fake.pauser);
            state.setTypingSpeedMs(70);
            state.addSnippet(QStringLiteral("kept in memory"));
            state.setCurrentSnippetIndex(0);
            QCOMPARE(state.typingSpeedMs(), 70.0);
            QCOMPARE(state.snippets().size(), 1);
        }
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        captured.seek(0);
        const QByteArray said = captured.readAll();
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
        state->addSnippet(QStringLiteral("secret"));
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
