#include "SettingsFixture.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <qpa/qwindowsysteminterface.h>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <cmath>

// The form as a whole: its sections and texts, the speed control, the permission
// status, and the window's life from first open to close.
class TestSettingsForm : public QObject {
    Q_OBJECT
private slots:
    void sectionsInOrder();
    void windowSizes();
    void fixedTexts_data();
    void fixedTexts();
    void speedLabel_data();
    void speedLabel();
    void sliderBounds_data();
    void sliderBounds();
    void permissionStatus_data();
    void permissionStatus();
    void permissionFollowsActivation();
    void closeDestroysAndReopens();
};

void TestSettingsForm::sectionsInOrder()
{
    SettingsFixture f;
    QVERIFY(f.open());
    QQuickItem *form = f.item(QStringLiteral("form"));
    QVERIFY(form);
    QStringList titles;
    for (QQuickItem *child : form->childItems()) {
        const QString title = child->property("title").toString();
        if (!title.isEmpty())
            titles.append(title);
    }
    QCOMPARE(titles, (QStringList{QStringLiteral("Typing Speed"), QStringLiteral("Shortcuts"),
                                  QStringLiteral("Snippets"), QStringLiteral("How to Use"),
                                  QStringLiteral("Permissions")}));
    // Laid out top to bottom in that order.
    double lastY = -1;
    for (QQuickItem *child : form->childItems()) {
        if (child->property("title").toString().isEmpty())
            continue;
        QVERIFY2(child->y() > lastY, qPrintable(child->property("title").toString()));
        lastY = child->y();
    }
}

void TestSettingsForm::windowSizes()
{
    SettingsFixture f;
    QQuickWindow *w = f.open();
    QVERIFY(w);
    QCOMPARE(w->minimumSize(), QSize(400, 500));
    QCOMPARE(w->size(), QSize(420, 780));
    QCOMPARE(w->title(), QStringLiteral("Keyloom Settings"));
}

void TestSettingsForm::fixedTexts_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QString>("text");
    QTest::newRow("hint") << "shortcutHint" << 0
                          << "Click a button, then press your desired key combination.";
    QTest::newRow("heading") << "stoppingHeading" << 0 << "Stopping the animation";
    QTest::newRow("clipboard mode") << "lineText" << 0 << "**Clipboard mode:** Copy text, then press shortcut.";
    QTest::newRow("list mode") << "lineText" << 1
                               << "**List mode:** Add snippets above, press shortcut to type each one in order.";
    QTest::newRow("esc") << "lineText" << 2 << "Press **Esc** to cancel immediately.";
    QTest::newRow("again") << "lineText" << 3 << "Press the **shortcut again** to stop.";
    QTest::newRow("note") << "releaseNote" << 0
                          << QStringLiteral("The app waits for you to release the shortcut keys before it starts "
                                            "typing, so you won\u2019t get extra characters. In list mode, it "
                                            "advances to the next snippet after each paste and wraps back to the first.");
    QTest::newRow("explanation") << "permissionExplanation" << 0
                                 << "Keyloom uses Accessibility to register a global keyboard shortcut and "
                                    "simulate individual key presses into whatever app is focused - browsers, "
                                    "editors, terminals, and native apps.";
    QTest::newRow("sample label") << "previewSource" << 0 << "Sample text";
}

void TestSettingsForm::fixedTexts()
{
    QFETCH(QString, objectName);
    QFETCH(int, occurrence);
    QFETCH(QString, text);
    SettingsFixture f;
    QVERIFY(f.open());
    QQuickItem *item = f.items(objectName).value(occurrence);
    QVERIFY(item);
    QCOMPARE(textOf(item), text);
    if (text.contains(QStringLiteral("**"))) {
        // Shown as Markdown: the spans come out bold and the asterisks are not drawn.
        QCOMPARE(item->property("textFormat").toInt(), int(Qt::MarkdownText));
        QTextDocument document;
        document.setMarkdown(text);
        QVERIFY(!document.toPlainText().contains(QLatin1Char('*')));
        QStringList bold;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                if (it.fragment().charFormat().fontWeight() >= QFont::Bold)
                    bold.append(it.fragment().text());
            }
        }
        QCOMPARE(bold, QStringList{text.section(QStringLiteral("**"), 1, 1)});
    }
    // Long notes wrap instead of being cut.
    if (text.size() > 80) {
        QCOMPARE(item->property("elide").toInt(), int(Qt::ElideNone));
        QVERIFY(item->property("wrapMode").toInt() != 0);
        QVERIFY(item->height() > 1.5 * item->property("font").value<QFont>().pixelSize());
    }
}

void TestSettingsForm::speedLabel_data()
{
    QTest::addColumn<double>("stored");
    QTest::addColumn<QString>("label");
    QTest::newRow("default") << 30.0 << "30 ms";
    QTest::newRow("fraction truncated") << 12.5 << "12 ms";
    QTest::newRow("almost next") << 12.9 << "12 ms";
    QTest::newRow("lowest") << 5.0 << "5 ms";
    QTest::newRow("highest") << 200.0 << "200 ms";
}

void TestSettingsForm::speedLabel()
{
    QFETCH(double, stored);
    QFETCH(QString, label);
    SettingsFixture f;
    f.state->setTypingSpeedMs(stored);
    QVERIFY(f.open());
    QQuickItem *speed = f.item(QStringLiteral("speedLabel"));
    QCOMPARE(textOf(speed), label);
    QCOMPARE(speed->width(), 55.0);
    QCOMPARE(speed->property("horizontalAlignment").toInt(), int(Qt::AlignRight));
}

