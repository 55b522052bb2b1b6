#include "KeyPlanner.h"

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
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

// Where a key sits on a PC keyboard. A viewer forwards a key as the PC scancode of its
// position: a key no PC keyboard has reaches no guest.
enum class Place { Main, Iso, Elsewhere };

Place placeOf(const char *name)
{
    if (!name)
        return Place::Elsewhere;
    if (named(name, "LSGT"))
        return Place::Iso;
    const auto row = [name](const char *prefix, int last) {
        if (!startsWith(name, prefix) || std::strlen(name) != 4)
            return false;
        const int n = std::atoi(name + 2);
        return n >= 1 && n <= last;
    };
    if (row("AE", 12) || row("AD", 12) || row("AC", 11) || row("AB", 10))
        return Place::Main;
    for (const char *key : {"TLDE", "BKSL", "SPCE", "TAB", "RTRN", "BKSP", "LFSH", "RTSH", "LCTL",
                            "RCTL", "LALT", "RALT", "LWIN", "RWIN", "COMP", "MENU", "CAPS"}) {
        if (named(name, key))
            return Place::Main;
    }
    return Place::Elsewhere;
}

bool isDeadKey(xkb_keysym_t sym)
{
    char name[64];
    return xkb_keysym_get_name(sym, name, sizeof name) > 0 && startsWith(name, "dead_");
}

// The one character a compose sequence ends in, if it is one.
char32_t composedCharacter(xkb_compose_state *state)
{
    if (xkb_compose_state_get_status(state) != XKB_COMPOSE_COMPOSED)
        return 0;
    if (const char32_t c = xkb_keysym_to_utf32(xkb_compose_state_get_one_sym(state)))
        return c;
    char utf8[8];
    const int n = xkb_compose_state_get_utf8(state, utf8, sizeof utf8);
    xkb_keysym_t sym = 0;
    if (n == 1)
        sym = static_cast<unsigned char>(utf8[0]);
    // Longer texts only as their keysym, above: several characters are no one key press.
    return sym;
}

const char *composeLocale()
{
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *value = std::getenv(variable);
        if (value && *value)
            return value;
    }
    return "C";
}

} // namespace

KeyPlanner::KeyPlanner(xkb_keymap *keymap, std::unordered_set<Keycode> excluded, bool forwarding)
    : m_keymap(xkb_keymap_ref(keymap)), m_scratch(xkb_state_new(keymap)),
      m_excluded(std::move(excluded)), m_forwarding(forwarding), m_deadKeys(forwarding)
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
    if (m_forwarding)
        lockedMods = 0; // the guest keeps locks of its own
    std::unordered_set<Keycode> heldSet(held.begin(), held.end());
    const bool layoutChanged = layout != m_layout;
    if (!layoutChanged && lockedMods == m_lockedMods && heldSet == m_held)
        return;
    const bool heldChanged = heldSet != m_held;
    m_layout = layout;
    m_lockedMods = lockedMods;
    m_held = std::move(heldSet);
    m_plans.clear();
    m_composed = false;
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
        if (m_forwarding && placeOf(name) == Place::Elsewhere)
            continue;
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
        // The extra ISO key reads as another character on a guest's 104-key keyboard; keys
        // beyond the PC keyboard only where nothing else gives the character.
        const Place place = placeOf(name);
        if (m_forwarding && place == Place::Elsewhere)
            continue;
        const int rank = place == Place::Main ? 0 : place == Place::Iso ? 1000 : 10000;
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

void KeyPlanner::useDeadKeys(bool use)
{
    m_deadKeys = use || m_forwarding;
}

const std::vector<KeyPlanner::Plan> &KeyPlanner::deadKeyPlan(Keysym keysym)
{
    static const std::vector<Plan> nothing;
    if (!m_deadKeys)
        return nothing;
    if (!m_composed)
        composeDeadKeys();
    const auto it = m_deadKeyPlans.find(xkb_keysym_to_utf32(keysym));
    return it == m_deadKeyPlans.end() ? nothing : it->second;
}

void KeyPlanner::composeDeadKeys()
{
    m_composed = true;
    m_deadKeyPlans.clear();
    if (!m_indexed)
        index();
    std::vector<std::pair<Keysym, Plan>> deadKeys, bases;
    for (const auto &[sym, candidates] : m_candidates) {
        if (const std::optional<Plan> p = plan(sym))
            (isDeadKey(sym) ? deadKeys : bases).emplace_back(sym, *p);
    }
    if (deadKeys.empty())
        return;
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
    xkb_compose_table *table = context ? xkb_compose_table_new_from_locale(
                                             context, composeLocale(), XKB_COMPOSE_COMPILE_NO_FLAGS)
                                       : nullptr;
    xkb_compose_state *state =
        table ? xkb_compose_state_new(table, XKB_COMPOSE_STATE_NO_FLAGS) : nullptr;
    // The fewest shift keys win; ties go to the lower keysyms, so the choice is stable.
    std::sort(deadKeys.begin(), deadKeys.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    std::sort(bases.begin(), bases.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    std::unordered_map<char32_t, int> cost;
    for (const auto &[dead, deadPlan] : state ? deadKeys : decltype(deadKeys){}) {
        for (const auto &[base, basePlan] : bases) {
            xkb_compose_state_reset(state);
            xkb_compose_state_feed(state, dead);
            xkb_compose_state_feed(state, base);
            const char32_t c = composedCharacter(state);
            const int shifts = std::popcount(deadPlan.shifts) + std::popcount(basePlan.shifts);
            if (!c || (cost.contains(c) && cost[c] <= shifts))
                continue;
            cost[c] = shifts;
            m_deadKeyPlans[c] = {deadPlan, basePlan};
        }
    }
    xkb_compose_state_unref(state);
    xkb_compose_table_unref(table);
    xkb_context_unref(context);
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
