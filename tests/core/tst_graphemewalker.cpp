#include "typing/GraphemeWalker.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace {

// Each cluster found by a finder that starts at the cluster: the Unicode rules
// never look back past a cluster's start, and this sidesteps state the finder
// carries over from earlier clusters.
QStringList clustersOneByOne(const QString &text)
{
    QStringList clusters;
    for (qsizetype start = 0; start < text.size();) {
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.sliced(start));
        const qsizetype end = start + finder.toNextBoundary();
        clusters << text.sliced(start, end - start);
        start = end;
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
    void clusters_data();
    void clusters();
    void mixedTextDoesNotDependOnWindow_data();
    void mixedTextDoesNotDependOnWindow();
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
        for (qsizetype window : {1, 3, 4096}) {
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
    const QString thumbs = fromUcs4({0x1F44D, 0x1F3FD});
    const QString family = fromUcs4({0x1F468, 0x200D, 0x1F469, 0x200D, 0x1F467});
    const QString india = fromUcs4({0x1F1EE, 0x1F1F3});
    struct Row {
        const char *name;
        QStringList clusters;
    };
    const QString fam = fromUcs4({0x1F468, 0x200D, 0x1F469, 0x200D, 0x1F467});
    const Row rows[] = {
        {"empty", {}},
        {"zwj family twice", {fam, fam}},
        {"flags with odd indicator",
         {u"a"_s, fromUcs4({0x1F1E9, 0x1F1EA}), fromUcs4({0x1F1EB, 0x1F1F7}), fromUcs4({0x1F1EF})}},
        {"combining marks", {fromUcs4({U'e', 0x0301}), fromUcs4({U'e', 0x0301, 0x0302}), u"z"_s}},
        {"5000 combining marks", {u"a"_s + QString(5000, QChar(0x0301)), u"b"_s}},
        {"line ends",
         {u"a"_s, u"\r\n"_s, u"b"_s, u"\n"_s, u"\r"_s, u"c"_s, u"\r"_s, u"\r\n"_s, u"\t"_s}},
        {"hangul",
         {fromUcs4({0xD55C}), fromUcs4({0xAD6D}), fromUcs4({0x1100, 0x1161, 0x11A8}),
          fromUcs4({0x1100, 0x1161}), fromUcs4({0xC5B4})}},
        {"lone surrogates",
         {QString(QChar(0xD800)), u"a"_s, QString(QChar(0xDC00)), QString(QChar(0xDBFF))}},
        // Qt's own finder splits surrogate pairs in these scripts' runs; the walker
        // applies the plain Unicode cluster rules instead.
        {"devanagari",
         {fromUcs4({0x0928}), fromUcs4({0x092E}), fromUcs4({0x0938, 0x094D}),
          fromUcs4({0x0924, 0x0947})}},
        {"devanagari then emoji", {fromUcs4({0x0915}), grin}},
        {"devanagari then skin tone emoji", {fromUcs4({0x0915}), thumbs, fromUcs4({0x0915})}},
        {"devanagari then zwj family", {fromUcs4({0x0915, 0x093F}), family}},
        {"hindi word and flag",
         {fromUcs4({0x0939, 0x093F, 0x0902}), fromUcs4({0x0926, 0x0940}), QStringLiteral(" "),
          india}},
        {"thai then emoji",
         {fromUcs4({0x0E2A}), fromUcs4({0x0E27, 0x0E31}), fromUcs4({0x0E2A}),
          fromUcs4({0x0E14, 0x0E35}), grin}},
        {"thai sara am", {fromUcs4({0x0E01, 0x0E33})}},
        {"tamil", {fromUcs4({0x0B95, 0x0BCA}), fromUcs4({0x0B95, 0x0BBE})}},
        {"malayalam prepend", {fromUcs4({0x0D4E, 0x0D15})}},
        {"myanmar", {fromUcs4({0x1000}), fromUcs4({0x102C}), fromUcs4({0x1000, 0x102D})}},
        {"khmer", {fromUcs4({0x179F, 0x17D2}), fromUcs4({0x179A, 0x17B8}), grin}},
        {"tibetan", {fromUcs4({0x0F56, 0x0F7C}), fromUcs4({0x0F51}), thumbs}},
        {"flag after a pictograph",
         {fromUcs4({0x2764}), fromUcs4({0x1F1EB, 0x1F1F7}), fromUcs4({0x1F1E9, 0x1F1EA})}},
        {"bengali and crlf", {fromUcs4({0x0995}), QStringLiteral("\r\n"), fromUcs4({0x0995})}},
    };
    for (const Row &row : rows) {
        for (qsizetype window : {1, 2, 3, 7, 64, 4096}) {
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

void TestGraphemeWalker::mixedTextDoesNotDependOnWindow_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("tailoredScripts");
    QTest::addColumn<qsizetype>("window");
    for (bool tailored : {false, true}) {
        for (quint32 seed = 1; seed <= 20; ++seed) {
            for (qsizetype window : {1, 2, 3, 5, 8, 13}) {
                QTest::addRow("%s, seed %u, window %lld", tailored ? "indic" : "plain", seed,
                              qlonglong(window))
                    << seed << tailored << window;
            }
        }
    }
}

// Random mixes of the code points whose break rules look past one neighbour.
// Cut into windows, the text falls into the same clusters as in one scan; without
// tailored scripts those are Qt's own clusters.
void TestGraphemeWalker::mixedTextDoesNotDependOnWindow()
{
    QFETCH(quint32, seed);
    QFETCH(bool, tailoredScripts);
    QFETCH(qsizetype, window);

    static const char32_t plain[] = {
        U'a',    U'\r',   U'\n',  U'\t',   0x0301,  0x0308,
        0x200D,  0xFE0F,  0x20E3, 0x1F1E9, 0x1F1EA, 0x1F1EB, // regional indicators
        0x1F468, 0x1F469, 0x2764, 0x1F44D,                   // pictographs
        0x1F3FB, 0x1F3FD,                                    // skin tones
        0x1100,  0x1161,  0x11A8, 0xAC00,  0xAC01,           // Hangul L, V, T, LV, LVT
        0x0600,  0x0644,                                     // prepend, Arabic letter
        0xD800,  0xDC00,                                     // lone surrogates
    };
    static const char32_t tailored[] = {
        0x0915, 0x094D, 0x093F, 0x0902, // Devanagari consonant, virama, spacing mark, sign
        0x0E01, 0x0E31, 0x0E33,         // Thai
        0x1000, 0x102C, 0x1039,         // Myanmar
        0x0D4E, 0x0BBE,                 // Malayalam prepend, Tamil extending mark
    };
    QRandomGenerator random(seed);
    QString text;
    for (int i = 0; i < 400; ++i) {
        const bool fromTailored = tailoredScripts && random.bounded(3) == 0;
        const char32_t c = fromTailored ? tailored[random.bounded(int(std::size(tailored)))]
                                        : plain[random.bounded(int(std::size(plain)))];
        if (c >= 0xD800 && c <= 0xDFFF)
            text += QChar(char16_t(c));
        else
            text += QString::fromUcs4(&c, 1);
    }

    const QStringList clusters = walk(text, window);
    QCOMPARE(clusters, walk(text, text.size()));
    QCOMPARE(clusters.join(QString()), text);
    for (qsizetype i = 1; i < clusters.size(); ++i) {
        QVERIFY2(!clusters.at(i - 1).back().isHighSurrogate() ||
                     !clusters.at(i).front().isLowSurrogate(),
                 "a surrogate pair was split");
    }
    if (!tailoredScripts)
        QCOMPARE(clusters, clustersOneByOne(text));
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
