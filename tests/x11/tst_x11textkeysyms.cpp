// Which keysyms a text becomes, before any X server is involved.
#include "platform/x11/X11TextKeysyms.h"

#include <QTest>

#include <vector>

class TestX11TextKeysyms : public QObject {
    Q_OBJECT

private slots:
    void keysyms_data();
    void keysyms();
};

void TestX11TextKeysyms::keysyms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::vector<quint32>>("expected");
    QTest::newRow("latin-1 uses legacy keysyms")
        << QStringLiteral("aZ~ä") << std::vector<quint32>{0x61, 0x5a, 0x7e, 0xe4};
    QTest::newRow("cyrillic") << QStringLiteral("ж") << std::vector<quint32>{0x6d6};
    QTest::newRow("beyond the BMP as one keysym")
        << QStringLiteral("👍") << std::vector<quint32>{0x101f44d};
    QTest::newRow("combining mark")
        << QStringLiteral("e\u0301") << std::vector<quint32>{0x65, 0x1000301};
    QTest::newRow("line ends are Return")
        << QStringLiteral("\n\r") << std::vector<quint32>{0xff0d, 0xff0d};
    QTest::newRow("CR LF is one Return") << QStringLiteral("\r\n") << std::vector<quint32>{0xff0d};
    QTest::newRow("tab") << QStringLiteral("\t") << std::vector<quint32>{0xff09};
    QTest::newRow("escape and backspace are never pressed")
        << QStringLiteral("\x1b\x08") << std::vector<quint32>{};
    QTest::newRow("DEL and C1 skipped")
        << QStringLiteral("\x7f\u0085\u009f") << std::vector<quint32>{};
    QTest::newRow("lone high surrogate")
        << QString(QChar(0xD83D)) << std::vector<quint32>{0x100fffd};
    QTest::newRow("lone low surrogate between letters")
        << (QStringLiteral("a") + QChar(0xDC00) + QStringLiteral("b"))
        << std::vector<quint32>{0x61, 0x100fffd, 0x62};
}

void TestX11TextKeysyms::keysyms()
{
    QFETCH(QString, text);
    QFETCH(std::vector<quint32>, expected);
    QCOMPARE(X11TextKeysyms::forText(text), expected);
}

QTEST_APPLESS_MAIN(TestX11TextKeysyms)
#include "tst_x11textkeysyms.moc"
