// On a real X server: the clipboard as xclip processes see it, and one instance per display.
#include "app/QtClipboard.h"
#include "app/SingleInstance.h"
#include "platform/x11/X11ClipboardReader.h"
#include "platform/x11/X11DisplayOwnership.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <future>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Runs xclip in the foreground on the CLIPBOARD selection, to read ("-o") or own ("-i") it.
void xclip(QProcess &process, const QString &type, const QString &mode)
{
    process.start(u"xclip"_s, {u"-quiet"_s, u"-selection"_s, u"clipboard"_s, u"-t"_s, type, mode});
}

// What another client reads; our event loop runs meanwhile, as the owner may be this process.
std::optional<QByteArray> readElsewhere(const QString &target = u"UTF8_STRING"_s)
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    xclip(process, target, u"-o"_s);
    if (!finished.wait(20000))
        return "(no answer)";
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// Owns the CLIPBOARD selection from another process, until the process object goes.
void own(QProcess &owner, const QByteArray &data, const QString &type)
{
    xclip(owner, type, u"-i"_s);
    owner.write(data);
    owner.closeWriteChannel();
}

struct ProgramClipboard {
    QtClipboard clipboard{[reader = std::make_shared<X11ClipboardReader>(qgetenv("DISPLAY"))](
                              auto done) { reader->read(std::move(done)); }};
    std::optional<QString> text()
    {
        std::optional<std::optional<QString>> answer;
        clipboard.requestText([&](std::optional<QString> text) { answer = std::move(text); });
        if (!QTest::qWaitFor([&] { return answer.has_value(); }, 20000))
            return u"(no answer)"_s;
        return *answer;
    }
};

// Lock and socket are named after the display's name, as by default.
QString baseFor(const QTemporaryDir &dir, const QByteArray &name)
{
    return dir.filePath("keyloom-"_L1 + QString::fromLatin1(name.toHex()));
}

std::unique_ptr<X11DisplayOwnership> displayFor(const QByteArray &name)
{
    return name.isEmpty() ? nullptr : std::make_unique<X11DisplayOwnership>(name);
}

// A later start asks from a thread of its own while this thread serves the running instance.
SingleInstance::Answer askRunning(const QString &base, const QByteArray &display,
                                  SingleInstance::Command command)
{
    auto answer = std::async(std::launch::async, [&] {
        return SingleInstance(base, displayFor(display).get()).send(command, 20s);
    });
    while (answer.wait_for(0s) != std::future_status::ready)
        QTest::qWait(10);
    return answer.get();
}

