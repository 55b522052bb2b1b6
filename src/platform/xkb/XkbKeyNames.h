#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

struct xkb_keymap;

// Canonical key codes and XKB key names, which name physical positions whatever the
// layout and whoever numbers the keys (an X server, or evdev plus 8 under Wayland).
//
// The canonical codes 0..126 follow the US key positions of the shared key
// codes. Keys without such a code get a code of our own, stable across keymaps:
//   128 PRSC  129 SCLK  130 PAUS  131 MENU/COMP  132 AB11  133 AE13  134 LVL3
//   135 MDSW  136 HENK  137 MUHE  138 HKTG  139 KPCO  140..143 FK21..FK24
// Any other named key is reported as 1000 + its keycode (valid only in that keymap).
namespace XkbKeyNames {

inline constexpr std::uint16_t unnamedBase = 1000;

/// The XKB key name of a canonical code; null when the code names no key.
const char *keyName(std::uint16_t keyCode);

/// The canonical code of an XKB key name (or a synonym of one), if the name is in the table.
std::optional<std::uint16_t> keyCodeForName(std::string_view name);

} // namespace XkbKeyNames

// The canonical codes of an xkbcommon keymap's keycodes, and back.
class XkbKeyCodes {
public:
    using Keycode = std::uint32_t;

    /// Reads the key names of the keymap; a null keymap knows no key.
    explicit XkbKeyCodes(xkb_keymap *keymap);

    std::optional<std::uint16_t> keyCode(Keycode keycode) const;
    std::optional<Keycode> xkbKeyCode(std::uint16_t keyCode) const;

private:
    std::vector<std::optional<std::uint16_t>> m_canonicalOf; // by keycode
    std::vector<std::pair<std::uint16_t, Keycode>> m_keycodeOf;
};
