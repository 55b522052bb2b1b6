#include "SnippetListModel.h"

#include "SnippetText.h"
#include "model/AppState.h"

#include <QSet>

SnippetListModel::SnippetListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void SnippetListModel::setAppState(AppState *state)
{
    if (state == m_state)
        return;
    if (m_state)
        disconnect(m_state, nullptr, this, nullptr);
    beginResetModel();
    m_state = state;
    m_rows = state ? state->snippets() : SnippetList{};
    m_current = state ? state->currentSnippetIndex() : -1;
    endResetModel();
    if (state) {
        connect(state, &AppState::snippetsChanged, this, &SnippetListModel::syncSnippets);
        connect(state, &AppState::currentSnippetIndexChanged, this, &SnippetListModel::syncCurrent);
        connect(state, &AppState::typingModeChanged, this, &SnippetListModel::listModeChanged);
    }
    emit appStateChanged();
    emit countChanged();
    emit listModeChanged();
}

bool SnippetListModel::listMode() const
{
    return m_state && m_state->typingMode() == TypingMode::Playlist;
}

void SnippetListModel::setListMode(bool listMode)
{
    if (m_state)
        m_state->setTypingMode(listMode ? TypingMode::Playlist : TypingMode::Clipboard);
}

int SnippetListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant SnippetListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Snippet &snippet = m_rows.at(index.row());
    switch (role) {
    case SnippetIdRole:
        return snippet.id.toString(QUuid::WithoutBraces);
    case TextRole:
    case Qt::DisplayRole:
        return snippet.text;
    case IsCurrentRole:
        return index.row() == m_current;
    default:
        return {};
    }
}

QHash<int, QByteArray> SnippetListModel::roleNames() const
{
    return {{SnippetIdRole, "snippetId"}, {TextRole, "text"}, {IsCurrentRole, "isCurrent"}};
}

void SnippetListModel::select(int row)
{
    if (m_state)
        m_state->setCurrentSnippetIndex(row);
}

void SnippetListModel::remove(int row)
{
    if (m_state && row >= 0 && row < m_rows.size())
        m_state->deleteSnippet(row);
}

void SnippetListModel::move(int row, int destination)
{
    if (m_state && row >= 0 && row < m_rows.size() && destination >= 0 && destination <= m_rows.size())
        m_state->moveSnippets({row}, destination);
}

QString SnippetListModel::trimmed(const QString &text)
{
    return trimSnippetText(text);
}

void SnippetListModel::syncSnippets()
{
    const SnippetList target = m_state->snippets();
    const qsizetype oldCount = m_rows.size();

    QSet<QUuid> targetIds;
    for (const Snippet &s : target)
        targetIds.insert(s.id);
    QSet<QUuid> rowIds;
    for (const Snippet &s : m_rows)
        rowIds.insert(s.id);
    if (targetIds.size() != target.size() || rowIds.size() != m_rows.size()) {
        // Ids are unique in every list we write; anything else is shown afresh.
        beginResetModel();
        m_rows = target;
        endResetModel();
    } else {
        // Removals from the back, so the positions still to visit stay valid.
        for (qsizetype i = m_rows.size() - 1; i >= 0; --i) {
            if (!targetIds.contains(m_rows.at(i).id)) {
                beginRemoveRows({}, int(i), int(i));
                m_rows.removeAt(i);
                endRemoveRows();
            }
        }
        // Then each position in turn receives its snippet: moved up from further down, or inserted.
        for (qsizetype i = 0; i < target.size(); ++i) {
            const Snippet &want = target.at(i);
            qsizetype from = -1;
            for (qsizetype j = i; j < m_rows.size(); ++j) {
                if (m_rows.at(j).id == want.id) {
                    from = j;
                    break;
                }
            }
            if (from < 0) {
                beginInsertRows({}, int(i), int(i));
                m_rows.insert(i, want);
                endInsertRows();
                continue;
            }
            if (from != i) {
                beginMoveRows({}, int(from), int(from), {}, int(i));
                m_rows.move(from, i);
                endMoveRows();
            }
            if (m_rows.at(i).text != want.text) {
                m_rows[i].text = want.text;
                emit dataChanged(index(int(i)), index(int(i)), {TextRole, Qt::DisplayRole});
            }
        }
    }
    if (m_rows.size() != oldCount)
        emit countChanged();
    // The index may now point at another row even though its value stayed.
    m_current = m_state->currentSnippetIndex();
    if (m_rows.size() > 0)
        emit dataChanged(index(0), index(int(m_rows.size()) - 1), {IsCurrentRole});
}

void SnippetListModel::syncCurrent()
{
    const qint64 old = m_current;
    m_current = m_state->currentSnippetIndex();
    for (qint64 row : {old, m_current}) {
        if (row >= 0 && row < m_rows.size())
            emit dataChanged(index(int(row)), index(int(row)), {IsCurrentRole});
    }
}
