#include "typing/GraphemeWalker.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

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
    void clusters_data();
    void clusters();
    void startsWithoutScanningWholeText();
};

// The Unicode Consortium's own cases (Debian package unicode-data). Lines with
// characters newer than Qt's tables are left out: Qt cannot know their classes.
static void addUnicodeBreakTestRows()
{
    QFile file(u"/usr/share/unicode/auxiliary/GraphemeBreakTest.txt"_s);
    QVERIFY2(file.open(QIODevice::ReadOnly),
             "GraphemeBreakTest.txt not found: install unicode-data");
    int lineNumber = 0;
    int rows = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        const QString line = QString::fromUtf8(file.readLine()).section(u'#', 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        // "÷ 0061 × 0301 ÷ 000D ÷": ÷ is a boundary, × none.
        QStringList clusters{QString()};
        bool known = true;
        for (const QString &token : line.split(u' ', Qt::SkipEmptyParts)) {
            if (token == u"\u00F7") {
                if (!clusters.constLast().isEmpty())
                    clusters << QString();
            } else if (token != u"\u00D7") {
                const char32_t c = token.toUInt(nullptr, 16);
                const QChar::UnicodeVersion version = QChar::unicodeVersion(c);
                known = known && version != QChar::Unicode_Unassigned &&
                        version <= QChar::currentUnicodeVersion();
                clusters.last() += QString::fromUcs4(&c, 1);
            }
        }
        clusters.removeAll(QString());
        if (!known)
            continue;
        ++rows;
        for (qsizetype window : {1, 2, 3, 4096}) {
            QTest::addRow("line %d, window %lld", lineNumber, qlonglong(window))
                << clusters.join(QString()) << window << clusters;
        }
    }
    QVERIFY2(rows > 400, "too few usable test lines");
}

void TestGraphemeWalker::clusters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("window");
    QTest::addColumn<QStringList>("expected");

    const QString grin = fromUcs4({0x1F600});
    const QString family = fromUcs4({0x1F468, 0x200D, 0x1F469, 0x200D, 0x1F467});
    struct Row {
        const char *name;
        QStringList clusters;
    };
    // Cases the Unicode file lacks: surrogates, long runs, and the scripts in whose
    // runs Qt's own finder splits surrogate pairs, where the plain rules apply.
    const Row rows[] = {
        {"flags with odd indicator",
         {u"a"_s, fromUcs4({0x1F1E9, 0x1F1EA}), fromUcs4({0x1F1EB, 0x1F1F7}), fromUcs4({0x1F1EF})}},
        {"5000 combining marks", {u"a"_s + QString(5000, QChar(0x0301)), u"b"_s}},
        {"lone surrogates",
         {QString(QChar(0xD800)), u"a"_s, QString(QChar(0xDC00)), QString(QChar(0xDBFF))}},
        {"devanagari then zwj family", {fromUcs4({0x0915, 0x093F}), family}},
        {"thai then emoji", {fromUcs4({0x0E2A}), fromUcs4({0x0E14, 0x0E35}), grin}},
        {"khmer", {fromUcs4({0x179F, 0x17D2}), fromUcs4({0x179A, 0x17B8}), grin}},
        {"flag after a pictograph", {fromUcs4({0x2764}), fromUcs4({0x1F1EB, 0x1F1F7})}},
    };
    for (const Row &row : rows) {
        for (qsizetype window : {1, 2, 3, 64}) {
            QTest::addRow("%s, window %lld", row.name, qlonglong(window))
                << row.clusters.join(QString()) << window << row.clusters;
        }
    }
    addUnicodeBreakTestRows();
}

void TestGraphemeWalker::clusters()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, window);
    QFETCH(QStringList, expected);
    QCOMPARE(walk(text, window), expected);
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
