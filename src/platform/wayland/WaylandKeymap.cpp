#include "WaylandKeymap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include <xkbcommon/xkbcommon.h>

namespace {

// Xwayland builds its X keymap from the seat's keymap, and X key codes stop at 255.
constexpr WaylandKeymap::Keycode lastKeycode = 255;
// Key code 8 is evdev's reserved code 0, which no key sends.
constexpr WaylandKeymap::Keycode firstKeycode = 9;

using Lines = std::vector<std::string>;

Lines splitLines(std::string_view text)
{
    Lines lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string joinLines(const Lines &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text.append(line).push_back('\n');
    return text;
}

std::string_view trimmed(std::string_view line)
{
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const size_t last = line.find_last_not_of(" \t\r");
    return line.substr(first, last - first + 1);
}

// The lines of a section, header and closing line included, as xkbcommon writes it:
// the header starts a line and the section ends at the first unindented "};".
std::optional<std::pair<size_t, size_t>> section(const Lines &lines, std::string_view keyword)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!trimmed(lines[i]).starts_with(keyword))
            continue;
        for (size_t j = i + 1; j < lines.size(); ++j) {
            if (lines[j].starts_with("};"))
                return std::pair{i, j};
        }
        return std::nullopt;
    }
    return std::nullopt;
}

// Every <name> on a line, in order.
std::vector<std::string_view> keyNames(std::string_view line)
{
    std::vector<std::string_view> names;
    size_t pos = 0;
    while ((pos = line.find('<', pos)) != std::string_view::npos) {
        const size_t end = line.find('>', pos + 1);
        if (end == std::string_view::npos)
            break;
        names.push_back(line.substr(pos + 1, end - pos - 1));
        pos = end + 1;
    }
    return names;
}

bool isExtraName(std::string_view name)
{
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    return name.size() == 4 && name.starts_with("KL") && hex(name[2]) && hex(name[3]);
}

std::string extraName(WaylandKeymap::Keycode keycode)
{
    char name[8] = {};
    std::snprintf(name, sizeof name, "KL%02X", unsigned(keycode & 0xff));
    return name;
}

// A keycodes line "<NAME> = 123;": the name and the code.
std::optional<std::pair<std::string, WaylandKeymap::Keycode>> keycodeLine(std::string_view line)
{
    const std::string_view t = trimmed(line);
    if (!t.starts_with('<'))
        return std::nullopt;
    const size_t close = t.find('>');
    const size_t equals = t.find('=');
    if (close == std::string_view::npos || equals == std::string_view::npos || equals < close)
        return std::nullopt;
    unsigned code = 0;
    if (std::sscanf(std::string(t.substr(equals + 1)).c_str(), "%u", &code) != 1)
        return std::nullopt;
    return std::pair{std::string(t.substr(1, close - 1)), WaylandKeymap::Keycode(code)};
}

// A key only our typing would press: the virtual keyboard's keymap is its own, and it never
// presses function or media keys, so such a key can carry a character instead. A modifier,
// a lock, Return, Tab or any key that gives text stays as the layout has it.
bool onlyFunctionKeysyms(xkb_keymap *keymap, xkb_keycode_t kc)
{
    for (xkb_layout_index_t layout = 0; layout < xkb_keymap_num_layouts_for_key(keymap, kc);
         ++layout) {
        for (xkb_level_index_t level = 0; level < xkb_keymap_num_levels_for_key(keymap, kc, layout);
             ++level) {
            const xkb_keysym_t *syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(keymap, kc, layout, level, &syms);
            for (int i = 0; i < count; ++i) {
                const bool function = syms[i] >= XKB_KEY_F1 && syms[i] <= XKB_KEY_F35;
                const bool media = syms[i] >= 0x1008FE00 && syms[i] <= 0x1008FFFF;
                if (!function && !media)
                    return false;
            }
        }
    }
    return true;
}

xkb_keymap *compile(xkb_context *context, const std::string &text)
{
    return xkb_keymap_new_from_string(context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                      XKB_KEYMAP_COMPILE_NO_FLAGS);
}

std::string asText(xkb_keymap *keymap)
{
    char *text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    std::string copy = text ? text : "";
    free(text);
    return copy;
}

} // namespace

