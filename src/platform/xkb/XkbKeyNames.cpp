#include "XkbKeyNames.h"

#include <xkbcommon/xkbcommon.h>

#include <utility>

namespace {

struct Entry {
    std::uint16_t code;
    const char *name;
};

// The one place where canonical codes meet XKB key names.
constexpr Entry table[] = {
    {0, "AC01"},
    {1, "AC02"},
    {2, "AC03"},
    {3, "AC04"},
    {4, "AC06"},
    {5, "AC05"},
    {6, "AB01"},
    {7, "AB02"},
    {8, "AB03"},
    {9, "AB04"},
    {10, "LSGT"},
    {11, "AB05"},
    {12, "AD01"},
    {13, "AD02"},
    {14, "AD03"},
    {15, "AD04"},
    {16, "AD06"},
    {17, "AD05"},
    {18, "AE01"},
    {19, "AE02"},
    {20, "AE03"},
    {21, "AE04"},
    {22, "AE06"},
    {23, "AE05"},
    {24, "AE12"},
    {25, "AE09"},
    {26, "AE07"},
    {27, "AE11"},
    {28, "AE08"},
    {29, "AE10"},
    {30, "AD12"},
    {31, "AD09"},
    {32, "AD07"},
    {33, "AD11"},
    {34, "AD08"},
    {35, "AD10"},
    {36, "RTRN"},
    {37, "AC09"},
    {38, "AC07"},
    {39, "AC11"},
    {40, "AC08"},
    {41, "AC10"},
    {42, "BKSL"},
    {43, "AB08"},
    {44, "AB10"},
    {45, "AB06"},
    {46, "AB07"},
    {47, "AB09"},
    {48, "TAB"},
    {49, "SPCE"},
    {50, "TLDE"},
    {51, "BKSP"},
    {53, "ESC"},
    {54, "RWIN"},
    {55, "LWIN"},
    {56, "LFSH"},
    {57, "CAPS"},
    {58, "LALT"},
    {59, "LCTL"},
    {60, "RTSH"},
    {61, "RALT"},
    {62, "RCTL"},
    {64, "FK17"},
    {65, "KPDL"},
    {67, "KPMU"},
    {69, "KPAD"},
    {71, "NMLK"},
    {75, "KPDV"},
    {76, "KPEN"},
    {78, "KPSU"},
    {79, "FK18"},
    {80, "FK19"},
    {81, "KPEQ"},
    {82, "KP0"},
    {83, "KP1"},
    {84, "KP2"},
    {85, "KP3"},
    {86, "KP4"},
    {87, "KP5"},
    {88, "KP6"},
    {89, "KP7"},
    {90, "FK20"},
    {91, "KP8"},
    {92, "KP9"},
    {96, "FK05"},
    {97, "FK06"},
    {98, "FK07"},
    {99, "FK03"},
    {100, "FK08"},
    {101, "FK09"},
    {103, "FK11"},
    {105, "FK13"},
    {106, "FK16"},
    {107, "FK14"},
    {109, "FK10"},
    {111, "FK12"},
    {113, "FK15"},
    {114, "INS"},
    {115, "HOME"},
    {116, "PGUP"},
    {117, "DELE"},
    {118, "FK04"},
    {119, "END"},
    {120, "FK02"},
    {121, "PGDN"},
    {122, "FK01"},
    {123, "LEFT"},
    {124, "RGHT"},
    {125, "DOWN"},
    {126, "UP"},
    // Codes of our own for keys the canonical numbering lacks.
    {128, "PRSC"},
    {129, "SCLK"},
    {130, "PAUS"},
    {131, "MENU"},
    {132, "AB11"},
    {133, "AE13"},
    {134, "LVL3"},
    {135, "MDSW"},
    {136, "HENK"},
    {137, "MUHE"},
    {138, "HKTG"},
    {139, "KPCO"},
    {140, "FK21"},
    {141, "FK22"},
    {142, "FK23"},
    {143, "FK24"},
};

// Names some keymaps use for the same positions.
constexpr std::pair<const char *, const char *> synonyms[] = {
    {"COMP", "MENU"},
    {"LMTA", "LWIN"},
    {"RMTA", "RWIN"},
    {"ALGR", "RALT"},
};

} // namespace

const char *XkbKeyNames::keyName(std::uint16_t keyCode)
{
    for (const Entry &e : table) {
        if (e.code == keyCode)
            return e.name;
    }
    return nullptr;
}

std::optional<std::uint16_t> XkbKeyNames::keyCodeForName(std::string_view name)
{
    for (const auto &[alias, real] : synonyms) {
        if (name == alias)
            name = real;
    }
    for (const Entry &e : table) {
        if (name == e.name)
            return e.code;
    }
    return std::nullopt;
}

XkbKeyCodes::XkbKeyCodes(xkb_keymap *keymap)
{
    if (!keymap)
        return;
    const Keycode max = xkb_keymap_max_keycode(keymap);
    m_canonicalOf.resize(size_t(max) + 1);
    for (Keycode kc = xkb_keymap_min_keycode(keymap); kc <= max; ++kc) {
        const char *name = xkb_keymap_key_get_name(keymap, kc);
        if (!name)
            continue;
        const std::optional<std::uint16_t> code = XkbKeyNames::keyCodeForName(name);
        m_canonicalOf[kc] = code ? *code : std::uint16_t(XkbKeyNames::unnamedBase + kc);
    }
    // Aliases let a canonical name reach a key the keymap calls otherwise.
    for (const Entry &e : table) {
        const Keycode kc = xkb_keymap_key_by_name(keymap, e.name);
        if (kc == XKB_KEYCODE_INVALID)
            continue;
        m_keycodeOf.emplace_back(e.code, kc);
        if (kc < m_canonicalOf.size() && m_canonicalOf[kc] >= XkbKeyNames::unnamedBase)
            m_canonicalOf[kc] = e.code;
    }
}

std::optional<std::uint16_t> XkbKeyCodes::keyCode(Keycode keycode) const
{
    return keycode < m_canonicalOf.size() ? m_canonicalOf[keycode] : std::nullopt;
}

std::optional<XkbKeyCodes::Keycode> XkbKeyCodes::xkbKeyCode(std::uint16_t keyCode) const
{
    for (const auto &[code, kc] : m_keycodeOf) {
        if (code == keyCode)
            return kc;
    }
    return std::nullopt;
}
