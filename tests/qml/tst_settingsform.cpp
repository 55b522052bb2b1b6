#include "SettingsFixture.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

// The form as a whole: the speed control, the permission status, and the window's
// life from first open to close.
class TestSettingsForm : public QObject {
    Q_OBJECT
private slots:
    void speedLabel_data()
    {
        QTest::addColumn<double>("stored");
        QTest::addColumn<QString>("label");
        QTest::newRow("default") << 30.0 << u"30 ms"_s;
        QTest::newRow("fraction truncated") << 12.9 << u"12 ms"_s;
    }

    void speedLabel()
    {
        QFETCH(double, stored);
        QFETCH(QString, label);
        SettingsFixture f;
        f.state->setTypingSpeedMs(stored);
        QVERIFY(f.open());
        QCOMPARE(textOf(f.item(u"speedLabel"_s)), label);
    }

    void sliderBounds_data()
    {
        QTest::addColumn<double>("where");
        QTest::addColumn<double>("stored");
        QTest::newRow("left end") << 0.0 << 5.0;
        QTest::newRow("right end") << 1.0 << 200.0;
    }

    void sliderBounds()
    {
        QFETCH(double, where);
        QFETCH(double, stored);
        SettingsFixture f;
        QVERIFY(f.open());
        QQuickItem *slider = f.item(u"speedSlider"_s);
        f.reveal(slider);
        QList<double> written;
        QObject::connect(f.state.get(), &AppState::typingSpeedMsChanged, f.state.get(),
                         [&] { written.append(f.state->typingSpeedMs()); });

        // Press inside the slider and drag past (or to) the wanted spot: one write per move, at
        // once.
        const QPointF start =
            slider->mapToScene(QPointF(slider->width() / 2, slider->height() / 2));
        const QPointF target =
            slider->mapToScene(QPointF(slider->width() * where, slider->height() / 2));
        QTest::mousePress(f.window(), Qt::LeftButton, {}, start.toPoint());
        for (int i = 1; i <= 10; ++i)
            QTest::mouseMove(f.window(), (start + (target - start) * i / 10.0).toPoint());
        QTest::mouseRelease(f.window(), Qt::LeftButton, {}, target.toPoint());
        QCOMPARE(f.state->typingSpeedMs(), stored);
        QVERIFY(!written.isEmpty());
        for (double v : std::as_const(written))
            QVERIFY2(v >= 5 && v <= 200 && std::fmod(v, 5.0) == 0, qPrintable(QString::number(v)));
        QCOMPARE(textOf(f.item(u"speedLabel"_s)), u"%1 ms"_s.arg(stored));
    }

    void permissionStatus_data() { addBoolRows("trusted", "not trusted", "trusted"); }

    void permissionStatus()
    {
        QFETCH(bool, trusted);
        SettingsFixture f;
        f.fake.trust.trusted = trusted;
        QVERIFY(f.open());
        QQuickItem *request = f.item(u"requestAccess"_s);
        QQuickItem *problem = f.item(u"permissionProblem"_s);
        QCOMPARE(f.item(u"trustedStatus"_s)->isVisible(), trusted);
        QCOMPARE(f.item(u"untrustedStatus"_s)->isVisible(), !trusted);
        QCOMPARE(request->isVisible(), !trusted);
        QVERIFY(!problem->isVisible());
        if (trusted)
            return;
        // Still missing after a request: the window says what is missing.
        f.click(request);
        QCOMPARE(f.fake.trust.requests, 1);
        QVERIFY(problem->isVisible());
        QCOMPARE(textOf(problem), f.fake.trust.missingReason());
        // Granted from the request: the status changes at once and the button goes.
        f.fake.trust.trusted = true;
        f.click(request);
        QCOMPARE(f.fake.trust.requests, 2);
        QVERIFY(f.item(u"trustedStatus"_s)->isVisible());
        QVERIFY(!request->isVisible());
        QVERIFY(!problem->isVisible());
    }

    void permissionFollowsActivation()
    {
        SettingsFixture f;
        f.fake.trust.trusted = false;
        QVERIFY(f.open());
        QVERIFY(f.item(u"untrustedStatus"_s)->isVisible());
        f.fake.trust.trusted = true;
        reactivateApplication();
        QTRY_VERIFY(f.item(u"trustedStatus"_s)->isVisible());
        QVERIFY(!f.item(u"requestAccess"_s)->isVisible());
    }

    void closeDestroysAndReopens()
    {
        SettingsFixture f;
        QVERIFY(f.open());
        QSignalSpy closed(f.settings.get(), &SettingsWindow::closed);
        QPointer<QQuickWindow> first = f.window();
        first->close();
        QVERIFY(closed.wait());
        QVERIFY(first.isNull());
        QVERIFY(!f.settings->isOpen());
        QVERIFY(!f.settings->view());
        f.state->setTypingSpeedMs(45);
        QVERIFY(f.open());
        QVERIFY(f.settings->isOpen());
        QCOMPARE(textOf(f.item(u"speedLabel"_s)), u"45 ms"_s);
    }
};

QTEST_MAIN(TestSettingsForm)
#include "tst_settingsform.moc"
