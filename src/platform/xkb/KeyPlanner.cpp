#include "KeyPlanner.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// X and Xwayland take keycodes up to 255 only.
constexpr KeyPlanner::Keycode maxKeycode = 255;

bool startsWith(const char *name, const char *prefix)
{
    return name && std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

bool named(const char *name, const char *expected)
{
    return name && std::strcmp(name, expected) == 0;
}

} // namespace

KeyPlanner::KeyPlanner(xkb_keymap *keymap, std::unordered_set<Keycode> excluded)
    : m_keymap(xkb_keymap_ref(keymap)), m_scratch(xkb_state_new(keymap)),
      m_excluded(std::move(excluded))
{
    findShiftKeys();
}

KeyPlanner::~KeyPlanner()
{
    xkb_state_unref(m_scratch);
    xkb_keymap_unref(m_keymap);
}

void KeyPlanner::setState(std::uint32_t layout, ModMask lockedMods,
                          const std::vector<Keycode> &held)
{
    std::unordered_set<Keycode> heldSet(held.begin(), held.end());
    const bool layoutChanged = layout != m_layout;
    if (!layoutChanged && lockedMods == m_lockedMods && heldSet == m_held)
        return;
    const bool heldChanged = heldSet != m_held;
    m_layout = layout;
    m_lockedMods = lockedMods;
    m_held = std::move(heldSet);
    m_plans.clear();
    if (layoutChanged || heldChanged) {
        xkb_state *probe = xkb_state_new(m_keymap);
        xkb_state_update_mask(probe, 0, 0, 0, 0, 0, m_layout);
        for (Keycode kc : m_held)
            xkb_state_update_key(probe, kc, XKB_KEY_DOWN);
        m_heldMods = xkb_state_serialize_mods(probe, XKB_STATE_MODS_DEPRESSED) & 0xff;
        xkb_state_unref(probe);
        findShiftKeys();
        m_indexed = false; // held keys are never planned on
    }
}

void KeyPlanner::findShiftKeys()
{
    for (ShiftKeyInfo &info : m_shifts)
        info = {};
    // Only shift keys are pressed on the probe, and released again, so one probe serves all.
    xkb_state *probe = xkb_state_new(m_keymap);
    xkb_state_update_mask(probe, 0, 0, 0, 0, 0, m_layout);
    const Keycode last = std::min<Keycode>(xkb_keymap_max_keycode(m_keymap), maxKeycode);
    for (Keycode kc = xkb_keymap_min_keycode(m_keymap); kc <= last; ++kc) {
        if (m_excluded.contains(kc) || m_held.contains(kc))
            continue;
        const xkb_keysym_t sym = xkb_state_key_get_one_sym(probe, kc);
        int slot = -1;
        if (sym == XKB_KEY_Shift_L || sym == XKB_KEY_Shift_R)
            slot = 0;
        else if (sym == XKB_KEY_ISO_Level3_Shift)
            slot = 1;
        else if (sym == XKB_KEY_ISO_Level5_Shift)
            slot = 2;
        if (slot < 0)
            continue;
        // Only a key that sets modifiers while held, nothing latched, locked or switched.
        const xkb_state_component changed = xkb_state_update_key(probe, kc, XKB_KEY_DOWN);
        const ModMask mask = xkb_state_serialize_mods(probe, XKB_STATE_MODS_DEPRESSED) & 0xff;
        xkb_state_update_key(probe, kc, XKB_KEY_UP);
        const bool plain =
            !(changed & ~(XKB_STATE_MODS_DEPRESSED | XKB_STATE_MODS_EFFECTIVE | XKB_STATE_LEDS));
        // Keys a keyboard really has first; <LVL3> and the like no physical key carries.
        const char *name = xkb_keymap_key_get_name(m_keymap, kc);
        int rank = 5;
        if (named(name, "LFSH") || named(name, "RALT"))
            rank = 0;
        else if (named(name, "RTSH"))
            rank = 1;
        else if (startsWith(name, "LVL") || named(name, "MDSW"))
            rank = 8;
        ShiftKeyInfo &info = m_shifts[slot];
        if (plain && mask && (!info.key || rank < info.rank))
            info = {kc, mask, rank};
    }
    xkb_state_unref(probe);
}

