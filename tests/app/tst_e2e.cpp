// The real keyloom program end to end: what a user sees and keeps.
#include "KeyloomHarness.h"
#include "model/Snippet.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#define KeyCode XKeyCode
#include <X11/Xlib.h>
#undef KeyCode

using namespace KeyloomHarness;

class TestEndToEnd : public QObject {
    Q_OBJECT

    Desktop d;

private slots:
    void initTestCase()
    {
        if (const QString missing = Desktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(missing + QStringLiteral(" is missing")));
        QVERIFY(d.open("KEYLOOM_E2E_XVFB_STATE"));
    }
    void cleanupTestCase() { d.close(); }
    void init() { QVERIFY(d.init()); }
    void cleanup() { QVERIFY2(d.cleanup(), "a key is left down or the keymap was not given back"); }

    void clipboardTextArrivesExactly()
    {
        const QString text =
            QStringLiteral("Gr\u00FC\u00DFe, \u65E5\u672C! caf\u00E9 e\u0301\n\u20AC 42\tok");
        QVERIFY(d.setClipboard(text.toUtf8()));
        const auto keyloom = d.keyloom();
        QVERIFY(d.startKeyloom(*keyloom));
        d.chord(mainChord);
        QVERIFY(d.waitForTyped(withReturns(text)));
        QVERIFY(d.waitUntilIdle());
        QCOMPARE(d.typed(), withReturns(text));
    }

    void stopMidRun_data()
    {
        QTest::addColumn<QList<quint32>>("stopKeys");
        QTest::newRow("shortcut again") << mainChord;
        QTest::newRow("Esc") << QList<quint32>{XK_Escape};
    }

    void stopMidRun()
    {
        QFETCH(QList<quint32>, stopKeys);
        // Clusters of two code points, so a cut inside one would show.
        const QString text = QStringLiteral("e\u0301").repeated(40);
        d.writeSettings({{QStringLiteral("typingSpeedMs"), 150.0}});
        QVERIFY(d.setClipboard(text.toUtf8()));
        const auto keyloom = d.keyloom();
        QVERIFY(d.startKeyloom(*keyloom));
        QByteArray idle; // the idle icon, once it has settled in the tray
        QVERIFY(waitFor([&] {
            return !(idle = trayItemPixels(d.display)).isEmpty() &&
                   idle == trayItemPixels(d.display);
        }));

        d.chord(mainChord);
        QVERIFY(waitFor([&] { return d.typed().size() >= 2; }));
        QVERIFY(waitFor([&] { return trayItemPixels(d.display) != idle; })); // the typing icon
        d.chord(stopKeys);
        QVERIFY(d.waitUntilIdle());
        // Back to idle: the run is over, so what arrived is all that will.
        QVERIFY(waitFor([&] { return trayItemPixels(d.display) == idle; }));
        const QString got = d.typed();
        QVERIFY2(got.size() < text.size() && text.startsWith(got) && got.size() % 2 == 0,
                 qPrintable(got));
    }

    void clearClipboardFromTheMenu()
    {
        QVERIFY(d.setClipboard("secret"));
        const auto keyloom = d.keyloom();
        QVERIFY(d.startKeyloom(*keyloom));
        QVERIFY(d.chooseFromMenu(3)); // Quit, Settings..., Clear Clipboard
        QVERIFY(waitFor([&] { return d.readClipboard().value_or("x").isEmpty(); }));
        // Still running, and the shortcut now has nothing to type.
        d.chord(mainChord);
        QVERIFY(d.waitUntilIdle());
        QCOMPARE(d.typed(), QString());
        QCOMPARE(keyloom->process().state(), QProcess::Running);
    }

    void listModeStepsAndSurvivesARestart()
    {
        d.writePlaylist({QStringLiteral("one "), QStringLiteral("two "), QStringLiteral("three ")},
                        0, 12);
        {
            const auto keyloom = d.keyloom();
            QVERIFY(d.startKeyloom(*keyloom));
            QString all;
            const QList<std::pair<QString, qint64>> steps{
                {"one ", 1}, {"two ", 2}, {"three ", 0}, {"one ", 1}};
            for (const auto &[text, next] : steps) {
                d.chord(mainChord);
                QVERIFY(d.waitForTyped(all += text));
                QVERIFY(d.waitForStoredIndex(next));
                // The index moves just before the run ends; a press before that would stop it.
                QVERIFY(d.waitUntilIdle());
            }
            d.chord(prevChord);
            QVERIFY(d.waitForStoredIndex(0));
            d.chord(prevChord);
            QVERIFY(d.waitForStoredIndex(2)); // wraps backwards too
            QVERIFY(d.quitFromMenu(*keyloom));
        }
        QCOMPARE(trayItems(d.display), 0);

        const auto again = d.keyloom();
        QVERIFY(d.startKeyloom(*again));
        d.client->clear();
        d.chord(mainChord);
        QVERIFY(d.waitForTyped(QStringLiteral("three ")));
        QVERIFY(d.waitForStoredIndex(0));
        QCOMPARE(d.stored(QStringLiteral("typingSpeedMs")).toDouble(), 12.0);
        QCOMPARE(decodeSnippets(d.stored(QStringLiteral("snippets")).toByteArray())
                     .value_or(SnippetList())
                     .size(),
                 3);
    }

    void garbageSettingsStartWithDefaultsAndKeepTheSnippets()
    {
        QDir().mkpath(d.configDir());
        QFile file(d.configPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\ntypingSpeedMs=fast\ntypingMode=sideways\nhotkeyKeyCode=semicolon\n"
                   "hotkeyControl=perhaps\ncurrentSnippetIndex=minus "
                   "one\nsnippets=not-json-but-keep-me-42\n");
        file.close();
        QVERIFY(d.setClipboard("fine"));
        const auto keyloom = d.keyloom();
        QVERIFY(d.startKeyloom(*keyloom));
        d.chord(mainChord); // the default mode and shortcut
        QVERIFY(d.waitForTyped(QStringLiteral("fine")));
        QVERIFY(d.waitUntilIdle());
        QVERIFY(d.quitFromMenu(*keyloom));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().contains("not-json-but-keep-me-42"),
                 "the unreadable snippets were lost");
    }

    void startsWithoutTapOrTray()
    {
        // A server without XTEST: no shortcut can be watched and nothing typed.
        const QByteArray name = X11TestSupport::fixtureDisplay("KEYLOOM_E2E_NOXTEST_STATE");
        Display *x = name.isEmpty() ? nullptr : XOpenDisplay(name.constData());
        QVERIFY(x);
        const auto closeDisplay = qScopeGuard([x] { XCloseDisplay(x); });
        const auto keyloom = d.keyloom(name);
        QVERIFY(keyloom->start());
        // Without a tray the settings window stands in, and start-up went on after the tap failed.
        QVERIFY(waitFor([&] { return windowsTitled(x, "Keyloom Settings") == 1; }));
        QVERIFY(waitFor(
            [&] { return keyloom->output().contains("[Keyloom] Failed to create event tap"); }));
        QCOMPARE(trayItems(x), 0);

        // A tray that starts later gets the item.
        QProcess tray;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(name));
        tray.setProcessEnvironment(env);
        tray.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top")});
        const auto stopTray = qScopeGuard([&tray] {
            tray.kill();
            tray.waitForFinished(deadlineMs);
        });
        QVERIFY(waitFor([&] { return trayItems(x) == 1; }));
        QCOMPARE(keyloom->process().state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
