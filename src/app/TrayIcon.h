#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

class AppState;
class QMenu;

// The tray item: a keyboard while idle, a keyboard with an ellipsis while a run
// is in progress; clicking it opens the menu.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(AppState &state, QMenu *menu, QObject *parent = nullptr);
    ~TrayIcon() override;

    /// Shows the item; false when the desktop has no tray yet (it appears once one does).
    bool show();

    QSystemTrayIcon &item() { return m_item; }
    const QIcon &idleIcon() const { return m_idleIcon; }
    const QIcon &typingIcon() const { return m_typingIcon; }
    /// True while the item shows the icon of a run in progress.
    bool showsTyping() const { return m_showsTyping; }

signals:
    /// A tray host appeared after start-up and the item is now in it.
    void trayAppeared();

private:
    void updateIcon();
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void checkForTray();

    AppState &m_state;
    QMenu *m_menu;
    QIcon m_idleIcon;
    QIcon m_typingIcon;
    QSystemTrayIcon m_item;
    QTimer m_trayWatch;
    bool m_showsTyping = false;
};