void KeyPlanner::index()
{
    m_candidates.clear();
    m_indexed = true;
    const auto freshProbe = [this] {
        xkb_state *state = xkb_state_new(m_keymap);
        xkb_state_update_mask(state, 0, 0, 0, 0, 0, m_layout);
        return state;
    };
    xkb_state *probe = freshProbe();
    const Keycode last = std::min<Keycode>(xkb_keymap_max_keycode(m_keymap), maxKeycode);
    for (Keycode kc = xkb_keymap_min_keycode(m_keymap); kc <= last; ++kc) {
        if (m_excluded.contains(kc) || m_held.contains(kc))
            continue;
        const char *name = xkb_keymap_key_get_name(m_keymap, kc);
        // Keypad keys change meaning with NumLock.
        if (!name || startsWith(name, "KP"))
            continue;
        const xkb_layout_index_t layout = xkb_state_key_get_layout(probe, kc);
        // Modifier, lock and group keys change the state: never used for text. Such a key
        // may leave a lock behind, so the probe starts afresh after it.
        const bool changesState = xkb_state_update_key(probe, kc, XKB_KEY_DOWN) != 0;
        xkb_state_update_key(probe, kc, XKB_KEY_UP);
        if (changesState) {
            xkb_state_unref(probe);
            probe = freshProbe();
        }
        if (changesState || layout == XKB_LAYOUT_INVALID)
            continue;
        // The extra ISO key reads as another character on a guest's 104-key keyboard.
        const int rank = named(name, "LSGT") ? 1000 : 0;
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(m_keymap, kc, layout);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t *syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(m_keymap, kc, layout, level, &syms) == 1)
                m_candidates[syms[0]].push_back({kc, level, rank});
        }
    }
    xkb_state_unref(probe);
}

std::optional<KeyPlanner::Plan> KeyPlanner::plan(Keysym keysym)
{
    if (const auto cached = m_plans.find(keysym); cached != m_plans.end())
        return cached->second;
    if (!m_indexed)
        index();
    std::optional<Plan> best;
    int bestScore = 0;
    if (const auto it = m_candidates.find(keysym); it != m_candidates.end()) {
        for (const Candidate &c : it->second) {
            for (unsigned shifts = 0; shifts < 8; ++shifts) {
                int score = c.rank + int(c.level) * 10 + std::popcount(shifts) * 100;
                bool available = true;
                for (int i = 0; i < 3; ++i) {
                    if (!(shifts & (1u << i)))
                        continue;
                    available = available && m_shifts[i].key;
                    score += m_shifts[i].rank;
                }
                if (!available || (best && score >= bestScore) || !gives(c.key, shifts, keysym))
                    continue;
                best = Plan{c.key, shifts};
                bestScore = score;
            }
        }
    }
    m_plans.emplace(keysym, best);
    return best;
}

bool KeyPlanner::gives(Keycode key, unsigned shifts, Keysym keysym) const
{
    ModMask pressed = m_heldMods;
    for (int i = 0; i < 3; ++i) {
        if (shifts & (1u << i)) {
            if (!m_shifts[i].key)
                return false;
            pressed |= m_shifts[i].mask;
        }
    }
    xkb_state_update_mask(m_scratch, pressed, 0, m_lockedMods, 0, 0, m_layout);
    // Lock's capitalisation included, as clients apply it.
    return xkb_state_key_get_one_sym(m_scratch, key) == keysym;
}

std::optional<KeyPlanner::Keycode> KeyPlanner::shiftKey(Shift shift) const
{
    const ShiftKeyInfo &info = m_shifts[std::countr_zero(unsigned(shift))];
    if (!info.key)
        return std::nullopt;
    return info.key;
}

KeyPlanner::ModMask KeyPlanner::shiftMask(Shift shift) const
{
    return m_shifts[std::countr_zero(unsigned(shift))].mask;
}
