#pragma once

#include "platform/KeyboardTap.h"
#include "platform/KeyCodes.h"

#include <functional>

// Recognises the main shortcut, the previous-snippet shortcut and Esc among the
// key presses the tap delivers, and lets the owner's callbacks decide whether
// each press is swallowed. Main thread only.
class HotkeyManager {
public:
    using Callback = std::function<bool()>;

    explicit HotkeyManager(KeyboardTap &tap);
    ~HotkeyManager();

    HotkeyManager(const HotkeyManager &) = delete;
    HotkeyManager &operator=(const HotkeyManager &) = delete;

    quint16 keyCode = KeyCode::Semicolon;
    quint64 modifiers = ModifierFlag::Control | ModifierFlag::Command;
    quint16 prevKeyCode = 0;
    quint64 prevModifiers = 0;
    bool prevEnabled = false;
    Callback onHotkeyTriggered;
    Callback onEscapePressed;
    Callback onPrevTriggered;

    /// Replaces any installed tap with a new one watching the current shortcuts.
    void installTap();
    /// Removes the tap; does nothing when none is installed.
    void removeTap();
    bool isInstalled() const { return m_installed; }

    /// Watch Esc as well; only wanted while a run is in progress, so Esc reaches applications otherwise.
    void setEscapeWatched(bool watched);

    /// Decides one key-down: true swallows it.
    bool handleTapEvent(quint16 eventKeyCode, quint64 flags);

private:
    QList<KeyCombo> watchedCombos() const;

    KeyboardTap &m_tap;
    bool m_installed = false;
    bool m_escapeWatched = false;
    bool m_handling = false;
    bool m_watchPending = false;
};
