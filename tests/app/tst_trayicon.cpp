// The tray item's icon follows the run state.
#include "FakePlatform.h"
#include "app/MenuBarContent.h"
#include "app/TrayIcon.h"
#include "model/AppState.h"

#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

namespace {

int opaquePixels(const QIcon &icon, int size)
{
    const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    }
    return count;
}

struct Fixture {
    QTemporaryDir dir;
    FakePlatform fake;
    AppState state{fake.platform(), dir.filePath(QStringLiteral("k.conf")), fake.pauser};
    MenuBarContent content{state};
    TrayIcon tray{state, content.menu()};

    bool showsIdle()
    {
        return !tray.showsTyping() && tray.item().icon().cacheKey() == tray.idleIcon().cacheKey();
    }
    bool showsTyping()
    {
        return tray.showsTyping() && tray.item().icon().cacheKey() == tray.typingIcon().cacheKey();
    }
};

} // namespace

class TestTrayIcon : public QObject {
    Q_OBJECT

private slots:
    void iconsRenderAtTraySizes_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {16, 22, 32, 48})
            QTest::addRow("%d px", size) << size;
    }

    void iconsRenderAtTraySizes()
    {
        QFETCH(int, size);
        Fixture f;
        // Drawn, filling most of the square, and told apart from each other.
        QVERIFY(opaquePixels(f.tray.idleIcon(), size) > size * size / 2);
        QVERIFY(opaquePixels(f.tray.typingIcon(), size) > size * size / 2);
        QVERIFY(f.tray.idleIcon().pixmap(size, size).toImage() !=
                f.tray.typingIcon().pixmap(size, size).toImage());
    }

    void iconFollowsTheRun()
    {
        Fixture f;
        QVERIFY(f.showsIdle());
        f.fake.pauser->hold();
        f.fake.clipboard.content = QStringLiteral("ab");
        f.state.toggleTyping();
        QVERIFY(f.showsTyping()); // as soon as the run starts, not on some later repaint
        QVERIFY(f.fake.pauser->waitUntilHeld());
        f.fake.pauser->release(); // a run that ends by itself
        QTRY_VERIFY_WITH_TIMEOUT(!f.state.isTyping(), 20000);
        QVERIFY(f.showsIdle());
        QCOMPARE(f.fake.recorder.typedText(), QStringLiteral("ab"));

        f.fake.pauser->hold(); // a run that is stopped
        f.state.toggleTyping();
        QVERIFY(f.showsTyping());
        f.state.stopTyping();
        QVERIFY(f.showsIdle());
        f.fake.pauser->release();
        QTRY_VERIFY_WITH_TIMEOUT(!f.state.hasTypingTask(), 20000);
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
