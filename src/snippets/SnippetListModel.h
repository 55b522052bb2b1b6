#pragma once

#include "model/Snippet.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QtQml/qqml.h>

class AppState;

// AppState.snippets as a list model. Every change of the list is turned into the
// row removals, moves and insertions that lead from the old list to the new one
// (rows matched by snippet id), so a view keeps its delegates and scroll position.
class SnippetListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(AppState *appState READ appState WRITE setAppState NOTIFY appStateChanged)
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)
    Q_PROPERTY(bool listMode READ listMode WRITE setListMode NOTIFY listModeChanged)

public:
    enum Role { SnippetIdRole = Qt::UserRole + 1, TextRole, IsCurrentRole };
    Q_ENUM(Role)

    explicit SnippetListModel(QObject *parent = nullptr);

    AppState *appState() const { return m_state; }
    /// Follows this state's snippet list and current index from now on.
    void setAppState(AppState *state);

    /// Whether the typing mode is the list mode; writing it switches the mode.
    bool listMode() const;
    void setListMode(bool listMode);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    /// Makes the snippet at this row the current one.
    Q_INVOKABLE void select(int row);
    /// Deletes the snippet at this row.
    Q_INVOKABLE void remove(int row);
    /// Moves the snippet at this row so that it stands before the row that is now at destination.
    Q_INVOKABLE void move(int row, int destination);
    /// The text the add row would store: trimmed at both ends.
    Q_INVOKABLE static QString trimmed(const QString &text);

signals:
    void appStateChanged();
    void countChanged();
    void listModeChanged();

private:
    void syncSnippets();
    void syncCurrent();

    QPointer<AppState> m_state;
    SnippetList m_rows;
    qint64 m_current = -1;
};
