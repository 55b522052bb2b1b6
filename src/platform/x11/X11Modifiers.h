#pragma once

#include <QList>
#include <QtGlobal>

#include <optional>

struct _XDisplay;

// Which X modifier masks hold Shift, Control, Alt (option), Super (command) and
// the lock keys, read from the server's modifier map rather than assumed.
class X11Modifiers {
public:
    /// Reads the modifier map; keeps the defaults for anything not found.
    void refresh(_XDisplay *display);

    /// The X mask for canonical modifier flags; nothing when a flag has no X modifier.
    std::optional<unsigned> toX(quint64 flags) const;

    /// The canonical flags held in an X event state.
    quint64 fromX(unsigned state) const;

    /// Every combination of the lock masks (CapsLock, NumLock, ScrollLock), the empty one first.
    QList<unsigned> lockCombinations() const;

    /// The four masks that take part in shortcut matching, or-ed.
    unsigned matchingMask() const { return m_shift | m_control | m_option | m_command; }

private:
    unsigned m_shift = 1 << 0;
    unsigned m_control = 1 << 2;
    unsigned m_option = 0;
    unsigned m_command = 0;
    unsigned m_capsLock = 1 << 1;
    unsigned m_numLock = 0;
    unsigned m_scrollLock = 0;
};
