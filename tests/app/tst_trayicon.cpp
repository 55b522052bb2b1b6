// The tray item's icon and tooltip follow the run state.
#include "FakePlatform.h"
#include "app/MenuBarContent.h"
#include "app/TrayIcon.h"
#include "model/AppState.h"

#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Pixels that are not (almost) transparent.
int opaquePixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    }
    return count;
}

} // namespace

class TestTrayIcon : public QObject {
    Q_OBJECT

private slots:
    void iconsRenderAtTraySizes_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {16, 22, 24, 32, 48})
            QTest::addRow("%d px", size) << size;
    }

    void iconsRenderAtTraySizes()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        FakePlatform fake;
        AppState state(fake.platform(), dir.filePath(QStringLiteral("k.conf")), fake.pauser);
        MenuBarContent content(state);
        TrayIcon tray(state, content.menu());

        const QImage idle = tray.idleIcon().pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage typing = tray.typingIcon().pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(idle.size(), QSize(size, size));
        QCOMPARE(typing.size(), QSize(size, size));
        // Drawn, filling most of the square, and told apart from each other.
        QVERIFY(opaquePixels(idle) > size * size / 2);
        QVERIFY(opaquePixels(typing) > size * size / 2);
        QVERIFY(idle != typing);
    }

    void iconFollowsTheRun()
    {
        QTemporaryDir dir;
        FakePlatform fake;
        AppState state(fake.platform(), dir.filePath(QStringLiteral("k.conf")), fake.pauser);
        MenuBarContent content(state);
        TrayIcon tray(state, content.menu());

        QCOMPARE(tray.item().toolTip(), QStringLiteral("Keyloom"));
        QCOMPARE(tray.item().contextMenu(), content.menu());
        QVERIFY(!tray.showsTyping());
        QCOMPARE(tray.item().icon().cacheKey(), tray.idleIcon().cacheKey());

        fake.pauser->hold();
        fake.clipboard.content = QStringLiteral("ab");
        state.toggleTyping();
        // Switched as soon as the run starts, not on some later repaint.
        QVERIFY(tray.showsTyping());
        QCOMPARE(tray.item().icon().cacheKey(), tray.typingIcon().cacheKey());
        QVERIFY(fake.pauser->waitUntilHeld());

        // A run that ends by itself.
        QSignalSpy ended(&state, &AppState::typingTaskEnded);
        fake.pauser->release();
        QTRY_VERIFY_WITH_TIMEOUT(!state.isTyping(), 20000);
        QVERIFY(!tray.showsTyping());
        QCOMPARE(tray.item().icon().cacheKey(), tray.idleIcon().cacheKey());
        QCOMPARE(fake.recorder.typedText(), QStringLiteral("ab"));

        // A run that is stopped.
        fake.pauser->hold();
        state.toggleTyping();
        QVERIFY(tray.showsTyping());
        state.stopTyping();
        QVERIFY(!tray.showsTyping());
        QCOMPARE(tray.item().icon().cacheKey(), tray.idleIcon().cacheKey());
        fake.pauser->release();
        QTRY_VERIFY_WITH_TIMEOUT(!state.hasTypingTask(), 20000);
    }

    void withoutTrayShowReportsIt()
    {
        // The offscreen platform has no tray: the caller is told, so it can show a window instead.
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QTemporaryDir dir;
        FakePlatform fake;
        AppState state(fake.platform(), dir.filePath(QStringLiteral("k.conf")), fake.pauser);
        MenuBarContent content(state);
        TrayIcon tray(state, content.menu());
        QVERIFY(!tray.show());
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
