#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// Walks a text one user-perceived character (extended grapheme cluster) at a
// time. It looks at a bounded window ahead, never the whole text, so typing a
// multi-megabyte clipboard starts at once. Clusters follow the plain Unicode
// rules, without QTextBoundaryFinder's syllable rules for some Asian scripts,
// and a surrogate pair is never split.
class GraphemeWalker {
public:
    explicit GraphemeWalker(QString text, qsizetype window = 4096);

    /// The next cluster, or nothing at the end of the text.
    std::optional<QStringView> next();

    /// The text from the current position on (for look-ahead hints).
    QStringView remaining() const { return QStringView(m_text).sliced(m_pos); }

    /// Offset just past the last cluster returned.
    qsizetype position() const { return m_pos; }

    /// Offset up to which clusters are already known (at least position()).
    qsizetype scannedEnd() const { return m_ends.isEmpty() ? m_pos : m_ends.last(); }

private:
    void refill();
    void keepFlagsWhole(qsizetype end);

    QString m_text;
    qsizetype m_window;
    qsizetype m_pos = 0;
    // Boundaries (absolute offsets) known to be final, in ascending order;
    // m_nextEnd indexes the end of the next cluster to return.
    QList<qsizetype> m_ends;
    qsizetype m_nextEnd = 0;
};
