#include "typing/GraphemeWalker.h"

#include <QTest>
#include <QTextBoundaryFinder>

namespace {

QStringList clustersOfWholeText(const QString &text)
{
    QStringList clusters;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype b = finder.toNextBoundary(); b > 0; b = finder.toNextBoundary()) {
        clusters << text.sliced(start, b - start);
        start = b;
    }
    return clusters;
}

QStringList walk(const QString &text, qsizetype window)
{
    GraphemeWalker walker(text, window);
    QStringList clusters;
    while (const std::optional<QStringView> cluster = walker.next())
        clusters << cluster->toString();
    return clusters;
}

QString fromUcs4(std::initializer_list<char32_t> codePoints)
{
    return QString::fromUcs4(codePoints.begin(), qsizetype(codePoints.size()));
}

} // namespace

class TestGraphemeWalker : public QObject {
    Q_OBJECT

private slots:
    void matchesWholeTextFinder_data();
    void matchesWholeTextFinder();
    void startsWithoutScanningWholeText();
};

void TestGraphemeWalker::matchesWholeTextFinder_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("window");
    QTest::addColumn<qsizetype>("clusterCount");

    QString manyMarks = QStringLiteral("a");
    manyMarks += QString(5000, QChar(0x0301));
    manyMarks += QStringLiteral("b");

    struct Row {
        const char *name;
        QString text;
        qsizetype clusters;
    };
    const Row rows[] = {
        {"empty", QString(), 0},
        {"ascii", QStringLiteral("Hello, world"), 12},
        {"emoji with skin tone", fromUcs4({U'a', 0x1F44D, 0x1F3FD, U'b'}), 3},
        {"zwj family",
         fromUcs4({U'x', 0x1F468, 0x200D, 0x1F469, 0x200D, 0x1F467, 0x200D, 0x1F466, U'y'}), 3},
        {"zwj family twice",
         fromUcs4({0x1F468, 0x200D, 0x1F469, 0x200D, 0x1F467, 0x1F468, 0x200D, 0x1F469, 0x200D,
                   0x1F467}),
         2},
        {"flags", fromUcs4({0x1F1E9, 0x1F1EA, 0x1F1EB, 0x1F1F7, 0x1F1EF, 0x1F1F5, U'.'}), 4},
        {"flags with odd indicator",
         fromUcs4({U'a', 0x1F1E9, 0x1F1EA, 0x1F1EB, 0x1F1F7, 0x1F1EF}), 4},
        {"e with combining acute", fromUcs4({U'e', 0x0301, U'e', 0x0301, 0x0302, U'z'}), 3},
        {"line ends", QStringLiteral("a\r\nb\n\rc\r\r\n\t"), 9},
        {"hangul", fromUcs4({0xD55C, 0xAD6D, 0x1100, 0x1161, 0x11A8, 0x1100, 0x1161, 0xC5B4}), 5},
        {"devanagari", fromUcs4({0x0928, 0x092E, 0x0938, 0x094D, 0x0924, 0x0947}), 0},
        {"keycap", fromUcs4({U'1', 0xFE0F, 0x20E3, U'#', 0xFE0F, 0x20E3}), 2},
        {"prepend", fromUcs4({0x0600, 0x0661, U'x'}), 2},
        {"lone surrogates", QString::fromUtf16(u"\xD800" u"a\xDC00\xDBFF"), 4},
        {"5000 combining marks", manyMarks, 2},
    };
    for (const Row &row : rows) {
        for (qsizetype window : {1, 2, 3, 7, 64, 4096}) {
            QTest::addRow("%s, window %lld", row.name, qlonglong(window))
                << row.text << window << row.clusters;
        }
    }
}

void TestGraphemeWalker::matchesWholeTextFinder()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, window);
    QFETCH(qsizetype, clusterCount);

    const QStringList expected = clustersOfWholeText(text);
    // Guard the reference itself (0: the count depends on the Unicode version).
    if (clusterCount > 0)
        QCOMPARE(expected.size(), clusterCount);
    const QStringList actual = walk(text, window);
    QCOMPARE(actual, expected);
    QCOMPARE(actual.join(QString()), text);
}

// The first cluster of a large text comes from a scan of one window, not of the text.
void TestGraphemeWalker::startsWithoutScanningWholeText()
{
    const QString text = QStringLiteral("abcdefgh").repeated(1 << 20);
    GraphemeWalker walker(text, 4096);
    const std::optional<QStringView> first = walker.next();
    QVERIFY(first);
    QCOMPARE(first->toString(), QStringLiteral("a"));
    QVERIFY2(walker.scannedEnd() <= 4096, qPrintable(QString::number(walker.scannedEnd())));
    QCOMPARE(walker.remaining().size(), text.size() - 1);
}

QTEST_GUILESS_MAIN(TestGraphemeWalker)
#include "tst_graphemewalker.moc"
