#include "SettingsFixture.h"

#include <QFontInfo>
#include <QTest>
#include <qpa/qwindowsysteminterface.h>

using namespace std::chrono_literals;

// The typing preview, stepped by hand through its clock: which text it animates, one
// user-perceived character per step at the current delay, the hold, and every restart.
class TestTypingPreview : public QObject {
    Q_OBJECT
private slots:
    void source_data();
    void source();
    void stepsOneClusterAtATime_data();
    void stepsOneClusterAtATime();
    void sampleSentenceCycles();
    void clearClipboardRestartsWithSample();
    void delayChangeRestartsFromEmpty();
    void noWritesAfterHidden();
    void minimisedStopsAndRestoredRestarts();
    void activationRereadsClipboard();
    void previewBoxLooks();
};

void TestTypingPreview::source_data()
{
    QTest::addColumn<std::optional<QString>>("clipboard");
    QTest::addColumn<bool>("counts");
    QTest::newRow("no text") << std::optional<QString>() << false;
    QTest::newRow("empty") << std::optional<QString>(QString()) << false;
    QTest::newRow("three spaces") << std::optional<QString>(QStringLiteral("   ")) << false;
    QTest::newRow("blanks and breaks") << std::optional<QString>(QStringLiteral(" \t\r\n\u00A0\u2028\u3000")) << false;
    QTest::newRow("  hi\\n") << std::optional<QString>(QStringLiteral("  hi\n")) << true;
    QTest::newRow("word") << std::optional<QString>(QStringLiteral("word")) << true;
}

void TestTypingPreview::source()
{
    QFETCH(std::optional<QString>, clipboard);
    QFETCH(bool, counts);
    SettingsFixture f;
    f.fake.clipboard.content = clipboard;
    QVERIFY(f.open());
    TypingPreview *preview = f.view()->preview();
    QCOMPARE(textOf(f.item(QStringLiteral("previewSource"))),
             counts ? QStringLiteral("From clipboard") : QStringLiteral("Sample text"));
    QQuickItem *clear = f.item(QStringLiteral("clearClipboard"));
    QCOMPARE(clear->isVisible(), counts);
    if (counts)
        QCOMPARE(textOf(clear), QStringLiteral("Clear Clipboard"));
    // The clipboard text is used untrimmed when it counts.
    QCOMPARE(preview->sourceText(), counts ? *clipboard : TypingPreview::defaultSampleText);
    QVERIFY(preview->isRunning());
}

void TestTypingPreview::stepsOneClusterAtATime_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("  hi\\n") << QStringLiteral("  hi\n")
                             << QStringList{" ", "  ", "  h", "  hi", "  hi\n"};
    QTest::newRow("emoji with skin tone") << QStringLiteral("👍🏽a")
                                          << QStringList{QStringLiteral("👍🏽"), QStringLiteral("👍🏽a")};
    QTest::newRow("combining mark") << QStringLiteral("e\u0301x")
                                    << QStringList{QStringLiteral("e\u0301"), QStringLiteral("e\u0301x")};
    QTest::newRow("CR LF counts once") << QStringLiteral("a\r\nb")
                                       << QStringList{"a", "a\r\n", "a\r\nb"};
}

void TestTypingPreview::stepsOneClusterAtATime()
{
    QFETCH(QString, clipboard);
    QFETCH(QStringList, shown);
    SettingsFixture f;
    f.fake.clipboard.content = clipboard;
    f.state->setTypingSpeedMs(45);
    QVERIFY(f.open());
    TypingPreview *preview = f.view()->preview();
    QQuickItem *box = f.item(QStringLiteral("previewText"));

    // The first character shows at once; each later one after the delay, read afresh.
    QStringList seen{preview->previewText()};
    for (int i = 1; i < shown.size(); ++i) {
        QVERIFY(f.clock()->hasPending());
        QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(45ms));
        QVERIFY(f.clock()->fire());
        seen.append(preview->previewText());
    }
    QCOMPARE(seen, shown);
    QCOMPARE(textOf(box), shown.last());
    // The delay after the last character, then the one-second hold with the text on show.
    QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(45ms));
    QVERIFY(f.clock()->fire());
    QCOMPARE(preview->previewText(), shown.last());
    QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(1s));
    QVERIFY(f.clock()->fire());
    QCOMPARE(preview->previewText(), shown.first());
}

void TestTypingPreview::sampleSentenceCycles()
{
    SettingsFixture f;
    QVERIFY(f.open());
    TypingPreview *preview = f.view()->preview();
    QCOMPARE(preview->previewText(), QStringLiteral("T"));
    const int steps = f.stepUntil(TypingPreview::defaultSampleText);
    QCOMPARE(preview->previewText(), TypingPreview::defaultSampleText);
    QCOMPARE(steps + 1, 44);
    QVERIFY(f.clock()->fire());
    QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(1s));
    QVERIFY(f.clock()->fire());
    QCOMPARE(preview->previewText(), QStringLiteral("T"));
}

