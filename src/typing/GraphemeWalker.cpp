#include "GraphemeWalker.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <utility>

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
// m_pos, a known boundary, so the break rules see the same context as in a scan
// of the whole text: every rule looks back no further than the cluster's start.
// A boundary at the window's own end is not trusted (the next character may
// still join the cluster), so a window that holds no whole cluster is doubled.
void GraphemeWalker::refill()
{
    m_ends.clear();
    m_nextEnd = 0;
    const qsizetype size = m_text.size();
    qsizetype length = m_window;
    for (;;) {
        qsizetype end = length >= size - m_pos ? size : m_pos + length;
        // Never cut a surrogate pair: a lone high surrogate would break differently.
        if (end < size && m_text.at(end - 1).isHighSurrogate() && m_text.at(end).isLowSurrogate())
            ++end;
        const bool reachesEnd = end == size;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, m_text.constData() + m_pos,
                                   end - m_pos);
        for (qsizetype b = finder.toNextBoundary(); b > 0; b = finder.toNextBoundary()) {
            if (m_pos + b < end || reachesEnd)
                m_ends.append(m_pos + b);
        }
        if (!m_ends.isEmpty())
            return;
        length = length > size ? size : length * 2;
    }
}
