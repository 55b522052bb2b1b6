#include "AppState.h"

#include <QSet>

namespace {
const QString snippetsKey = QStringLiteral("snippets");
const QString unreadableKey = QStringLiteral("snippetsUnreadable");
} // namespace

void AppState::loadSnippets()
{
    const QVariant stored = m_store.value(snippetsKey);
    if (!stored.isValid())
        return;
    std::optional<SnippetList> decoded;
    if (stored.typeId() == QMetaType::QByteArray)
        decoded = decodeSnippets(stored.toByteArray());
    if (!decoded) {
        // Starts empty, but the bytes are the user's: they are rescued before the first save.
        m_unreadableSnippets = stored;
        return;
    }
    if (*decoded != m_snippets) {
        m_snippets = std::move(*decoded);
        emit snippetsChanged();
    }
    saveSnippets();
}

void AppState::saveSnippets()
{
    if (m_unreadableSnippets.isValid()) {
        // Never overwrite an earlier rescue: the next free key takes this one.
        QString key = unreadableKey;
        for (int n = 2; m_store.contains(key) && m_store.value(key) != m_unreadableSnippets; ++n)
            key = unreadableKey + QString::number(n);
        m_store.setValue(key, m_unreadableSnippets);
        m_unreadableSnippets = QVariant();
    }
    m_store.setValue(snippetsKey, encodeSnippets(m_snippets));
}

void AppState::setSnippetsAndSave(SnippetList list)
{
    // Edits notify and write unconditionally, even when the order did not change.
    m_snippets = std::move(list);
    emit snippetsChanged();
    saveSnippets();
}

void AppState::addSnippet(const QString &text)
{
    if (text.isEmpty())
        return;
    SnippetList list = m_snippets;
    list.append(Snippet{QUuid::createUuid(), text});
    setSnippetsAndSave(std::move(list));
}

void AppState::deleteSnippet(qint64 position)
{
    if (position < 0 || position >= m_snippets.size())
        return;
    SnippetList list = m_snippets;
    list.removeAt(position);
    setSnippetsAndSave(std::move(list));
    const qint64 count = m_snippets.size();
    if (m_currentSnippetIndex >= count)
        setCurrentSnippetIndex(count == 0 ? 0 : count - 1);
}

void AppState::clearAllSnippets()
{
    setSnippetsAndSave({});
    setCurrentSnippetIndex(0);
}

void AppState::moveSnippets(const QList<qint64> &sources, qint64 destination)
{
    const qint64 count = m_snippets.size();
    QSet<qint64> moved;
    for (qint64 source : sources) {
        if (source >= 0 && source < count)
            moved.insert(source);
    }
    destination = std::clamp<qint64>(destination, 0, count);

    std::optional<QUuid> current;
    if (m_currentSnippetIndex >= 0 && m_currentSnippetIndex < count)
        current = m_snippets.at(m_currentSnippetIndex).id;

    SnippetList before, block, after;
    for (qint64 i = 0; i < count; ++i) {
        const Snippet &snippet = m_snippets.at(i);
        if (moved.contains(i))
            block.append(snippet);
        else if (i < destination)
            before.append(snippet);
        else
            after.append(snippet);
    }
    setSnippetsAndSave(before + block + after);

    if (!current)
        return;
    for (qint64 i = 0; i < m_snippets.size(); ++i) {
        if (m_snippets.at(i).id == *current) {
            setCurrentSnippetIndex(i);
            return;
        }
    }
}
