#include "HotkeyManager.h"

#include "KeyNames.h"

#include <cstdio>
#include <utility>

HotkeyManager::HotkeyManager(KeyboardTap &tap) : m_tap(tap) {}

HotkeyManager::~HotkeyManager()
{
    removeTap();
}

QList<KeyCombo> HotkeyManager::watchedCombos() const
{
    QList<KeyCombo> combos{{keyCode, modifiers & ModifierFlag::Mask}};
    const KeyCombo prev{prevKeyCode, prevModifiers & ModifierFlag::Mask};
    if (prevEnabled && prev != combos.first())
        combos.append(prev);
    return combos;
}

void HotkeyManager::installTap()
{
    removeTap();
    const bool created =
        m_tap.install([this](quint16 eventKeyCode, quint64 flags) {
            return handleTapEvent(eventKeyCode, flags);
        });
    if (!created) {
        std::fputs("[Keyloom] Failed to create event tap - check Accessibility permissions.\n",
                   stdout);
        std::fflush(stdout);
        return;
    }
    m_installed = true;
    const QList<KeyCombo> taken = m_tap.watch(watchedCombos(), m_escapeWatched);
    for (const KeyCombo &combo : taken) {
        const QString shortcut = shortcutDisplayString(
            combo.keyCode, combo.modifiers & ModifierFlag::Control,
            combo.modifiers & ModifierFlag::Option, combo.modifiers & ModifierFlag::Shift,
            combo.modifiers & ModifierFlag::Command);
        std::printf("[Keyloom] Shortcut %s is already in use by another application.\n",
                    shortcut.toUtf8().constData());
    }
    std::fflush(stdout);
}

void HotkeyManager::removeTap()
{
    if (!m_installed)
        return;
    m_tap.remove();
    m_installed = false;
}

void HotkeyManager::setEscapeWatched(bool watched)
{
    if (m_escapeWatched == watched)
        return;
    m_escapeWatched = watched;
    // Callbacks start and stop runs from inside the tap's own event handling; the
    // tap is reconfigured once that handling is over, not in the middle of it.
    if (m_handling)
        m_watchPending = true;
    else if (m_installed)
        m_tap.watch(watchedCombos(), m_escapeWatched);
}

bool HotkeyManager::handleTapEvent(quint16 eventKeyCode, quint64 flags)
{
    const auto agrees = [flags](quint64 wanted) {
        return ((flags ^ wanted) & ModifierFlag::Mask) == 0;
    };
    const Callback *chosen = nullptr;
    if (eventKeyCode == keyCode && agrees(modifiers))
        chosen = &onHotkeyTriggered;
    else if (prevEnabled && eventKeyCode == prevKeyCode && agrees(prevModifiers))
        chosen = &onPrevTriggered;
    else if (eventKeyCode == KeyCode::Escape)
        chosen = &onEscapePressed;

    if (!chosen || !*chosen)
        return false;
    m_handling = true;
    const bool swallow = (*chosen)();
    m_handling = false;
    if (std::exchange(m_watchPending, false) && m_installed)
        m_tap.watch(watchedCombos(), m_escapeWatched);
    return swallow;
}
