#include "GraphemeWalker.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// Scripts for which QTextBoundaryFinder replaces the Unicode rules by its own
// syllable rules. Those work on UTF-16 units and split surrogate pairs that
// share the script run (an emoji after a Hindi or Thai word), and they depend
// on where the scanned text starts.
bool hasTailoredBreaks(QChar::Script script)
{
    switch (script) {
    case QChar::Script_Devanagari:
    case QChar::Script_Bengali:
    case QChar::Script_Gurmukhi:
    case QChar::Script_Gujarati:
    case QChar::Script_Oriya:
    case QChar::Script_Tamil:
    case QChar::Script_Telugu:
    case QChar::Script_Kannada:
    case QChar::Script_Malayalam:
    case QChar::Script_Sinhala:
    case QChar::Script_Thai:
    case QChar::Script_Tibetan:
    case QChar::Script_Myanmar:
    case QChar::Script_Khmer:
        return true;
    default:
        return false;
    }
}

// Stand-ins of untailored scripts with the same grapheme break class.
constexpr char16_t anyStandIn = u'a';
constexpr char16_t extendStandIn = 0x0301;      // combining acute accent
constexpr char16_t spacingMarkStandIn = 0x1B04; // Balinese sign bisah
constexpr char16_t prependStandIn = 0x0600;     // Arabic number sign

// Spacing marks that extend a cluster (Other_Grapheme_Extend).
constexpr char16_t extendingSpacingMarks[] = {0x09BE, 0x09D7, 0x0B3E, 0x0B57, 0x0BBE,
                                              0x0BD7, 0x0CC2, 0x0CD5, 0x0CD6, 0x0D3E,
                                              0x0D57, 0x0DCF, 0x0DDF};
// Myanmar spacing marks that the cluster rules leave apart.
constexpr char16_t unattachedSpacingMarks[] = {
    0x102B, 0x102C, 0x1038, 0x1062, 0x1063, 0x1064, 0x1067, 0x1068, 0x1069, 0x106A, 0x106B, 0x106C,
    0x106D, 0x1083, 0x1087, 0x1088, 0x1089, 0x108A, 0x108B, 0x108C, 0x108F, 0x109A, 0x109B, 0x109C};

template <std::size_t N> bool contains(const char16_t (&sorted)[N], char16_t unit)
{
    return std::binary_search(std::begin(sorted), std::end(sorted), unit);
}

// The grapheme break class of a character of a tailored script, as a stand-in.
char16_t standInFor(char16_t unit)
{
    if (contains(extendingSpacingMarks, unit))
        return extendStandIn;
    if (contains(unattachedSpacingMarks, unit))
        return anyStandIn;
    if (unit == 0x0E33) // Thai sara am: a letter that is a spacing mark
        return spacingMarkStandIn;
    if (unit == 0x0D4E) // Malayalam dot reph
        return prependStandIn;
    switch (QChar(unit).category()) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
        return extendStandIn;
    case QChar::Mark_SpacingCombining:
        return spacingMarkStandIn;
    default:
        return anyStandIn;
    }
}

// The text to scan: the same units, except that characters of tailored scripts
// become stand-ins, so the finder applies the plain Unicode cluster rules.
QStringView untailored(QStringView text, QString &buffer)
{
    const auto tailored = [](QChar c) { return hasTailoredBreaks(c.script()); };
    const auto first = std::find_if(text.begin(), text.end(), tailored);
    if (first == text.end())
        return text;
    buffer = text.toString();
    for (qsizetype i = first - text.begin(); i < buffer.size(); ++i) {
        if (tailored(buffer.at(i)))
            buffer[i] = QChar(standInFor(buffer.at(i).unicode()));
    }
    return buffer;
}

// Regional indicators (U+1F1E6..U+1F1FF) pair up into flags.
bool isRegionalIndicatorAt(QStringView text, qsizetype i)
{
    return i + 1 < text.size() && text[i].unicode() == 0xD83C && text[i + 1].unicode() >= 0xDDE6 &&
           text[i + 1].unicode() <= 0xDDFF;
}

} // namespace

GraphemeWalker::GraphemeWalker(QString text, qsizetype window)
    : m_text(std::move(text)), m_window(std::max<qsizetype>(window, 1))
{
}

std::optional<QStringView> GraphemeWalker::next()
{
    if (m_pos >= m_text.size())
        return std::nullopt;
    if (m_nextEnd >= m_ends.size())
        refill();
    const qsizetype end = m_ends.at(m_nextEnd++);
    const QStringView cluster = QStringView(m_text).sliced(m_pos, end - m_pos);
    m_pos = end;
    return cluster;
}

// Finds the boundaries of the clusters that follow m_pos. The scan starts at
// m_pos, a known boundary; the Unicode rules look back no further than a
// cluster's start, so where a window starts does not change the clusters.
// A boundary at the window's own end is not trusted (the next character may
// still join the cluster), so a window that holds no whole cluster is doubled.
void GraphemeWalker::refill()
{
    m_ends.clear();
    m_nextEnd = 0;
    const qsizetype size = m_text.size();
    qsizetype length = m_window;
    QString buffer;
    for (;;) {
        qsizetype end = length >= size - m_pos ? size : m_pos + length;
        // Never cut a surrogate pair: a lone high surrogate would break differently.
        if (end < size && m_text.at(end - 1).isHighSurrogate() && m_text.at(end).isLowSurrogate())
            ++end;
        const bool reachesEnd = end == size;
        const QStringView scanned =
            untailored(QStringView(m_text).sliced(m_pos, end - m_pos), buffer);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, scanned.data(), scanned.size());
        for (qsizetype b = finder.toNextBoundary(); b > 0; b = finder.toNextBoundary()) {
            const qsizetype at = m_pos + b;
            if (at == end ? !reachesEnd
                          : m_text.at(at - 1).isHighSurrogate() && m_text.at(at).isLowSurrogate())
                continue;
            m_ends.append(at);
        }
        if (!m_ends.isEmpty()) {
            keepFlagsWhole(end);
            return;
        }
        length = length > size ? size : length * 2;
    }
}

// The finder loses count of regional indicators that directly follow a pictograph
// and pairs them one off, splitting every flag of the run. A break between two
// indicators is right only after an even number of them; at the first wrong one,
// keep the boundaries up to the run's start, where the next scan starts afresh.
void GraphemeWalker::keepFlagsWhole(qsizetype end)
{
    const QStringView text(m_text);
    qsizetype runStart = -1;
    for (qsizetype i = m_pos; i < end;) {
        if (!isRegionalIndicatorAt(text, i)) {
            runStart = -1;
            ++i;
            continue;
        }
        if (runStart < 0) {
            runStart = i;
        } else if ((i - runStart) % 4 == 2 &&
                   std::binary_search(m_ends.cbegin(), m_ends.cend(), i)) {
            const qsizetype keep =
                std::upper_bound(m_ends.cbegin(), m_ends.cend(), runStart) - m_ends.cbegin();
            if (keep > 0)
                m_ends.resize(keep);
            return;
        }
        i += 2;
    }
}