void TestTypingPreview::clearClipboardRestartsWithSample()
{
    SettingsFixture f;
    f.fake.clipboard.content = QStringLiteral("copied");
    QVERIFY(f.open());
    TypingPreview *preview = f.view()->preview();
    f.stepUntil(QStringLiteral("cop"));
    QCOMPARE(preview->previewText(), QStringLiteral("cop"));
    QStringList seen;
    connect(preview, &TypingPreview::previewTextChanged, this, [&] { seen.append(preview->previewText()); });

    QQuickItem *clear = f.item(QStringLiteral("clearClipboard"));
    f.click(clear);

    QVERIFY(!f.fake.clipboard.content.has_value());
    QVERIFY(!clear->isVisible());
    QCOMPARE(textOf(f.item(QStringLiteral("previewSource"))), QStringLiteral("Sample text"));
    QCOMPARE(seen, (QStringList{QString(), QStringLiteral("T")}));
    f.clock()->fire();
    QCOMPARE(preview->previewText(), QStringLiteral("Th"));
}

void TestTypingPreview::delayChangeRestartsFromEmpty()
{
    SettingsFixture f;
    f.state->setTypingSpeedMs(30);
    QVERIFY(f.open());
    TypingPreview *preview = f.view()->preview();
    f.stepUntil(QStringLiteral("The qu"));
    QStringList seen;
    connect(preview, &TypingPreview::previewTextChanged, this, [&] { seen.append(preview->previewText()); });

    f.state->setTypingSpeedMs(100);

    QCOMPARE(seen, (QStringList{QString(), QStringLiteral("T")}));
    QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(100ms));
    // An unchanged assignment is no change: nothing restarts.
    f.clock()->fire();
    f.state->setTypingSpeedMs(100);
    QCOMPARE(preview->previewText(), QStringLiteral("Th"));
}

void TestTypingPreview::noWritesAfterHidden()
{
    SettingsFixture f;
    f.fake.clipboard.content = QStringLiteral("abc");
    QVERIFY(f.open());
    TypingPreview *preview = f.view()->preview();
    f.stepUntil(QStringLiteral("ab"));
    int writes = 0;
    connect(preview, &TypingPreview::previewTextChanged, this, [&] { ++writes; });

    f.window()->hide();

    // Stopped at once: no step pending, nothing written, delay changes do not restart it.
    QVERIFY(!preview->isRunning());
    QVERIFY(!f.clock() || !f.clock()->hasPending());
    f.state->setTypingSpeedMs(150);
    QCOMPARE(writes, 0);
    QCOMPARE(preview->previewText(), QStringLiteral("ab"));
    QTRY_VERIFY(!f.window());

    // Shown again: a new pass from an empty box.
    QVERIFY(f.open());
    QCOMPARE(f.view()->preview()->previewText(), QStringLiteral("a"));
    QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(150ms));
}

void TestTypingPreview::minimisedStopsAndRestoredRestarts()
{
    SettingsFixture f;
    QVERIFY(f.open());
    TypingPreview *preview = f.view()->preview();
    f.stepUntil(QStringLiteral("The"));
    f.window()->showMinimized();
    QTRY_COMPARE(f.window()->visibility(), QWindow::Minimized);
    QVERIFY(!preview->isRunning());
    QVERIFY(!f.clock()->hasPending());
    QCOMPARE(preview->previewText(), QStringLiteral("The"));
    QVERIFY(f.window());

    f.window()->showNormal();
    QTRY_VERIFY(preview->isRunning());
    QCOMPARE(preview->previewText(), QStringLiteral("T"));
}

void TestTypingPreview::activationRereadsClipboard()
{
    SettingsFixture f;
    QVERIFY(f.open());
    TypingPreview *preview = f.view()->preview();
    f.stepUntil(QStringLiteral("The"));
    QWindowSystemInterface::handleApplicationStateChanged<QWindowSystemInterface::SynchronousDelivery>(
        Qt::ApplicationInactive, true);
    f.fake.clipboard.content = QStringLiteral("new text");
    QWindowSystemInterface::handleApplicationStateChanged<QWindowSystemInterface::SynchronousDelivery>(
        Qt::ApplicationActive, true);
    QTRY_COMPARE(preview->clipboardContent(), QStringLiteral("new text"));
    QCOMPARE(preview->previewText(), QStringLiteral("n"));
    QCOMPARE(textOf(f.item(QStringLiteral("previewSource"))), QStringLiteral("From clipboard"));
}

void TestTypingPreview::previewBoxLooks()
{
    SettingsFixture f;
    QVERIFY(f.open());
    QQuickItem *box = f.item(QStringLiteral("previewBox"));
    QQuickItem *text = f.item(QStringLiteral("previewText"));
    QVERIFY(box->height() >= 40);
    QCOMPARE(box->property("radius").toDouble(), 6.0);
    QCOMPARE(text->x(), 8.0);
    QCOMPARE(text->y(), 8.0);
    QCOMPARE(text->width(), box->width() - 16);
    QVERIFY(QFontInfo(text->property("font").value<QFont>()).fixedPitch());
    // Grows with its text.
    const double before = box->height();
    f.fake.clipboard.content = QString(400, QLatin1Char('x'));
    f.view()->preview()->refreshClipboard();
    f.stepUntil(QString(400, QLatin1Char('x')), 500);
    f.window()->contentItem()->polish();
    QTRY_VERIFY(box->height() > before);
}

QTEST_MAIN(TestTypingPreview)
#include "tst_typingpreview.moc"