bool WaylandKeymap::hasExtraKeys(std::string_view text)
{
    for (const std::string &line : splitLines(text)) {
        const std::vector<std::string_view> names = keyNames(line);
        if (std::any_of(names.begin(), names.end(), isExtraName))
            return true;
    }
    return false;
}

std::string WaylandKeymap::stripExtraKeys(std::string_view text)
{
    Lines lines = splitLines(text);
    Lines kept;
    const auto symbols = section(lines, "xkb_symbols");
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string_view> names = keyNames(lines[i]);
        if (!std::any_of(names.begin(), names.end(), isExtraName)) {
            kept.push_back(lines[i]);
            continue;
        }
        // A key block of ours may span lines up to its "};".
        if (symbols && i > symbols->first && i < symbols->second &&
            trimmed(lines[i]).starts_with("key ")) {
            while (i < symbols->second && !trimmed(lines[i]).ends_with("};"))
                ++i;
        }
    }
    return joinLines(kept);
}

std::unique_ptr<WaylandKeymap> WaylandKeymap::fromText(xkb_context *context, std::string_view text)
{
    // Compiled first, so that every edit below works on the layout xkbcommon writes.
    xkb_keymap *raw = compile(context, std::string(text));
    if (!raw)
        return nullptr;
    std::string canonical = asText(raw);
    xkb_keymap_unref(raw);
    if (hasExtraKeys(canonical))
        canonical = stripExtraKeys(canonical);
    xkb_keymap *base = compile(context, canonical);
    if (!base)
        return nullptr;
    std::string baseText = asText(base);
    return std::unique_ptr<WaylandKeymap>(new WaylandKeymap(base, std::move(baseText)));
}

std::unique_ptr<WaylandKeymap> WaylandKeymap::fromDefaults(xkb_context *context)
{
    xkb_keymap *keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return nullptr;
    std::string text = asText(keymap);
    return std::unique_ptr<WaylandKeymap>(new WaylandKeymap(keymap, std::move(text)));
}