void TestSettingsForm::sliderBounds_data()
{
    QTest::addColumn<double>("where");
    QTest::addColumn<double>("stored");
    QTest::addColumn<QString>("label");
    QTest::newRow("left end") << 0.0 << 5.0 << "5 ms";
    QTest::newRow("right end") << 1.0 << 200.0 << "200 ms";
}

void TestSettingsForm::sliderBounds()
{
    QFETCH(double, where);
    QFETCH(double, stored);
    QFETCH(QString, label);
    SettingsFixture f;
    QVERIFY(f.open());
    QQuickItem *slider = f.item(QStringLiteral("speedSlider"));
    QVERIFY(slider);
    QCOMPARE(slider->property("from").toDouble(), 5.0);
    QCOMPARE(slider->property("to").toDouble(), 200.0);
    QCOMPARE(slider->property("stepSize").toDouble(), 5.0);
    f.reveal(slider);
    QList<double> written;
    QObject::connect(f.state.get(), &AppState::typingSpeedMsChanged, f.state.get(),
                     [&] { written.append(f.state->typingSpeedMs()); });

    // Press inside the slider and drag past (or to) the wanted spot: one write per move, at once.
    const QPointF start = slider->mapToScene(QPointF(slider->width() / 2, slider->height() / 2));
    const QPointF target = slider->mapToScene(QPointF(slider->width() * where, slider->height() / 2));
    QTest::mousePress(f.window(), Qt::LeftButton, {}, start.toPoint());
    for (int i = 1; i <= 10; ++i)
        QTest::mouseMove(f.window(), (start + (target - start) * i / 10.0).toPoint());
    QTest::mouseRelease(f.window(), Qt::LeftButton, {}, target.toPoint());
    QCOMPARE(f.state->typingSpeedMs(), stored);
    // On the way every write was a step of 5 within the range.
    for (double v : std::as_const(written)) {
        QVERIFY2(v >= 5 && v <= 200 && std::fmod(v, 5.0) == 0, qPrintable(QString::number(v)));
    }
    QVERIFY(!written.isEmpty());
    QCOMPARE(textOf(f.item(QStringLiteral("speedLabel"))), label);
}

void TestSettingsForm::permissionStatus_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::newRow("trusted") << true;
    QTest::newRow("not trusted") << false;
}

void TestSettingsForm::permissionStatus()
{
    QFETCH(bool, trusted);
    SettingsFixture f;
    f.fake.trust.trusted = trusted;
    QVERIFY(f.open());
    QCOMPARE(f.item(QStringLiteral("trustedStatus"))->isVisible(), trusted);
    QCOMPARE(f.item(QStringLiteral("untrustedStatus"))->isVisible(), !trusted);
    QQuickItem *request = f.item(QStringLiteral("requestAccess"));
    QCOMPARE(request->isVisible(), !trusted);
    QVERIFY(f.item(QStringLiteral("permissionExplanation"))->isVisible());
    QCOMPARE(textOf(f.items(QStringLiteral("lineText")).value(trusted ? 4 : 5)),
             trusted ? QStringLiteral("Permissions Granted!") : QStringLiteral("Needs Permissions"));
    QVERIFY(!f.item(QStringLiteral("permissionProblem"))->isVisible());
    if (!trusted) {
        QCOMPARE(textOf(request), QStringLiteral("Request Access"));
        // Still missing after a request: the window says what is missing.
        f.click(request);
        QCOMPARE(f.fake.trust.requests, 1);
        QQuickItem *problem = f.item(QStringLiteral("permissionProblem"));
        QVERIFY(problem->isVisible());
        QCOMPARE(textOf(problem), f.fake.trust.missingReason());
        // Granted from the request: the status changes at once and the button goes.
        f.fake.trust.trusted = true;
        f.click(request);
        QCOMPARE(f.fake.trust.requests, 2);
        QVERIFY(f.item(QStringLiteral("trustedStatus"))->isVisible());
        QVERIFY(!request->isVisible());
        QVERIFY(!problem->isVisible());
    }
}

void TestSettingsForm::permissionFollowsActivation()
{
    SettingsFixture f;
    f.fake.trust.trusted = false;
    QVERIFY(f.open());
    QVERIFY(f.item(QStringLiteral("untrustedStatus"))->isVisible());
    f.fake.trust.trusted = true;
    QWindowSystemInterface::handleApplicationStateChanged<QWindowSystemInterface::SynchronousDelivery>(
        Qt::ApplicationInactive, true);
    QWindowSystemInterface::handleApplicationStateChanged<QWindowSystemInterface::SynchronousDelivery>(
        Qt::ApplicationActive, true);
    QTRY_VERIFY(f.item(QStringLiteral("trustedStatus"))->isVisible());
    QVERIFY(!f.item(QStringLiteral("requestAccess"))->isVisible());
}

void TestSettingsForm::closeDestroysAndReopens()
{
    SettingsFixture f;
    QVERIFY(f.open());
    QVERIFY(f.settings->isOpen());
    QSignalSpy closed(f.settings.get(), &SettingsWindow::closed);
    QPointer<QQuickWindow> first = f.window();
    first->close();
    QVERIFY(closed.wait());
    QVERIFY(first.isNull());
    QVERIFY(!f.settings->isOpen());
    QVERIFY(!f.settings->view());

    QQuickWindow *second = f.open();
    QVERIFY(second);
    QVERIFY(f.settings->isOpen());
    QCOMPARE(textOf(f.item(QStringLiteral("speedLabel"))), QStringLiteral("30 ms"));
}

QTEST_MAIN(TestSettingsForm)
#include "tst_settingsform.moc"
