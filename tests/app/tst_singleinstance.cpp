// One running instance per user and display; later starts wake it instead.
#include "app/SingleInstance.h"
#include "platform/x11/X11DisplayOwnership.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <functional>
#include <thread>

namespace {

// A second start's request runs on a thread of its own, as the blocking client it is,
// while this thread's event loop serves the running instance.
bool askFromAnotherThread(const std::function<bool()> &ask)
{
    std::atomic<bool> done = false;
    bool answered = false;
    std::thread client([&] {
        answered = ask();
        done = true;
    });
    while (!done)
        QTest::qWait(10);
    client.join();
    return answered;
}

qint64 deadPid()
{
    QProcess process;
    process.start(QStringLiteral("true"), {});
    process.waitForStarted();
    const qint64 pid = process.processId();
    process.waitForFinished();
    return pid;
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void secondStartWakesTheFirst_data()
    {
        // Names of the test's Xvfb, or none at all for the lock alone.
        QTest::addColumn<QByteArray>("firstName");
        QTest::addColumn<QByteArray>("secondName");
        const QByteArray display = qgetenv("DISPLAY");
        QTest::newRow("no display") << QByteArray() << QByteArray();
        QTest::newRow("same name") << display << display;
        QTest::newRow("another name of the display") << display << "unix" + display;
    }

    void secondStartWakesTheFirst()
    {
        QFETCH(QByteArray, firstName);
        QFETCH(QByteArray, secondName);
        QTemporaryDir dir;
        // Lock and socket are named after the display's name, as by default.
        const auto baseFor = [&dir](const QByteArray &name) {
            return dir.filePath(QStringLiteral("keyloom-") + QString::fromLatin1(name.toHex()));
        };
        const auto displayFor = [](const QByteArray &name) {
            return name.isEmpty() ? nullptr : std::make_unique<X11DisplayOwnership>(name);
        };
        const auto firstDisplay = displayFor(firstName);
        SingleInstance first(baseFor(firstName), firstDisplay.get());
        QVERIFY(first.claim());
        QSignalSpy requested(&first, &SingleInstance::settingsRequested);
        {
            const auto display = displayFor(secondName);
            QVERIFY(!SingleInstance(baseFor(secondName), display.get()).claim());
        }
        // Twice: the server keeps serving.
        for (int asked = 1; asked <= 2; ++asked) {
            QVERIFY(askFromAnotherThread([&] {
                const auto display = displayFor(secondName);
                return SingleInstance(baseFor(secondName), display.get())
                    .askRunningToOpenSettings(std::chrono::seconds(20));
            }));
            QCOMPARE(requested.count(), asked);
        }
    }

    void leftoversOfADeadInstanceAreTakenOver_data()
    {
        QTest::addColumn<bool>("staleLock");
        QTest::newRow("lock file") << true;
        QTest::newRow("socket file") << false;
    }

    void leftoversOfADeadInstanceAreTakenOver()
    {
        QFETCH(bool, staleLock);
        QTemporaryDir dir;
        const QString base = dir.filePath(QStringLiteral("keyloom-test"));
        QFile file(base + (staleLock ? QStringLiteral(".lock") : QStringLiteral(".socket")));
        if (staleLock) {
            // A lock as this process writes it, then handed to a process that is gone.
            QLockFile lock(file.fileName());
            QVERIFY(lock.tryLock(0) && file.open(QIODevice::ReadOnly));
            QByteArray content = file.readAll();
            file.close();
            lock.unlock();
            QVERIFY(content.indexOf('\n') > 0);
            content.replace(0, content.indexOf('\n'), QByteArray::number(deadPid()));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        } else {
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        file.close();

        SingleInstance first(base);
        QVERIFY(first.claim());
        QSignalSpy requested(&first, &SingleInstance::settingsRequested);
        QVERIFY(askFromAnotherThread([&base] {
            return SingleInstance(base).askRunningToOpenSettings(std::chrono::seconds(20));
        }));
        QCOMPARE(requested.count(), 1);
    }

    void nobodyToAsk()
    {
        QTemporaryDir dir;
        SingleInstance lonely(dir.filePath(QStringLiteral("keyloom-test")));
        QVERIFY(!lonely.askRunningToOpenSettings(std::chrono::milliseconds(200)));
    }

    void nameIsPerDisplay_data()
    {
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("screen number dropped")
            << QByteArray(":0.1") << QStringLiteral("/keyloom-_0");
        QTest::newRow("remote") << QByteArray("localhost:10.0")
                                << QStringLiteral("/keyloom-localhost_10");
        QTest::newRow("none") << QByteArray() << QStringLiteral("/keyloom-none");
    }

    void nameIsPerDisplay()
    {
        QFETCH(QByteArray, display);
        QFETCH(QString, suffix);
        const QByteArray saved = qgetenv("DISPLAY");
        qputenv("DISPLAY", display);
        const QString base = SingleInstance::defaultBasePath();
        qputenv("DISPLAY", saved);
        QVERIFY2(base.endsWith(suffix), qPrintable(base));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
