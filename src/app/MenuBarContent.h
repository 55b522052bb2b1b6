#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class AppState;
class QAction;
class QMenu;
class QMessageBox;

// The tray item's menu. Holds no state of its own: every entry is computed from
// the AppState and a fresh trust check each time the menu is about to show and
// whenever a property it shows changes.
class MenuBarContent : public QObject {
    Q_OBJECT
public:
    /// Characters (grapheme clusters) of a snippet shown in the preview line.
    static constexpr int previewLength = 50;

    explicit MenuBarContent(AppState &state, QObject *parent = nullptr);
    ~MenuBarContent() override;

    QMenu *menu() const { return m_menu.get(); }

    /// Recomputes every entry now.
    void rebuild();

    /// The first previewLength clusters of text, followed by "..." only when something was cut.
    static QString preview(const QString &text);

    /// True for an entry that is a line of text without an action.
    static bool isTextLine(const QAction *action);

signals:
    /// "Settings..." was chosen.
    void settingsRequested();
    /// "Quit Keyloom" was chosen.
    void quitRequested();

private:
    void addItem(const QString &text, void (MenuBarContent::*slot)());
    void addLine(const QString &text, bool secondary);
    void requestPermission();
    void togglePaste();
    void typeAnyway();
    void stopTyping();
    void clearClipboard();
    void openSettings();
    void quit();

    AppState &m_state;
    std::unique_ptr<QMenu> m_menu;
    QPointer<QMessageBox> m_permissionBox;
};
