#pragma once

#include <QString>

/// The fixed, layout-independent name of a canonical key code ("A", ";", "Escape", "Key10").
QString keyName(quint16 keyCode);

/// Modifier symbols in the fixed order ⌃⌥⇧⌘, then the key name. A code outside 0-65535 gets its number.
QString shortcutDisplayString(qint64 keyCode, bool control, bool option, bool shift, bool command);

/// The same in words, as Linux desktops write shortcuts: "Ctrl+Alt+Shift+Super+;".
QString shortcutSpelledOut(qint64 keyCode, bool control, bool option, bool shift, bool command);
