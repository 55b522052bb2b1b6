#include "TrayIcon.h"

#include "model/AppState.h"

#include <QCursor>
#include <QMenu>

namespace {

// Polling is the one portable way to notice a tray host that starts after us.
constexpr int trayWatchIntervalMs = 2000;

} // namespace

TrayIcon::TrayIcon(AppState &state, QMenu *menu, QObject *parent)
    : QObject(parent),
      m_state(state),
      m_menu(menu),
      m_idleIcon(QStringLiteral(":/keyloom/icons/keyloom-idle.svg")),
      m_typingIcon(QStringLiteral(":/keyloom/icons/keyloom-typing.svg"))
{
    m_item.setToolTip(QStringLiteral("Keyloom"));
    m_item.setContextMenu(m_menu);
    connect(&m_item, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    connect(&m_state, &AppState::isTypingChanged, this, &TrayIcon::updateIcon);
    m_trayWatch.setInterval(trayWatchIntervalMs);
    connect(&m_trayWatch, &QTimer::timeout, this, &TrayIcon::checkForTray);
    updateIcon();
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::show()
{
    m_item.show();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return true;
    m_trayWatch.start();
    return false;
}

void TrayIcon::updateIcon()
{
    m_showsTyping = m_state.isTyping();
    m_item.setIcon(m_showsTyping ? m_typingIcon : m_idleIcon);
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    // A plain click opens the menu too, as a menu bar item would; the context
    // click is handled by the tray itself through the context menu.
    if (reason != QSystemTrayIcon::Trigger || !m_menu || m_menu->isVisible())
        return;
    // Below the icon, as a panel menu opens, so the icon stays visible; at the
    // pointer where the tray does not say where the icon is.
    const QRect icon = m_item.geometry();
    m_menu->popup(icon.isValid() ? icon.bottomLeft() + QPoint(0, 1) : QCursor::pos());
}

void TrayIcon::checkForTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_trayWatch.stop();
    // Showing again makes the item embed itself in the tray that is there now.
    m_item.hide();
    m_item.show();
    emit trayAppeared();
}