// What a process that died leaves behind: its lock, naming a process that is gone, or its socket.
bool leaveBehind(const QString &path)
{
    QByteArray content;
    if (path.endsWith(".lock"_L1)) {
        QLockFile lock(path);
        QFile written(path);
        if (!lock.tryLock(0) || !written.open(QIODevice::ReadOnly))
            return false;
        content = written.readAll();
        lock.unlock();
        QProcess gone;
        gone.start(u"true"_s, {});
        if (!gone.waitForStarted() || content.indexOf('\n') <= 0)
            return false;
        content.replace(0, content.indexOf('\n'), QByteArray::number(gone.processId()));
        gone.waitForFinished();
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestX11App : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QGuiApplication::platformName() == "xcb"_L1 &&
                !QStandardPaths::findExecutable(u"xclip"_s).isEmpty());
    }

    void readsWhatAnotherClientOwns_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("type");
        QTest::addColumn<std::optional<QString>>("text");
        const QString mixed =
            u"Gr\u00FC\u00DFe \u65E5\u672C \U0001F1E9\U0001F1EA e\u0301\nZeile\t!"_s;
        const QString big = u"\u00E9t\u00E9 \u65E5 0123456789\n"_s.repeated(500'000);
        QTest::newRow("mixed unicode with newline")
            << mixed.toUtf8() << u"UTF8_STRING"_s << std::optional(mixed);
        QTest::newRow("Latin-1 only") << QByteArray("Gr\xFC\xDF"
                                                    "e")
                                      << u"STRING"_s << std::optional(u"Gr\u00FC\u00DFe"_s);
        // Far above the largest request: the owner hands it over in INCR pieces.
        QTest::newRow("10 MB") << big.toUtf8() << u"UTF8_STRING"_s << std::optional(big);
        QTest::newRow("an image is no text")
            << QByteArray("\x89PNG\r\n\x1a\n", 8) << u"image/png"_s << std::optional<QString>();
    }

    void readsWhatAnotherClientOwns()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, type);
        QFETCH(std::optional<QString>, text);
        QProcess owner;
        own(owner, data, type);
        QTRY_VERIFY_WITH_TIMEOUT(readElsewhere(u"TARGETS"_s).value_or("").contains(type.toLatin1()),
                                 20000);
        QCOMPARE(ProgramClipboard().text(), text);
    }

    void clearEmptiesItForEveryone_data()
    {
        QTest::addColumn<bool>("readFirst");
        // Without reading, the other client took the selection after our last X event.
        QTest::newRow("after reading it") << true;
        QTest::newRow("without looking") << false;
    }

    void clearEmptiesItForEveryone()
    {
        QFETCH(bool, readFirst);
        QProcess owner;
        own(owner, "secret", u"UTF8_STRING"_s);
        QTRY_COMPARE_WITH_TIMEOUT(readElsewhere(), std::optional<QByteArray>("secret"), 20000);
        ProgramClipboard clipboard;
        if (readFirst)
            QCOMPARE(clipboard.text(), std::optional<QString>(u"secret"_s));
        // Twice: clearing with nothing there is harmless.
        for (int i = 0; i < 2; ++i) {
            clipboard.clipboard.clear();
            QVERIFY(clipboard.text().value_or(QString()).isEmpty());
            // Another client asks while our event loop runs, as it would in the program.
            const std::optional<QByteArray> seen = readElsewhere();
            QVERIFY2(!seen || seen->isEmpty(), seen ? seen->constData() : "");
            // Owned, not released: with no owner a clipboard manager would bring the text back.
            QVERIFY(QGuiApplication::clipboard()->ownsClipboard());
        }
    }

    void secondStartWakesTheFirst_data()
    {
        // Names of the test's Xvfb, or none at all for the lock alone.
        QTest::addColumn<QByteArray>("firstName");
        QTest::addColumn<QByteArray>("secondName");
        QTest::addColumn<QString>("leftover"); // of a dead instance, found by the first
        const QByteArray display = qgetenv("DISPLAY");
        QTest::newRow("no display") << QByteArray() << QByteArray() << QString();
        QTest::newRow("same name") << display << display << QString();
        QTest::newRow("another name of the display") << display << "unix" + display << QString();
        QTest::newRow("dead one's lock") << QByteArray() << QByteArray() << u".lock"_s;
        QTest::newRow("dead one's socket") << QByteArray() << QByteArray() << u".socket"_s;
    }

    void secondStartWakesTheFirst()
    {
        QFETCH(QByteArray, firstName);
        QFETCH(QByteArray, secondName);
        QFETCH(QString, leftover);
        QTemporaryDir dir;
        QVERIFY(leftover.isEmpty() || leaveBehind(baseFor(dir, firstName) + leftover));
        using C = SingleInstance::Command;
        using A = SingleInstance::Answer;
        // A command finds nobody at once, whatever a dead one left.
        QCOMPARE(askRunning(baseFor(dir, secondName), secondName, C::Toggle), A::NotRunning);
        const auto firstDisplay = displayFor(firstName);
        SingleInstance first(baseFor(dir, firstName), firstDisplay.get());
        QVERIFY(first.claim());
        QSignalSpy requested(&first, &SingleInstance::settingsRequested);
        QSignalSpy commands(&first, &SingleInstance::commandReceived);
        QVERIFY(!SingleInstance(baseFor(dir, secondName), displayFor(secondName).get()).claim());
        // Several: the server keeps serving.
        for (C c : {C::OpenSettings, C::Toggle, C::OpenSettings, C::Previous, C::Stop})
            QCOMPARE(askRunning(baseFor(dir, secondName), secondName, c), A::Taken);
        QCOMPARE(requested.count(), 2);
        QCOMPARE(commands.count(), 5);
        QCOMPARE(commands.at(3).at(0).value<C>(), C::Previous);
    }

    // A command sent while Keyloom starts (a bound key pressed at login) never makes it give up.
    void commandsNeverKeepOneFromStarting()
    {
        QTemporaryDir dir;
        const QString base = dir.filePath(u"keyloom-race"_s);
        std::atomic<bool> done = false;
        std::thread asking([&] {
            while (!done)
                SingleInstance(base, nullptr).send(SingleInstance::Command::Toggle, 0ms);
        });
        int refused = 0;
        for (int i = 0; i < 300; ++i)
            refused += !SingleInstance(base, nullptr).claim();
        done = true;
        asking.join();
        QCOMPARE(refused, 0);
    }
};

QTEST_MAIN(TestX11App)
#include "tst_x11app.moc"
