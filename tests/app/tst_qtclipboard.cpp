// The clipboard as other X clients see it: set and read by separate xclip processes.
#include "app/QtClipboard.h"
#include "platform/x11/X11ClipboardReader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

namespace {

// Owns the CLIPBOARD selection from another process until it goes.
struct ForeignOwner {
    QProcess process;
    ForeignOwner(const QByteArray &data, const QString &type)
    {
        process.start(QStringLiteral("xclip"),
                      {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                       QStringLiteral("clipboard"), QStringLiteral("-t"), type,
                       QStringLiteral("-i")});
        process.waitForStarted();
        process.write(data);
        process.closeWriteChannel();
    }
    ~ForeignOwner()
    {
        process.kill();
        process.waitForFinished();
    }
};

// What another client reads as this target; nothing when it gets none. Our event loop
// keeps running meanwhile, since the owner asked may be this process.
std::optional<QByteArray> readElsewhere(const QString &target = QStringLiteral("UTF8_STRING"))
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral("xclip"),
                  {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                   QStringLiteral("-t"), target});
    if (!finished.wait(20000)) {
        process.kill();
        process.waitForFinished();
        return QByteArray("(no answer)");
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// The clipboard as the program builds it.
struct ProgramClipboard {
    QtClipboard clipboard{[reader = std::make_shared<X11ClipboardReader>(qgetenv("DISPLAY"))](
                              auto done) { reader->read(std::move(done)); }};
    void clear() { clipboard.clear(); }
    std::optional<QString> text()
    {
        std::optional<std::optional<QString>> answer;
        clipboard.requestText([&](std::optional<QString> text) { answer = std::move(text); });
        if (!QTest::qWaitFor([&] { return answer.has_value(); }, 20000))
            return QStringLiteral("(no answer)");
        return *answer;
    }
};

} // namespace

class TestQtClipboard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            QSKIP("xclip is not installed");
    }

    void readsTextOfAnotherClient_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("type");
        const QString utf8 = QStringLiteral("UTF8_STRING");
        QTest::newRow("ascii") << QStringLiteral("hello") << utf8;
        QTest::newRow("mixed unicode with newline")
            << QStringLiteral(
                   "Gr\u00FC\u00DFe \u65E5\u672C \U0001F1E9\U0001F1EA e\u0301\nzweite Zeile\t!")
            << utf8;
        QTest::newRow("Latin-1 only")
            << QStringLiteral("Gr\u00FC\u00DFe") << QStringLiteral("STRING");
        // Far above the largest request: the owner hands it over in INCR pieces.
        QTest::newRow("10 MB")
            << QStringLiteral("\u00E9t\u00E9 \u65E5 0123456789\n").repeated(500'000) << utf8;
    }

    void readsTextOfAnotherClient()
    {
        QFETCH(QString, text);
        QFETCH(QString, type);
        ForeignOwner owner(type == QLatin1String("STRING") ? text.toLatin1() : text.toUtf8(), type);
        ProgramClipboard clipboard;
        // Read afresh each time: poll until the other process has taken the selection.
        QTRY_COMPARE_WITH_TIMEOUT(clipboard.text(), std::optional<QString>(text), 20000);
    }

    void noTextReadsAsNothing()
    {
        ForeignOwner owner(QByteArray("\x89PNG\r\n\x1a\n", 8), QStringLiteral("image/png"));
        QTRY_VERIFY_WITH_TIMEOUT(
            readElsewhere(QStringLiteral("TARGETS")).value_or("").contains("image/png"), 20000);
        QCOMPARE(ProgramClipboard().text(), std::nullopt);
    }

    void clearEmptiesItForEveryone_data()
    {
        QTest::addColumn<bool>("readFirst");
        // Reading first lets us see the other client's ownership; clearing at once
        // tests a selection taken after our last X event.
        QTest::newRow("after reading it") << true;
        QTest::newRow("without looking") << false;
    }

    void clearEmptiesItForEveryone()
    {
        QFETCH(bool, readFirst);
        ForeignOwner owner("secret", QStringLiteral("UTF8_STRING"));
        QTRY_COMPARE_WITH_TIMEOUT(readElsewhere(), std::optional<QByteArray>("secret"), 20000);
        ProgramClipboard clipboard;
        if (readFirst)
            QCOMPARE(clipboard.text(), std::optional<QString>(QStringLiteral("secret")));
        // Twice: clearing with nothing there is harmless.
        for (int i = 0; i < 2; ++i) {
            clipboard.clear();
            QVERIFY(clipboard.text().value_or(QString()).isEmpty());
            // Another client asks while our event loop runs, as it would in the program.
            const std::optional<QByteArray> seen = readElsewhere();
            QVERIFY2(!seen || seen->isEmpty(), seen ? seen->constData() : "");
            // Owned, not released: with no owner a clipboard manager would bring the text back.
            QVERIFY(QGuiApplication::clipboard()->ownsClipboard());
        }
    }
};

QTEST_MAIN(TestQtClipboard)
#include "tst_qtclipboard.moc"
