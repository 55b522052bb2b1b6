#include "SettingsFixture.h"

#include <QTest>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

// The typing preview, stepped by hand through its clock: which text it animates, one
// user-perceived character per step at the current delay, the hold, and every restart.
class TestTypingPreview : public QObject {
    Q_OBJECT
private slots:
    void source_data()
    {
        QTest::addColumn<std::optional<QString>>("clipboard");
        QTest::addColumn<bool>("counts");
        QTest::newRow("no text") << std::optional<QString>() << false;
        QTest::newRow("blanks and breaks")
            << std::optional<QString>(u" \t\r\n\u00A0\u2028\u3000"_s) << false;
        QTest::newRow("  hi\\n") << std::optional<QString>(u"  hi\n"_s) << true;
    }

    void source()
    {
        QFETCH(std::optional<QString>, clipboard);
        QFETCH(bool, counts);
        SettingsFixture f;
        f.fake.clipboard.content = clipboard;
        QVERIFY(f.open());
        TypingPreview *preview = f.view()->preview();
        QCOMPARE(textOf(f.item(u"previewSource"_s)),
                 counts ? u"From clipboard"_s : u"Sample text"_s);
        QCOMPARE(f.item(u"clearClipboard"_s)->isVisible(), counts);
        // The clipboard text is used untrimmed when it counts.
        QCOMPARE(preview->sourceText(), counts ? *clipboard : TypingPreview::defaultSampleText);
        QVERIFY(preview->isRunning());
    }

    void stepsOneClusterAtATime_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("  hi\\n") << u"  hi\n"_s << QStringList{" ", "  ", "  h", "  hi", "  hi\n"};
        QTest::newRow("emoji with skin tone")
            << u"👍🏽a"_s << QStringList{u"👍🏽"_s, u"👍🏽a"_s};
        QTest::newRow("CR LF counts once") << u"a\r\nb"_s << QStringList{"a", "a\r\n", "a\r\nb"};
    }

    void stepsOneClusterAtATime()
    {
        QFETCH(QString, clipboard);
        QFETCH(QStringList, shown);
        SettingsFixture f;
        f.fake.clipboard.content = clipboard;
        f.state->setTypingSpeedMs(45);
        QVERIFY(f.open());
        TypingPreview *preview = f.view()->preview();
        // The first character shows at once; each later one after the delay, read afresh.
        QStringList seen{preview->previewText()};
        for (int i = 1; i < shown.size(); ++i) {
            QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(45ms));
            QVERIFY(f.clock()->fire());
            seen.append(preview->previewText());
        }
        QCOMPARE(seen, shown);
        QCOMPARE(textOf(f.item(u"previewText"_s)), shown.last());
        // The delay after the last character, then the one-second hold with the text on show.
        QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(45ms));
        QVERIFY(f.clock()->fire());
        QCOMPARE(preview->previewText(), shown.last());
        QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(1s));
        QVERIFY(f.clock()->fire());
        QCOMPARE(preview->previewText(), shown.first());
    }

    void restarts_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("firstAfter");
        QTest::addColumn<qint64>("delayAfterMs");
        QTest::newRow("clipboard cleared") << u"clear"_s << u"T"_s << 30ll;
        QTest::newRow("delay changed") << u"delay"_s << u"c"_s << 100ll;
        QTest::newRow("clipboard changed while away") << u"activate"_s << u"n"_s << 30ll;
    }

    // Each restart empties the box and begins the (new) source afresh.
    void restarts()
    {
        QFETCH(QString, how);
        QFETCH(QString, firstAfter);
        QFETCH(qint64, delayAfterMs);
        SettingsFixture f;
        f.fake.clipboard.content = u"copied"_s;
        QVERIFY(f.open());
        TypingPreview *preview = f.view()->preview();
        QCOMPARE(f.stepUntil(u"cop"_s), 2);
        QStringList seen;
        connect(preview, &TypingPreview::previewTextChanged, this,
                [&] { seen.append(preview->previewText()); });
        if (how == "clear"_L1) {
            f.click(f.item(u"clearClipboard"_s));
            QVERIFY(!f.fake.clipboard.content);
            QVERIFY(!f.item(u"clearClipboard"_s)->isVisible());
        } else if (how == "delay"_L1) {
            f.state->setTypingSpeedMs(100);
        } else {
            f.fake.clipboard.content = u"new text"_s;
            reactivateApplication();
        }
        QTRY_COMPARE(seen, (QStringList{QString(), firstAfter}));
        QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(delayAfterMs * 1ms));
        // An unchanged assignment is no change: nothing restarts.
        f.state->setTypingSpeedMs(f.state->typingSpeedMs());
        QVERIFY(f.clock()->fire());
        QCOMPARE(preview->previewText().size(), firstAfter.size() + 1);
    }

    void noWritesAfterHidden()
    {
        SettingsFixture f;
        f.fake.clipboard.content = u"abc"_s;
        QVERIFY(f.open());
        TypingPreview *preview = f.view()->preview();
        f.stepUntil(u"ab"_s);
        int writes = 0;
        connect(preview, &TypingPreview::previewTextChanged, this, [&] { ++writes; });
        f.window()->hide();
        // Stopped at once: no step pending, nothing written, delay changes do not restart it.
        QVERIFY(!preview->isRunning());
        QVERIFY(!f.clock() || !f.clock()->hasPending());
        f.state->setTypingSpeedMs(150);
        QCOMPARE(writes, 0);
        QTRY_VERIFY(!f.window());
        // Shown again: a new pass from an empty box.
        QVERIFY(f.open());
        QCOMPARE(f.view()->preview()->previewText(), u"a"_s);
        QCOMPARE(f.clock()->pendingDelay(), std::chrono::nanoseconds(150ms));
    }
};

QTEST_MAIN(TestTypingPreview)
#include "tst_typingpreview.moc"