WaylandKeymap::WaylandKeymap(xkb_keymap *base, std::string baseText)
    : m_base(base), m_baseText(std::move(baseText))
{
    if (!m_base)
        return;
    Lines lines = splitLines(m_baseText);
    const auto symbols = section(lines, "xkb_symbols");
    const auto keycodes = section(lines, "xkb_keycodes");
    if (!symbols || !keycodes)
        return;
    // A key without symbols may still be named in the symbols (a modifier map entry).
    std::set<std::string, std::less<>> referenced, modifierMapped;
    for (size_t i = symbols->first; i < symbols->second; ++i) {
        for (std::string_view name : keyNames(lines[i])) {
            referenced.emplace(name);
            if (trimmed(lines[i]).starts_with("modifier_map"))
                modifierMapped.emplace(name);
        }
    }
    const Keycode last = lastKeycode;
    std::set<std::string, std::less<>> taken; // function keys given to characters
    for (Keycode kc = firstKeycode; kc <= last; ++kc) {
        const char *name = xkb_keymap_key_get_name(m_base, kc);
        if (!name ||
            (xkb_keymap_num_layouts_for_key(m_base, kc) == 0 && !referenced.contains(name))) {
            m_free.push_back(kc);
        } else if (xkb_keymap_num_layouts_for_key(m_base, kc) > 0 &&
                   !modifierMapped.contains(name) && onlyFunctionKeysyms(m_base, kc)) {
            m_free.push_back(kc);
            taken.emplace(name);
        }
    }
    // The function keys' own symbols go; their codes are renamed below like the unused ones.
    for (size_t i = symbols->second; i-- > symbols->first + 1;) {
        const std::vector<std::string_view> names = keyNames(lines[i]);
        if (!trimmed(lines[i]).starts_with("key ") || names.empty() || !taken.contains(names[0]))
            continue;
        size_t end = i;
        while (end < symbols->second && !trimmed(lines[end]).ends_with("};"))
            ++end;
        lines.erase(lines.begin() + std::ptrdiff_t(i),
                    lines.begin() + std::ptrdiff_t(std::min(end + 1, symbols->second)));
    }
    const auto keycodesAfter = section(lines, "xkb_keycodes");
    if (!keycodesAfter) {
        m_free.clear(); // the function keys keep their own symbols: no extra keys at all
        return;
    }

    // The free codes under our names: an unused name of the base gives way, with its aliases.
    std::set<std::string, std::less<>> renamed;
    std::set<Keycode> named;
    Lines keycodeLines;
    for (size_t i = keycodesAfter->first + 1; i < keycodesAfter->second; ++i) {
        std::string line = lines[i];
        if (const auto kc = keycodeLine(line);
            kc && std::binary_search(m_free.begin(), m_free.end(), kc->second)) {
            renamed.insert(kc->first);
            named.insert(kc->second);
            line = "\t<" + extraName(kc->second) + "> = " + std::to_string(kc->second) + ";";
        } else if (unsigned maximum = 0; std::sscanf(std::string(trimmed(line)).c_str(),
                                                     "maximum = %u;", &maximum) == 1 &&
                                         maximum < last) {
            line = "\tmaximum = " + std::to_string(last) + ";";
        }
        keycodeLines.push_back(std::move(line));
    }
    std::erase_if(keycodeLines, [&](const std::string &line) {
        const std::vector<std::string_view> names = keyNames(line);
        return trimmed(line).starts_with("alias") && names.size() == 2 &&
               renamed.contains(names[1]);
    });
    for (Keycode kc : m_free) {
        if (!named.contains(kc))
            keycodeLines.push_back("\t<" + extraName(kc) + "> = " + std::to_string(kc) + ";");
    }

    Lines out(lines.begin(), lines.begin() + std::ptrdiff_t(keycodesAfter->first) + 1);
    out.insert(out.end(), keycodeLines.begin(), keycodeLines.end());
    out.insert(out.end(), lines.begin() + std::ptrdiff_t(keycodesAfter->second), lines.end());
    // Extra keys are of the one-level type: no Shift or lock can change what they give.
    if (m_baseText.find("type \"ONE_LEVEL\"") == std::string::npos) {
        if (const auto types = section(out, "xkb_types")) {
            out.insert(out.begin() + std::ptrdiff_t(types->second),
                       {"\ttype \"ONE_LEVEL\" {", "\t\tmodifiers= none;",
                        "\t\tlevel_name[Level1]= \"Any\";", "\t};"});
        }
    }
    m_named = joinLines(out);
}

WaylandKeymap::~WaylandKeymap()
{
    if (m_base)
        xkb_keymap_unref(m_base);
}

std::optional<std::string>
WaylandKeymap::text(const std::vector<std::pair<Keycode, Keysym>> &bindings) const
{
    if (m_named.empty())
        return bindings.empty() ? std::optional(m_baseText) : std::nullopt;
    std::string keys;
    for (const auto &[keycode, keysym] : bindings) {
        char name[64] = {};
        if (xkb_keysym_get_name(keysym, name, sizeof name) <= 0)
            return std::nullopt;
        keys += "\tkey <" + extraName(keycode) + "> { type= \"ONE_LEVEL\", symbols[Group1]= [ " +
                name + " ] };\n";
    }
    // Before the symbols section's closing line.
    const size_t start = m_named.find("\nxkb_symbols");
    const size_t end = start == std::string::npos ? start : m_named.find("\n};", start);
    if (end == std::string::npos)
        return std::nullopt;
    std::string text = m_named;
    text.insert(end + 1, keys);
    return text;
}

std::optional<std::string> WaylandKeyboardMemory::original() const
{
    const std::lock_guard lock(m_mutex);
    return m_original;
}

void WaylandKeyboardMemory::setOriginal(std::string text)
{
    const std::lock_guard lock(m_mutex);
    m_original = std::move(text);
}

std::vector<ExtraKeyPool::Slot> WaylandKeyboardMemory::extraKeys() const
{
    const std::lock_guard lock(m_mutex);
    return m_extraKeys;
}

void WaylandKeyboardMemory::setExtraKeys(std::vector<ExtraKeyPool::Slot> keys)
{
    const std::lock_guard lock(m_mutex);
    m_extraKeys = std::move(keys);
}
