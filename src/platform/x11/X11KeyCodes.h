#pragma once

#include <QByteArray>
#include <QHash>
#include <QtGlobal>

#include <array>
#include <optional>

struct _XDisplay;

// Translates canonical key codes to X keycodes and back through XKB key names,
// which name physical positions whatever the layout and the server's numbering
// (the table is XkbKeyNames'). Any other named key is reported as 1000 + its X
// keycode (valid only on that server).
class X11KeyCodes {
public:
    static constexpr quint16 unnamedBase = 1000;

    /// The XKB key name of a canonical code; empty when the code names no key.
    static QByteArray keyName(quint16 keyCode);

    /// The canonical code of an XKB key name, if the name is in the table.
    static std::optional<quint16> keyCodeForName(const QByteArray &name);

    /// Reads the server's key names (and aliases); false when XKB is not available.
    bool refresh(_XDisplay *display);

    /// The X keycode at the position of a canonical code on this server.
    std::optional<quint8> xKeyCode(quint16 keyCode) const;

    /// The canonical code of an X keycode on this server.
    std::optional<quint16> keyCode(quint32 xKeyCode) const;

private:
    QHash<quint16, quint8> m_xOfCanonical;
    std::array<std::optional<quint16>, 256> m_canonicalOfX{};
};
